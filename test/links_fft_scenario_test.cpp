// Runs of the real program through the link tests and the FFT test on
// virtual boards with processors missing or faults on links and
// processors.
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

namespace {

const std::string kIntHeader = "\n -----   TЕСТ ВНУТРЕННИХ ЛИНКОВ ----- ";
const std::string kIntSuccess = "\n TЕСТ ВНУТРЕННИХ ЛИНКОВ ЗАВЕРШЕН УСПЕШНО ";
const std::string kNoErrors = " Ошибок нет.";
const std::string kExtHeader = "\n -----   TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ----- ";
const std::string kExtPrompt = "\nСоедините кабелем P6 линк 1 и P7 линк 1\nи нажмите любую клавишу . . .";
const std::string kExtPair = "\nP6 линк 1 <---> P7 линк 1: ";
const std::string kExtSuccess = "\n TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ЗАВЕРШЕН УСПЕШНО ";
const std::string kNoAnswer = "\n### ОШИБКА: Нет ответа от программы";

const char *const kLabels[] = {
    "\nПpоцессоp P1 линк 1 <---> Пpоцессоp P2 линк 0: ", "\nПpоцессоp P1 линк 2 <---> Пpоцессоp P3 линк 0: ",
    "\nПpоцессоp P2 линк 2 <---> Пpоцессоp P3 линк 2: ", "\nПpоцессоp P2 линк 3 <---> Пpоцессоp P4 линк 0: ",
    "\nПpоцессоp P2 линк 1 <---> Пpоцессоp P6 линк 0: ", "\nПpоцессоp P4 линк 1 <---> Пpоцессоp P6 линк 2: ",
    "\nПpоцессоp P3 линк 3 <---> Пpоцессоp P5 линк 0: ", "\nПpоцессоp P3 линк 1 <---> Пpоцессоp P7 линк 0: ",
    "\nПpоцессоp P5 линк 1 <---> Пpоцессоp P7 линк 2: ", "\nПpоцессоp P1 линк 1 <---> Пpоцессоp P6 линк 0: ",
    "\nПpоцессоp P1 линк 2 <---> Пpоцессоp P7 линк 0: ",
};

class Links : public ScenarioTest {
protected:
    RunResult run(const std::string &key, const std::string &board, const std::string &keys = "",
                  const std::vector<std::string> &args = {}) {
        return runStation(selecting({key}), board, keys, args);
    }
    // The console and the screen log hold `text`; the protocol log holds
    // none of the per-pair lines.
    bool shownHas(const std::string &text) const { return consoleHas(text) && screen_.find(text) != std::string::npos; }
    std::string rows(std::initializer_list<int> indices) const {
        std::string text;
        for (int i : indices)
            text += kLabels[i - 1] + kNoErrors;
        return text;
    }
};

TEST_F(Links, FullBoardRunsTheNineInternalPairs) {
    RunResult r = run("INTLINKS", "cpu_mask = 0x7F\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(shownHas(kIntHeader + rows({1, 2, 3, 4, 5, 6, 7, 8, 9}) + kIntSuccess)) << console_;
    EXPECT_NE(protocol_.find(kIntHeader + kIntSuccess), std::string::npos) << protocol_;
    EXPECT_TRUE(consoleHas("\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++"));
}

TEST_F(Links, BoardWithP1P6P7RunsTheSubstitutePairs) {
    RunResult r = run("INTLINKS", "cpu_mask = 0x61\n", "", {"-V"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(shownHas(kIntHeader + rows({10, 11}) + kIntSuccess)) << console_;
    EXPECT_NE(r.err.find("p1l1p2l0.tsx"), std::string::npos);
    EXPECT_NE(r.err.find("p1l2p3l0.tsx"), std::string::npos);
}

TEST_F(Links, PairsFollowThePresentProcessors) {
    run("INTLINKS", "cpu_mask = 0x63\n");
    EXPECT_TRUE(shownHas(kIntHeader + rows({1, 5, 11}) + kIntSuccess)) << console_;
    run("INTLINKS", "cpu_mask = 0x7E\n"); // no P1: nothing to listen to
    EXPECT_TRUE(shownHas(kIntHeader + kIntSuccess)) << console_;
}

TEST_F(Links, StuckBitGivesErrorLinesCountedInTheVerdict) {
    RunResult r = run("INTLINKS", "link_fault = P3.2:stuck:5:1\n");
    EXPECT_EQ(r.status, 0);
    std::size_t errors = count(console_, "\n### ОШИБКА: записано ");
    ASSERT_GT(errors, 0u);
    EXPECT_LE(errors, 100u);
    // Each written and read value differ in bit 5 alone, read with it set.
    for (std::size_t at = console_.find("записано "); at != std::string::npos;
         at = console_.find("записано ", at + 1)) {
        unsigned written = 0, read = 0;
        ASSERT_EQ(std::sscanf(console_.c_str() + at, "записано %8X != прочитано %8X", &written, &read), 2);
        EXPECT_EQ(written | 0x20u, read);
        EXPECT_EQ(written & 0x20u, 0u);
    }
    // Only the pair through P3 link 2 is hurt.
    EXPECT_TRUE(shownHas(std::string(kLabels[1]) + kNoErrors + kLabels[2] + "\n### ОШИБКА: записано "));
    EXPECT_FALSE(consoleHas(std::string(kLabels[2]) + kNoErrors));
    char verdict[128];
    std::snprintf(verdict, sizeof verdict, "\n TЕСТ ВНУТРЕННИХ ЛИНКОВ ЗАВЕРШЕН C ОШИБКАМИ: %zu ОШИБОК ", errors);
    EXPECT_NE(protocol_.find(kIntHeader + verdict), std::string::npos) << protocol_;
    EXPECT_TRUE(consoleHas("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - " + std::to_string(errors) + " "));
}

TEST_F(Links, DeadLinkEndsItsRowWithOneFault) {
    run("INTLINKS", "link_fault = P2.3:dead\n");
    EXPECT_TRUE(shownHas(std::string(kLabels[3]) + kNoAnswer + kLabels[4] + kNoErrors)) << console_;
    EXPECT_NE(protocol_.find("\n TЕСТ ВНУТРЕННИХ ЛИНКОВ ЗАВЕРШЕН C ОШИБКАМИ: 1 ОШИБОК "), std::string::npos);
}

TEST_F(Links, LinkThatStopsAfterSomeWordsMissesTheRest) {
    run("INTLINKS", "link_fault = P5.1:stop:40\n");
    EXPECT_TRUE(shownHas(std::string(kLabels[8]) + kNoAnswer)) << console_;
    EXPECT_TRUE(consoleHas(kNoAnswer + "\n TЕСТ ВНУТРЕННИХ ЛИНКОВ ЗАВЕРШЕН C ОШИБКАМИ: 1 ОШИБОК "));
}

TEST_F(Links, ProgramSetThatDoesNotLoadIsOneFault) {
    station_.remove("dsp_app/p2l2p3l2.tsx");
    run("INTLINKS", "");
    EXPECT_TRUE(shownHas(std::string(kLabels[2]) + "\n### ОШИБКА: Не могу загрузить тестовую программу" + kLabels[3] +
                         kNoErrors))
        << console_;
    EXPECT_NE(protocol_.find(kIntHeader + "\n TЕСТ ВНУТРЕННИХ ЛИНКОВ ЗАВЕРШЕН C ОШИБКАМИ: 1 ОШИБОК "),
              std::string::npos);
}

TEST_F(Links, ExternalPairAfterTheOperatorsKey) {
    RunResult r = run("EXTLINKS", "", "xy");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(keysRead_, 1);
    EXPECT_TRUE(consoleHas(kExtHeader + kExtPrompt + kExtPair + kNoErrors + kExtSuccess)) << console_;
    EXPECT_NE(screen_.find(kExtHeader + kExtPair + kNoErrors + kExtSuccess), std::string::npos) << screen_;
    EXPECT_NE(protocol_.find(kExtHeader + kExtSuccess), std::string::npos);
}

TEST_F(Links, ExternalConnectorsNotLinkEndTheTestAtOnce) {
    run("EXTLINKS", "x6 = piox\n", "xy");
    EXPECT_EQ(keysRead_, 0);
    const std::string notLink = "\n -----   ВНЕШНИЕ РАЗЪЕМЫ - НЕ LINK ----- ";
    EXPECT_TRUE(consoleHas(notLink + "\n+++++")) << console_;
    EXPECT_NE(protocol_.find(notLink), std::string::npos);
    EXPECT_FALSE(consoleHas("Соедините"));
}

TEST_F(Links, ExternalPairWithoutItsProcessorsCountsNothing) {
    run("EXTLINKS", "cpu_mask = 0x63\n", "k");
    EXPECT_EQ(keysRead_, 1);
    EXPECT_TRUE(consoleHas(kExtHeader + kExtPrompt + kExtPair + "\n -----   НЕТ НУЖНЫХ МЕЖПРОЦЕССОРНЫХ СВЯЗЕЙ ----- " +
                           "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++"))
        << console_;
}

TEST_F(Links, ExternalSetThatSendsOnly500WordsIsOneFault) {
    std::string set = station_.read("dsp_app/p6l1p7l1.tsx");
    for (std::size_t at = set.find("words = 1000"); at != std::string::npos; at = set.find("words = 1000", at))
        set.replace(at, 12, "words = 500");
    station_.write("dsp_app/p6l1p7l1.tsx", set);
    run("EXTLINKS", "", "k");
    EXPECT_TRUE(
        shownHas(kExtPair + kNoAnswer + "\n TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ЗАВЕРШЕН C ОШИБКАМИ: 1 ОШИБОК "))
        << console_;
}

TEST_F(Links, UnpluggedCableIsOneMissingAnswer) {
    run("EXTLINKS", "front_cable = unplugged\n", "k");
    EXPECT_TRUE(
        shownHas(kExtPair + kNoAnswer + "\n TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ЗАВЕРШЕН C ОШИБКАМИ: 1 ОШИБОК "))
        << console_;
    EXPECT_TRUE(consoleHas("\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 "));
}

// Only FFTTIME is selected, so the run ends with the external links'
// skip line before the verdict.
const std::string kExtSkip = "\n!ТЕСТ ВНЕШНИХ ЛИНКОВ ПРОПУЩЕН";

class Fft : public Links {
protected:
    static std::string header(int cpu) {
        return "\nCPU P" + std::to_string(cpu) + ": ----- ФУНКЦИОНАЛЬНЫЙ ТЕСТ (КОМПЛЕКСНОЕ БПФ 1K) -----";
    }
};

TEST_F(Fft, CycleLimitAndTimeLines) {
    run("FFTTIME", "cpu_mask = 0x07\ncpu_clock = 250\nfft_cycles = P1:11740, P2:11741, P3:11737\n");
    EXPECT_TRUE(
        consoleHas(header(1) + "\nТест выполнен (11740 тактов пpоцессоpа - 46.960000 мкс для 250 МГц)." + header(2) +
                   "\n### ОШИБКА: слишком большое время выполнения:" + "\n### 11741 тактов > 11737 тактов пpоцессоpа." +
                   header(3) + "\nТест выполнен (11737 тактов пpоцессоpа - 46.948000 мкс для 250 МГц)." + kExtSkip +
                   "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 "))
        << console_;
    EXPECT_NE(protocol_.find(header(2) + "\n### ОШИБКА: слишком большое время выполнения:"), std::string::npos);
}

TEST_F(Fft, TimeAt300MHzAndNoneAt200) {
    run("FFTTIME", "cpu_mask = 0x01\ncpu_clock = 300\nfft_cycles = P1:11737\n");
    EXPECT_TRUE(consoleHas(header(1) + "\nТест выполнен (11737 тактов пpоцессоpа - 39.084210 мкс для 300 МГц)."))
        << console_;
    run("FFTTIME", "cpu_mask = 0x01\ncpu_clock = 200\n");
    EXPECT_TRUE(consoleHas(header(1) + kExtSkip + "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++")) << console_;
}

TEST_F(Fft, CounterThatWrapsPrintsANegativeCount) {
    run("FFTTIME", "cpu_mask = 0x01\nfft_cycles = P1:0xFFFFFFF0\n");
    EXPECT_TRUE(consoleHas("\n### -16 тактов > 11737 тактов пpоцессоpа.")) << console_;
}

TEST_F(Fft, WrongSpectrumOnASlowProcessorIsOneError) {
    run("FFTTIME", "cpu_mask = 0x03\nfft_wrong = P2\nfft_cycles = P2:20000\n");
    EXPECT_TRUE(consoleHas(header(2) + "\n### ОШИБКА ВЫЧИСЛЕНИЯ БПФ." + kExtSkip +
                           "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 "))
        << console_;
    EXPECT_NE(protocol_.find(header(2) + "\n### ОШИБКА ВЫЧИСЛЕНИЯ БПФ."), std::string::npos);
}

TEST_F(Fft, PartnersRunTheMissingProcessorsPrograms) {
    RunResult r = run("FFTTIME", "cpu_mask = 0x61\n", "", {"-V"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(console_, "\nТест выполнен ("), 3u) << console_;
    EXPECT_NE(r.err.find("QAL_load(1, 5, \"cfft_p2.tsx\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("QAL_load(1, 6, \"cfft_p3.tsx\""), std::string::npos);
}

// A processor that sends nothing, or its timing and then nothing, is
// stopped after the limit and counted; the run goes on to its verdict.
TEST_F(Fft, ProcessorThatFallsSilentIsOneErrorAndTheRunGoesOn) {
    const std::string noAnswer = "\n### ОШИБКА: Нет ответа от программы";
    for (const char *silence : {"fft_silent = P2\n", "dsp_silent = P2:cfft:0\n", "dsp_silent = P2:cfft:1\n"}) {
        RunResult r = run("FFTTIME", std::string("cpu_mask = 0x07\n") + silence, "", {"-V"});
        EXPECT_EQ(r.status, 0) << silence;
        EXPECT_TRUE(consoleHas(header(2) + noAnswer + header(3))) << silence << console_;
        EXPECT_NE(screen_.find(header(2) + noAnswer + header(3)), std::string::npos) << silence;
        EXPECT_NE(protocol_.find(header(2) + "\n### ОШИБКА." + header(3)), std::string::npos) << silence;
        EXPECT_EQ(count(console_, "\nТест выполнен ("), 2u) << silence;
        EXPECT_TRUE(endsWith(console_, kExtSkip + "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 ")) << silence;
        EXPECT_NE(r.err.find("QAL_reset(1, 1) = 0"), std::string::npos) << silence;
    }
}

// A processor whose program is missing goes untested, which is one error.
TEST_F(Fft, MissingProgramIsReportedAndCounted) {
    station_.remove("dsp_app/cfft_p1.tsx");
    run("FFTTIME", "cpu_mask = 0x01\n");
    EXPECT_TRUE(consoleHas(header(1) + "\n### ОШИБКА:  Не могу загрузить программу теста." + kExtSkip +
                           "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 "))
        << console_;
    EXPECT_NE(protocol_.find(header(1) + "\n### ОШИБКА."), std::string::npos);
}

} // namespace
