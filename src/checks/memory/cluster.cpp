// cluster.cpp - clusterTest and clusterSdramTest: the dynamic memory of
// the cluster P2..P5 through one program set, ten cycles of three passes.
#include "checks/memory/memory_tests.h"

#include "checks/board/dspload.h"
#include "board/qal.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

#include <cstdio>
#include <initializer_list>

namespace {

constexpr std::uint32_t kClusterMask = 0x1E; // P2..P5
constexpr int kCycles = 10;

struct ClusterProgram {
    std::uint32_t present; // cpuMask & 0x1E
    const char *file;
};

const ClusterProgram kClusterPrograms[] = {
    {0x06, "clastp2p3.tsx"},   {0x0A, "clastp2p4.tsx"},   {0x12, "clastp2p5.tsx"},   {0x0C, "clastp3p4.tsx"},
    {0x14, "clastp3p5.tsx"},   {0x18, "clastp4p5.tsx"},   {0x0E, "clastp2p3p4.tsx"}, {0x16, "clastp2p3p5.tsx"},
    {0x1A, "clastp2p4p5.tsx"}, {0x1C, "clastp3p4p5.tsx"}, {0x1E, "clast.tsx"},
};

enum Pass { kRunning0, kRunning1, kRandom };

// The texts below differ per processor and pass in ways the bench's logs
// have always had (P2's running-0 console line alone ends with a line
// break; the random pass has one blank before "адрес"). They are kept as
// whole texts and chosen here, so the format is not a literal.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

void printProgress(int member, std::uint32_t step) {
    static const char *const kProgress[4] = {"\rP2-%ld", "   P3-%ld", "   P4-%ld", "   P5-%ld"};
    conPrintf(kProgress[member], static_cast<long>(step));
}

void printError(Pass pass, int member, unsigned long address, unsigned long written, unsigned long read) {
    static const char *const kTwoBlanks[4] = {
        "\n### ОШИБКА: P2 -  адрес 0x%08lX: записано 0x%08lX != прочитано 0x%08lX",
        "\n### ОШИБКА: P3 -  адрес 0x%08lX: записано 0x%08lX != прочитано 0x%08lX",
        "\n### ОШИБКА: P4 -  адрес 0x%08lX: записано 0x%08lX != прочитано 0x%08lX",
        "\n### ОШИБКА: P5 -  адрес 0x%08lX: записано 0x%08lX != прочитано 0x%08lX",
    };
    static const char *const kOneBlank[4] = {
        "\n### ОШИБКА: P2 - адрес 0x%08lX: записано 0x%08lX != прочитано 0x%08lX",
        "\n### ОШИБКА: P3 - адрес 0x%08lX: записано 0x%08lX != прочитано 0x%08lX",
        "\n### ОШИБКА: P4 - адрес 0x%08lX: записано 0x%08lX != прочитано 0x%08lX",
        "\n### ОШИБКА: P5 - адрес 0x%08lX: записано 0x%08lX != прочитано 0x%08lX",
    };
    const char *line = pass == kRandom ? kOneBlank[member] : kTwoBlanks[member];
    if (pass == kRunning0 && member == 0)
        conPrintf("\n### ОШИБКА: P2 -  адрес 0x%08lX: записано 0x%08lX != прочитано 0x%08lX\n", address, written, read);
    else
        conPrintf(line, address, written, read);
    logScreen(line, address, written, read);
}

#pragma GCC diagnostic pop

void printPassHeader(Pass pass) {
    switch (pass) {
    case kRunning0:
        conPrintf("\n                                       Тест бегущего 0 . . .                 ");
        logScreen("\n         Тест бегущего 0 . . .                 ");
        break;
    case kRunning1:
        conPrintf("\r                                       Тест бегущей 1 . . .         ");
        logScreen("\n      Тест бегущей 1 . . .         ");
        break;
    case kRandom:
        conPrintf("\r                                       Тест случайных чисел . . .          ");
        logScreen("\n      Тест случайных чисел . . .          ");
        break;
    }
}

} // namespace

int clusterSdramTest(std::int32_t hBoard, const char *file, std::uint32_t expected) {
    std::int32_t errorsBefore = runState.errorCount;
    std::uint32_t sizes[4] = {};
    if (!startSizeReport(hBoard, 0, file, kNoCpu, "cluster", sizes))
        return 1; // the cluster's memory goes untested
    if (!chipSizesMatch(sizes, expected, kNoCpu, "cluster"))
        return -1; // the processors are left running

    int members[4], present = 0; // cluster processors present, P2..P5 as 0..3
    for (int m = 0; m < 4; ++m)
        if ((runState.cpuMask >> (m + 1)) & 1)
            members[present++] = m;
    const std::uint32_t steps = expected >> 13;
    int shown = 0;
    for (long cycle = 1; cycle <= kCycles; ++cycle) {
        conPrintf("\nЦикл %ld", cycle);
        for (Pass pass : {kRunning0, kRunning1, kRandom}) {
            printPassHeader(pass);
            for (std::uint32_t s = 0; s < steps; ++s) {
                for (int i = 0; i < present; ++i) {
                    std::uint32_t code = receiveWord(hBoard, 0);
                    if (code == kMemProgressWord) {
                        printProgress(members[i], s);
                    } else if (code == kMemErrorWord) {
                        unsigned long address = receiveWord(hBoard, 0);
                        unsigned long written = receiveWord(hBoard, 0);
                        unsigned long read = receiveWord(hBoard, 0);
                        printError(pass, members[i], address, written, read);
                        countError();
                        recordMemoryFault(members[i] + 1, static_cast<std::uint32_t>(address),
                                          static_cast<std::uint32_t>(written), static_cast<std::uint32_t>(read));
                        if (++shown == kShownErrorLimit) { // in the whole test, never reset
                            recordNotTested("dynamicMemory", "the test stopped after 16 errors shown");
                            boardCall(QAL_reset, hBoard, 0);
                            return 0;
                        }
                    }
                }
            }
            for (int i = 0; i < present; ++i)
                receiveWord(hBoard, 0); // end of the pass
            if (pass == kRandom)
                conPrintf("\r                                                                          ");
            else
                conPrintf("\r      ");
        }
    }
    if (runState.errorCount == errorsBefore)
        memoryTestDone();
    boardCall(QAL_reset, hBoard, 0);
    return 0;
}

int clusterTest(std::int32_t hBoard) {
    conPrintf("\n-----   TЕСТЫ 32-БИТНОЙ ПАМЯТИ В КЛАСТЕРЕ P2,P3,P4,P5 ----- ");
    conPrintf("\n-----   (CTRL-BRK - прерывание теста)");
    logBoth("\n-----   TЕСТЫ 32-БИТНОЙ ПАМЯТИ В КЛАСТЕРЕ P2,P3,P4,P5 ----- ");
    if (runState.sdramSize == 0) {
        const char *text = "\n Тест динамической памяти пропущен (нет памяти).";
        report("%s", text);
        recordNotApplicable(text);
        return 0;
    }
    std::uint32_t present = runState.cpuMask & kClusterMask;
    for (const ClusterProgram &program : kClusterPrograms)
        if (program.present == present) {
            clusterSdramTest(hBoard, program.file, runState.sdramSize);
            return 0;
        }
    const char *text = "\n Тест пропущен: в кластере менее 2-х процессоров";
    report("%s", text);
    recordNotApplicable(text);
    return 0;
}
