// exchange.cpp - hostExchangeTest: word, array and DPRAM exchange with P1.
//
// What it finds is reported, never counted: the verdict of the run does not
// depend on the host port.
#include "checks/host/host_tests.h"

#include "board/qal.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

#include <cstring>

namespace {

constexpr std::uint32_t kTestWord = 0x12345678;
constexpr std::uint32_t kWordAddress = 0x80000; // P1 internal memory, bank 1
constexpr int kListLast = 16;                   // listing stops after the first index above this
constexpr int kDpramWords = 128;                // DPRAM bytes 0..511
constexpr int kDpramStatusWord = 8;             // a status register: never reads back what was written
constexpr int kDpramPasses = 100;

// The read side is first filled with the complement of what is written, so
// a read that moves nothing cannot pass for a good one.
void poison(std::uint32_t *read, const std::uint32_t *written, int words) {
    for (int i = 0; i < words; ++i)
        read[i] = ~written[i];
}

void wordExchange(std::int32_t hBoard) {
    report("\n1. ОБМЕН СЛОВАМИ (HOST-port)");
    boardCall(QAL_poke, hBoard, 0, kWordAddress, kTestWord);
    boardCall(QAL_poke, hBoard, 0, kWordAddress + 1, ~kTestWord);
    std::uint32_t read = boardCall(QAL_peek, hBoard, 0, kWordAddress);
    if (read != kTestWord) {
        report("\n### ОШИБКА интерфейса:");
        report("\n### записано 0x12345678 != прочитано %08lX", static_cast<unsigned long>(read));
        recordMismatch("word exchange", kWordAddress, kTestWord, read);
    }
}

void arrayExchange(std::int32_t hBoard) {
    std::uint32_t *written = runState.buf0, *read = runState.buf1;
    report("\n2. ОБМЕН МАССИВАМИ (HOST-port)");
    poison(read, written, kTestBufferWords);
    boardCall(QAL_writeRAM, hBoard, 0, kWordAddress, written, kTestBufferBytes, 1);
    boardCall(QAL_readRAM, hBoard, 0, kWordAddress, read, kTestBufferBytes, 1);
    if (std::memcmp(written, read, kTestBufferBytes) != 0) {
        report("\n### ОШИБКА интерфейса:");
        listMismatches("array exchange", written, read, kTestBufferWords);
    }
}

// One word per call; a difference in the status word alone is no error,
// though the listing shows it beside a real one.
void dpramExchange(std::int32_t hBoard) {
    std::uint32_t *written = runState.buf0, *read = runState.buf1;
    report("\n3. ОБМЕН ЧЕРЕЗ ДВУХПОРТОВУЮ ПАМЯТЬ.");
    for (int pass = 0; pass < kDpramPasses; ++pass) {
        poison(read, written, kDpramWords);
        for (int j = 0; j < kDpramWords; ++j)
            boardCall(QAL_writeDPRAM, hBoard, 0, 4 * j, written + j, 4);
        for (int j = 0; j < kDpramWords; ++j)
            boardCall(QAL_readDPRAM, hBoard, 0, 4 * j, read + j, 4);
        bool failed = false;
        for (int j = 0; j < kDpramWords; ++j)
            if (j != kDpramStatusWord && written[j] != read[j])
                failed = true;
        if (failed) {
            report("\n### ОШИБКА интерфейса DPRAM:");
            listMismatches("DPRAM exchange", written, read, kDpramWords);
        }
    }
}

} // namespace

void listMismatches(const char *test, const std::uint32_t *written, const std::uint32_t *read, int words) {
    for (int i = 0; i < words; ++i) {
        if (written[i] == read[i])
            continue;
        report("\n%ld. записано %08lX != прочитано %08lX", static_cast<long>(i), static_cast<unsigned long>(written[i]),
               static_cast<unsigned long>(read[i]));
        recordMismatch(test, static_cast<std::uint32_t>(i), written[i], read[i]);
        if (i > kListLast)
            break;
    }
}

int hostExchangeTest(std::int32_t hBoard) {
    report("\n-----     ТЕСТ ОБМЕНА ДАННЫМИ      -----");
    wordExchange(hBoard);
    for (std::uint32_t i = 0; i < kTestBufferWords; ++i)
        runState.buf0[i] = i;
    arrayExchange(hBoard);
    dpramExchange(hBoard);
    return exchangeSpeedTests(hBoard);
}
