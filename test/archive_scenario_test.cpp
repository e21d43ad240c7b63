// The station's archive over whole runs: every run's record, pages and
// logs kept under a name of its own, whatever ended the run; an archive
// that cannot be written, or a share that stops answering, changes
// nothing else of the run.
#include "support/scenario.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::string kSuccess = "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++";
const std::string kWarning = "### ПРЕДУПРЕЖДЕНИЕ: Не могу записать файл '";
const char *const kFiles[] = {".json", ".xml", ".html", ".protoc.log", ".screen.log"};

// An environment variable set (or unset: nullptr) for the programs this
// test starts, put back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        if (const char *old = std::getenv(name))
            saved_ = old, had_ = true;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { had_ ? setenv(name_.c_str(), saved_.c_str(), 1) : unsetenv(name_.c_str()); }

private:
    std::string name_, saved_;
    bool had_ = false;
};

// Every file under `dir`, as paths relative to it, sorted.
std::set<std::string> filesUnder(const std::string &dir) {
    std::set<std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
        if (!it->is_directory())
            files.insert(fs::relative(it->path(), dir).string());
    return files;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The record's local start with its offset, as a UTC stamp, worked out
// with the C library (the program has its own arithmetic).
std::string utcStamp(const std::string &iso) {
    std::tm t{};
    int offsetHours = 0, offsetMinutes = 0;
    char sign = '+';
    if (std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d%c%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                    &t.tm_sec, &sign, &offsetHours, &offsetMinutes) != 9)
        return "?";
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    std::time_t utc = timegm(&t) - (sign == '-' ? -1 : 1) * (offsetHours * 3600 + offsetMinutes * 60);
    std::tm back{};
    gmtime_r(&utc, &back);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &back);
    return text;
}

// The one run kept in `folder` of the archive at `root`: its name without
// the extension, and its files' extensions. The name is checked against
// the run's record: the UTC start, board 1, the runId's first hex digits.
struct Kept {
    std::string stem;
    std::set<std::string> extensions;
    Json record;
};
Kept keptRun(const std::string &root, const std::string &folder) {
    Kept k;
    const std::regex name(R"((\d{8}T\d{6}Z-B1-[0-9a-f]{4})(\..+))");
    for (const std::string &file : filesUnder(root + "/" + folder)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(file, m, name)) << folder << "/" << file;
        if (m.empty())
            continue;
        EXPECT_TRUE(k.stem.empty() || k.stem == m[1]) << "two runs in " << folder;
        k.stem = m[1];
        k.extensions.insert(m[2]);
    }
    if (k.extensions.count(".json")) {
        k.record = Json::parse(readFile(root + "/" + folder + "/" + k.stem + ".json"), nullptr, false);
        EXPECT_EQ(k.stem.substr(0, 20), utcStamp(k.record.value("start", "")) + "-B1-");
        EXPECT_EQ(k.stem.substr(20), k.record.value("runId", "????").substr(0, 4));
    }
    return k;
}

std::size_t warnings(const RunResult &r) { return count(r.err, toCp866("### ПРЕДУПРЕЖДЕНИЕ")); }

class Archive : public ScenarioTest {
protected:
    // A short run: the host exchange test alone.
    RunResult runBoard(TempStation &station, const std::string &board) {
        station.write("check1.cfg", selecting({"HOST"}));
        station.write("virtual-board.ini", "[board 1]\n" + board);
        return runProgram(station.path(), {});
    }
    ScopedEnv unset_{"ZORVANTIK_ARCHIVE", nullptr};
};

// Two boards through slot 1: the station holds the second run, the
// archive both, each whole and under its own serial; the second's copies
// are byte for byte the station's files.
TEST_F(Archive, TwoBoardsThroughOneSlotKeepBothRuns) {
    RunResult first = runBoard(station_, "serial = 1042\n");
    ASSERT_EQ(first.status, 0) << first.err;
    RunResult second = runBoard(station_, "serial = 2077\n");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(warnings(first) + warnings(second), 0u) << second.err;

    const std::string root = station_.file("records");
    std::set<std::string> folders;
    for (const std::string &file : filesUnder(root))
        folders.insert(file.substr(0, file.find('/')));
    EXPECT_EQ(folders, (std::set<std::string>{"01042", "02077"}));
    Kept a = keptRun(root, "01042"), b = keptRun(root, "02077");
    const std::set<std::string> all(std::begin(kFiles), std::end(kFiles));
    EXPECT_EQ(a.extensions, all);
    EXPECT_EQ(b.extensions, all);
    EXPECT_EQ(a.record["board"]["serialShown"], "01042");
    EXPECT_NE(a.stem, b.stem);
    EXPECT_EQ(a.record["outcome"], "passed");
    EXPECT_TRUE(endsWith(logText(readFile(root + "/01042/" + a.stem + ".protoc.log")), kSuccess));

    const std::string kept = root + "/02077/" + b.stem;
    EXPECT_EQ(readFile(kept + ".json"), station_.read("result1.json"));
    EXPECT_EQ(readFile(kept + ".xml"), station_.read("result1.xml"));
    EXPECT_EQ(readFile(kept + ".html"), station_.read("result1.html"));
    EXPECT_EQ(readFile(kept + ".protoc.log"), station_.read("protoc1.log"));
    EXPECT_EQ(readFile(kept + ".screen.log"), station_.read("screen1.log"));
    EXPECT_NE(readFile(root + "/01042/" + a.stem + ".json"), station_.read("result1.json"));
}

// Where the archive goes, and what each end of a run leaves in it; an
// archive that cannot be written is one warning, and the run is as it
// would have been.
TEST_F(Archive, EachEndAndSetting) {
    TempStation share(false);
    struct Case {
        const char *name;
        const char *setting;         // ZORVANTIK_ARCHIVE; nullptr: unset
        std::string board;           // virtual-board.ini's board 1
        const char *inTheWay;        // a file made a directory, or "records" made a file, or removed ("-" first)
        int status;                  // the run's exit status
        const char *outcome;         // the record's
        const char *root;            // the archive, relative to the station ("" = none)
        const char *folder;          // the run's folder in it
        std::set<std::string> files; // the extensions kept
    };
    const std::set<std::string> all(std::begin(kFiles), std::end(kFiles));
    const std::string moved = share.path() + "/bench 2/records";
    const Case kCases[] = {
        {"the default", nullptr, "serial = 1042\n", nullptr, 0, "passed", "records", "01042", all},
        {"a relative setting", "archive/b2", "serial = 7\n", nullptr, 0, "passed", "archive/b2", "00007", all},
        {"an absolute setting", moved.c_str(), "serial = 1234567\n", nullptr, 0, "passed", "", "1234567", all},
        {"an empty setting", "", "serial = 1042\n", nullptr, 0, "passed", "", "", {}},
        {"a board never identified", nullptr, "model = 0x5367\n", nullptr, 255, "fatal", "records", "unidentified",
         all},
        {"a protocol log that is a directory",
         nullptr,
         "",
         "protoc1.log",
         255,
         "fatal",
         "records",
         "unidentified",
         {".json", ".xml", ".html"}},
        {"a screen log that is a directory",
         nullptr,
         "",
         "screen1.log",
         255,
         "fatal",
         "records",
         "unidentified",
         {".json", ".xml", ".html", ".protoc.log"}},
        {"a test's fatal exit", nullptr, "cpu_mask = 0x01\n", "-dsp_app/drvwrite.ldr", 255, "aborted", "records",
         "01042", all},
        {"a file where the archive should be", nullptr, "serial = 1042\n", "records", 0, "passed", "", "", {}},
        {"an archive under /proc", "/proc/zorvantik-archive", "serial = 1042\n", nullptr, 0, "passed", "", "", {}},
    };
    for (const Case &c : kCases) {
        TempStation station;
        fs::remove_all(moved);
        // Logs of an earlier run: a fatal stop before a log is begun must
        // not keep them as this run's.
        station.write("protoc1.log", "earlier run");
        station.write("screen1.log", "earlier run");
        if (c.inTheWay && c.inTheWay[0] == '-') {
            station.remove(c.inTheWay + 1);
        } else if (c.inTheWay && std::string(c.inTheWay) == "records") {
            station.write("records", "in the way");
        } else if (c.inTheWay) {
            station.remove(c.inTheWay);
            fs::create_directory(station.file(c.inTheWay));
        }
        ScopedEnv setting("ZORVANTIK_ARCHIVE", c.setting);
        RunResult r = runBoard(station, c.board);
        EXPECT_EQ(r.status, c.status) << c.name;
        Json record = Json::parse(station.read("result1.json"), nullptr, false);
        EXPECT_EQ(record["outcome"], c.outcome) << c.name;
        EXPECT_TRUE(station.exists("result1.xml") && station.exists("result1.html")) << c.name;
        if (c.status == 0) {
            EXPECT_TRUE(endsWith(r.out, toCp866(kSuccess))) << c.name;
        }

        std::string root = c.setting && c.setting[0] == '/' ? moved : station.file(c.root);
        if (c.files.empty()) {
            // Nothing kept; one warning when the archive was meant to be.
            bool meant = !(c.setting && !*c.setting);
            EXPECT_EQ(warnings(r), meant ? 1u : 0u) << c.name << ": " << r.err;
            EXPECT_EQ(count(r.err, "\n"), meant ? 1u : 0u) << c.name;
            if (meant) {
                EXPECT_EQ(r.err.find(toCp866(kWarning)), 0u) << c.name << ": " << r.err;
            }
            EXPECT_FALSE(fs::is_directory(station.file("records"))) << c.name;
            EXPECT_TRUE(filesUnder(moved).empty()) << c.name;
            continue;
        }
        EXPECT_EQ(warnings(r), 0u) << c.name << ": " << r.err;
        Kept k = keptRun(root, c.folder);
        EXPECT_EQ(k.extensions, c.files) << c.name;
        EXPECT_EQ(k.record, record) << c.name;
        if (c.files.count(".protoc.log")) {
            EXPECT_EQ(readFile(root + "/" + c.folder + "/" + k.stem + ".protoc.log"), station.read("protoc1.log"))
                << c.name;
        }
        if (std::string(c.root) != "records") {
            EXPECT_FALSE(fs::exists(station.file("records"))) << c.name;
        }
    }
}

// A break in the middle of a run (the host exchange test on a slow board):
// 255 as ever, and the interrupted run is kept whole.
TEST_F(Archive, BreakMidRunKeepsTheRun) {
    station_.write("check1.cfg", selecting({"HOST"}));
    station_.write("virtual-board.ini", "[board 1]\nhost_port_mbps = 4\n");
    Process program(station_.path(), {});
    ASSERT_TRUE(program.waitForOutput(toCp866("1. ОБМЕН СЛОВАМИ (HOST-port)"), 60));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    program.signal(SIGINT);
    RunResult r = program.finish(30, false);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(warnings(r), 0u) << r.err;
    Kept k = keptRun(station_.file("records"), "01042");
    EXPECT_EQ(k.extensions, std::set<std::string>(std::begin(kFiles), std::end(kFiles)));
    EXPECT_EQ(k.record["outcome"], "interrupted");
    const std::string kept = station_.file("records/01042/" + k.stem);
    EXPECT_EQ(readFile(kept + ".json"), station_.read("result1.json"));
    EXPECT_EQ(readFile(kept + ".screen.log"), station_.read("screen1.log"));
}

// A share that stops answering (every mkdir and rename on it held for
// five minutes): the verdict and the break end the run as they would,
// within the archive's stall bound, with one warning each.
TEST_F(Archive, HungShareHoldsNeitherVerdictNorBreak) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's runtime must come first: no preloaded library";
#endif
    TempStation share(false);
    std::string folder = share.path() + "/hung-share/records";
    ScopedEnv setting("ZORVANTIK_ARCHIVE", folder.c_str());
    ScopedEnv preload("LD_PRELOAD", ZT_SLOW_SHARE_PATH);
    ScopedEnv mark("ZT_SLOW_SHARE_MARK", "hung-share");
    const double bound = 2.0 + 3.0 * testTimeScale(); // the stall bound, and time to end

    station_.write("check1.cfg", selecting({"HOST"}));
    station_.remove("virtual-board.ini");
    Process verdict(station_.path(), {});
    verdict.closeInput();
    ASSERT_TRUE(verdict.waitForOutput(toCp866(kSuccess), 60));
    auto shown = std::chrono::steady_clock::now();
    RunResult r = verdict.finish(60, false);
    double after = std::chrono::duration<double>(std::chrono::steady_clock::now() - shown).count();
    EXPECT_EQ(r.status, 0);
    EXPECT_LT(after, bound);
    EXPECT_EQ(Json::parse(station_.read("result1.json"), nullptr, false)["outcome"], "passed");
    EXPECT_EQ(warnings(r), 1u) << r.err;
    EXPECT_NE(r.err.find(toCp866("' (не записан за ")), std::string::npos) << r.err;
    EXPECT_TRUE(endsWith(r.err, toCp866(" с)\n"))) << r.err;
    EXPECT_NE(r.err.find(toCp866(kWarning + folder + "/01042/")), std::string::npos) << r.err;

    station_.write("virtual-board.ini", "[board 1]\nhost_port_mbps = 4\n");
    Process broken(station_.path(), {});
    ASSERT_TRUE(broken.waitForOutput(toCp866("1. ОБМЕН СЛОВАМИ (HOST-port)"), 60));
    broken.signal(SIGINT);
    auto signalled = std::chrono::steady_clock::now();
    r = broken.finish(60, false);
    after = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    EXPECT_EQ(r.status, 255);
    EXPECT_LT(after, bound);
    EXPECT_EQ(Json::parse(station_.read("result1.json"), nullptr, false)["outcome"], "interrupted");
    EXPECT_EQ(warnings(r), 1u) << r.err;
}

} // namespace
