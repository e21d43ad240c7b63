// Record at the bench, replay at the desk: the program runs through the
// recorder (libqal-record) over this build's virtual board as a bench runs
// it over its adapter, and a board with `replay = FILE` answers a second
// run from the trace. The replayed run must show, log and record what the
// recorded one did, but for the figures of the host's clock.
#include "support/scenario.h"
#include "support/trace_edit.h"

#include "trace_format.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#if !defined(ZT_RECORDER_PATH) || !defined(ZT_REPLAY_PATH)
#error "ZT_RECORDER_PATH and ZT_REPLAY_PATH must name libqal-record and libqal-replay"
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
    // The replay library in the board library's place, as a desk without
    // the virtual board links it; "" puts the virtual board back.
    void useReplayLibrary(const std::string &ini) {
        if (!ini.empty()) {
            fs::create_directories(station_.file("lib"));
            fs::create_symlink(ZT_REPLAY_PATH, station_.file("lib/" + fs::path(ZT_QAL_PATH).filename().string()));
            station_.write("qal-replay.ini", ini);
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
    traceedit::File f = traceedit::parse(station_.read("run.qtr"));
    f.records.resize(f.records.size() / 2);
    f.tail = "C\x7F"; // a call whose body never came
    station_.write("run.qtr", traceedit::build(f));
    RunResult cut = replay(cfg);
    EXPECT_EQ(count(cut.err, "\n"), 1u) << cut.err;
    EXPECT_NE(cut.err.find(", the trace holds no more calls (it ends at its call "), std::string::npos) << cut.err;
    EXPECT_NE(cut.err.find(", cut short); the board answers no more calls\n"), std::string::npos) << cut.err;
}

// The replay library in the board library's place: the faulty board's
// recorded run again, to the byte, with no virtual board under it (its
// board file says nothing of the faults); a board the trace never opened
// is no board, told as the virtual board tells it; a qal-replay.ini it cannot use is told in one line.
TEST_F(Replay, ReplayLibraryIsAnAdapterOfItsOwn) {
    const std::string cfg = station_.read("check1.cfg");
    Seen bench = seen(record(cfg, kFaultyBoard));
    useReplayLibrary("[replay]\ntrace = run.qtr\ntiming = fast\n");
    Seen desk = seen(runStation(cfg, ""));
    RunResult other = runStation(cfg, "", "", {"-B2", "-V"});
    useReplayLibrary("");
    expectSame(bench, desk);
    EXPECT_EQ(desk.err, "");
    EXPECT_EQ(desk.origin, "replay");
    EXPECT_NE(other.err.find("QAL_init(0, 0) = 0\nrun.qtr: holds no QAL_open(2)\nQAL_open(2, 0, 0) = 0\n"),
              std::string::npos)
        << other.err;

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[replay]\n", "qal-replay.ini: no 'trace' in [replay]\n"},
        {"[replay]\ntrace = run.qtr\ntiming = slow\n",
         "qal-replay.ini:3: timing 'slow' is neither 'fast' nor 'recorded'\n"},
        {"[replay]\ntrace = run.qtr\nboard = 1\n", "qal-replay.ini:3: unknown key 'board' in [replay]\n"},
        {"[record]\ntrace = run.qtr\n", "qal-replay.ini:1: unknown section [record]\n"},
        {"[replay]\ntrace = none.qtr\n", "none.qtr: cannot be read (No such file or directory)\n"},
    };
    for (const auto &c : cases) {
        useReplayLibrary(c.first);
        RunResult r = runStation(cfg, "");
        useReplayLibrary("");
        EXPECT_EQ(r.err, c.second) << c.first;
        EXPECT_NE(r.status, 0) << c.first;
    }
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
// line on stderr; the program then makes its own fatal stop. A FIFO, as
// the trace to write or to read, is refused at once, never waited on.
TEST_F(Replay, BadRecorderFilesAndBadTracesAreToldInOneLine) {
    struct Case {
        std::string recordIni; // empty: no qal-record.ini, the run replays instead
        std::string trace;     // the replayed file's bytes; "-": none
        std::string err;
        std::string fifo = ""; // a FIFO made in the station first
    };
    const std::string header = std::string("QALTRACE\1\0\0\0 \0\0\0", 16) + std::string(16, '\0');
    traceedit::File empty = traceedit::parse(header);
    const std::string header2 = traceedit::build(empty, 2);
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
        {"", std::string(header).replace(8, 1, "\3"),
         "run.qtr: trace format version 3, this library reads versions 1 and 2\n"},
        {"", header, "run.qtr: holds no QAL_open(1)\n"},
        {"[record]\nadapter = " ZT_QAL_PATH "\ntrace = /dev/full\n", "",
         "qal-record.ini: trace '/dev/full' is not a regular file\n"},
        {"[record]\nadapter = " ZT_QAL_PATH "\ntrace = lib\n", "", "qal-record.ini: trace 'lib' is not a regular file\n"},
        {"[record]\nadapter = " ZT_QAL_PATH "\ntrace = t.fifo\n", "",
         "qal-record.ini: trace 't.fifo' is not a regular file\n", "t.fifo"},
        {"", "-", "run.qtr: not a regular file\n", "run.qtr"},
        {"", header2.substr(0, 34), "run.qtr: header cut short (34 of 36 bytes)\n"},
        {"", std::string(header2).replace(20, 1, "\1"), "run.qtr: header damaged (its checksum does not match)\n"},
        {"", header2, "run.qtr: holds no QAL_open(1)\n"},
    };
    for (const Case &c : cases) {
        station_.remove("run.qtr");
        if (c.trace != "-")
            station_.write("run.qtr", c.trace);
        if (!c.fifo.empty()) {
            ASSERT_EQ(mkfifo(station_.file(c.fifo).c_str(), 0600), 0) << std::strerror(errno);
        }
        if (!c.recordIni.empty())
            useRecorder(true, c.recordIni);
        if (c.recordIni == "-")
            station_.remove("qal-record.ini");
        RunResult r = runStation(station_.read("check1.cfg"), c.recordIni.empty() ? "replay = run.qtr\n" : "");
        useRecorder(false);
        if (!c.fifo.empty())
            station_.remove(c.fifo);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, 255) << c.err;
    }
}

struct Listing {
    int status;
    std::string out, err;
};

namespace te = traceedit;

// "record N at byte B is refused: why", of record `index` as last built.
std::string refusal(const te::File &f, int index, const std::string &why) {
    return "record " + std::to_string(index + 1) + " at byte " + std::to_string(f.records[size_t(index)].offset) +
           " is refused: " + why;
}

void setBytes(te::Buffer &b, const std::string &bytes) {
    b.payload = bytes;
    b.size = bytes.size();
}

// A blob record of `bytes` bytes of one word, as the recorder codes it.
te::Record constantBlob(uint32_t value, uint64_t bytes, uint64_t *digest) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i + 4 <= bytes; i += 4)
        std::memcpy(&data[i], &value, 4);
    *digest = qtrace::digest(data.data(), data.size());
    return te::Record{qtrace::kRecordBlob, te::blobBody(*digest, bytes, 1, te::constantRuns(value, bytes / 4))};
}

class ReplayCrafted : public Replay {
protected:
    // qal-trace of the station's run.qtr, in the station; unless in a
    // sanitizer's build (which maps terabytes), within 256 MB of memory.
    Listing qalTrace() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        std::string limit;
#else
        std::string limit = "ulimit -v 262144; ";
#endif
        std::string command = "cd '" + station_.path() + "' && " + limit + "'" ZT_QAL_TRACE_PATH
                              "' run.qtr >listing.txt 2>listing.err";
        int status = std::system(("/bin/sh -c \"" + command + "\"").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), station_.read("listing.txt"),
                station_.read("listing.err")};
    }
};

// Traces crafted from a recorded run of the stream test, each as a bench
// never writes it, through both readers: qal-trace lists the calls before
// the record it refuses and names that record in one line on stderr
// (exit status 1); the replay answers the calls before it and then tells
// the same refusal in its one line and fails the board's calls; a cut
// record is the trace's end for both; a program name with terminal
// commands in it is shown escaped. A version 1 trace is held to the same
// bounds.
TEST_F(ReplayCrafted, TracesThatBreakABoundAreRefusedInOneLineByBothReaders) {
    const std::string stream = selecting({"HSTREAM"});
    RunResult recorded = record(stream, "");
    ASSERT_EQ(recorded.err, "");
    const std::string base = station_.read("run.qtr");
    ASSERT_EQ(te::parse(base).version, 2u);
    const std::string links = selecting({"INTLINKS"});
    std::ifstream storedFile(ZT_TRACE_DIR "/link-fault.qtr", std::ios::binary);
    const std::string stored((std::istreambuf_iterator<char>(storedFile)), std::istreambuf_iterator<char>());

    auto isCall = [](std::uint32_t function, std::function<bool(te::Call &)> pick = nullptr) {
        return [=](const te::File &f, int n = 0) {
            return te::findCall(f, function, [&](const te::Call &c) {
                te::Call copy = c;
                return !pick || pick(copy);
            }, n);
        };
    };
    auto setUp = isCall(qtrace::fCtrl, [](te::Call &c) { return c.args[2] == 0xE00; });
    auto withBlock = isCall(qtrace::fCtrl, [](te::Call &c) { return c.args[2] == 0xE05 && c.find(7, true); });
    auto edit = [](te::File &f, int index, const std::function<void(te::Call &)> &change) {
        te::Call c = te::decodeCall(f.records[size_t(index)].body);
        change(c);
        f.records[size_t(index)].body = te::encodeCall(c);
    };
    const std::string escaped = "\\x1B[2Jstrm.ldr";

    enum Kind { Refused, Cut, Escaped };
    struct Case {
        const char *name;
        // Bends the trace; returns the index of the record refused (Refused)
        // or the number of calls before the cut (Cut).
        std::function<int(te::File &)> craft;
        std::string why;
        Kind kind = Refused;
        bool v1 = false;
        bool flip = false; // a bit of the record's last byte flipped once it is sealed
    };
    const std::vector<Case> cases = {
        {"the set-up's blocks smaller than the bytes recorded of one",
         [&](te::File &f) {
             edit(f, setUp(f), [](te::Call &c) { c.find(3, true)->payload.replace(12, 4, std::string("\4\0\0\0", 4)); });
             return withBlock(f);
         },
         "QAL_ctrl's output of the stream block of 64 bytes, where the set-up's blocks hold 4"},
        {"a stream block of 20 MB",
         [&](te::File &f) {
             int at = withBlock(f);
             std::uint64_t digest;
             f.records.insert(f.records.begin() + at, constantBlob(7, 20u << 20, &digest));
             edit(f, at + 1, [&](te::Call &c) {
                 te::Buffer *b = c.find(7, true);
                 b->flags = 3;
                 b->size = 20u << 20;
                 b->payload = std::string(reinterpret_cast<const char *>(&digest), 8);
             });
             return at;
         },
         "a blob of 20971520 bytes, beyond the limit of 16777216"},
        {"a stream block of 1 MB, within the limits of a blob",
         [&](te::File &f) {
             int at = withBlock(f);
             std::uint64_t digest;
             f.records.insert(f.records.begin() + at, constantBlob(7, 1u << 20, &digest));
             edit(f, at + 1, [&](te::Call &c) {
                 te::Buffer *b = c.find(7, true);
                 b->flags = 3;
                 b->size = 1u << 20;
                 b->payload = std::string(reinterpret_cast<const char *>(&digest), 8);
             });
             return at + 1;
         },
         "QAL_ctrl's output of the stream block of 1048576 bytes, where the program's buffer holds 64"},
        {"an output longer than the program's buffer",
         [&](te::File &f) {
             int at = isCall(qtrace::fServiceList, [](te::Call &c) { return c.args[3] == 0; })(f);
             edit(f, at, [](te::Call &c) { setBytes(*c.find(2, true), std::string(20, 'S')); });
             return at;
         },
         "QAL_serviceList's output 'list' of 20 bytes, where the program's buffer holds 0"},
        {"a blob larger than its data",
         [&](te::File &f) {
             int at = 0;
             while (f.records[size_t(at)].type != qtrace::kRecordBlob)
                 ++at;
             f.records[size_t(at)].body = te::blobBody(1, 5000, 0, std::string(30, 'z'));
             return at;
         },
         "a blob of 5000 bytes with 30 bytes of data"},
        {"a blob bomb: some 30 bytes that claim 1 GB",
         [&](te::File &f) {
             for (int i = 0; i < 6; ++i)
                 f.records.insert(f.records.begin(),
                                  te::Record{qtrace::kRecordBlob,
                                             te::blobBody(std::uint64_t(i), 1u << 30, 1, te::constantRuns(0, 1u << 28))});
             return 0;
         },
         "a blob of 1073741824 bytes, beyond the limit of 16777216"},
        {"a flipped bit", [&](te::File &f) { return int(f.records.size() / 2); }, "its checksum does not match",
         Refused, false, true},
        {"a cut record",
         [&](te::File &f) {
             size_t keep = f.records.size() / 2;
             f.tail = te::frame(f.records[keep]).substr(0, 3);
             f.records.resize(keep);
             int calls = 0;
             for (const te::Record &r : f.records)
                 calls += r.type == qtrace::kRecordCall;
             return calls;
         },
         "", Cut},
        {"a program name with terminal commands",
         [&](te::File &f) {
             int at = isCall(qtrace::fLoad, [](te::Call &c) {
                 te::Buffer *name = c.find(2, false);
                 return name && name->payload == std::string("tst_strm.ldr\0", 13);
             })(f);
             edit(f, at, [](te::Call &c) { c.find(2, false)->payload = std::string("\x1b[2Jstrm.ldr\0", 13); });
             return at;
         },
         "", Escaped},
        {"a version 1 trace with a blob bomb",
         [&](te::File &f) {
             f.records.insert(f.records.begin() + 2,
                              te::Record{qtrace::kRecordBlob, te::blobBody(9, 1u << 30, 1, te::constantRuns(0, 1u << 28))});
             return 2;
         },
         "a blob of 1073741824 bytes, beyond the limit of 16777216", Refused, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        te::File f = te::parse(c.v1 ? stored : base);
        int at = c.craft(f);
        ASSERT_GE(at, 0);
        std::string bytes = te::build(f);
        if (c.flip) {
            size_t last = f.records[size_t(at)].offset + te::frame(f.records[size_t(at)]).size() - 1;
            bytes[last] = char(bytes[last] ^ 0x04);
        }
        station_.write("run.qtr", bytes);
        Listing listing = qalTrace();
        RunResult replayed = replay(c.v1 ? links : stream);
        EXPECT_EQ(count(replayed.err, "\n"), 1u) << replayed.err;
        EXPECT_EQ(replayed.err.find('\x1b'), std::string::npos);
        EXPECT_EQ(listing.out.find('\x1b'), std::string::npos);
        if (c.kind == Refused) {
            std::string told = refusal(f, at, c.why);
            EXPECT_EQ(listing.status, 1);
            EXPECT_EQ(listing.err, "run.qtr: " + told + "\n");
            // A refusal before the board's QAL_open fails the open; after
            // it, the board answers the calls before it.
            if (replayed.err.rfind("run.qtr: board 1 call ", 0) == 0)
                EXPECT_TRUE(endsWith(replayed.err, ", the trace's " + told + "; the board answers no more calls\n"))
                    << replayed.err;
            else
                EXPECT_EQ(replayed.err, "run.qtr: " + told + "\n");
        } else if (c.kind == Cut) {
            std::string calls = std::to_string(at);
            EXPECT_EQ(listing.status, 0);
            EXPECT_EQ(listing.err, "");
            EXPECT_TRUE(endsWith(listing.out, "# the trace is cut short after call " + calls + "\n")) << listing.err;
            EXPECT_TRUE(endsWith(replayed.err, "(it ends at its call " + calls +
                                                   ", cut short); the board answers no more calls\n"))
                << replayed.err;
        } else {
            EXPECT_EQ(listing.status, 0);
            EXPECT_NE(listing.out.find("QAL_load(1, 0, \"" + escaped + "\", 0, NULL) = 0\n"), std::string::npos);
            EXPECT_NE(replayed.err.find(", the trace holds QAL_load(1, 0, \"" + escaped + "\", 0, NULL) = 0 (its call "),
                      std::string::npos)
                << replayed.err;
        }
    }
}

// A trace onto a 1 MB file system that fills: the run goes on as it
// would (the program sees nothing), the first write that fails is told
// with the call the trace ends before, the close of the board tells that
// the trace is incomplete, and the trace reads up to that call.
TEST_F(Replay, RecorderTellsAWriteThatFailsAndThatTheTraceIsIncomplete) {
    fs::create_directories(station_.file("full"));
    if (mount("zt-full", station_.file("full").c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "no tmpfs may be mounted here: " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{station_.file("full")};

    useRecorder(true, "[record]\nadapter = " ZT_QAL_PATH "\ntrace = full/run.qtr\n");
    RunResult r = runStation(station_.read("check1.cfg"), "");
    useRecorder(false);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(consoleHas("ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО")) << console_;

    const std::string head = "qal-record.ini: trace 'full/run.qtr' cannot be written (No space left on device); it "
                             "ends before call ";
    ASSERT_EQ(count(r.err, "\n"), 2u) << r.err;
    ASSERT_EQ(r.err.rfind(head, 0), 0u) << r.err;
    unsigned long before = std::stoul(r.err.substr(head.size()));
    std::string second = r.err.substr(r.err.find('\n') + 1);
    const std::string incomplete = "qal-record.ini: trace 'full/run.qtr' is incomplete: it holds " +
                                   std::to_string(before - 1) + " of the ";
    ASSERT_EQ(second.rfind(incomplete, 0), 0u) << second;
    unsigned long made = std::stoul(second.substr(incomplete.size()));
    EXPECT_TRUE(endsWith(second, " calls made\n")) << second;
    EXPECT_GT(made, before + 1000) << second;

    qtrace::Trace trace;
    std::string error;
    ASSERT_TRUE(qtrace::readTrace(station_.file("full/run.qtr"), trace, error)) << error;
    EXPECT_EQ(trace.refused, "");
    EXPECT_EQ(trace.calls.size(), before - 1);
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
    EXPECT_EQ(listing.rfind("# " + station_.file("run.qtr") + ": board trace version 1, unchecked (no checksums), ", 0),
              0u)
        << listing;
    EXPECT_NE(listing.find(" t0 "), std::string::npos) << listing;
    EXPECT_NE(listing.find("QAL_open(1, 0, 0) = 1\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("QAL_cleanup() = 0\n"), std::string::npos) << listing;
}

} // namespace
