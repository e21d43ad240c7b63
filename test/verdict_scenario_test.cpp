// Runs of the real program where part of the board could not be tested or
// a processor fell silent: none of them may end with the success verdict,
// and none may hold the run from its verdict.
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

const std::string kSuccess = "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++";
const std::string kNoAnswer = "\n### ОШИБКА: Нет ответа от программы";
const std::string kSeparator = "\n-------------------------------------------------------------------------------";
const std::string kToDspHeader = "\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ PC К DSP -----";
const std::string kToHostHeader = "\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ DSP К PC -----";
const std::string kToDspResult = "Получено из PC в DSP 256 сигналов прерывания от MSG0.";
const std::string kToHostResult = "Получено из DSP в PC 256 сигналов прерывания (IRQ11).";

std::string errorVerdict(int errors) {
    return "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - " + std::to_string(errors) + " ";
}

std::string missedInterrupt(int n) {
    return "\n### ОШИБКА: Не получено прерывание " + std::to_string(n) + " из 256.";
}

// "\r0\r1...\r<last>", the interrupt counter on the console.
std::string counter(int last) {
    std::string text;
    for (int i = 0; i <= last; ++i)
        text += "\r" + std::to_string(i);
    return text;
}

class Verdict : public ScenarioTest {
protected:
    // Runs the tests of `keys` (the memory step always runs) on `board`,
    // with the trace on, and expects a complete run with `errors` errors.
    RunResult run(const std::vector<std::string> &keys, const std::string &board, int errors) {
        RunResult r = runStation(selecting(keys), board, "", {"-V"});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(endsWith(console_, errorVerdict(errors))) << console_;
        EXPECT_TRUE(endsWith(screen_, errorVerdict(errors)));
        EXPECT_TRUE(endsWith(protocol_, errorVerdict(errors)));
        return r;
    }
    // The run with `file` taken out of dsp_app.
    RunResult runWithout(const std::string &file, const std::vector<std::string> &keys, const std::string &board,
                         int errors) {
        station_.remove("dsp_app/" + file);
        RunResult r = run(keys, board, errors);
        station_.write("dsp_app/" + file, program_[file]);
        return r;
    }
    void SetUp() override {
        for (const auto &entry : std::filesystem::directory_iterator(station_.file("dsp_app"))) {
            std::string name = entry.path().filename().string();
            program_[name] = station_.read("dsp_app/" + name);
        }
    }
    std::map<std::string, std::string> program_;
};

const std::string kNoDram = "p1_sdram_chips = 0, 0, 0, 0\n";
const std::string kSmallDram = "p1_sdram_chips = 0x8000, 0x8000, 0x8000, 0x8000\nsdram_chip_size = 0x8000\n";

TEST_F(Verdict, EachMissingSpeedProgramIsOneError) {
    const char *const titles[] = {"\nЧтение HOST из FIFO  (интеpфейс шины): ", "\nЗапись HOST в FIFO (интеpфейс шины):   ",
                                  "\nЧтение HOST из FIFO (интеpфейс линка): ", "\nЗапись HOST в  FIFO (интеpфейс линка): "};
    const char *const programs[] = {"rfifo", "wfifo", "rfifol", "wfifol"};
    for (int i = 0; i < 4; ++i) {
        std::string file = std::string(programs[i]) + ".ldr";
        runWithout(file, {"HOST"}, "cpu_mask = 0x01\n" + kNoDram, 1);
        std::string error = "\n### ОШИБКА: Не могу загpузить пpогpамму '" + std::string(programs[i]) + "'.";
        EXPECT_TRUE(consoleHas(titles[i] + error + "\n!ТЕСТ HOST-STREAM ПРОПУЩЕН")) << file << console_;
        EXPECT_NE(screen_.find(error), std::string::npos) << file;
        EXPECT_EQ(protocol_.find(error), std::string::npos) << file;
    }
}

TEST_F(Verdict, MissingStreamProgramIsOneErrorAndTheStreamRunsOn) {
    runWithout("tst_strm.ldr", {"HSTREAM"}, "cpu_mask = 0x01\n" + kNoDram, 1);
    EXPECT_TRUE(consoleHas("\n----- ТЕСТ ПОТОКА ДАННЫХ ОТ DSP К PC С ИСПОЛЬЗОВАНИЕМ DMA -----\n"
                           "### ОШИБКА: Не могу загрузить файл tst_strm.ldr\n"))
        << console_;
    EXPECT_TRUE(consoleHas("\nСкорость обмена - 0.000000 MB/c"));
    EXPECT_EQ(screen_.find("tst_strm"), std::string::npos); // the console alone tells which
}

TEST_F(Verdict, EachMissingFftProgramIsOneError) {
    const std::string loadError = "\n### ОШИБКА:  Не могу загрузить программу теста.";
    for (int cpu = 1; cpu <= 7; ++cpu) {
        std::string file = "cfft_p" + std::to_string(cpu) + ".tsx";
        runWithout(file, {"FFTTIME"}, "cpu_mask = 0x7F\n" + kNoDram, 1);
        EXPECT_EQ(count(console_, loadError), 1u) << file;
        EXPECT_EQ(count(console_, "\nТест выполнен ("), 6u) << file;
    }
    // P6 stands in for P2 with P2's program: without it, P6 goes untested.
    runWithout("cfft_p2.tsx", {"FFTTIME"}, "cpu_mask = 0x61\n" + kNoDram, 1);
    EXPECT_TRUE(consoleHas("\nCPU P6: ----- ФУНКЦИОНАЛЬНЫЙ ТЕСТ (КОМПЛЕКСНОЕ БПФ 1K) -----" + loadError)) << console_;
}

TEST_F(Verdict, EachMissingDynamicMemoryProgramIsOneError) {
    const char *const files[] = {"sdramtst.ldr", "sdr_p2.tsx", "sdr_p3.tsx", "sdr_p4.tsx",
                                 "sdr_p5.tsx",   "sdr_p6.tsx", "sdr_p7.tsx"};
    for (const char *file : files) {
        runWithout(file, {"SDRAM"}, "cpu_mask = 0x7F\n" + kSmallDram, 1);
        std::string error = std::string("### ОШИБКА: Не могу загрузить '") + file + "' на модуль.\n";
        EXPECT_EQ(count(console_, error), 1u) << file << console_;
        EXPECT_EQ(count(protocol_, error), 1u) << file;
        EXPECT_EQ(count(console_, "\r  Тест выполнен.  "), 7u) << file; // P1's internal memory and six others
    }
}

TEST_F(Verdict, EachMissingClusterProgramIsOneError) {
    struct Case {
        const char *file, *mask;
    } cases[] = {{"clast.tsx", "0x1F"}, {"clastp2p3.tsx", "0x07"}, {"clastp3p4p5.tsx", "0x1D"}};
    for (const Case &c : cases) {
        runWithout(c.file, {"CLASTER"}, std::string("cpu_mask = ") + c.mask + "\n", 1);
        std::string error = std::string("### ОШИБКА: Не могу загрузить '") + c.file + "' на модуль.\n";
        EXPECT_TRUE(consoleHas("\n-----   (CTRL-BRK - прерывание теста)" + error)) << c.file << console_;
        EXPECT_NE(protocol_.find(error), std::string::npos) << c.file;
    }
}

TEST_F(Verdict, AreaWithoutTheBoardsEntryIsOneError) {
    run({}, "id_tag = 0x1234\n", 1);
    const std::string tail = "\nТип разъема X6:   LINK\n\n### ОШИБКА: Нет описания модуля в области идентификации."
                             "\n----- ПРОВЕРКА КОНФИГУРАЦИИ МОДУЛЯ -----";
    EXPECT_TRUE(consoleHas("\n\tВсего процессоров = 0, Частота процессоров = 0 MHz")) << console_;
    EXPECT_TRUE(consoleHas(tail)) << console_;
    EXPECT_NE(screen_.find(tail), std::string::npos);
    EXPECT_NE(protocol_.find(tail), std::string::npos);
}

TEST_F(Verdict, BoardWithoutProcessorsIsAnErrorBeforeAnythingElse) {
    // Without P1 csdram cannot be loaded either: the check fails as well.
    run({}, "cpu_mask = 0\n", 2);
    EXPECT_TRUE(consoleHas("\n\tВсего процессоров = 0, Частота процессоров = 250 MHz")) << console_;
    EXPECT_TRUE(logsHave("\nТип разъема X6:   LINK\n\n### ОШИБКА: Не обнаружено ни одного процессора."
                         "\n----- ПРОВЕРКА КОНФИГУРАЦИИ МОДУЛЯ -----"))
        << protocol_;
}

// A selection file that opens but cannot be read is no selection at all:
// the same warnings, skips and count as a missing file.
TEST_F(Verdict, SelectionFileThatIsADirectoryIsAMissingFile) {
    station_.remove("check1.cfg");
    RunResult missing = runWithKeyFile(station_.path(), {}, "", &keysRead_);
    std::filesystem::create_directory(station_.file("check1.cfg"));
    RunResult directory = runWithKeyFile(station_.path(), {}, "", &keysRead_);
    EXPECT_EQ(directory.status, 0);
    EXPECT_EQ(directory.out, missing.out);
    EXPECT_TRUE(endsWith(consoleText(directory.out), errorVerdict(14))) << consoleText(directory.out);
    EXPECT_EQ(count(logText(station_.read("protoc1.log")), "\n### ПРЕДУПРЕЖДЕНИЕ: Не могу открыть файл 'check1.cfg'"),
              14u);
}

// csdram raised its signal and then hung: the check fails, P1 is stopped,
// and the run goes on without dynamic memory.
TEST_F(Verdict, ConfigurationMessageThatNeverComes) {
    RunResult r = run({"SDRAM"}, "dsp_silent = P1:csdram:1\n", 1);
    const std::string failed = "\n### ОШИБКА: Не могу проверить конфигурацию.";
    const std::string dpram = "\nОбнаружена двухпортовая память:"
                              "\n DSP адрес = 0x40000600, PC=BASE+0x80, размер  640 слов (  2560 байт)";
    EXPECT_TRUE(consoleHas(dpram + kNoAnswer + failed + "\n!ТЕСТ HOST-ИНТЕРФЕЙСА ПРОПУЩЕН")) << console_;
    EXPECT_NE(screen_.find(dpram + kNoAnswer + failed), std::string::npos);
    EXPECT_NE(protocol_.find(dpram + "\n### ОШИБКА." + failed), std::string::npos) << protocol_;
    EXPECT_NE(r.err.find("QAL_getMsg(1, 0, buf, 32, 10000) = -6\nQAL_reset(1, 0) = 0"), std::string::npos) << r.err;
    EXPECT_EQ(console_.find("Тест динамической памяти"), std::string::npos); // no dynamic memory known
}

TEST_F(Verdict, HostToDspInterruptsThatNeverArrive) {
    RunResult r = run({"INTERRUPTS"}, "interrupts = to_dsp_dead\n" + kNoDram, 1);
    EXPECT_TRUE(consoleHas(kToDspHeader + "\n" + missedInterrupt(1) + kSeparator + kToHostHeader + "\n" +
                           counter(255) + "\r" + kToHostResult + kSeparator))
        << console_;
    EXPECT_TRUE(logsHave(kToDspHeader + missedInterrupt(1) + kSeparator + kToHostHeader + "\n" + kToHostResult +
                         kSeparator))
        << protocol_;
    EXPECT_NE(r.err.find("QAL_signalGrab(1, 0, 0, 0, 5000) = 0\nQAL_reset(1, 0) = 0"), std::string::npos);
}

TEST_F(Verdict, InterruptProgramThatFallsSilentPartWay) {
    run({"INTERRUPTS"}, "dsp_silent = P1:pcdspint:100, P1:dsppcint:10\n" + kNoDram, 2);
    EXPECT_TRUE(consoleHas(kToDspHeader + "\n" + counter(99) + missedInterrupt(101) + kSeparator + kToHostHeader +
                           "\n" + counter(9) + missedInterrupt(11) + kSeparator))
        << console_;
    EXPECT_TRUE(logsHave(kToDspHeader + missedInterrupt(101) + kSeparator + kToHostHeader + missedInterrupt(11) +
                         kSeparator))
        << protocol_;
}

// Dead towards the host, the line also fails the configuration check,
// whose csdram signals P1's findings.
TEST_F(Verdict, InterruptsDeadTowardsTheHostFailBothTests) {
    run({"INTERRUPTS"}, "interrupts = dead\n" + kNoDram, 3);
    EXPECT_TRUE(logsHave(kToDspHeader + missedInterrupt(1) + kSeparator + kToHostHeader + missedInterrupt(1) +
                         kSeparator))
        << protocol_;
    EXPECT_EQ(console_.find("Получено из"), std::string::npos);
}

// P1 checks P2's words; bit 0 stuck at 1 spoils the second one. P1 then
// sends the error word and hangs before (or between) the two values.
TEST_F(Verdict, LinkErrorWordWithoutItsValues) {
    const std::string row = "\nПpоцессоp P1 линк 1 <---> Пpоцессоp P2 линк 0: ";
    for (const char *silence : {"P1:linkcheck:2", "P1:linkcheck:3"}) {
        RunResult r = run({"INTLINKS"},
                          std::string("cpu_mask = 0x03\n") + kNoDram + "link_fault = P1.1:stuck:0:1\ndsp_silent = " +
                              silence + "\n",
                          1);
        EXPECT_TRUE(consoleHas("\n -----   TЕСТ ВНУТРЕННИХ ЛИНКОВ ----- " + row + kNoAnswer +
                               "\n TЕСТ ВНУТРЕННИХ ЛИНКОВ ЗАВЕРШЕН C ОШИБКАМИ: 1 ОШИБОК "))
            << silence << console_;
        EXPECT_NE(screen_.find(row + kNoAnswer), std::string::npos) << silence;
        EXPECT_EQ(protocol_.find(toCp1251("Нет ответа")), std::string::npos);
        EXPECT_NE(r.err.find("QAL_reset(1, -1) = 0"), std::string::npos) << silence;
    }
}

TEST_F(Verdict, FrontPanelErrorWordWithoutItsValues) {
    RunResult r = runStation(selecting({"EXTLINKS"}),
                             kNoDram + "link_fault = P7.1:stuck:0:1\ndsp_silent = P1:linkrelay:2\n", "x");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(consoleHas("\nP6 линк 1 <---> P7 линк 1: " + kNoAnswer +
                           "\n TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ЗАВЕРШЕН C ОШИБКАМИ: 1 ОШИБОК " + errorVerdict(1)))
        << console_;
}

} // namespace
