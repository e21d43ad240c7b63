// --help and --version: the usage text and the version, and a station left
// exactly as it was (no log created or touched, no call into the board
// library). Every other argument keeps its meaning.
#include "run/usage.h"
#include "support/process.h"
#include "support/station.h"
#include "support/terminal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sys/stat.h>
#include <utime.h>

namespace fs = std::filesystem;

namespace {

// The usage text as the program prints it on a pipe (code page 866).
std::string printedUsage() {
    TempStation station;
    return runProgram(station.path(), {"--help"}).out;
}

const std::string kSuccess = "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++";

// The version the build was given: the project version in the top
// CMakeLists.txt, beside the station template.
std::string projectVersion() {
    std::ifstream in(std::string(ZT_STATION_TEMPLATE) + "/../CMakeLists.txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // project(zorvantik-test VERSION 1.0.0 ...): the word after VERSION.
    std::size_t project = text.find("project(zorvantik-test");
    std::size_t version = project == std::string::npos ? project : text.find("VERSION", project);
    if (version == std::string::npos)
        return "(no project version in CMakeLists.txt)";
    std::size_t start = text.find_first_not_of(" \t", version + 7);
    std::size_t end = text.find_first_not_of("0123456789.", start);
    return text.substr(start, end - start);
}

// Everything of a directory that a run could change: every entry's
// kind, size, modification time and content, and the directory's own.
std::map<std::string, std::string> snapshot(const std::string &dir) {
    std::map<std::string, std::string> entries;
    auto record = [&](const fs::path &path) {
        struct stat st {};
        lstat(path.c_str(), &st);
        std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode)) {
            std::ifstream in(path, std::ios::binary);
            what += "\n" + std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        entries[path.string()] = what;
    };
    record(dir);
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(dir))
        record(entry.path());
    return entries;
}

// A station whose logs are those of an earlier run, dated in the past, so
// that a rewrite or a touch shows.
class InfoOptions : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *log : {"protoc1.log", "screen1.log", "protoc3.log", "screen3.log"})
            station_.write(log, asLog("\n         Дата: 01.02.2003\nТекущее время: 10:00:00" + kSuccess));
        station_.write("virtual-board.ini", "[board 1]\n[board 3]\n");
        struct utimbuf past = {1000000000, 1000000000};
        for (const fs::directory_entry &entry : fs::recursive_directory_iterator(station_.path()))
            utime(entry.path().c_str(), &past);
        utime(station_.path().c_str(), &past);
        before_ = snapshot(station_.path());
    }
    void expectStationUntouched(const std::vector<std::string> &args) {
        EXPECT_EQ(snapshot(station_.path()), before_) << ::testing::PrintToString(args);
    }

    TempStation station_;
    std::map<std::string, std::string> before_;
};

TEST_F(InfoOptions, HelpInAnyOfTheFirstThreePlacesPrintsTheUsageAlone) {
    const std::string usage = printedUsage();
    ASSERT_EQ(consoleText(usage).rfind("Использование: zorvantik-test", 0), 0u) << consoleText(usage);
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-V", "--help"}, {"-B3", "-V", "--help"}, {"--help", "-V", "-C"}, {"x", "--help", "-B9"}}) {
        RunResult r = runProgram(station_.path(), args);
        std::string where = ::testing::PrintToString(args);
        EXPECT_EQ(r.status, 0) << where;
        EXPECT_EQ(r.out, usage) << where << "\n" << consoleText(r.out);
        EXPECT_EQ(r.err, "") << where << ": the board library was called";
        expectStationUntouched(args);
    }
}

TEST_F(InfoOptions, VersionInAnyOfTheFirstThreePlacesPrintsTheProjectVersion) {
    const std::string version = "zorvantik-test " + projectVersion() + "\n";
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"--version"}, {"-v", "--version"}, {"-B3", "-V", "--version"}}) {
        RunResult r = runProgram(station_.path(), args);
        std::string where = ::testing::PrintToString(args);
        EXPECT_EQ(r.status, 0) << where;
        EXPECT_EQ(r.out, version) << where;
        EXPECT_EQ(r.err, "") << where << ": the board library was called";
        expectStationUntouched(args);
    }
}

TEST_F(InfoOptions, TheFirstOfTheTwoWins) {
    RunResult r = runProgram(station_.path(), {"--version", "--help"});
    EXPECT_EQ(r.out, "zorvantik-test " + projectVersion() + "\n");
    r = runProgram(station_.path(), {"-C", "--help", "--version"});
    EXPECT_EQ(r.out, printedUsage());
    expectStationUntouched({});
}

// Even in a directory that is no station at all, and at a C-locale
// terminal, where the text is UTF-8 and already ends its line.
TEST_F(InfoOptions, HelpAtATerminalIsUtf8AndAddsNoLineBreak) {
    TempStation empty(false);
    TerminalSetup setup;
    setup.keyboard = false;
    TerminalProcess terminal(empty.path(), {"--help"}, setup);
    RunResult r = terminal.finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, consoleText(printedUsage())); // the same text, in the terminal's UTF-8
    EXPECT_TRUE(fs::is_empty(empty.path()));

    TerminalProcess version(station_.path(), {"--version"}, setup);
    r = version.finish();
    EXPECT_EQ(r.out, "zorvantik-test " + projectVersion() + "\n");
    expectStationUntouched({"--version"});
}

// Only the whole argument counts, as written, and only in the first three
// places: anything else is what it always was, ignored or an option by its
// second letter ("-help" is 'h', ignored).
TEST_F(InfoOptions, OtherSpellingsAndPlacesRunTheTest) {
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"--helpx"}, {"-h"}, {"-help"}, {"--HELP"}, {"--versionx"}, {"x", "y", "z", "--help"}}) {
        TempStation station;
        station.write("check1.cfg", "[HOST START]\nCHECK=0\n[HOST END]\n");
        RunResult r = runProgram(station.path(), args);
        std::string where = ::testing::PrintToString(args);
        EXPECT_EQ(r.status, 0) << where;
        EXPECT_TRUE(endsWith(consoleText(r.out), kSuccess)) << where;
        EXPECT_EQ(consoleText(r.out).find("Использование"), std::string::npos) << where;
        EXPECT_TRUE(station.exists("protoc1.log") && station.exists("screen1.log")) << where;
    }
    // "-V" after a look-alike still traces: the options act as before.
    TempStation station;
    RunResult r = runProgram(station.path(), {"--helpx", "-V"});
    EXPECT_EQ(r.err.rfind("QAL_displayMode(0x8F)", 0), 0u) << r.err;
}

// The usage text tells the truth about a run: every file a run of board 1
// writes in the station (the archive's folder aside) is named (as itself or with N for the board's
// number), the exit status of a complete run is listed, and every line
// fits an 80-column console.
TEST(Usage, NamesTheFilesARunWritesAndFitsTheConsole) {
    const std::string usage = printedUsage();
    const std::string text = consoleText(usage);
    std::size_t start = 0;
    for (std::size_t end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LT(end - start, 80u) << consoleText(usage.substr(start, end - start));
    TempStation station;
    station.write("check1.cfg", "[HOST START]\nCHECK=0\n[HOST END]\n");
    std::set<std::string> before;
    for (const fs::directory_entry &entry : fs::directory_iterator(station.path()))
        before.insert(entry.path().filename().string());
    RunResult r = runProgram(station.path(), {});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(text.find("\n  " + std::to_string(r.status) + " "), std::string::npos) << text;
    int written = 0;
    for (const fs::directory_entry &entry : fs::directory_iterator(station.path())) {
        std::string name = entry.path().filename().string();
        if (before.count(name) || !entry.is_regular_file())
            continue; // the archive's folder is the operator guide's to tell
        ++written;
        std::string general = name;
        general[general.find('1')] = 'N';
        EXPECT_TRUE(text.find(name) != std::string::npos || text.find(general) != std::string::npos)
            << name << " is not in the usage text";
    }
    EXPECT_GE(written, 5); // the two logs, the record, its JUnit report and its page
}

TEST(FindInfoOption, LooksAtTheFirstThreeArgumentsWhole) {
    auto find = [](std::vector<std::string> args) {
        args.insert(args.begin(), "zorvantik-test");
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        return findInfoOption(static_cast<int>(args.size()), argv.data());
    };
    EXPECT_EQ(find({}), InfoOption::kNone);
    EXPECT_EQ(find({"-B2", "-C", "--help"}), InfoOption::kHelp);
    EXPECT_EQ(find({"-B2", "--version", "--help"}), InfoOption::kVersion);
    EXPECT_EQ(find({"-B2", "-C", "-V", "--help"}), InfoOption::kNone);
    EXPECT_EQ(find({"--help=1", "--Help", "-help", "--", ""}), InfoOption::kNone);
}

} // namespace

// The man page (docs/zorvantik-test.1) is written with the code: every
// option, file and exit status the usage text names, it names too, and its
// title carries the project version.
TEST(ManPage, NamesWhatTheUsageNamesAndTheProjectVersion) {
    const std::string usage = consoleText(printedUsage());
    std::ifstream in(std::string(ZT_STATION_TEMPLATE) + "/../docs/zorvantik-test.1");
    ASSERT_TRUE(in) << "docs/zorvantik-test.1 cannot be read";
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // troff's escapes out: \- is a hyphen, \fB \fI \fR switch fonts, \c joins.
    std::string text;
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (page[i] == '\\' && i + 1 < page.size()) {
            char next = page[i + 1];
            if (next == '-')
                text += '-';
            i += next == 'f' ? 2 : 1;
            continue;
        }
        text += page[i];
    }
    for (const char *item : {"-B", "-C", "-V", "--help", "--version", "checkN.cfg", "dsp_app/", "virtual-board.ini",
                             "protocN.log", "screenN.log", "protoc1.log", "protocol.log", "resultN.json",
                             "resultN.xml", "resultN.html", "255"}) {
        EXPECT_NE(usage.find(item), std::string::npos) << item << " is not in the usage text";
        EXPECT_NE(text.find(item), std::string::npos) << item << " is not in the man page";
    }
    EXPECT_NE(page.find(".TH ZORVANTIK-TEST 1 "), std::string::npos);
    EXPECT_NE(page.find("\"zorvantik-test " + projectVersion() + "\""), std::string::npos)
        << "the man page's title does not carry the project version " << projectVersion();
}
