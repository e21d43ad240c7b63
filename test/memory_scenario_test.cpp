// Runs of the real program through the memory tests: P1's internal memory
// from the host, each processor's dynamic memory and the cluster's.
#include "support/scenario.h"

#include <gtest/gtest.h>

namespace {

const std::string kMemHeader = "\n-----   TЕСТЫ 32-БИТНОЙ ПАМЯТИ ----- (CTRL-BRK - прерывание теста)";
const std::string kInternal = "\n Тест внутренней памяти               \n";
const std::string kDone = "\r  Тест выполнен.                           ";
const std::string kDoneLog = "\n  Тест выполнен.                           ";
const std::string kPrompt = "\n\tНажмите на клавишу для продолжения данного теста ... ( <ESC> - пропуск теста)";
const std::string kNoDram = "p1_sdram_chips = 0, 0, 0, 0\n";
const std::string kClusterHeader = "\n-----   TЕСТЫ 32-БИТНОЙ ПАМЯТИ В КЛАСТЕРЕ P2,P3,P4,P5 ----- ";

std::string processorLine(int n) { return "\n ==== Пpоцессоp P" + std::to_string(n) + ":  "; }

class Memory : public ScenarioTest {
protected:
    RunResult run(const std::string &cfg, const std::string &board, const std::string &keys = "") {
        return runStation(cfg, board, keys);
    }
};

TEST_F(Memory, EscapeEndsOnlyTheFailingPatternTest) {
    // Bit 0 of the first word stuck at 1: running 0 and the 0xAAAAAAAA fill
    // of bank 0 fail in their first block.
    RunResult r = run("", "cpu_mask = 0x01\n" + kNoDram + "ram_stuck_bit = P1:0x0:0:1\n", "\x1bx");
    EXPECT_EQ(r.status, 0);
    const std::string failure = "\n### ОШИБКА:\n00000000: Записано FFFFFFFE != прочитано FFFFFFFF";
    const std::string running0 = "\t   Тест бегущего 0 . . .                                ";
    EXPECT_TRUE(consoleHas(kMemHeader + processorLine(1) + kInternal + running0 + spinner(16) + "\r|" + failure +
                           kPrompt + running0 + spinner(16) + spinner(16)))
        << console_;
    const std::string fillA = "\t   Тест заполнением 0xAAAAAAAA . . .                        ";
    EXPECT_TRUE(consoleHas(fillA + spinner(16) + "\r|" +
                           "\n### ОШИБКА:\n00000000: Записано AAAAAAAA != прочитано AAAAAAAB" + kPrompt +
                           spinner(16).substr(2)))
        << console_;
    // The pattern tests count nothing, and the completion lines follow.
    EXPECT_TRUE(consoleHas(kDone + "\n!ТЕСТ КЛАСТЕРА P2,P3,P4,P5 ПРОПУЩЕН"));
    EXPECT_TRUE(logsHave(kDoneLog));
    EXPECT_EQ(protocol_.find("Записано"), std::string::npos);
    EXPECT_NE(screen_.find(failure), std::string::npos);
    EXPECT_TRUE(consoleHas("\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++"));
}

TEST_F(Memory, InternalMemoryFaultsShowInThePatternTests) {
    // Bit 12 of the bank offset not decoded: blocks 1, 3, ... are blocks 0,
    // 2, ... again, so the complement written behind block 0 is what
    // block 1 reads back. A range of bad words reads all ones.
    run("", "cpu_mask = 0x01\n" + kNoDram + "ram_address_fault = P1:12\nram_bad_words = P1:0x100010-0x10001F\n");
    const std::string running1 = "\t    Тест бегущей 1 . . .                              ";
    EXPECT_TRUE(consoleHas(running1 + spinner(16) + spinner(2) +
                           "\n### ОШИБКА:\n00001000: Записано 00000001 != прочитано FFFFFFFE" + kPrompt))
        << console_;
    EXPECT_TRUE(consoleHas("\n### ОШИБКА:\n00100010: Записано 00010000 != прочитано FFFFFFFF" + kPrompt)) << console_;
    EXPECT_TRUE(consoleHas(kDone));
}

TEST_F(Memory, WithoutDynamicMemoryOnlyP1sInternalMemoryIsTested) {
    run("[CLASTER START]\nCHECK=1\n", "cpu_mask = 0x07\n" + kNoDram);
    EXPECT_TRUE(consoleHas(kDone + processorLine(2) + processorLine(3) + kClusterHeader +
                           "\n-----   (CTRL-BRK - прерывание теста)" +
                           "\n Тест динамической памяти пропущен (нет памяти)."))
        << console_;
    EXPECT_TRUE(logsHave(kClusterHeader + "\n Тест динамической памяти пропущен (нет памяти)."));
}

TEST_F(Memory, WithoutP1NoHeaderAndNoInternalMemory) {
    // Without P1 the configuration check cannot size any dynamic memory, so
    // the others print their processor line alone.
    run("[SDRAM START]\nCHECK=1\n", "cpu_mask = 0x06\n");
    EXPECT_FALSE(consoleHas("TЕСТЫ 32-БИТНОЙ ПАМЯТИ -----"));
    EXPECT_TRUE(consoleHas(processorLine(2) + processorLine(3) + "\n!ТЕСТ КЛАСТЕРА")) << console_;
}

TEST_F(Memory, SkippedDynamicMemoryIsSaidForEveryProcessor) {
    run("[SDRAM START]\nCHECK=0\n", "cpu_mask = 0x03\n");
    EXPECT_TRUE(consoleHas(kDone + "\n Тест динамической памяти пропущен" + processorLine(2) +
                           "\n Тест динамической памяти пропущен"))
        << console_;
}

TEST_F(Memory, MissingSelectionFileSkipsDynamicMemoryWithAWarningEach) {
    station_.remove("check1.cfg");
    RunResult r = runProgram(station_.path(), {});
    console_ = consoleText(r.out);
    const std::string skipped =
        "\n### ПРЕДУПРЕЖДЕНИЕ: Не могу открыть файл 'check1.cfg'\n Тест динамической памяти пропущен";
    EXPECT_EQ(std::count(console_.begin(), console_.end(), '!'), 7); // the driver's skip lines
    std::size_t n = 0;
    for (std::size_t at = console_.find(skipped); at != std::string::npos; at = console_.find(skipped, at + 1))
        ++n;
    EXPECT_EQ(n, 7u);
    EXPECT_TRUE(consoleHas("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 14 "));
}

TEST_F(Memory, ClusterOfFewerThanTwoIsSkipped) {
    run("[CLASTER START]\nCHECK=1\n[SDRAM START]\nCHECK=0\n", "cpu_mask = 0x11\n");
    EXPECT_TRUE(consoleHas(kClusterHeader + "\n-----   (CTRL-BRK - прерывание теста)" +
                           "\n Тест пропущен: в кластере менее 2-х процессоров"))
        << console_;
}

// Small chips keep the dynamic-memory conversations short: 65536 words
// give 32 steps per pass per processor and 8 per cluster pass.
const std::string kSmallChips = "p1_sdram_chips = 0x10000, 0x10000, 0x10000, 0x10000\nsdram_chip_size = 0x10000\n";

const std::string kSdramError = "\n### ОШИБКА: \u00a0адрес 0x";

TEST_F(Memory, ShortChipIsOneErrorWithFourLinesInEachSink) {
    run("[SDRAM START]\nCHECK=1\n", "cpu_mask = 0x03\np1_sdram_chips = 0x10000, 0x10000, 0x10000, 0x10000\n"
                                    "sdram_chip_size = 0x10000, P2:chip3:0x8000\n");
    const std::string lines = "\n### ОШИБКА: Неверный размер памяти CHIP1: 0x00010000 != 0x00010000"
                              "\n### ОШИБКА: Неверный размер памяти CHIP2: 0x00010000 != 0x00010000"
                              "\n### ОШИБКА: Неверный размер памяти CHIP3: 0x00010000 != 0x00010000"
                              "\n### ОШИБКА: Неверный размер памяти CHIP4: 0x00010000 != 0x00008000";
    EXPECT_TRUE(consoleHas(processorLine(2) + "\n Тест динамической памяти" + lines + "\n!ТЕСТ КЛАСТЕРА")) << console_;
    EXPECT_TRUE(logsHave(processorLine(2) + "\n Тест динамической памяти" + lines));
    EXPECT_TRUE(consoleHas("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 "));
}

TEST_F(Memory, HealthyProcessorShowsItsStepsAndCompletes) {
    run("[SDRAM START]\nCHECK=1\n", "cpu_mask = 0x03\n" + kSmallChips);
    std::string steps;
    for (int s = 0; s < 32; ++s)
        steps += "\r" + std::to_string(s);
    EXPECT_TRUE(consoleHas(processorLine(2) + "\n Тест динамической памяти\n" +
                           "\r      Тест бегущего 0 . . .                 " + steps + "\r      " +
                           "\r      Тест бегущей 1 . . .         " + steps + "\r      " +
                           "\r      Тест случайных чисел . . .          " + steps + "\r      " + kDone))
        << console_;
    EXPECT_NE(screen_.find(processorLine(2) + "\n Тест динамической памяти" +
                           "\n      Тест бегущего 0 . . .                 \n      Тест бегущей 1 . . .         " +
                           "\n      Тест случайных чисел . . .          " + kDoneLog),
              std::string::npos)
        << screen_;
    EXPECT_NE(protocol_.find(processorLine(2) + "\n Тест динамической памяти" + kDoneLog), std::string::npos);
}

TEST_F(Memory, SixteenErrorsInOnePassStopTheProcessorsTest) {
    run("[SDRAM START]\nCHECK=1\n", "cpu_mask = 0x03\n" + kSmallChips + "sdram_bad_words = P2:chip0:0-0x7FFF\n");
    std::size_t at = console_.find(processorLine(2));
    ASSERT_NE(at, std::string::npos);
    std::string p2 = console_.substr(at);
    EXPECT_EQ(count(p2, kSdramError), 16u);
    EXPECT_EQ(count(p2, "Тест бегущей 1"), 0u); // the later passes do not run
    EXPECT_EQ(count(p2, "Тест выполнен"), 0u);
    EXPECT_TRUE(consoleHas("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 16 "));
    EXPECT_EQ(count(protocol_, kSdramError), 0u);
}

TEST_F(Memory, FifteenErrorsInEveryPassRunToTheEnd) {
    run("[SDRAM START]\nCHECK=1\n", "cpu_mask = 0x03\n" + kSmallChips + "sdram_bad_words = P2:chip1:0-0x77FF\n");
    std::string p2 = console_.substr(console_.find(processorLine(2)));
    EXPECT_EQ(count(p2, kSdramError), 45u);
    EXPECT_EQ(count(p2, "Тест случайных чисел"), 1u);
    EXPECT_EQ(count(p2, "Тест выполнен"), 0u);
    EXPECT_TRUE(consoleHas("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 45 "));
}

TEST_F(Memory, ErrorReportCarriesTheRealAddressAndWords) {
    run("[SDRAM START]\nCHECK=1\n", "cpu_mask = 0x03\n" + kSmallChips + "sdram_stuck_bit = P2:chip2:0x1234:7:1\n");
    std::size_t at = console_.find(kSdramError);
    ASSERT_NE(at, std::string::npos) << console_;
    unsigned address = 0, written = 0, read = 0;
    ASSERT_EQ(std::sscanf(console_.c_str() + at + kSdramError.size() - 2, "0x%X: записано 0x%X != прочитано 0x%X",
                          &address, &written, &read),
              3);
    EXPECT_EQ(address, 0x10000000u + 2 * 0x01000000u + 0x1234u);
    EXPECT_EQ(written | 0x80u, read);
    EXPECT_EQ(written & 0x80u, 0u);
}

class Cluster : public Memory {
protected:
    RunResult cluster(const std::string &board, const std::vector<std::string> &args = {}) {
        return runStation("[CLASTER START]\nCHECK=1\n[SDRAM START]\nCHECK=0\n", kSmallChips + board, "", args);
    }
};

TEST_F(Cluster, TwoProcessorsTenCyclesAndTheRightProgram) {
    RunResult r = cluster("cpu_mask = 0x07\n", {"-V"});
    EXPECT_NE(r.err.find("clastp2p3.tsx"), std::string::npos);
    std::string steps;
    for (int s = 0; s < 8; ++s)
        steps += "\rP2-" + std::to_string(s) + "   P3-" + std::to_string(s);
    std::string cycle = "\n                                       Тест бегущего 0 . . .                 " + steps +
                        "\r      \r                                       Тест бегущей 1 . . .         " + steps +
                        "\r      \r                                       Тест случайных чисел . . .          " +
                        steps + "\r" + std::string(74, ' ');
    std::string expected = kClusterHeader + "\n-----   (CTRL-BRK - прерывание теста)";
    for (int c = 1; c <= 10; ++c)
        expected += "\nЦикл " + std::to_string(c) + cycle;
    EXPECT_TRUE(consoleHas(expected + kDone)) << console_;
    std::string logCycle = "\n         Тест бегущего 0 . . .                 \n      Тест бегущей 1 . . .         "
                           "\n      Тест случайных чисел . . .          ";
    std::string logs = kClusterHeader;
    for (int c = 1; c <= 10; ++c)
        logs += logCycle;
    EXPECT_NE(screen_.find(logs + kDoneLog), std::string::npos) << screen_;
    EXPECT_NE(protocol_.find(kClusterHeader + kDoneLog), std::string::npos) << protocol_;
}

TEST_F(Cluster, WithoutP2TheCountersShareOneLine) {
    cluster("cpu_mask = 0x1D\n");
    EXPECT_TRUE(consoleHas("   P3-0   P4-0   P5-0   P3-1   P4-1   P5-1")) << console_;
}

TEST_F(Cluster, SixteenErrorsOverSeveralCyclesEndTheTest) {
    // One bad step of P3: one error in every pass, three a cycle.
    cluster("cpu_mask = 0x1F\nsdram_bad_words = P3:chip0:0-0x1FFF\n");
    EXPECT_EQ(count(console_, "\n### ОШИБКА: P3 - "), 16u);
    EXPECT_TRUE(consoleHas("\nЦикл 6"));
    EXPECT_FALSE(consoleHas("\nЦикл 7"));
    EXPECT_EQ(console_.find(kDone, console_.find(kClusterHeader)), std::string::npos);
    EXPECT_EQ(count(screen_, "\n### ОШИБКА: P3 - "), 16u);
    EXPECT_EQ(count(protocol_, "### ОШИБКА: P3"), 0u);
    EXPECT_TRUE(consoleHas("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 16 "));
}

TEST_F(Cluster, P2sRunning0ErrorLineEndsWithABreakOnTheConsoleOnly) {
    cluster("cpu_mask = 0x07\nsdram_bad_words = P2:chip0:0-0x1FFF\n");
    const std::string running0 = "\n### ОШИБКА: P2 - \u00a0адрес 0x10000000: записано 0x";
    std::size_t at = console_.find(running0);
    ASSERT_NE(at, std::string::npos) << console_;
    std::size_t end = console_.find("прочитано 0x", at) + std::string("прочитано 0x").size() + 8;
    EXPECT_EQ(console_.substr(end, 6), "\n   P3"); // its own line break, then P3's counter
    std::size_t logAt = screen_.find(running0);
    ASSERT_NE(logAt, std::string::npos);
    std::size_t logEnd = screen_.find("прочитано 0x", logAt) + std::string("прочитано 0x").size() + 8;
    EXPECT_NE(screen_.substr(logEnd, 2), "\n\n");
    // The random pass has one blank before the address.
    EXPECT_TRUE(consoleHas("\n### ОШИБКА: P2 - адрес 0x10000000: "));
}

} // namespace
