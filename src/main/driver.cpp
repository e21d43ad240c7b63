// driver.cpp - the test run driver.
//
// Options, logs, the interrupt handler, opening and identifying the board,
// the buffers, the configuration check, the fixed test sequence and the
// verdict. Each test reports and counts its own errors; the driver only
// counts a failed configuration check and prints the verdict from
// runState.errorCount.
#include "main/driver.h"

#include "checks/board/config_check.h"
#include "checks/board/identify.h"
#include "board/processors.h"
#include "board/qal.h"
#include "platform/platform.h"
#include "run/archive.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"
#include "run/selection.h"
#include "checks/cpu/fft.h"
#include "checks/host/host_tests.h"
#include "checks/links/links.h"
#include "checks/memory/memory_tests.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

bool isSelected(const TestStep &step) {
    return step.key == nullptr || isTestSkipped(step.key, static_cast<int>(std::strlen(step.key))) == 0;
}

// The step's name in the result record: its key, or "memory".
const char *recordKey(const TestStep &step) { return step.key ? step.key : "memory"; }

bool present(int cpu) { return (runState.cpuMask >> cpu) & 1; }

// Asks for the step and runs it or reports its skip line. A test run per
// processor is a step of the record for each processor.
void askAndRun(const TestStep &step) {
    recordStepBegin(recordKey(step), kNoCpu);
    if (!isSelected(step)) {
        report("%s", step.skipMessage);
        recordStepSkipped(step.skipMessage);
        recordStepEnd();
        return;
    }
    if (step.run) {
        step.run(runState.hBoard);
        recordStepEnd();
        return;
    }
    recordStepDrop();
    for (int cpu = 0; cpu < kCpuCount; ++cpu) {
        if (!present(cpu))
            continue;
        recordStepBegin(recordKey(step), cpu);
        step.runPerCpu(runState.hBoard, cpu);
        recordStepEnd();
    }
}

// What the run means to take, for the record: every step of the sequence,
// those per processor once for each processor known to be present (once
// in all while the processors are not known yet).
std::vector<PlannedStep> plannedSteps(bool processorsKnown) {
    std::vector<PlannedStep> plan = {{"identification", kNoCpu}, {"configuration", kNoCpu}, {"HOST", kNoCpu}};
    if (!runState.continuous)
        plan.push_back({"HSTREAM", kNoCpu});
    for (const TestStep &step : kLaterSteps) {
        if (!step.runPerCpu || !processorsKnown) {
            plan.push_back({recordKey(step), kNoCpu});
            continue;
        }
        for (int cpu = 0; cpu < kCpuCount; ++cpu)
            if (present(cpu))
                plan.push_back({recordKey(step), cpu});
    }
    return plan;
}

// Fatal stop 1 and 2 print to the console only (no log to write to);
// fatal stop 3 reports to all three sinks. Then a key, then out.
[[noreturn]] void fatalStop(int stop, const char *message) {
    recordFatalStop(stop, message);
    if (stop == 3)
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
        fatalStop(1, "\n### ОШИБКА: НЕ МОГУ ОТКРЫТЬ ФАЙЛ ПРОТОКОЛА ИСПЫТАНИЙ.");
    archiveLogStarted(runState.protocolLogName);
    if (!startLog(runState.screenLogName, text))
        fatalStop(2, "\n### ОШИБКА: НЕ МОГУ ОТКРЫТЬ ФАЙЛ МОНИТОРИНГА ИСПЫТАНИЙ.");
    archiveLogStarted(runState.screenLogName);
}

void allocateBuffers() {
    runState.buf0 = static_cast<std::uint32_t *>(std::calloc(kTestBufferWords, sizeof(std::uint32_t)));
    runState.buf1 = static_cast<std::uint32_t *>(std::calloc(kTestBufferWords, sizeof(std::uint32_t)));
    runState.buf2 = static_cast<std::uint32_t *>(std::calloc(kTestBufferWords, sizeof(std::uint32_t)));
    if (!runState.buf0 || !runState.buf1 || !runState.buf2)
        fatalStop(3, "\n### ОШИБКА: Не могу выделить память для тестовых массивов");
}

void runSequence() {
    if (runState.continuous) {
        // The host exchange test repeats until the operator breaks off the
        // run, its passes one step of the record; when HOST is skipped, so
        // is the stream test, silently.
        recordStepBegin("HOST", kNoCpu);
        if (isSelected(kHostStep)) {
            recordRepeat();
            for (;;) {
                hostExchangeTest(runState.hBoard);
                recordPass();
            }
        }
        recordStepSkipped("the selection skipped the host exchange test");
        recordStepEnd();
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
            boardCall(QAL_displayMode, QAL_DISPLAY_TRACE);
            runState.trace = 1;
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

int runDriver(int argc, char **argv) {
    // Tests change into the program directory for a load; the interrupt
    // thread may write the record just then.
    runState.stationDir = platformCurrentDir();
    recordStart(argc, argv);
    parseOptions(argc, argv);
    chooseLogNames(runState.boardLid);
    recordPlan(plannedSteps(false));
    // From here a break writes the record of the board the options name,
    // also one that came earlier and waited (before the logs are open, and
    // at a fatal stop's key wait).
    platformSetInterruptHandler(onCtrlC);
    startLogs();

    std::int32_t initialised = boardCall(QAL_init, 0, 0);
    recordOrigin(platformBoardOrigin(runState.boardLid)); // a recorder knows its adapter once initialised
    if (initialised < 0)
        fatalStop(3, "\n### ОШИБКА: Не могу инициализировать модуль.");
    runState.hBoard = boardCall(QAL_open, runState.boardLid, 0, 0);
    if (runState.hBoard <= 0)
        fatalStop(3, "\n### ОШИБКА: Не могу открыть модуль.");
    recordStepBegin("identification", kNoCpu);
    if (identifyBoard(runState.hBoard) == kNotThisBoard)
        fatalStop(3, "\n### ОШИБКА: Это не модуль ZORVANTIK.");
    recordStepEnd();
    recordPlan(plannedSteps(true));
    allocateBuffers();
    recordStepBegin("configuration", kNoCpu);
    if (moduleConfigCheck(runState.hBoard) != 0) {
        report("\n### ОШИБКА: Не могу проверить конфигурацию.");
        countError();
    }
    recordStepEnd();

    runSequence();

    if (runState.errorCount == 0)
        report("\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++");
    else
        report("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - %ld ", static_cast<long>(runState.errorCount));
    recordVerdict(runState.errorCount == 0);
    // The verdict is out: the run ends here with 0, unless a break began
    // before this point, which then ends it with 255 (and this call does
    // not return). A break from here on is ignored.
    finishRun();
    return 0;
}
