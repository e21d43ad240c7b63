// The console at a Linux terminal: the code page the texts are shown in,
// chosen from the locale, and the line break that leaves the shell's
// prompt on a line of its own. Piped output and the logs keep their bytes.
// The real program runs with a pseudo-terminal as its stdout.
#include "platform/codepage.h"
#include "support/process.h"
#include "support/station.h"
#include "support/terminal.h"

#include <gtest/gtest.h>


namespace {

const std::string kSuccess = "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++";
const std::string kPromptBlanked = "\nНажмите любую клавишу\r" + std::string(47, ' ');

// A selection that switches every test off: a complete run in a moment,
// with the board's description, the configuration check and the skip lines.
const std::string kNothingSelected = "[HOST START]\nCHECK=0\n[HSTREAM START]\nCHECK=0\n[INTERRUPTS START]\nCHECK=0\n"
                                     "[INTLINKS START]\nCHECK=0\n[CLASTER START]\nCHECK=0\n[FFTTIME START]\nCHECK=0\n"
                                     "[EXTLINKS START]\nCHECK=0\n";

// One terminal's locale: how to make it and what the console must be
// written in there.
struct TerminalLocale {
    const char *name;    // test name
    const char *lcAll;   // LC_ALL, or nullptr for none (the C locale)
    const char *input;   // localedef sources to generate it from, or nullptr
    const char *charmap; // localedef character map
    const char *shownIn; // iconv's name of the code page the console must use
};

void PrintTo(const TerminalLocale &locale, std::ostream *os) { *os << locale.name; }

class TerminalConsole : public ::testing::TestWithParam<TerminalLocale> {
protected:
    // The environment for `locale`; an empty `skip_` unless its locale
    // cannot be made here.
    TerminalSetup setupFor(const TerminalLocale &locale) {
        TerminalSetup setup;
        setup.keyboard = false;
        if (locale.input) {
            skip_ = locales_.make(locale.lcAll, locale.input, locale.charmap);
            setup.env.push_back({"LOCPATH", locales_.dir()});
        }
        if (locale.lcAll)
            setup.env.push_back({"LC_ALL", locale.lcAll});
        return setup;
    }

    TestLocales locales_;
    std::string skip_;
};

// The same complete run piped and at the terminal: the terminal shows the
// piped text (866, checked by the golden runs) in its own code page, plus
// the final line break.
TEST_P(TerminalConsole, ShowsTheRunInTheCodePageTheLocaleCalls) {
    const TerminalLocale &locale = GetParam();
    TerminalSetup setup = setupFor(locale);
    if (!skip_.empty())
        GTEST_SKIP() << skip_;

    TempStation station;
    station.write("check1.cfg", kNothingSelected);
    RunResult piped = runProgram(station.path(), {});
    ASSERT_EQ(piped.status, 0);
    ASSERT_TRUE(endsWith(consoleText(piped.out), kSuccess));

    TerminalProcess terminal(station.path(), {}, setup);
    RunResult shown = terminal.finish();
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.err, "");
    const std::string expected = toCodePage(consoleText(piped.out) + "\n", locale.shownIn);
    EXPECT_EQ(shown.out, expected) << "as UTF-8:\n" << fromCodePage(shown.out, locale.shownIn);
    EXPECT_NE(shown.out.find(toCodePage("Т Е С Т   М О Д У Л Я", locale.shownIn)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, TerminalConsole,
    ::testing::Values(TerminalLocale{"C", nullptr, nullptr, nullptr, "UTF-8"},
                      TerminalLocale{"Posix", "POSIX", nullptr, nullptr, "UTF-8"},
                      TerminalLocale{"CUtf8", "C.UTF-8", nullptr, nullptr, "UTF-8"},
                      TerminalLocale{"Koi8R", "ru_RU.KOI8-R", "ru_RU", "KOI8-R", "KOI8-R"},
                      TerminalLocale{"Cp1251", "ru_RU.CP1251", "ru_RU", "CP1251", "CP1251"},
                      TerminalLocale{"Cp866", "ru_RU.CP866", "ru_RU", "IBM866", "CP866"},
                      TerminalLocale{"Iso88595", "ru_RU.ISO-8859-5", "ru_RU", "ISO-8859-5", "ISO-8859-5"},
                      TerminalLocale{"Latin1", "en_US.ISO-8859-1", "en_US", "ISO-8859-1", "UTF-8"}),
    [](const ::testing::TestParamInfo<TerminalLocale> &info) { return std::string(info.param.name); });

// The locale comes from LANG as well as from LC_ALL.
TEST(TerminalLocaleFromLang, LangAloneChoosesTheCodePage) {
    TestLocales locales;
    std::string skip = locales.make("ru_RU.KOI8-R", "ru_RU", "KOI8-R");
    if (!skip.empty())
        GTEST_SKIP() << skip;
    TempStation station;
    station.write("virtual-board.ini", "[board 1]\npresent = no\n");
    TerminalSetup setup;
    setup.env = {{"LOCPATH", locales.dir()}, {"LANG", "ru_RU.KOI8-R"}};
    TerminalProcess terminal(station.path(), {}, setup);
    ASSERT_TRUE(terminal.waitForOutput(toCodePage("Нажмите любую клавишу", "KOI8-R")));
    terminal.type("x");
    RunResult r = terminal.finish();
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, toCodePage("\n### ОШИБКА: Не могу открыть модуль." + kPromptBlanked + "\n", "KOI8-R"));
}

// The line break at the end: only at a terminal, only when the last text
// did not end with one, at every way the process ends.
class FinalLineBreak : public ::testing::Test {
protected:
    TerminalSetup cLocale(bool keyboard) {
        TerminalSetup setup;
        setup.keyboard = keyboard;
        return setup;
    }
    TempStation station_;
};

TEST_F(FinalLineBreak, CompleteRunAtATerminalEndsItsVerdictLine) {
    station_.write("check1.cfg", kNothingSelected);
    TerminalProcess terminal(station_.path(), {}, cLocale(true));
    RunResult r = terminal.finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(endsWith(r.out, kSuccess + "\n")) << r.out;
    EXPECT_FALSE(endsWith(r.out, kSuccess + "\n\n"));
    // The logs do not get the terminal's line break.
    EXPECT_TRUE(endsWith(station_.read("screen1.log"), asLog(kSuccess)));
    EXPECT_TRUE(endsWith(station_.read("protoc1.log"), asLog(kSuccess)));
}

TEST_F(FinalLineBreak, PipedOutputKeepsItsLastByte) {
    station_.write("check1.cfg", kNothingSelected);
    RunResult r = runProgram(station_.path(), {});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(endsWith(r.out, toCp866(kSuccess))) << consoleText(r.out);

    station_.write("virtual-board.ini", "[board 1]\npresent = no\n");
    r = runProgram(station_.path(), {});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, toCp866("\n### ОШИБКА: Не могу открыть модуль." + kPromptBlanked));
}

TEST_F(FinalLineBreak, FatalStopAtATerminalEndsTheBlankedPromptLine) {
    station_.write("virtual-board.ini", "[board 1]\npresent = no\n");
    TerminalProcess terminal(station_.path(), {}, cLocale(true));
    ASSERT_TRUE(terminal.waitForOutput("Нажмите любую клавишу"));
    terminal.type("x");
    RunResult r = terminal.finish();
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\n### ОШИБКА: Не могу открыть модуль." + kPromptBlanked + "\n");
}

// Ctrl-C typed at the terminal while the external links test waits for
// the cable: the handler's exit ends the prompt line and gives the
// terminal its modes back.
TEST_F(FinalLineBreak, CtrlCAtAPromptEndsThePromptLineAndRestoresTheTerminal) {
    station_.write("check1.cfg", "[EXTLINKS START]\nCHECK=1\n[EXTLINKS END]\n");
    TerminalProcess terminal(station_.path(), {}, cLocale(true));
    const std::string prompt = "\nи нажмите любую клавишу . . .";
    ASSERT_TRUE(terminal.waitForOutput(prompt)) << terminal.finish(1).out;
    EXPECT_EQ(terminal.mode().c_lflag & (ICANON | ECHO), 0u) << "keyboard mode of the run";
    terminal.type("\x03");
    RunResult r = terminal.finish();
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(endsWith(r.out, prompt + "\n")) << r.out;
    EXPECT_EQ(terminal.mode().c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
    // The logs end where the run was broken off, without the line break.
    const std::string header = asLog("\n -----   TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ----- ");
    EXPECT_TRUE(endsWith(station_.read("screen1.log"), header));
    EXPECT_TRUE(endsWith(station_.read("protoc1.log"), header));
}

// A test that ends the run (the host exchange test without its message
// program) leaves the terminal on a fresh line too.
TEST_F(FinalLineBreak, FatalTestExitAtATerminalEndsItsLine) {
    station_.write("check1.cfg", "[HOST START]\nCHECK=1\n[HOST END]\n");
    station_.remove("dsp_app/drvread.ldr");
    RunResult piped = runProgram(station_.path(), {});
    ASSERT_EQ(piped.status, 255);
    ASSERT_FALSE(endsWith(piped.out, "\n"));
    TerminalProcess terminal(station_.path(), {}, cLocale(false));
    RunResult r = terminal.finish();
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(maskVariable(r.out), maskVariable(consoleText(piped.out)) + "\n"); // the rates differ run to run
}

// Choosing the code page from the codeset name the C library reports.
TEST(TerminalCodePage, CyrillicCodesetsAreKept) {
    EXPECT_EQ(terminalCodePage("UTF-8"), ConsoleCodePage::kUtf8);
    EXPECT_EQ(terminalCodePage("KOI8-R"), ConsoleCodePage::kKoi8R);
    EXPECT_EQ(terminalCodePage("CP1251"), ConsoleCodePage::kCp1251);
    EXPECT_EQ(terminalCodePage("IBM866"), ConsoleCodePage::kCp866);
    EXPECT_EQ(terminalCodePage("ISO-8859-5"), ConsoleCodePage::kIso88595);
    // Other systems' spellings of the same.
    EXPECT_EQ(terminalCodePage("koi8r"), ConsoleCodePage::kKoi8R);
    EXPECT_EQ(terminalCodePage("WINDOWS-1251"), ConsoleCodePage::kCp1251);
    EXPECT_EQ(terminalCodePage("CP866"), ConsoleCodePage::kCp866);
    EXPECT_EQ(terminalCodePage("ISO8859-5"), ConsoleCodePage::kIso88595);
}

TEST(TerminalCodePage, CodesetsWithoutCyrillicGetUtf8) {
    for (const char *codeset : {"ANSI_X3.4-1968", "ASCII", "ISO-8859-1", "ISO-8859-15", "KOI8-U", "CP1252", "", "?"})
        EXPECT_EQ(terminalCodePage(codeset), ConsoleCodePage::kUtf8) << codeset;
    EXPECT_EQ(terminalCodePage(nullptr), ConsoleCodePage::kUtf8);
}

} // namespace
