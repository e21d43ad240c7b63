// config_check.cpp - moduleConfigCheck.
#include "checks/board/config_check.h"

#include "checks/board/dspload.h"
#include "board/qal.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr std::uint32_t kProbePattern = 0x12345678;
constexpr std::uint32_t kProbeOffset = 128;       // start of the shared DPRAM, host side
constexpr long kDpramWords = 640;                 // the DPRAM's fixed geometry
constexpr std::int32_t kSignalTimeoutMs = 100000; // csdram has this long to signal
constexpr std::int32_t kMessageTimeoutMs = 10000; // and then this long for its message, sent at once
constexpr std::uint32_t kOverheadMark = 0x80000000u;

// Logs the DPRAM lines when the probe word reads back.
void probeDpram(std::int32_t hBoard) {
    std::uint32_t pattern = kProbePattern, complement = ~kProbePattern, readBack = 0;
    boardCall(QAL_writeDPRAM, hBoard, 0, kProbeOffset, &pattern, 4);
    boardCall(QAL_writeDPRAM, hBoard, 0, kProbeOffset + 4, &complement, 4);
    boardCall(QAL_readDPRAM, hBoard, 0, kProbeOffset, &readBack, 4);
    recordDpram(readBack == kProbePattern);
    if (readBack != kProbePattern)
        return;
    report("\nОбнаружена двухпортовая память:");
    report("\n DSP адрес = 0x40000600, PC=BASE+0x%lX, размер %4ld слов (%6ld байт)",
           static_cast<unsigned long>(kProbeOffset), kDpramWords, kDpramWords * 4);
}

// The three size numbers of a chip line: K words of 32 and of 64 bits, and
// K bytes, in 32-bit arithmetic as the board's sizes are.
struct SizeNumbers {
    long k32, k64, kbytes;
};

SizeNumbers sizeNumbers(std::uint32_t words) {
    return {long(words >> 10), long(words >> 11), long(std::uint32_t(words * 4u) >> 10)};
}

// One chip line. The console indents CHIP0 by two blanks, the screen log
// by one; an overhead chip is marked on both.
std::string chipLine(int chip, std::uint32_t words, bool overhead, bool console) {
    SizeNumbers n = sizeNumbers(words);
    char line[128];
    switch (chip) {
    case 0:
        std::snprintf(line, sizeof line,
                      console ? "\n  CHIP0: %4ld/%4ld Kслов (%4ld Kбайт) | (32/64-бита)"
                              : "\n CHIP0: %4ld/%4ld Kслов (%4ld Kбайт) | (32/64-бита)",
                      n.k32, n.k64, n.kbytes);
        break;
    case 1:
        std::snprintf(line, sizeof line, "\n CHIP1: %4ld/%4ld Kслов (%4ld Kбайт) | (32/64-бита)", n.k32, n.k64,
                      n.kbytes);
        break;
    case 2:
        std::snprintf(line, sizeof line, "\n CHIP2: %4ld/%4ld Kслов (%4ld Kбайт) | (32/64-бита)", n.k32, n.k64,
                      n.kbytes);
        break;
    default:
        std::snprintf(line, sizeof line, "\n CHIP3: %4ld/%4ld Kслов (%4ld Kбайт) | (32/64-бита)", n.k32, n.k64,
                      n.kbytes);
        break;
    }
    return std::string(line) + (overhead ? " (overhead)" : "");
}

// All four chips alike: one size line, SDRCON and the speed in every sink.
// Otherwise a line per chip on the console and in the screen log, and chip
// 0's size alone in the protocol log.
void printDram(const DramConfigMsg &msg, const bool overhead[4]) {
    const std::uint32_t *size = msg.chipSize;
    SizeNumbers chip0 = sizeNumbers(size[0]);
    unsigned long sdrcon = msg.sdrcon;
    double speed = dramSpeed(msg.cycles, runState.cpuFreqMHz);
    bool alike = size[0] == size[1] && size[0] == size[2] && size[0] == size[3];

    conPrintf("\nОбнаружена динамическая память на P1:");
    if (alike) {
        conPrintf("\n %4ld/%4ld Kслов (%4ld Kбайт) | (32/64-бита)", chip0.k32, chip0.k64, chip0.kbytes);
    } else {
        for (int i = 0; i < 4; ++i)
            conPrintf("%s", chipLine(i, size[i], overhead[i], true).c_str());
    }
    conPrintf("\n SDRCON = 0x%4lX", sdrcon);
    conPrintf("\n Быстродействие = %4f Mбайт/сек", speed);

    logScreen("\nОбнаружена динамическая память на P1:");
    if (alike) {
        logScreen("\n %4ld/%4ld Kслов (%4ld Kбайт) | (32/64-бита)", chip0.k32, chip0.k64, chip0.kbytes);
    } else {
        for (int i = 0; i < 4; ++i)
            logScreen("%s", chipLine(i, size[i], overhead[i], false).c_str());
    }
    logScreen("\n SDRCON = 0x%4lX", sdrcon);
    logScreen("\n Быстродействие = %4f Мбайт/сек", speed);

    logProtocol("\nОбнаружена динамическая память на P1:");
    logProtocol("\n %4ld/%4ld Kслов (%4ld Kбайт) | (32/64-бита)", chip0.k32, chip0.k64, chip0.kbytes);
    if (alike) {
        logProtocol("\n SDRCON = 0x%4lX", sdrcon);
        logProtocol("\n Быстродействие = %4f Мбайт/сек", speed);
    }
}

} // namespace

double dramSpeed(std::uint32_t cycles, std::uint32_t cpuFreqMHz) {
    // The 300 MHz period is the single-precision 3.33 the figures have
    // always been computed with (1201.201229 MB/s for 2,000,000 cycles).
    const float kPeriod300 = 3.33f;
    double period = cpuFreqMHz == 300 ? static_cast<double>(kPeriod300) : 4.0;
    return 8.0 / (static_cast<double>(cycles) * period * 1e-9);
}

int moduleConfigCheck(std::int32_t hBoard) {
    report("\n----- ПРОВЕРКА КОНФИГУРАЦИИ МОДУЛЯ -----");
    probeDpram(hBoard);

    if (loadDspProgram(hBoard, 0, "csdram.ldr") < 0) {
        reportScreen("\n### ОШИБКА: Не могу загpузить пpогpамму 'сsdram'.");
        logProtocol("\n### ОШИБКА.");
        return -1;
    }
    boardCall(QAL_start, hBoard, 0);
    if (boardCall(QAL_signalGrab, hBoard, 0, 0, 0, kSignalTimeoutMs) <= 0) {
        conPrintf("\n### ERROR: Not signal IRQ from DSP board.");
        return -1;
    }
    boardCall(QAL_signalIack, hBoard, 0, 0);

    // A short or failed message leaves the missing words 0. A P1 that
    // signalled and then fell silent is stopped, and the check has failed.
    DramConfigMsg msg;
    std::memset(&msg, 0, sizeof msg);
    std::uint32_t size = sizeof msg;
    boardCall(QAL_getMsg, hBoard, 0, &msg, &size, kMessageTimeoutMs);
    if (size == 0) {
        reportNoAnswer();
        boardCall(QAL_reset, hBoard, 0);
        return -1;
    }

    bool overhead[4];
    for (int i = 0; i < 4; ++i) {
        overhead[i] = (msg.chipSize[i] & kOverheadMark) != 0;
        msg.chipSize[i] &= ~kOverheadMark;
    }
    if (msg.chipSize[0] == 0)
        report("\nДинамическая память на P1 не обнаpужена");
    else
        printDram(msg, overhead);
    recordDram(msg.chipSize, overhead, msg.sdrcon, dramSpeed(msg.cycles, runState.cpuFreqMHz));
    runState.sdramSize = msg.chipSize[0];
    conPrintf("\n------------------------------------------------");
    return 0;
}
