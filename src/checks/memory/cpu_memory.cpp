// cpu_memory.cpp - cpuMemoryTest and sdramTest: P1's internal memory from
// the host, then each processor's dynamic memory through its DSP program.
#include "checks/memory/memory_tests.h"

#include "checks/board/dspload.h"
#include "board/processors.h"
#include "board/qal.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"
#include "run/selection.h"

namespace {

const char *const kSdramPrograms[7] = {"sdramtst.ldr", "sdr_p2.tsx", "sdr_p3.tsx", "sdr_p4.tsx",
                                       "sdr_p5.tsx",   "sdr_p6.tsx", "sdr_p7.tsx"};
constexpr std::uint32_t kBankWords = 65536;
constexpr std::uint32_t kBanks[3] = {0x00000, 0x80000, 0x100000};
struct PassHeader {
    const char *console;
    const char *log;
};

} // namespace

void internalMemoryTests(std::int32_t hBoard) {
    for (std::uint32_t bank : kBanks)
        patternTestRunning0(hBoard, 0, bank, kBankWords);
    for (std::uint32_t bank : kBanks)
        patternTestRunning1(hBoard, 0, bank, kBankWords);
    for (std::uint32_t fill : {0x55555555u, 0xAAAAAAAAu})
        for (std::uint32_t bank : kBanks)
            patternTestFill(hBoard, 0, bank, kBankWords, fill);
    patternTestRandom(hBoard, 0, 0x100000, kBankWords);
}

void memoryTestDone() {
    conPrintf("\r  Тест выполнен.                           ");
    logBoth("\n  Тест выполнен.                           ");
}

std::uint32_t receiveWord(std::int32_t hBoard, int node) {
    std::uint32_t word = 0;
    std::uint32_t size = 4;
    boardCall(QAL_getMsg, hBoard, node, &word, &size, QAL_WAIT_FOREVER);
    return word;
}

bool chipSizesMatch(const std::uint32_t sizes[4], std::uint32_t expected, int cpu, const char *test) {
    static const char *const kChips[4] = {"chip1", "chip2", "chip3", "chip4"};
    for (int i = 0; i < 4; ++i) {
        char shown[16];
        std::snprintf(shown, sizeof shown, "0x%08lX", static_cast<unsigned long>(sizes[i]));
        recordMeasurement(kChips[i], sizes[i], "words", shown);
    }
    if (sizes[0] == expected && sizes[1] == expected && sizes[2] == expected && sizes[3] == expected)
        return true;
    countError();
    unsigned long want = expected;
    char text[96];
    std::snprintf(text, sizeof text, "\n### ОШИБКА: Неверный размер памяти CHIP1: 0x%08lX != 0x%08lX", want,
                  static_cast<unsigned long>(sizes[0]));
    recordProcessorFault(cpu, test, text);
    recordNotTested("dynamicMemory", "the chips' sizes are not the configuration's");
    report("\n### ОШИБКА: Неверный размер памяти CHIP1: 0x%08lX != 0x%08lX", want,
           static_cast<unsigned long>(sizes[0]));
    report("\n### ОШИБКА: Неверный размер памяти CHIP2: 0x%08lX != 0x%08lX", want,
           static_cast<unsigned long>(sizes[1]));
    report("\n### ОШИБКА: Неверный размер памяти CHIP3: 0x%08lX != 0x%08lX", want,
           static_cast<unsigned long>(sizes[2]));
    report("\n### ОШИБКА: Неверный размер памяти CHIP4: 0x%08lX != 0x%08lX", want,
           static_cast<unsigned long>(sizes[3]));
    return false;
}

bool startSizeReport(std::int32_t hBoard, int node, const char *file, int cpu, const char *test,
                     std::uint32_t sizes[4]) {
    if (loadDspProgram(hBoard, node, file) < 0) {
        char text[160];
        std::snprintf(text, sizeof text, "### ОШИБКА: Не могу загрузить '%s' на модуль.\n", file);
        report("%s", text);
        countError();
        recordProcessorFault(cpu, test, text);
        recordNotTested("dynamicMemory", "the test program did not load");
        return false;
    }
    boardCall(QAL_start, hBoard, -1);
    std::uint32_t size = 4 * sizeof sizes[0];
    boardCall(QAL_getMsg, hBoard, node, sizes, &size, QAL_WAIT_FOREVER);
    return true;
}

int sdramTest(std::int32_t hBoard, int node, const char *file, std::uint32_t expected) {
    std::int32_t errorsBefore = runState.errorCount;
    std::uint32_t sizes[4] = {};
    if (!startSizeReport(hBoard, node, file, node, "memory", sizes))
        return 1; // the processor's memory goes untested
    if (!chipSizesMatch(sizes, expected, node, "memory"))
        return -1; // the processors are left running
    conPrintf("\n");

    static const PassHeader kPasses[3] = {
        {"\r      Тест бегущего 0 . . .                 ", "\n      Тест бегущего 0 . . .                 "},
        {"\r      Тест бегущей 1 . . .         ", "\n      Тест бегущей 1 . . .         "},
        {"\r      Тест случайных чисел . . .          ", "\n      Тест случайных чисел . . .          "},
    };
    const std::uint32_t steps = expected >> 11;
    for (const PassHeader &pass : kPasses) {
        conPrintf("%s", pass.console);
        logScreen("%s", pass.log);
        int shown = 0;
        for (std::uint32_t s = 0; s < steps; ++s) {
            std::uint32_t code = receiveWord(hBoard, node);
            if (code == kMemProgressWord) {
                conPrintf("\r%ld", static_cast<long>(s));
            } else if (code == kMemErrorWord) {
                unsigned long address = receiveWord(hBoard, node);
                unsigned long written = receiveWord(hBoard, node);
                unsigned long read = receiveWord(hBoard, node);
                reportScreen("\n### ОШИБКА:  адрес 0x%08lX: записано 0x%08lX != прочитано 0x%08lX", address, written,
                             read);
                countError();
                recordMemoryFault(node, static_cast<std::uint32_t>(address), static_cast<std::uint32_t>(written),
                                  static_cast<std::uint32_t>(read));
                if (++shown == kShownErrorLimit) { // in this pass
                    recordNotTested("dynamicMemory", "the test stopped after 16 errors shown");
                    boardCall(QAL_reset, hBoard, 0);
                    return 0;
                }
            }
        }
        receiveWord(hBoard, node); // end of the pass
        conPrintf("\r      ");
    }
    if (runState.errorCount == errorsBefore)
        memoryTestDone();
    boardCall(QAL_reset, hBoard, 0);
    return 0;
}

int cpuMemoryTest(std::int32_t hBoard, int cpu) {
    if (cpu == 0)
        report("\n-----   TЕСТЫ 32-БИТНОЙ ПАМЯТИ ----- (CTRL-BRK - прерывание теста)");
    report("\n ==== Пpоцессоp %s:  ", kCpuNames[cpu]);
    if (cpu == 0) {
        report("\n Тест внутренней памяти               \n");
        boardCall(QAL_reset, hBoard, 0);
        internalMemoryTests(hBoard);
        memoryTestDone(); // the pattern tests count nothing
    }
    // P1's internal memory is tested above; the other processors have
    // only their dynamic memory to test.
    if (runState.sdramSize == 0) {
        const char *reason = "no dynamic memory";
        recordNotTested("dynamicMemory", reason);
        if (cpu != 0)
            recordNotApplicable(reason);
        return 0;
    }
    if (isTestSkipped("SDRAM", 5) != 0) {
        const char *text = "\n Тест динамической памяти пропущен";
        report("%s", text);
        recordNotTested("dynamicMemory", text);
        if (cpu != 0)
            recordStepSkipped(text);
        return 0;
    }
    report("\n Тест динамической памяти");
    sdramTest(hBoard, cpu, kSdramPrograms[programCpu(cpu, runState.cpuMask)], runState.sdramSize);
    return 0;
}
