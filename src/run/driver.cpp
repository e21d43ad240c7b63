// driver.cpp - the test run driver.
//
// Options, logs, the interrupt handler, opening and identifying the board,
// the buffers, the configuration check, the fixed test sequence and the
// verdict. Each test reports and counts its own errors; the driver only
// counts a failed configuration check and prints the verdict from
// runState.errorCount.
#include "run/driver.h"

#include "board/config_check.h"
#include "board/identify.h"
#include "board/qal.h"
#include "platform/platform.h"
#include "run/output.h"
#include "run/runstate.h"
#include "run/selection.h"
#include "tests/cpu/fft.h"
#include "tests/host/host_tests.h"
#include "tests/links/links.h"
#include "tests/memory/memory_tests.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// One row of the test sequence. A row without a key always runs; a row
// runs either once (run) or once per present processor (runPerCpu).
struct TestStep {
    const char *key;                                // selection key, or nullptr
    const char *skipMessage;                        // reported when the key is skipped
    int (*run)(std::int32_t hBoard);                // the test, run once
    int (*runPerCpu)(std::int32_t hBoard, int cpu); // the test, run per present processor
};

const TestStep kHostStep = {"HOST", "\n!ТЕСТ HOST-ИНТЕРФЕЙСА ПРОПУЩЕН", hostExchangeTest, nullptr};
const TestStep kStreamStep = {"HSTREAM", "\n!ТЕСТ HOST-STREAM ПРОПУЩЕН", dmaStreamTest, nullptr};

// The sequence after the host exchange and stream tests, in order.
const TestStep kLaterSteps[] = {
    {"INTERRUPTS", "\n!ТЕСТ ПРЕРЫВАНИЙ ПРОПУЩЕН", interruptTests, nullptr},
    {"INTLINKS", "\n!ТЕСТ ВНУТРЕННИХ ЛИНКОВ ПРОПУЩЕН", internalLinksTest, nullptr},
    {nullptr, nullptr, nullptr, cpuMemoryTest}, // SDRAM is asked inside
    {"CLASTER", "\n!ТЕСТ КЛАСТЕРА P2,P3,P4,P5 ПРОПУЩЕН", clusterTest, nullptr},
    {"FFTTIME", "\n!ФУНКЦИОНАЛЬНЫЙ ТЕСТ БПФ 1К ПРОПУЩЕН", nullptr, fftTest},
    {"EXTLINKS", "\n!ТЕСТ ВНЕШНИХ ЛИНКОВ ПРОПУЩЕН", externalLinksTest, nullptr},
};

constexpr int kCpuCount = 7;

bool isSelected(const TestStep &step) {
    return step.key == nullptr || isTestSkipped(step.key, static_cast<int>(std::strlen(step.key))) == 0;
}

void runStep(const TestStep &step) {
    if (step.run)
        step.run(runState.hBoard);
    if (step.runPerCpu)
        for (int cpu = 0; cpu < kCpuCount; ++cpu)
            if ((runState.cpuMask >> cpu) & 1)
                step.runPerCpu(runState.hBoard, cpu);
}

void askAndRun(const TestStep &step) {
    if (isSelected(step))
        runStep(step);
    else
        report("%s", step.skipMessage);
}

// Fatal stop 1 and 2 print to the console only (no log to write to);
// fatal stop 3 reports to all three sinks. Then a key, then out.
[[noreturn]] void fatalStop(const char *message, bool toLogs) {
    if (toLogs)
        report("%s", message);
    else
        conPrintf("%s", message);
    waitAnyKey();
    onCtrlC();
}

// atoi's reading of the board number, kept within 32 bits.
std::int32_t parseBoardNumber(const char *text) {
    long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

void startLogs() {
    std::tm now = platformLocalTime();
    char text[96];
    std::snprintf(text, sizeof text,
                  "\n         Дата: %02d.%02d.%04d"
                  "\nТекущее время: %2d:%02d:%02d",
                  now.tm_mday, now.tm_mon + 1, now.tm_year + 1900, now.tm_hour, now.tm_min, now.tm_sec);
    if (!startLog(runState.protocolLogName, text))
        fatalStop("\n### ОШИБКА: НЕ МОГУ ОТКРЫТЬ ФАЙЛ ПРОТОКОЛА ИСПЫТАНИЙ.", false);
    if (!startLog(runState.screenLogName, text))
        fatalStop("\n### ОШИБКА: НЕ МОГУ ОТКРЫТЬ ФАЙЛ МОНИТОРИНГА ИСПЫТАНИЙ.", false);
}

void allocateBuffers() {
    runState.buf0 = static_cast<std::uint32_t *>(std::calloc(kTestBufferWords, sizeof(std::uint32_t)));
    runState.buf1 = static_cast<std::uint32_t *>(std::calloc(kTestBufferWords, sizeof(std::uint32_t)));
    runState.buf2 = static_cast<std::uint32_t *>(std::calloc(kTestBufferWords, sizeof(std::uint32_t)));
    if (!runState.buf0 || !runState.buf1 || !runState.buf2)
        fatalStop("\n### ОШИБКА: Не могу выделить память для тестовых массивов", true);
}

void runSequence() {
    if (runState.continuous) {
        // The host exchange test repeats until the operator breaks off the
        // run; when HOST is skipped, so is the stream test, silently.
        if (isSelected(kHostStep))
            for (;;)
                runStep(kHostStep);
    } else {
        askAndRun(kHostStep);
        askAndRun(kStreamStep);
    }
    for (const TestStep &step : kLaterSteps)
        askAndRun(step);
}

} // namespace

void parseOptions(int argc, char **argv) {
    for (int i = 1; i < argc && i <= 3; ++i) {
        const char *arg = argv[i];
        if (arg[0] != '-')
            continue;
        switch (std::toupper(static_cast<unsigned char>(arg[1]))) {
        case 'B':
            runState.boardLid = parseBoardNumber(arg + 2);
            break;
        case 'C':
            runState.continuous = 1;
            break;
        case 'V':
            QAL_displayMode(QAL_DISPLAY_TRACE);
            break;
        default:
            break;
        }
    }
}

void chooseLogNames(std::int32_t boardLid) {
    std::uint32_t board = static_cast<std::uint32_t>(boardLid);
    if (board <= 1) {
        std::strcpy(runState.protocolLogName, "protoc1.log");
        std::strcpy(runState.screenLogName, "screen1.log");
    } else if (board <= 8) {
        std::snprintf(runState.protocolLogName, sizeof runState.protocolLogName, "protoc%u.log", board);
        std::snprintf(runState.screenLogName, sizeof runState.screenLogName, "screen%u.log", board);
    } else {
        std::strcpy(runState.protocolLogName, "protocol.log");
        std::strcpy(runState.screenLogName, "screen.log");
    }
}

void onCtrlC() {
    freezeOutput();
    QAL_close(runState.hBoard);
    QAL_cleanup();
    platformExit(-1);
}

void abortRun() { platformExit(-1); }

int runDriver(int argc, char **argv) {
    parseOptions(argc, argv);
    chooseLogNames(runState.boardLid);
    startLogs();
    platformSetInterruptHandler(onCtrlC);

    if (QAL_init(0, 0) < 0)
        fatalStop("\n### ОШИБКА: Не могу инициализировать модуль.", true);
    runState.hBoard = QAL_open(runState.boardLid, 0, 0);
    if (runState.hBoard <= 0)
        fatalStop("\n### ОШИБКА: Не могу открыть модуль.", true);
    if (identifyBoard(runState.hBoard) == kNotThisBoard)
        fatalStop("\n### ОШИБКА: Это не модуль ZORVANTIK.", true);
    allocateBuffers();
    if (moduleConfigCheck(runState.hBoard) != 0) {
        report("\n### ОШИБКА: Не могу проверить конфигурацию.");
        countError();
    }

    runSequence();

    if (runState.errorCount == 0)
        report("\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++");
    else
        report("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - %ld ", static_cast<long>(runState.errorCount));
    QAL_close(runState.hBoard);
    QAL_cleanup();
    return 0;
}
