// speed.cpp - the ten exchange speed measurements between the host and P1.
//
// Figures for the operator and the logs; nothing is compared or counted.
// A timed loop holds only the board call and its progress mark.
#include "checks/host/host_tests.h"

#include "checks/board/dspload.h"
#include "board/qal.h"
#include "platform/platform.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

namespace {

constexpr std::uint32_t kRamAddress = 0x80000; // P1 internal memory
constexpr std::uint32_t kDpramOffset = 256;    // DPRAM bytes 256..1279
constexpr std::uint32_t kDpramBlock = 1024;
constexpr std::int32_t kFifoPort = 8;
constexpr std::uint32_t kBlock = kTestBufferBytes; // 16 KB per host-port, FIFO and message call
constexpr double k4MB = 4000.0;                    // 256 x 16 KB, as the figures have always been given
constexpr double k16MB = 16000.0;                  // 1024 x 16 KB or 16384 x 1 KB
constexpr unsigned kPauseMs = 10;

// Makes `count` calls back to back, printing `mark` after call i whenever
// i is a multiple of `markEvery`. Returns the elapsed milliseconds.
template <class Call> std::uint32_t timedCalls(int count, int markEvery, const char *mark, Call call) {
    std::uint32_t start = platformMillis();
    for (int i = 0; i < count; ++i) {
        call();
        if (i % markEvery == 0)
            conPrintf("%s", mark);
    }
    return platformMillis() - start;
}

// The rate line's figure, the last one with the section's line break;
// `name` is the measurement's in the result record.
void reportRate(const char *name, double megabytes, std::uint32_t elapsedMs, bool last = false) {
    double rate = transferRate(megabytes, elapsedMs);
    report(last ? "  %f MB/c\n" : "  %f MB/c", rate);
    recordRate(name, rate);
}

// Loads a FIFO program onto P1 (each over the one before), starts it and
// times 1024 FIFO calls. False, with the load error reported and counted,
// when the program did not load.
template <class Call>
bool fifoMeasurement(std::int32_t hBoard, const char *name, const char *file, const char *loadError, Call fifoCall) {
    if (loadDspProgram(hBoard, 0, file) < 0) {
        reportScreen("%s", loadError);
        logProtocol("\n### ОШИБКА.");
        countError(); // the remaining measurements are not made
        recordHostFault("fifo", loadError);
        recordNotTested("fifo", "a FIFO program did not load: the measurements from it on were not made");
        return false;
    }
    boardCall(QAL_start, hBoard, 0);
    reportRate(name, k16MB, timedCalls(1024, 256, "-", fifoCall));
    return true;
}

// Loads a message program and starts all processors; without it the run
// cannot go on.
void loadMessageProgram(std::int32_t hBoard, const char *file, const char *loadError) {
    if (loadDspProgram(hBoard, 0, file) < 0) {
        reportScreen("%s", loadError);
        logProtocol("\n### ОШИБКА.");
        abortRun(file);
    }
    boardCall(QAL_start, hBoard, -1);
}

} // namespace

double transferRate(double megabytes, std::uint32_t elapsedMs) { return megabytes / static_cast<double>(elapsedMs); }

int exchangeSpeedTests(std::int32_t hBoard) {
    void *buf0 = runState.buf0;
    std::uint32_t ms;

    report("\n4. ТЕСТЫ СКОРОСТИ ОБМЕНА."
           "\nHOST --> внутренняя память DSP (HOST-port): ");
    ms = timedCalls(256, 16, "-", [&] { boardCall(QAL_writeRAM, hBoard, 0, kRamAddress, buf0, kBlock, 1); });
    reportRate("hostPortWrite", k4MB, ms);
    platformSleepMs(kPauseMs);

    report("\nВнутренняя память DSP --> HOST (HOST-port): ");
    ms = timedCalls(256, 16, "-", [&] { boardCall(QAL_readRAM, hBoard, 0, kRamAddress, buf0, kBlock, 1); });
    reportRate("hostPortRead", k4MB, ms);
    platformSleepMs(kPauseMs);

    report("\nЗапись HOST в двухпортовую память : ");
    ms = timedCalls(16384, 1024, "=", [&] { boardCall(QAL_writeDPRAM, hBoard, 0, kDpramOffset, buf0, kDpramBlock); });
    reportRate("dpramWrite", k16MB, ms);
    platformSleepMs(kPauseMs);

    report("\nЧтение HOST из двухпортовой памяти: ");
    ms = timedCalls(16384, 1024, "=", [&] { boardCall(QAL_readDPRAM, hBoard, 0, kDpramOffset, buf0, kDpramBlock); });
    reportRate("dpramRead", k16MB, ms);
    platformSleepMs(kPauseMs);

    auto fifoRead = [&] { boardCall(QAL_readFIFO, hBoard, 0, kFifoPort, buf0, kBlock, QAL_WAIT_FOREVER); };
    auto fifoWrite = [&] { boardCall(QAL_writeFIFO, hBoard, 0, kFifoPort, buf0, kBlock, QAL_WAIT_FOREVER); };

    report("\nЧтение HOST из FIFO  (интеpфейс шины): ");
    if (!fifoMeasurement(hBoard, "fifoBusRead", "rfifo.ldr", "\n### ОШИБКА: Не могу загpузить пpогpамму 'rfifo'.", fifoRead))
        return -1;

    // The console's title of this one has always been laid out differently.
    conPrintf("\nЗапись HOST в FIFO (интеpфейс шины):   ");
    logBoth("\nЗапись HOST в  FIFO (интеpфейс шины): ");
    if (!fifoMeasurement(hBoard, "fifoBusWrite", "wfifo.ldr", "\n### ОШИБКА: Не могу загpузить пpогpамму 'wfifo'.", fifoWrite))
        return -1;

    report("\nЧтение HOST из FIFO (интеpфейс линка): ");
    if (!fifoMeasurement(hBoard, "fifoLinkRead", "rfifol.ldr", "\n### ОШИБКА: Не могу загpузить пpогpамму 'rfifol'.", fifoRead))
        return -1;

    report("\nЗапись HOST в  FIFO (интеpфейс линка): ");
    if (!fifoMeasurement(hBoard, "fifoLinkWrite", "wfifol.ldr", "\n### ОШИБКА: Не могу загpузить пpогpамму 'wfifol'.", fifoWrite))
        return -1;

    return messageSpeedTests(hBoard);
}

int messageSpeedTests(std::int32_t hBoard) {
    void *buf0 = runState.buf0, *buf1 = runState.buf1;
    std::uint32_t size = kBlock;
    std::uint32_t ms;

    loadMessageProgram(hBoard, "drvread.ldr", "\n### ОШИБКА: Не могу загрузить файл drvread.ldr");
    report("\nВыполнение функции QAL_putMsg() (DP): ");
    ms = timedCalls(1024, 256, "=", [&] {
        size = kBlock;
        boardCall(QAL_putMsg, hBoard, 0, buf0, &size, QAL_WAIT_FOREVER);
    });
    reportRate("putMsg", k16MB, ms);
    platformSleepMs(kPauseMs);

    loadMessageProgram(hBoard, "drvwrite.ldr", "\n### ОШИБКА: Не могу загрузить файл drvwrite.ldr");
    report("\nВыполнение функции QAL_getMsg() (DP): ");
    ms = timedCalls(1024, 256, "=", [&] {
        size = kBlock;
        boardCall(QAL_getMsg, hBoard, 0, buf1, &size, QAL_WAIT_FOREVER);
    });
    reportRate("getMsg", k16MB, ms, true);
    platformSleepMs(kPauseMs);
    boardCall(QAL_reset, hBoard, 0);
    return 0;
}
