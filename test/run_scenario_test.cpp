// Whole runs of the real program in a temporary station: what the operator
// sees on the console (code page 866), what the logs keep (Windows-1251,
// CR LF) and the exit status.
#include "support/process.h"
#include "support/station.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <fstream>
#include <cstdio>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string golden(const std::string &name) {
    std::ifstream in(std::string(ZT_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_TRUE(in.good() || in.eof()) << "missing golden file " << name;
    return text.str();
}

const std::string kPrompt = "\nНажмите любую клавишу\r" + std::string(47, ' ');
const std::string kSuccess = "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++";
// A log's first two lines hold the start's date and time. Checks their
// form, that they tell the time of the run, and gives the rest of the log.
std::string afterDateLines(const std::string &log, std::time_t before) {
    const std::string date = asLog("\n         Дата: "), time = asLog("\nТекущее время: ");
    // "DD.MM.YYYY" and "hh:mm:ss" with the hour padded by a blank.
    const std::size_t timeAt = date.size() + 10, end = timeAt + time.size() + 8;
    if (log.size() < end || log.compare(0, date.size(), date) != 0 || log.compare(timeAt, time.size(), time) != 0) {
        ADD_FAILURE() << "no date and time lines at the start of the log";
        return log;
    }
    std::tm t{};
    char dot1 = 0, dot2 = 0, colon1 = 0, colon2 = 0;
    std::string fields = log.substr(date.size(), 10) + " " + log.substr(timeAt + time.size(), 8);
    EXPECT_EQ(std::sscanf(fields.c_str(), "%2d%c%2d%c%4d %2d%c%2d%c%2d", &t.tm_mday, &dot1, &t.tm_mon, &dot2,
                          &t.tm_year, &t.tm_hour, &colon1, &t.tm_min, &colon2, &t.tm_sec),
              10)
        << fields;
    EXPECT_TRUE(dot1 == '.' && dot2 == '.' && colon1 == ':' && colon2 == ':') << fields;
    EXPECT_TRUE(fields[11] == ' ' || t.tm_hour >= 10) << "hour padded with a blank: " << fields;
    t.tm_mon -= 1;
    t.tm_year -= 1900;
    t.tm_isdst = -1;
    double skew = std::difftime(std::mktime(&t), before);
    EXPECT_GE(skew, -1.0);
    EXPECT_LE(skew, 30.0);
    return log.substr(end);
}

class Run : public ::testing::Test {
protected:
    RunResult run(const std::vector<std::string> &args = {}, const std::string &keys = "") {
        started_ = std::time(nullptr);
        return runProgram(station_.path(), args, keys);
    }
    std::string screenBody(const char *name = "screen1.log") { return afterDateLines(station_.read(name), started_); }
    std::string protocolBody(const char *name = "protoc1.log") { return afterDateLines(station_.read(name), started_); }

    TempStation station_;
    std::time_t started_ = 0;
};

TEST_F(Run, DefaultRunOnTheStationBoard) {
    RunResult r = run();
    EXPECT_EQ(r.status, 0);
    std::size_t statusLines = 0;
    EXPECT_EQ(maskVariable(consoleText(r.out), &statusLines), golden("default-run.console.txt"));
    EXPECT_EQ(statusLines, 512u);
    EXPECT_EQ(maskVariable(logText(screenBody())), golden("default-run.screen.txt"));
    EXPECT_EQ(maskVariable(logText(protocolBody())), golden("default-run.protocol.txt"));
    EXPECT_EQ(r.err, "");
    // Both logs carry the same date and time.
    EXPECT_EQ(station_.read("screen1.log").substr(0, 48), station_.read("protoc1.log").substr(0, 48));
}

TEST_F(Run, SecondRunStartsItsLogsAfresh) {
    run();
    RunResult r = run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskVariable(logText(screenBody())), golden("default-run.screen.txt"));
    EXPECT_EQ(maskVariable(logText(protocolBody())), golden("default-run.protocol.txt"));
}

TEST_F(Run, BoardNumberChoosesLogsAndIsPassedToTheLibrary) {
    struct Case {
        std::vector<std::string> args;
        std::string open, protocol, screen;
    } cases[] = {
        {{}, "QAL_open(1, 0, 0)", "protoc1.log", "screen1.log"},
        {{"-B0"}, "QAL_open(0, 0, 0)", "protoc1.log", "screen1.log"},
        {{"-B8"}, "QAL_open(8, 0, 0)", "protoc8.log", "screen8.log"},
        {{"-B9"}, "QAL_open(9, 0, 0)", "protocol.log", "screen.log"},
        {{"-B-1"}, "QAL_open(-1, 0, 0)", "protocol.log", "screen.log"},
        {{"-b3"}, "QAL_open(3, 0, 0)", "protoc3.log", "screen3.log"},
        {{"-B3x"}, "QAL_open(3, 0, 0)", "protoc3.log", "screen3.log"},
        {{"-B2", "-B3"}, "QAL_open(3, 0, 0)", "protoc3.log", "screen3.log"},
        {{"B3", "-X"}, "QAL_open(1, 0, 0)", "protoc1.log", "screen1.log"},
        {{"-B"}, "QAL_open(0, 0, 0)", "protoc1.log", "screen1.log"},
    };
    for (const Case &c : cases) {
        TempStation station;
        for (int board = 1; board <= 8; ++board) // no test selected: the names are the point
            station.write("check" + std::to_string(board) + ".cfg", "");
        std::vector<std::string> args = c.args;
        args.push_back("-V");
        RunResult r = runProgram(station.path(), args);
        std::string where = ::testing::PrintToString(c.args);
        EXPECT_EQ(r.status, 0) << where;
        EXPECT_NE(r.err.find(c.open + " = "), std::string::npos) << where << "\n" << r.err;
        EXPECT_TRUE(station.exists(c.protocol)) << where;
        EXPECT_TRUE(station.exists(c.screen)) << where;
    }
}

TEST_F(Run, OnlyTheFirstThreeArgumentsCount) {
    RunResult r = run({"x", "y", "z", "-B3", "-V"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, ""); // no trace
    EXPECT_TRUE(station_.exists("protoc1.log"));
    EXPECT_FALSE(station_.exists("protoc3.log"));
}

TEST_F(Run, TraceShowsEveryLibraryCallFromTheOptionsOn) {
    RunResult r = run({"-v"});
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> order = {
        "QAL_displayMode(0x8F)",      "QAL_init(0, 0)",     "QAL_open(1, 0, 0)", "QAL_getInfo(1",
        "QAL_peek(1, 0, 0x80000010)", "QAL_puRead(1, 1, 0", "QAL_close(1)",      "QAL_cleanup()"};
    std::size_t at = 0;
    for (const std::string &call : order) {
        std::size_t found = r.err.find(call, at);
        EXPECT_NE(found, std::string::npos) << call << " missing or out of order in\n" << r.err;
        if (found != std::string::npos)
            at = found;
    }
    EXPECT_EQ(r.err.rfind("QAL_displayMode", 0), 0u) << "the trace starts before the library is initialised";
    EXPECT_EQ(maskVariable(consoleText(r.out)), golden("default-run.console.txt")); // the console is unchanged
}

// The skip lines before and after the per-processor memory test, which
// no key of the selection file gates as a whole.
const std::string kSkippedBefore = "\n!ТЕСТ HOST-ИНТЕРФЕЙСА ПРОПУЩЕН"
                                   "\n!ТЕСТ HOST-STREAM ПРОПУЩЕН"
                                   "\n!ТЕСТ ПРЕРЫВАНИЙ ПРОПУЩЕН"
                                   "\n!ТЕСТ ВНУТРЕННИХ ЛИНКОВ ПРОПУЩЕН";
const std::string kSkippedAfter = "\n!ТЕСТ КЛАСТЕРА P2,P3,P4,P5 ПРОПУЩЕН"
                                  "\n!ФУНКЦИОНАЛЬНЫЙ ТЕСТ БПФ 1К ПРОПУЩЕН"
                                  "\n!ТЕСТ ВНЕШНИХ ЛИНКОВ ПРОПУЩЕН";
const std::string kDynamicSkipped = "\n Тест динамической памяти пропущен";

// Each line of `lines` preceded by `before`.
std::string eachAfter(const std::string &before, const std::string &lines) {
    std::string out;
    std::istringstream in(lines.substr(1));
    for (std::string line; std::getline(in, line);)
        out += before + "\n" + line;
    return out;
}

TEST_F(Run, EveryTestSwitchedOffPrintsItsSkipLine) {
    station_.write("check1.cfg", "[HOST START]\nCHECK=0\n[HSTREAM START]\nCHECK=0\n[INTERRUPTS START]\nCHECK=0\n"
                                 "[INTLINKS START]\nCHECK=0\n[CLASTER START]\nCHECK=0\n[FFTTIME START]\nCHECK=0\n"
                                 "[EXTLINKS START]\nCHECK=0\n");
    RunResult r = run();
    EXPECT_EQ(r.status, 0);
    std::string console = consoleText(r.out);
    std::string memory;
    for (int p = 2; p <= 7; ++p)
        memory += "\n ==== Пpоцессоp P" + std::to_string(p) + ":  " + kDynamicSkipped;
    EXPECT_NE(console.find(kSkippedBefore + "\n-----   TЕСТЫ 32-БИТНОЙ ПАМЯТИ"), std::string::npos) << console;
    EXPECT_TRUE(endsWith(console, memory + kSkippedAfter + kSuccess)) << console;
    for (const std::string &log : {logText(screenBody()), logText(protocolBody())}) {
        EXPECT_NE(log.find(kSkippedBefore + "\n-----   TЕСТЫ 32-БИТНОЙ ПАМЯТИ"), std::string::npos);
        EXPECT_TRUE(endsWith(log, memory + kSkippedAfter + kSuccess)) << log;
    }
}

// Seven driver lookups and seven SDRAM lookups, each warned and counted.
TEST_F(Run, MissingSelectionFileSkipsEverythingAndCountsEveryLookup) {
    station_.remove("check1.cfg");
    RunResult r = run();
    EXPECT_EQ(r.status, 0); // a run with errors is still a complete run
    const std::string warning = "\n### ПРЕДУПРЕЖДЕНИЕ: Не могу открыть файл 'check1.cfg'";
    std::string console = consoleText(r.out), protocol = logText(protocolBody());
    for (const std::string &text : {console, protocol}) {
        EXPECT_NE(text.find(eachAfter(warning, kSkippedBefore) + "\n-----   TЕСТЫ 32-БИТНОЙ ПАМЯТИ"), std::string::npos)
            << text;
        EXPECT_EQ(count(text, warning + kDynamicSkipped), 7u);
        EXPECT_TRUE(
            endsWith(text, eachAfter(warning, kSkippedAfter) + "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 14 "))
            << text;
    }
}

// A fatal stop: the message, the key prompt, one key, status 255, and the
// board closed on the way out.
TEST_F(Run, BoardOfAnotherModelIsRefused) {
    station_.write("virtual-board.ini", "[board 1]\nmodel = 0x5367\n");
    long keysRead = 0;
    started_ = std::time(nullptr);
    RunResult r = runWithKeyFile(station_.path(), {"-V"}, "xy", &keysRead);
    EXPECT_EQ(r.status, 255);
    const std::string message = "\n### ОШИБКА: Это не модуль ZORVANTIK.";
    EXPECT_EQ(r.out, toCp866(message + kPrompt));
    EXPECT_EQ(screenBody(), asLog(message));
    EXPECT_EQ(protocolBody(), asLog(message));
    EXPECT_EQ(keysRead, 1);
    EXPECT_NE(r.err.find("QAL_close(1) = 0"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("QAL_cleanup()"), std::string::npos) << r.err;
}

TEST_F(Run, BoardThatCannotBeOpened) {
    station_.write("virtual-board.ini", "[board 1]\npresent = no\n");
    RunResult r = run({"-V"});
    EXPECT_EQ(r.status, 255);
    const std::string message = "\n### ОШИБКА: Не могу открыть модуль.";
    EXPECT_EQ(r.out, toCp866(message + kPrompt));
    EXPECT_EQ(protocolBody(), asLog(message));
    EXPECT_NE(r.err.find("QAL_close(0)"), std::string::npos) << r.err;
}

TEST_F(Run, MalformedBoardFileIsNamedAndTheBoardNotOpened) {
    station_.write("virtual-board.ini", "[board 1]\ncpu_mask 0x7F\n");
    RunResult r = run();
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, toCp866("\n### ОШИБКА: Не могу открыть модуль." + kPrompt));
    EXPECT_NE(r.err.find("virtual-board.ini:2"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST_F(Run, LibraryThatCannotStart) {
    station_.write("virtual-board.ini", "[library]\ninit = fail\n");
    RunResult r = run();
    EXPECT_EQ(r.status, 255);
    const std::string message = "\n### ОШИБКА: Не могу инициализировать модуль.";
    EXPECT_EQ(r.out, toCp866(message + kPrompt));
    EXPECT_EQ(screenBody(), asLog(message));
}

TEST_F(Run, ProtocolLogThatCannotBeCreated) {
    ::mkdir(station_.file("protoc1.log").c_str(), 0755); // a directory in its way
    RunResult r = run({"-V"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, toCp866("\n### ОШИБКА: НЕ МОГУ ОТКРЫТЬ ФАЙЛ ПРОТОКОЛА ИСПЫТАНИЙ." + kPrompt));
    EXPECT_FALSE(station_.exists("screen1.log"));
    EXPECT_EQ(r.err.find("QAL_init"), std::string::npos);
    EXPECT_NE(r.err.find("QAL_close(0)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("QAL_cleanup()"), std::string::npos) << r.err;
}

TEST_F(Run, ScreenLogThatCannotBeCreated) {
    ::mkdir(station_.file("screen1.log").c_str(), 0755);
    RunResult r = run();
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, toCp866("\n### ОШИБКА: НЕ МОГУ ОТКРЫТЬ ФАЙЛ МОНИТОРИНГА ИСПЫТАНИЙ." + kPrompt));
    EXPECT_EQ(protocolBody(), ""); // the date and time lines, nothing more
}

TEST_F(Run, StationDirectoryThatIsNotWritable) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into any directory";
    ::chmod(station_.path().c_str(), 0555);
    RunResult r = run();
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, toCp866("\n### ОШИБКА: НЕ МОГУ ОТКРЫТЬ ФАЙЛ ПРОТОКОЛА ИСПЫТАНИЙ." + kPrompt));
}

TEST_F(Run, CtrlCDuringTheKeyWaitClosesTheBoard) {
    station_.write("virtual-board.ini", "[board 1]\nmodel = 0x1234\n");
    started_ = std::time(nullptr);
    Process program(station_.path(), {"-V"});
    ASSERT_TRUE(program.waitForOutput(toCp866("Нажмите любую клавишу")));
    program.signal(SIGINT);
    RunResult r = program.finish(20, false);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, toCp866("\n### ОШИБКА: Это не модуль ZORVANTIK.\nНажмите любую клавишу"));
    const std::string message = "\n### ОШИБКА: Это не модуль ZORVANTIK.";
    EXPECT_EQ(screenBody(), asLog(message));
    EXPECT_EQ(protocolBody(), asLog(message));
    EXPECT_NE(r.err.find("QAL_close(1) = 0"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("QAL_cleanup()"), std::string::npos) << r.err;
}

TEST_F(Run, ContinuousModeRepeatsUntilCtrlC) {
    started_ = std::time(nullptr);
    const std::string header = "\n-----     ТЕСТ ОБМЕНА ДАННЫМИ      -----";
    Process program(station_.path(), {"-C"});
    ASSERT_TRUE(program.waitForOutput(toCp866(header + "\n1. ОБМЕН СЛОВАМИ (HOST-port)\n2."), 60, 2));
    program.signal(SIGINT);
    RunResult r = program.finish(20, false);
    EXPECT_EQ(r.status, 255);
    std::string console = consoleText(r.out), protocol = logText(protocolBody());
    EXPECT_GE(count(console, header), 2u);
    EXPECT_GE(count(protocol, header), 2u);
    // No stream test in between, and never a verdict.
    EXPECT_EQ(console.find("ПОТОКА ДАННЫХ"), std::string::npos);
    EXPECT_EQ(console.find("ТЕСТИРОВАНИЕ"), std::string::npos);
    EXPECT_EQ(protocol.find("ТЕСТИРОВАНИЕ"), std::string::npos);
}

TEST_F(Run, ContinuousModeWithHostSkippedGoesOnSilently) {
    station_.write("check1.cfg", "[HOST START]\nCHECK=0\n[HOST END]\n[HSTREAM START]\nCHECK=0\n[HSTREAM END]\n");
    RunResult r = run({"-C"});
    EXPECT_EQ(r.status, 0);
    std::string console = fromCodePage(r.out, "CP866");
    EXPECT_EQ(console.find("HOST-ИНТЕРФЕЙСА"), std::string::npos);
    EXPECT_EQ(console.find("HOST-STREAM"), std::string::npos);
    EXPECT_NE(console.find("\n!ТЕСТ ПРЕРЫВАНИЙ ПРОПУЩЕН"), std::string::npos);
}

} // namespace
