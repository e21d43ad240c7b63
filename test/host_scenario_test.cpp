// Runs of the real program through the configuration check and the host
// interface tests, on unpaced virtual boards with one fault each.
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace {

const std::string kHostSection = "\n-----     ТЕСТ ОБМЕНА ДАННЫМИ      -----"
                                 "\n1. ОБМЕН СЛОВАМИ (HOST-port)"
                                 "\n2. ОБМЕН МАССИВАМИ (HOST-port)"
                                 "\n3. ОБМЕН ЧЕРЕЗ ДВУХПОРТОВУЮ ПАМЯТЬ."
                                 "\n4. ТЕСТЫ СКОРОСТИ ОБМЕНА.";

// The console's speed lines, rates shown as R.
const std::string kConsoleSpeeds = "\nHOST --> внутренняя память DSP (HOST-port): ----------------  R MB/c"
                                   "\nВнутренняя память DSP --> HOST (HOST-port): ----------------  R MB/c"
                                   "\nЗапись HOST в двухпортовую память : ================  R MB/c"
                                   "\nЧтение HOST из двухпортовой памяти: ================  R MB/c"
                                   "\nЧтение HOST из FIFO  (интеpфейс шины): ----  R MB/c"
                                   "\nЗапись HOST в FIFO (интеpфейс шины):   ----  R MB/c"
                                   "\nЧтение HOST из FIFO (интеpфейс линка): ----  R MB/c"
                                   "\nЗапись HOST в  FIFO (интеpфейс линка): ----  R MB/c"
                                   "\nВыполнение функции QAL_putMsg() (DP): ====  R MB/c"
                                   "\nВыполнение функции QAL_getMsg() (DP): ====  R MB/c\n";
const std::string kLogSpeeds = "\nHOST --> внутренняя память DSP (HOST-port):   R MB/c"
                               "\nВнутренняя память DSP --> HOST (HOST-port):   R MB/c"
                               "\nЗапись HOST в двухпортовую память :   R MB/c"
                               "\nЧтение HOST из двухпортовой памяти:   R MB/c"
                               "\nЧтение HOST из FIFO  (интеpфейс шины):   R MB/c"
                               "\nЗапись HOST в  FIFO (интеpфейс шины):   R MB/c"
                               "\nЧтение HOST из FIFO (интеpфейс линка):   R MB/c"
                               "\nЗапись HOST в  FIFO (интеpфейс линка):   R MB/c"
                               "\nВыполнение функции QAL_putMsg() (DP):   R MB/c"
                               "\nВыполнение функции QAL_getMsg() (DP):   R MB/c\n";

const std::string kConfigHead = "\n----- ПРОВЕРКА КОНФИГУРАЦИИ МОДУЛЯ -----";
const std::string kDpramLines = "\nОбнаружена двухпортовая память:"
                                "\n DSP адрес = 0x40000600, PC=BASE+0x80, размер  640 слов (  2560 байт)";
const std::string kSkipRest = "\n!ТЕСТ HOST-STREAM ПРОПУЩЕН";

std::string maskRates(const std::string &text) { return maskVariable(text); }

class Host : public ScenarioTest {
protected:
    // Selects `keys`, writes `board` as board 1 and runs.
    RunResult run(const std::vector<std::string> &keys, const std::string &board, const std::string &stdinKeys = "",
                  const std::vector<std::string> &args = {}) {
        return runStation(selecting(keys), board, stdinKeys, args);
    }
};

TEST_F(Host, HealthyBoardShowsTheSectionsAndTenRates) {
    RunResult r = run({"HOST"}, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(consoleHas(kConfigHead + kDpramLines)) << console_;
    EXPECT_TRUE(maskRates(console_).find(kHostSection + kConsoleSpeeds + kSkipRest) != std::string::npos) << console_;
    EXPECT_NE(maskRates(screen_).find(kHostSection + kLogSpeeds + kSkipRest), std::string::npos) << screen_;
    EXPECT_NE(maskRates(protocol_).find(kHostSection + kLogSpeeds + kSkipRest), std::string::npos) << protocol_;
    EXPECT_TRUE(consoleHas("\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++"));
}

TEST_F(Host, StuckBitsInP1MemoryAreListedWithinTheirLimits) {
    RunResult r = run({"HOST"}, "ram_stuck_bit = P1:0x80000:31:1, P1:0x80003:31:1, P1:0x80014:31:1, P1:0x8001E:31:1\n");
    EXPECT_EQ(r.status, 0);
    std::string expected = "\n1. ОБМЕН СЛОВАМИ (HOST-port)"
                           "\n### ОШИБКА интерфейса:"
                           "\n### записано 0x12345678 != прочитано 92345678"
                           "\n2. ОБМЕН МАССИВАМИ (HOST-port)"
                           "\n### ОШИБКА интерфейса:"
                           "\n0. записано 00000000 != прочитано 80000000"
                           "\n3. записано 00000003 != прочитано 80000003"
                           "\n20. записано 00000014 != прочитано 80000014"
                           "\n3. ОБМЕН ЧЕРЕЗ ДВУХПОРТОВУЮ ПАМЯТЬ."
                           "\n4. ТЕСТЫ СКОРОСТИ ОБМЕНА.";
    EXPECT_TRUE(consoleHas(expected)) << console_;
    EXPECT_TRUE(logsHave(expected));
    // The host port's findings are not counted.
    EXPECT_TRUE(consoleHas("\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++"));
}

TEST_F(Host, NeighbourWordReadBackThroughAnAddressFault) {
    // Address bit 0 not decoded: 0x80000 and 0x80001 are one word.
    run({"HOST"}, "ram_address_fault = P1:0\n");
    EXPECT_TRUE(consoleHas("\n1. ОБМЕН СЛОВАМИ (HOST-port)\n### ОШИБКА интерфейса:"
                           "\n### записано 0x12345678 != прочитано EDCBA987\n2."))
        << console_;
}

TEST_F(Host, BoardWithoutDpramFailsEveryDpramPass) {
    RunResult r = run({"HOST"}, "dpram = no\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(consoleHas(kConfigHead + "\nОбнаружена динамическая память на P1:")) << console_;
    std::string listing = "\n### ОШИБКА интерфейса DPRAM:";
    for (int i = 0; i <= 17; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "\n%d. записано %08X != прочитано FFFFFFFF", i, i);
        listing += line;
    }
    EXPECT_EQ(count(console_, listing), 100u);
    EXPECT_EQ(count(protocol_, listing), 100u);
    EXPECT_TRUE(consoleHas(listing + "\n4. ТЕСТЫ СКОРОСТИ ОБМЕНА."));
}

// The configuration check's own layouts, with every other test skipped.
class Config : public Host {
protected:
    RunResult check(const std::string &board) { return run({}, board); }
    std::string consoleSection() const { return section(console_); }
    std::string screenSection() const { return section(screen_); }
    std::string protocolSection() const { return section(protocol_); }
    static std::string section(const std::string &text) {
        std::size_t start = text.find(kConfigHead), end = text.find("\n!ТЕСТ HOST-ИНТЕРФЕЙСА");
        return start == std::string::npos || end == std::string::npos ? text : text.substr(start, end - start);
    }
};

TEST_F(Config, FourEqualChipsGiveOneLine) {
    check("p1_sdram_chips = 0x100000, 0x80100000, 0x100000, 0x100000\nsdrcon = 0x4A51\ncsdram_cycles = 2000000\n"
          "cpu_clock = 300\n");
    std::string common = kConfigHead + kDpramLines +
                         "\nОбнаружена динамическая память на P1:" + "\n 1024/ 512 Kслов (4096 Kбайт) | (32/64-бита)" +
                         "\n SDRCON = 0x4A51";
    EXPECT_EQ(consoleSection(),
              common + "\n Быстродействие = 1201.201229 Mбайт/сек\n------------------------------------------------");
    EXPECT_EQ(screenSection(), common + "\n Быстродействие = 1201.201229 Мбайт/сек");
    EXPECT_EQ(protocolSection(), common + "\n Быстродействие = 1201.201229 Мбайт/сек");
}

TEST_F(Config, DifferentChipsGiveALinePerChip) {
    check("p1_sdram_chips = 0x80100000, 0x100000, 0x80040000, 0\nsdrcon = 0x12\ncsdram_cycles = 2000000\n");
    std::string chips1to3 = "\n CHIP1: 1024/ 512 Kслов (4096 Kбайт) | (32/64-бита)"
                            "\n CHIP2:  256/ 128 Kслов (1024 Kбайт) | (32/64-бита) (overhead)"
                            "\n CHIP3:    0/   0 Kслов (   0 Kбайт) | (32/64-бита)"
                            "\n SDRCON = 0x  12";
    std::string head = kConfigHead + kDpramLines + "\nОбнаружена динамическая память на P1:";
    EXPECT_EQ(consoleSection(), head + "\n  CHIP0: 1024/ 512 Kслов (4096 Kбайт) | (32/64-бита) (overhead)" + chips1to3 +
                                    "\n Быстродействие = 1000.000000 Mбайт/сек" +
                                    "\n------------------------------------------------");
    EXPECT_EQ(screenSection(), head + "\n CHIP0: 1024/ 512 Kслов (4096 Kбайт) | (32/64-бита) (overhead)" + chips1to3 +
                                   "\n Быстродействие = 1000.000000 Мбайт/сек");
    EXPECT_EQ(protocolSection(), head + "\n 1024/ 512 Kслов (4096 Kбайт) | (32/64-бита)");
}

TEST_F(Config, EmptyChipZeroMeansNoDynamicMemory) {
    check("p1_sdram_chips = 0x80000000, 0x100000, 0x100000, 0x100000\n");
    std::string text = kConfigHead + kDpramLines + "\nДинамическая память на P1 не обнаpужена";
    EXPECT_EQ(consoleSection(), text + "\n------------------------------------------------");
    EXPECT_EQ(protocolSection(), text);
}

TEST_F(Config, MissingCsdramIsOneError) {
    station_.remove("dsp_app/csdram.ldr");
    RunResult r = check("");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(consoleSection(), kConfigHead + kDpramLines + "\n### ОШИБКА: Не могу загpузить пpогpамму 'сsdram'." +
                                    "\n### ОШИБКА: Не могу проверить конфигурацию.");
    EXPECT_EQ(protocolSection(),
              kConfigHead + kDpramLines + "\n### ОШИБКА." + "\n### ОШИБКА: Не могу проверить конфигурацию.");
    EXPECT_TRUE(consoleHas("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 "));
}

TEST_F(Config, SilentCsdramIsOneError) {
    check("csdram_signal = no\n");
    EXPECT_EQ(consoleSection(), kConfigHead + kDpramLines + "\n### ERROR: Not signal IRQ from DSP board." +
                                    "\n### ОШИБКА: Не могу проверить конфигурацию.");
    EXPECT_EQ(screenSection(), kConfigHead + kDpramLines + "\n### ОШИБКА: Не могу проверить конфигурацию.");
    EXPECT_TRUE(consoleHas("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 "));
}

TEST_F(Host, MissingWfifoEndsTheSpeedTestsAndTheRunGoesOn) {
    station_.remove("dsp_app/wfifo.ldr");
    RunResult r = run({"HOST"}, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(maskRates(console_).find("\nЧтение HOST из FIFO  (интеpфейс шины): ----  R MB/c"
                                         "\nЗапись HOST в FIFO (интеpфейс шины):   "
                                         "\n### ОШИБКА: Не могу загpузить пpогpамму 'wfifo'." +
                                         kSkipRest) != std::string::npos)
        << console_;
    EXPECT_NE(maskRates(protocol_).find("\nЗапись HOST в  FIFO (интеpфейс шины): \n### ОШИБКА." + kSkipRest),
              std::string::npos);
    // The measurements it could not make are one error.
    EXPECT_TRUE(endsWith(console_, "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 ")) << console_;
}

TEST_F(Host, MissingDrvwriteEndsTheRun) {
    station_.remove("dsp_app/drvwrite.ldr");
    RunResult r = run({"HOST"}, "");
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(maskRates(console_).find("\nВыполнение функции QAL_putMsg() (DP): ====  R MB/c"
                                         "\n### ОШИБКА: Не могу загрузить файл drvwrite.ldr") != std::string::npos)
        << console_;
    EXPECT_TRUE(endsWith(console_, "\n### ОШИБКА: Не могу загрузить файл drvwrite.ldr")); // no verdict
    EXPECT_TRUE(endsWith(protocol_, "\n### ОШИБКА."));
}

TEST_F(Host, InterruptsBothWaysWithTheBoardsInterruptNumber) {
    RunResult r = run({"INTERRUPTS"}, "irq = 5\n");
    EXPECT_EQ(r.status, 0);
    std::string counter;
    for (int i = 0; i < 256; ++i)
        counter += "\r" + std::to_string(i);
    const std::string sep = "\n-------------------------------------------------------------------------------";
    EXPECT_TRUE(consoleHas("\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ PC К DSP -----\n" + counter +
                           "\rПолучено из PC в DSP 256 сигналов прерывания от MSG0." + sep +
                           "\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ DSP К PC -----\n" + counter +
                           "\rПолучено из DSP в PC 256 сигналов прерывания (IRQ5)." + sep))
        << console_;
    EXPECT_TRUE(logsHave("\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ PC К DSP -----"
                         "\nПолучено из PC в DSP 256 сигналов прерывания от MSG0." +
                         sep + "\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ DSP К PC -----" +
                         "\nПолучено из DSP в PC 256 сигналов прерывания (IRQ5)." + sep));
}

TEST_F(Host, MissingPcdspintEndsTheRun) {
    station_.remove("dsp_app/pcdspint.ldr");
    RunResult r = run({"INTERRUPTS"}, "");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(console_.substr(console_.find("\n----- ТЕСТ ПРЕРЫВАНИЙ")),
              "\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ PC К DSP -----### ОШИБКА: Не могу загрузить 'pcdspint.ldr' на модуль.\n");
    EXPECT_EQ(protocol_.substr(protocol_.find("\n----- ТЕСТ ПРЕРЫВАНИЙ")),
              "\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ PC К DSP -----### ОШИБКА.\n");
}

// The stream's status lines: "\rСостояние: ..." on the console only.
class Stream : public Host {
protected:
    RunResult stream(const std::string &board, const std::string &keys, const std::vector<std::string> &args = {}) {
        return run({"HSTREAM"}, board, keys, args);
    }
    std::string rateLine() const {
        std::size_t at = protocol_.find("Скорость обмена - ");
        return at == std::string::npos ? "" : protocol_.substr(at, protocol_.find('\n', at) - at);
    }
};

TEST_F(Stream, EscapeEndsTheWatchAfterTheFirstStatusLine) {
    RunResult r = stream("", "\x1b");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(console_, "\rСостояние: "), 1u);
    EXPECT_TRUE(consoleHas("\n----- ТЕСТ ПОТОКА ДАННЫХ ОТ DSP К PC С ИСПОЛЬЗОВАНИЕМ DMA -----\n\rСостояние: 0x"));
    EXPECT_TRUE(consoleHas("               \nСкорость обмена - 0.000000 MB/c")) << console_;
    EXPECT_TRUE(logsHave("\n----- ТЕСТ ПОТОКА ДАННЫХ ОТ DSP К PC С ИСПОЛЬЗОВАНИЕМ DMA -----\n"
                         "Скорость обмена - 0.000000 MB/c"));
}

TEST_F(Stream, OtherKeysAreConsumedAnd512QueriesMade) {
    RunResult r = stream("", "xyz");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(console_, "\rСостояние: "), 512u);
    EXPECT_NE(rateLine(), "");
}

TEST_F(Stream, StatusLineShowsTheNewestBlocksRunningCount) {
    stream("", "\x1b");
    // Block index, count, state, then the block's first three words: a
    // running word count, so block b of 1 MB starts with b * 0x40000.
    std::size_t at = console_.find("\rСостояние: 0x");
    ASSERT_NE(at, std::string::npos);
    unsigned index = 0, blocks = 0, state = 0, w0 = 0, w1 = 0, w2 = 0;
    ASSERT_EQ(std::sscanf(console_.c_str() + at + std::string("\rСостояние: ").size(),
                          "0x%X, 0x%X, 0x%X [0x%X,0x%X,0x%X]", &index, &blocks, &state, &w0, &w1, &w2),
              6);
    EXPECT_LT(index, 16u);
    EXPECT_EQ(w0 % 0x40000, 0u);
    EXPECT_EQ(w1, w0 + 1);
    EXPECT_EQ(w2, w0 + 2);
}

TEST_F(Stream, ObserverModeNeitherLoadsNorStartsNorStops) {
    RunResult r = stream("stream_mode = 2\n", "\x1b", {"-V"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("tst_strm"), std::string::npos);
    EXPECT_EQ(r.err.find("0xE03"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("0xE04"), std::string::npos);
    EXPECT_NE(r.err.find("QAL_release("), std::string::npos);
    EXPECT_EQ(count(console_, "\rСостояние: "), 1u);
}

TEST_F(Stream, FailingFirstQueryReportsTheCodeAndARateOfNothing) {
    RunResult r = stream("stream_state_fail_from = 1\n", "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(console_, "\rСостояние: "), 0u);
    EXPECT_TRUE(consoleHas("\n----- ТЕСТ ПОТОКА ДАННЫХ ОТ DSP К PC С ИСПОЛЬЗОВАНИЕМ DMA -----\n"
                           "\n### ERROR:  QALctrl_STREAM_CBUF_STATE error code FFFFFF"))
        << console_;
    EXPECT_EQ(screen_.find("QALctrl_STREAM_CBUF_STATE"), std::string::npos);
    EXPECT_EQ(rateLine(), "Скорость обмена - 0.000000 MB/c");
}

TEST_F(Stream, RefusedCaptureEndsTheTestSilently) {
    RunResult r = stream("stream_capture = refused\n", "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(consoleHas("\n----- ТЕСТ ПОТОКА ДАННЫХ ОТ DSP К PC С ИСПОЛЬЗОВАНИЕМ DMA -----\n"
                           "\n!ТЕСТ ПРЕРЫВАНИЙ ПРОПУЩЕН"))
        << console_;
}

} // namespace
