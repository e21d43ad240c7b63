// The operator's break (Ctrl-C, or a signal that ends the run as it does)
// at any moment of a run: the process ends with 255 and nothing else, no
// console byte follows the break, and the result record lands in the
// station whatever directory a test was in. A soak run (-C) keeps its
// record and its memory flat however many passes it makes.
#include "support/scenario.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <fstream>
#include <random>
#include <thread>

namespace {

const std::string kSuccess = "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++";

nlohmann::json record(const TempStation &station) {
    return nlohmann::json::parse(station.read("result1.json"), nullptr, false);
}

// Resident memory of a running process, in KB (0 when unknown).
long residentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmRSS:") == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

class Break : public ScenarioTest {
protected:
    // The run as the break left it: every outcome but a complete one must
    // be the break's, and the record lies in the station, never beside
    // the programs.
    void expectBrokenOff(const RunResult &r, const std::string &when) {
        EXPECT_EQ(r.status, 255) << when;
        EXPECT_EQ(record(station_)["outcome"], "interrupted") << when;
        EXPECT_FALSE(station_.exists("dsp_app/result1.json")) << when;
        EXPECT_FALSE(station_.exists("dsp_app/result1.xml")) << when;
        EXPECT_EQ(logText(station_.read("protoc1.log")).find(kSuccess), std::string::npos) << when;
    }
};

// An unattended run on an unpaced board (stdin at its end) broken off at
// moments spread over its whole length. A break that comes after the
// verdict finds a complete run; any other ends it with 255.
TEST_F(Break, AtAnyMomentOfAnUnattendedRunEndsWith255) {
    station_.remove("virtual-board.ini");
    auto started = std::chrono::steady_clock::now();
    RunResult whole = runProgram(station_.path(), {});
    ASSERT_EQ(whole.status, 0);
    double length = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const int kBreaks = testTimeScale() > 1 ? 8 : 16;
    int broken = 0;
    for (int i = 0; i < kBreaks; ++i) {
        station_.remove("result1.json");
        double delay = length * i / kBreaks;
        Process program(station_.path(), {});
        program.closeInput();
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        program.signal(SIGINT);
        RunResult r = program.finish(30, false);
        std::string when = "break " + std::to_string(i) + " after " + std::to_string(delay) + " s";
        if (r.status == 128 + SIGINT && !station_.exists("result1.json"))
            continue; // before the handler: the signal's own end
        if (r.status == 0 && record(station_)["outcome"] == "passed" && endsWith(r.out, toCp866(kSuccess)))
            continue; // the run was over before the break
        expectBrokenOff(r, when);
        ++broken;
    }
    EXPECT_GE(broken, kBreaks / 2) << "too few breaks came while the run went on";
}

// Breaks in the middle of each kind of wait a run has, on a board slow
// enough that each lasts: board calls, the stream's status lines, the
// link rows, the host's unlimited wait for the memory tests' messages,
// the cluster's counters, a key prompt with stdin left open, and a
// program load (the test is inside the program directory then). No
// console byte follows the break.
TEST_F(Break, InTheMiddleOfEachWaitEndsCleanly) {
    struct Moment {
        const char *name, *keys, *board, *shown; // shown: what the console has shown when the break comes
        bool lastOnConsole;                      // nothing may follow `shown`
    };
    const Moment kMoments[] = {
        {"host exchange", "HOST", "host_port_mbps = 4\n", "1. ОБМЕН СЛОВАМИ (HOST-port)", false},
        {"stream status lines", "HSTREAM", "stream_mbps = 16\n", "Состояние: ", false},
        {"link rows", "INTLINKS", "link_fault = P2.2:dead\n", " <---> ", false},
        {"memory test's wait", "SDRAM", "sdram_chip_size = 0x1000000\n", " Тест динамической памяти", false},
        {"cluster counters", "CLASTER", "messages_mbps = 1\nhost_port_mbps = 1\n", "P2-", false},
        {"cable prompt", "EXTLINKS", "", "\nи нажмите любую клавишу . . .", true},
        {"pattern test's key prompt", "HOST", "ram_stuck_bit = P1:0x0-0xFFFFFFF:3:1\n", "( <ESC> - пропуск теста)",
         true},
        {"program load", "INTLINKS", "load_ms = 4000\n", "линк 1 <---> ", false},
    };
    for (const Moment &m : kMoments) {
        station_.write("check1.cfg", selecting({m.keys}));
        station_.write("virtual-board.ini", std::string("[board 1]\n") + m.board);
        station_.remove("result1.json");
        Process program(station_.path(), {}); // stdin stays open: key waits wait
        ASSERT_TRUE(program.waitForOutput(toCp866(m.shown), 60)) << m.name;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        program.signal(SIGINT);
        RunResult r = program.finish(30, false);
        expectBrokenOff(r, m.name);
        if (m.lastOnConsole) {
            EXPECT_TRUE(endsWith(r.out, toCp866(m.shown))) << m.name << ": the console went on after the break";
        }
    }
}

// -C on an unpaced board: the exchange test repeats until the break. The
// record holds one step for all passes, and neither its size nor the
// process's memory grows with the number of passes.
TEST_F(Break, SoakRunStaysFlat) {
    station_.remove("virtual-board.ini");
    station_.write("check1.cfg", selecting({"HOST"}));
    const std::string pass = toCp866("4. ТЕСТЫ СКОРОСТИ ОБМЕНА");
    struct Soak {
        int passes;
        long firstKb, lastKb;
        std::size_t recordBytes;
        nlohmann::json host;
    };
    auto soak = [&](int passes) {
        Soak s{passes, 0, 0, 0, {}};
        Process program(station_.path(), {"-C"});
        program.closeInput();
        EXPECT_TRUE(program.waitForOutput(pass, 120, 3));
        s.firstKb = residentKb(program.pid());
        EXPECT_TRUE(program.waitForOutput(pass, 600, passes));
        s.lastKb = residentKb(program.pid());
        program.signal(SIGINT);
        EXPECT_EQ(program.finish(30, false).status, 255);
        std::string text = station_.read("result1.json");
        s.recordBytes = text.size();
        auto j = nlohmann::json::parse(text, nullptr, false);
        EXPECT_EQ(j["schema"], 3);
        int hostSteps = 0;
        for (const auto &step : j["steps"])
            hostSteps += step["key"] == "HOST";
        EXPECT_EQ(hostSteps, 1) << "a step per pass";
        s.host = j["steps"][2];
        return s;
    };
    // A sanitizer build runs several times slower: fewer passes still tell.
    bool slow = testTimeScale() > 1;
    Soak few = soak(slow ? 5 : 10), many = soak(slow ? 30 : 80);
    for (const Soak &s : {few, many}) {
        EXPECT_EQ(s.host["key"], "HOST");
        EXPECT_GE(s.host["passes"]["count"].get<int>(), s.passes);
        EXPECT_EQ(s.host["passes"]["measurements"].size(), 10u);
        for (const auto &m : s.host["passes"]["measurements"]) {
            EXPECT_LE(m["count"].get<int>(), s.host["passes"]["count"].get<int>()) << m["name"];
            if (m["count"] == 0)
                continue; // never a finite figure: every rate over no measurable time
            EXPECT_LE(m["min"].get<double>(), m["median"].get<double>()) << m["name"];
            EXPECT_LE(m["median"].get<double>(), m["max"].get<double>()) << m["name"];
        }
    }
    // The same figures over six or eight times the passes: only digits differ.
    EXPECT_LT(many.recordBytes, few.recordBytes + 200);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (A sanitizer holds freed memory back on purpose: there it grows.)
    EXPECT_LT(many.lastKb - many.firstKb, 2048) << "memory grew with the passes";
#endif
}

// A board with a fault the exchange test finds at every pass: the record
// keeps the first and the last findings with their pass numbers and
// counts them all.
TEST_F(Break, SoakRunKeepsFirstAndLastFindings) {
    station_.write("check1.cfg", selecting({"HOST"}));
    station_.write("virtual-board.ini", "[board 1]\nram_stuck_bit = P1:0x0-0xFFFFFFF:3:1\n");
    Process program(station_.path(), {"-C"});
    ASSERT_TRUE(program.waitForOutput(toCp866("4. ТЕСТЫ СКОРОСТИ ОБМЕНА"), 120, 12));
    program.signal(SIGINT);
    ASSERT_EQ(program.finish(30, false).status, 255);
    auto j = record(station_);
    const auto &host = j["steps"][2];
    long found = host["passes"]["findings"].get<long>();
    EXPECT_GE(host["passes"]["withFindings"].get<long>(), 12);
    EXPECT_EQ(j["findingCount"].get<long>(), found);
    ASSERT_EQ(host["findings"].size(), 20u);
    EXPECT_GT(found, 20);
    EXPECT_EQ(host["findings"][0]["pass"], 1);
    EXPECT_GE(host["findings"][19]["pass"].get<long>(), 12);
    EXPECT_EQ(host["status"], "failed");
    // Broken off, yet what the passes found fails the run; no verdict was printed.
    EXPECT_EQ(j["outcome"], "failed");
    EXPECT_TRUE(j["verdict"].is_null());
}

} // namespace
