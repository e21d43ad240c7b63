// Files among the records that are not what a record's file should be: a
// FIFO, a link to a device, a directory, a file far over a record's size,
// a record with bytes after it. zorvantik-report tells each with one line,
// never hangs or aborts, and still counts the good record beside them.
#include "report/record_file.h"
#include "report/report.h"
#include "support/process.h"
#include "support/station.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Command {
    int status = -1; // exit status; -1 when it hung and was killed
    std::string err;
};

// Runs zorvantik-report in `dir` with `args`, killed when it has not
// ended after `seconds`; with `memoryLimit` > 0 its address space is
// held to that many bytes.
Command runReport(const TempStation &dir, const std::vector<std::string> &args, double seconds = 20,
                  long memoryLimit = 0) {
    std::string errPath = dir.file("command.err");
    ArgVector argv(ZT_REPORT_PATH, args);
    pid_t pid = fork();
    if (pid == 0) {
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = ::open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(err, 2);
        if (memoryLimit > 0) {
            struct rlimit limit = {static_cast<rlim_t>(memoryLimit), static_cast<rlim_t>(memoryLimit)};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (chdir(dir.path().c_str()) != 0)
            _exit(126);
        execv(argv.program(), argv.data());
        _exit(127);
    }
    Command c;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * testTimeScale());
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            c.err = dir.read("command.err");
            return c;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    c.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    c.err = dir.read("command.err");
    dir.remove("command.err");
    return c;
}

// The least a record holds for the fleet and a run's page.
std::string validRecord() {
    nlohmann::json j = {{"schema", kReportSchema},
                        {"program", {{"name", "zorvantik-test"}, {"version", "1.0.0"}}},
                        {"boardNumber", 1},
                        {"start", "2026-12-08T09:00:00+00:00"},
                        {"durationMs", 1000},
                        {"outcome", "passed"},
                        {"errorCount", 0},
                        {"findingCount", 0},
                        {"board", nullptr},
                        {"steps", nlohmann::json::array()},
                        {"errorLines", nlohmann::json::array()}};
    return j.dump(2) + "\n";
}

// Each kind of odd file, made in `dir` under `name`.
struct OddFile {
    const char *name;
    const char *why; // the reason the line gives, after "NAME: "
    void (*make)(const std::string &path);
};

const OddFile kOddFiles[] = {
    {"a-fifo.json", "not a regular file (a FIFO)", [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
    {"b-zero.json", "not a regular file (a character device)",
     [](const std::string &p) { fs::create_symlink("/dev/zero", p); }},
    {"c-dir.json", nullptr, [](const std::string &p) { fs::create_directory(p); }},
    {"d-huge.json", "larger than a record may be (524288000 bytes, the limit is 16777216)",
     [](const std::string &p) {
         int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
         ASSERT_EQ(ftruncate(fd, 500L << 20), 0); // sparse: no disk taken
         ::close(fd);
     }},
    {"e-trailing.json", "trailing bytes after the record",
     [](const std::string &p) {
         std::FILE *f = std::fopen(p.c_str(), "wb");
         std::string text = validRecord() + "{\"outcome\": \"passed\"}\n";
         std::fwrite(text.data(), 1, text.size(), f);
         std::fclose(f);
     }},
    {"f-\x1b[2J\xff.json", "not a regular file (a FIFO)",
     [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
};

// A folder of every odd file and one good record: the fleet skips each
// odd one with its line, in name order, and counts the good one; a run's
// page is refused for each with one line. Nothing hangs.
TEST(ReportFiles, OddFilesAreToldAndSkipped) {
    TempStation dir(false);
    fs::create_directory(dir.file("odd"));
    for (const OddFile &o : kOddFiles)
        o.make(dir.file(std::string("odd/") + o.name));
    dir.write("odd/m-valid.json", validRecord());

    Command fleet = runReport(dir, {"--csv", "fleet.csv", "-o", "fleet.html", "odd"});
    ASSERT_NE(fleet.status, -1) << "the fleet hung; stderr so far:\n" << fleet.err;
    EXPECT_EQ(fleet.status, 0) << fleet.err;
    // One line for each odd file (in the order read, which may tell a
    // directory when found), and none for the good record.
    for (const OddFile &o : kOddFiles) {
        std::string line = std::string("zorvantik-report: skipped odd/") + o.name + ": " +
                           (o.why ? o.why : "is a directory") + "\n";
        if (std::string(o.name).compare(0, 2, "f-") == 0) {
            // A name not in ASCII: how it is shown is the run page's check below.
            std::size_t at = fleet.err.find("zorvantik-report: skipped odd/f-");
            ASSERT_NE(at, std::string::npos) << fleet.err;
            std::string told = fleet.err.substr(at, fleet.err.find('\n', at) + 1 - at);
            EXPECT_TRUE(endsWith(told, std::string(".json: ") + o.why + "\n")) << told;
            continue;
        }
        EXPECT_NE(fleet.err.find(line), std::string::npos) << line << "\nin\n" << fleet.err;
    }
    EXPECT_EQ(count(fleet.err, "\n"), std::size(kOddFiles)) << fleet.err;
    EXPECT_EQ(fleet.err.find("m-valid"), std::string::npos) << fleet.err;
    std::string csv = dir.read("fleet.csv");
    EXPECT_EQ(count(csv, "\r\n"), 2u) << csv; // the header and the good record
    EXPECT_NE(csv.find("odd/m-valid.json,"), std::string::npos) << csv;

    // A single file named on the command line is read the same way.
    Command one = runReport(dir, {"-o", "one.html", "odd/a-fifo.json"});
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.err, "zorvantik-report: skipped odd/a-fifo.json: not a regular file (a FIFO)\n"
                       "zorvantik-report: no result record found (1 file skipped)\n");

    // A run's page made again from each: one line, status 1, no page.
    for (const OddFile &o : kOddFiles) {
        std::string name = std::string("odd/") + o.name;
        Command page = runReport(dir, {"--page", name, "-o", "page.html"});
        ASSERT_NE(page.status, -1) << name << ": --page hung";
        EXPECT_EQ(page.status, 1) << name;
        std::string shown = std::string(o.name).compare(0, 2, "f-") == 0 ? "odd/f-\\x1B[2J\\xFF.json" : name;
        EXPECT_EQ(page.err, "zorvantik-report: " + shown + ": " + (o.why ? o.why : "not a regular file (a directory)") +
                                "\n")
            << name;
        EXPECT_FALSE(dir.exists("page.html")) << name;
    }
    Command good = runReport(dir, {"--page", "odd/m-valid.json", "-o", "page.html"});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_TRUE(dir.exists("page.html"));
}

// Memory that runs out while a record is read (one near the size limit
// whose serial number is one long string, the address space held small)
// ends the command with one line and status 3, never an abort.
TEST(ReportFiles, MemoryThatRunsOutEndsWithOneLine) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit a small address space";
#endif
    TempStation dir(false);
    nlohmann::json j = nlohmann::json::parse(validRecord());
    j["board"] = {{"serialShown", std::string(15u << 20, '7')}};
    fs::create_directory(dir.file("runs"));
    dir.write("runs/result1.json", j.dump());
    Command c = runReport(dir, {"-o", "fleet.html", "runs"}, 60, 48L << 20);
    ASSERT_NE(c.status, -1) << "hung";
    EXPECT_EQ(c.status, 3) << c.err;
    EXPECT_EQ(c.err, "zorvantik-report: stopped: std::bad_alloc\n");
    EXPECT_FALSE(dir.exists("fleet.html"));
}

// What is wrong with a record's text, as the fleet and a run's page tell
// it, and how a name or a reason is shown on a line.
TEST(ReportFiles, SyntaxFaultsAndEscapes) {
    struct Fault {
        const char *text, *why; // the start of the reason
    };
    const Fault kFaults[] = {
        {"{\"schema\": 2} x", "trailing bytes after the record"},
        {"{\"schema\": 2}\n{\"schema\": 2}\n", "trailing bytes after the record"},
        {"[1, 2]]", "trailing bytes after the record"},
        {"{\"schema\": 2", "truncated: "},
        {"{\"schema\": ", "truncated: "},
        {"{\"schema\" 2}", "not JSON: "},
        {"result: passed", "not JSON: "},
    };
    for (const Fault &f : kFaults) {
        FleetRun run;
        std::string why;
        EXPECT_FALSE(readFleetRun(f.text, run, why)) << f.text;
        EXPECT_EQ(why.compare(0, std::strlen(f.why), f.why), 0) << f.text << " -> " << why;
    }
    EXPECT_FALSE(recordHasTrailingBytes("{\"a\": 1}\r\n\t "));
    EXPECT_FALSE(recordHasTrailingBytes("{\"a\": "));
    EXPECT_FALSE(recordHasTrailingBytes(""));
    std::string withNul("{}\0", 3);
    EXPECT_TRUE(recordHasTrailingBytes(withNul));
    // The parser stops at a NUL as at the end of the text: what follows is
    // still told.
    FleetRun run;
    std::string why;
    EXPECT_TRUE(readFleetRun(validRecord(), run, why)) << why;
    EXPECT_FALSE(readFleetRun(validRecord() + std::string("\0{\"x\": 1}", 10), run, why));
    EXPECT_EQ(why, "trailing bytes after the record");

    EXPECT_EQ(asciiEscape("runs/result1.json"), "runs/result1.json");
    EXPECT_EQ(asciiEscape("a\x1b[2J\x07\n\x7f\x80\xff\\b"), "a\\x1B[2J\\x07\\x0A\\x7F\\x80\\xFF\\x5Cb");
    EXPECT_EQ(asciiEscape(std::string("a\0b", 3)), "a\\x00b");
}

// A file larger than a record may be, or not regular, is refused before
// a byte of it is read; a record at the limit is read whole.
TEST(ReportFiles, ReadsOnlyRegularFilesWithinTheLimit) {
    TempStation dir(false);
    auto sized = [&](const char *name, long long size) {
        int fd = ::open(dir.file(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_EQ(ftruncate(fd, size), 0);
        ::close(fd);
    };
    sized("at.json", static_cast<long long>(kRecordFileLimit));
    sized("over.json", static_cast<long long>(kRecordFileLimit) + 1);
    std::string text, why;
    EXPECT_TRUE(readRecordFile(dir.file("at.json"), text, why)) << why;
    EXPECT_EQ(text.size(), kRecordFileLimit);
    EXPECT_FALSE(readRecordFile(dir.file("over.json"), text, why));
    EXPECT_EQ(why, "larger than a record may be (16777217 bytes, the limit is 16777216)");
    EXPECT_FALSE(readRecordFile(dir.file("missing.json"), text, why));
    EXPECT_EQ(why, "cannot be read (No such file or directory)");
    EXPECT_FALSE(readRecordFile("/dev/null", text, why));
    EXPECT_EQ(why, "not a regular file (a character device)");
}

} // namespace
