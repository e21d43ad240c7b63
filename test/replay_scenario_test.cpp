// Record at the bench, replay at the desk: the program runs through the
// recorder (libqal-record) over this build's virtual board as a bench runs
// it over its adapter, and a board with `replay = FILE` answers a second
// run from the trace. The replayed run must show, log and record what the
// recorded one did, but for the figures of the host's clock.
#include "support/scenario.h"

#include "trace_format.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifndef ZT_RECORDER_PATH
#error "ZT_RECORDER_PATH must name libqal-record"
#endif

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// The run as far as the host's clock does not make it: rates, times and
// dates masked, the stream's status lines kept apart.
struct Seen {
    int status;
    std::string console, screen, protocol, json, xml, err;
    std::vector<std::string> statusLines;
    std::string origin; // where the record says the answers came from; not compared
};

// The run's own identity and origin taken out of the JUnit properties.
std::string maskRunProperties(std::string xml) {
    for (const char *name : {"runId", "origin"}) {
        std::size_t at = xml.find(std::string("<property name=\"") + name + "\"");
        if (at != std::string::npos)
            xml.erase(at, xml.find('\n', at) + 1 - at);
    }
    return xml;
}

// The log's date and start time (its first lines) cut off.
std::string afterStart(const std::string &log) {
    const std::string time = "Текущее время: ";
    std::size_t at = log.find(time);
    return at == std::string::npos ? log : log.substr(at + time.size() + 8);
}

// Every value of `attribute="..."` blanked.
std::string maskAttribute(std::string xml, const std::string &attribute) {
    const std::string key = " " + attribute + "=\"";
    for (std::size_t at = xml.find(key); at != std::string::npos; at = xml.find(key, at + 1)) {
        std::size_t end = xml.find('"', at + key.size());
        xml.erase(at + key.size(), end - at - key.size());
    }
    return xml;
}

void maskJson(Json &j) {
    if (j.is_object()) {
        for (const char *key : {"start", "end", "durationMs"})
            j.erase(key);
        if (j.contains("unit") && j["unit"] == "MB/s") {
            j.erase("value");
            j.erase("shown");
        }
    }
    if (j.is_structured())
        for (Json &item : j)
            maskJson(item);
}

std::vector<std::string> statusLines(const std::string &console) {
    std::vector<std::string> lines;
    const std::string status = "\rСостояние: ", tail = "               ";
    for (std::size_t at = console.find(status); at != std::string::npos; at = console.find(status, at + 1))
        lines.push_back(console.substr(at, console.find(tail, at) - at));
    return lines;
}

// The rates of a run's speed lines, in order.
std::vector<double> rates(const std::string &console) {
    std::vector<double> found;
    for (std::size_t at = console.find(" MB/c"); at != std::string::npos; at = console.find(" MB/c", at + 1)) {
        std::size_t start = console.rfind(' ', at - 1);
        found.push_back(std::atof(console.substr(start + 1, at - start - 1).c_str()));
    }
    return found;
}

class Replay : public ScenarioTest {
protected:
    // The program's board library, by the name the program asks for, is
    // the recorder; the recorder's adapter is this build's virtual board.
    void useRecorder(bool on, const std::string &ini = "[record]\nadapter = " ZT_QAL_PATH "\ntrace = run.qtr\n") {
        if (on) {
            fs::create_directories(station_.file("lib"));
            fs::create_symlink(ZT_RECORDER_PATH, station_.file("lib/" + fs::path(ZT_QAL_PATH).filename().string()));
            station_.write("qal-record.ini", ini);
            setenv("LD_LIBRARY_PATH", station_.file("lib").c_str(), 1);
        } else {
            unsetenv("LD_LIBRARY_PATH");
            fs::remove_all(station_.file("lib"));
        }
    }
    RunResult record(const std::string &cfg, const std::string &board, const std::string &keys = "") {
        useRecorder(true);
        RunResult r = runStation(cfg, board, keys);
        useRecorder(false);
        return r;
    }
    RunResult replay(const std::string &cfg, const std::string &timing = "fast") {
        return runStation(cfg, "replay = run.qtr\nreplay_timing = " + timing + "\n");
    }
    Seen seen(const RunResult &r) {
        Json json = Json::parse(station_.read("result1.json"), nullptr, false);
        std::string origin = json.value("origin", "");
        json.erase("runId");
        json.erase("origin");
        maskJson(json);
        std::string xml = maskRunProperties(
            maskAttribute(maskAttribute(station_.read("result1.xml"), "time"), "timestamp"));
        return {r.status,
                maskVariable(console_),
                maskVariable(afterStart(screen_)),
                maskVariable(afterStart(protocol_)),
                json.dump(1),
                maskVariable(xml),
                r.err,
                statusLines(console_),
                origin};
    }
    static void expectSame(const Seen &a, const Seen &b) {
        EXPECT_EQ(a.status, b.status);
        EXPECT_EQ(a.console, b.console);
        EXPECT_EQ(a.screen, b.screen);
        EXPECT_EQ(a.protocol, b.protocol);
        EXPECT_EQ(a.json, b.json);
        EXPECT_EQ(a.xml, b.xml);
        ASSERT_EQ(a.statusLines.size(), b.statusLines.size());
        for (std::size_t i = 0; i < a.statusLines.size(); ++i)
            ASSERT_EQ(a.statusLines[i], b.statusLines[i]) << "status line " << i;
    }
};

const std::string kFaultyBoard = "ram_stuck_bit = P1:0x80003:0:1\n"
                                 "link_fault = P2.2:stuck:5:1\n"
                                 "dsp_silent = P3:cfft:1\n";

// A whole station on a faulty board, recorded and replayed: the same
// console, logs and record, the stream's status lines to the byte; then
// the same trace under another selection is told at its first other call
// and the run still ends; and a trace cut short ends where it was cut.
TEST_F(Replay, FaultyBoardRoundTripDivergenceAndCut) {
    const std::string cfg = station_.read("check1.cfg");
    RunResult recorded = record(cfg, kFaultyBoard);
    EXPECT_EQ(recorded.err, "");
    Seen bench = seen(recorded);
    ASSERT_GT(bench.statusLines.size(), 100u);
    EXPECT_NE(bench.console.find("ЗАВЕРШЕНО С ОШИБКАМИ"), std::string::npos) << bench.console;

    Seen desk = seen(replay(cfg));
    expectSame(bench, desk);
    EXPECT_EQ(desk.err, "");
    // The recorder says what the library under it is; the replay says so too.
    EXPECT_EQ(bench.origin, "virtual");
    EXPECT_EQ(desk.origin, "replay");

    // Another selection: the interrupt test first, where the trace has the
    // exchange test.
    std::string other = selecting({"INTERRUPTS", "HOST"});
    RunResult diverged = replay(other);
    EXPECT_EQ(count(diverged.err, "\n"), 1u) << diverged.err;
    EXPECT_EQ(diverged.err.rfind("run.qtr: board 1 call ", 0), 0u) << diverged.err;
    EXPECT_NE(diverged.err.find(", the trace holds QAL_"), std::string::npos) << diverged.err;
    EXPECT_TRUE(endsWith(diverged.err, "); the board answers no more calls\n")) << diverged.err;

    // Cut in the middle of a record, as a crash leaves it: the calls
    // before it replay, the next one is past the end.
    fs::resize_file(station_.file("run.qtr"), fs::file_size(station_.file("run.qtr")) / 2);
    station_.write("run.qtr", station_.read("run.qtr") + "C\x7F"); // a call whose body never came
    RunResult cut = replay(cfg);
    EXPECT_EQ(count(cut.err, "\n"), 1u) << cut.err;
    EXPECT_NE(cut.err.find(", the trace holds no more calls (it ends at its call "), std::string::npos) << cut.err;
    EXPECT_NE(cut.err.find(", cut short); the board answers no more calls\n"), std::string::npos) << cut.err;
}

// The speed tests on a paced board: replayed at once their rates are
// another story, replayed with the recorded timing they come back close
// (the shortest take a tenth of a second, where a busy host's few
// milliseconds count, so the bounds are wide).
TEST_F(Replay, RecordedTimingGivesTheRecordedSpeedsAgain) {
    if (testTimeScale() > 1)
        GTEST_SKIP() << "a sanitizer's slowness is in the recorded speeds but not in the replayed ones";
    const std::string cfg = selecting({"HOST"});
    record(cfg, "host_port_mbps = 40\ndpram_mbps = 40\nfifo_bus_mbps = 40\nfifo_link_mbps = 40\nmessages_mbps = 40\n");
    std::vector<double> bench = rates(console_);
    ASSERT_EQ(bench.size(), 10u) << console_;
    replay(cfg, "recorded");
    std::vector<double> desk = rates(console_);
    ASSERT_EQ(desk.size(), bench.size()) << console_;
    for (std::size_t i = 0; i < bench.size(); ++i) {
        // Never much faster than recorded (fast replay is ten times and
        // more); slower only as far as a busy host makes it.
        EXPECT_LT(desk[i], bench[i] * 1.35) << "rate " << i;
        EXPECT_GT(desk[i], bench[i] * 0.4) << "rate " << i;
    }
}

// Ctrl-C during the stream test at the bench: the trace reads whole up to
// the interrupt thread's close, on a thread of its own. Replayed with no
// break, the run goes on past the trace's end, which is told, and ends.
TEST_F(Replay, BreakIsRecordedOnTheInterruptThread) {
    station_.write("check1.cfg", selecting({"HSTREAM"}));
    station_.write("virtual-board.ini", "[board 1]\nstream_mbps = 64\n");
    useRecorder(true);
    Process program(station_.path(), {});
    bool streaming = program.waitForOutput(toCp866("Состояние: "));
    useRecorder(false); // the program has its library by now
    ASSERT_TRUE(streaming);
    program.signal(SIGINT);
    EXPECT_EQ(program.finish(20, false).status, 255);
    qtrace::Trace trace;
    std::string error;
    ASSERT_TRUE(qtrace::readTrace(station_.file("run.qtr"), trace, error)) << error;
    EXPECT_FALSE(trace.cut);
    bool closedOnT1 = false;
    for (const qtrace::Call &c : trace.calls)
        closedOnT1 = closedOnT1 || (c.thread == 1 && c.function == qtrace::fClose);
    EXPECT_TRUE(closedOnT1);

    RunResult replayed = replay(selecting({"HSTREAM"}));
    EXPECT_EQ(count(replayed.err, "\n"), 1u) << replayed.err;
    EXPECT_NE(replayed.err.find("; the board answers no more calls\n"), std::string::npos) << replayed.err;
}

// What fails QAL_init (the recorder) or QAL_open (the replay) with one
// line on stderr; the program then makes its own fatal stop.
TEST_F(Replay, BadRecorderFilesAndBadTracesAreToldInOneLine) {
    struct Case {
        std::string recordIni; // empty: no qal-record.ini, the run replays instead
        std::string trace;     // the replayed file's bytes; "-": none
        std::string err;
    };
    const std::string header = std::string("QALTRACE\1\0\0\0 \0\0\0", 16) + std::string(16, '\0');
    const std::vector<Case> cases = {
        {"-", "", "qal-record.ini: not found in the current directory\n"},
        {"[record]\nadaptor = x.so\n", "", "qal-record.ini:2: unknown key 'adaptor' in [record]\n"},
        {"[record]\ntrace = t.qtr\n", "", "qal-record.ini: no 'adapter' in [record]\n"},
        {"[record]\nadapter = ./none.so\ntrace = t.qtr\n", "",
         "qal-record.ini: adapter './none.so' cannot be loaded (./none.so: cannot open shared object file: No such "
         "file or directory)\n"},
        {"[record]\nadapter = libm.so.6\ntrace = t.qtr\n", "", "qal-record.ini: adapter 'libm.so.6' lacks QAL_init\n"},
        {"", "-", "run.qtr: cannot be read (No such file or directory)\n"},
        {"", "garbage, not a trace", "run.qtr: not a board trace\n"},
        {"", header.substr(0, 20), "run.qtr: header cut short (20 of 32 bytes)\n"},
        {"", std::string(header).replace(8, 1, "\2"),
         "run.qtr: trace format version 2, this library reads version 1\n"},
        {"", header, "run.qtr: holds no QAL_open(1)\n"},
    };
    for (const Case &c : cases) {
        station_.remove("run.qtr");
        if (c.trace != "-")
            station_.write("run.qtr", c.trace);
        if (!c.recordIni.empty())
            useRecorder(true, c.recordIni);
        if (c.recordIni == "-")
            station_.remove("qal-record.ini");
        RunResult r = runStation(station_.read("check1.cfg"), c.recordIni.empty() ? "replay = run.qtr\n" : "");
        useRecorder(false);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, 255) << c.err;
    }
}

// The stored trace of a faulty board (test/traces/, recorded with this
// selection) replays to the same verdict and findings in every run of
// the suite, and qal-trace reads it.
TEST_F(Replay, StoredTraceOfAFaultyBoardReplays) {
    fs::copy_file(ZT_TRACE_DIR "/link-fault.qtr", station_.file("run.qtr"));
    RunResult r = replay(selecting({"INTLINKS"}));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(endsWith(console_, "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 50 ")) << console_;
    EXPECT_TRUE(logsHave("ОШИБКАМИ: 50 ОШИБОК")) << protocol_;

    std::string text = station_.file("trace.txt");
    ASSERT_EQ(std::system((ZT_QAL_TRACE_PATH " " + station_.file("run.qtr") + " > " + text).c_str()), 0);
    std::string listing = station_.read("trace.txt");
    EXPECT_NE(listing.find(" t0 "), std::string::npos) << listing;
    EXPECT_NE(listing.find("QAL_open(1, 0, 0) = 1\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("QAL_cleanup() = 0\n"), std::string::npos) << listing;
}

} // namespace
