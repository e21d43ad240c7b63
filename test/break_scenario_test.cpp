// The operator's break (Ctrl-C, or a signal that ends the run as it does)
// at any moment of a run: the process ends with 255 and nothing else, no
// console byte follows the break, and the result record lands in the
// station whatever directory a test was in. A soak run (-C) keeps its
// record and its memory flat however many passes it makes.
#include "support/scenario.h"
#include "support/terminal.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <csignal>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

// The break signals a process blocks, from its status in /proc (bit n-1
// for signal n); 0 when it cannot be read.
unsigned long long blockedSignals(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 7, "SigBlk:") == 0)
            return std::stoull(line.substr(7), nullptr, 16);
    return 0;
}

constexpr unsigned long long bit(int signal) { return 1ull << (signal - 1); }
const unsigned long long kBreakSignals = bit(SIGINT) | bit(SIGTERM) | bit(SIGHUP) | bit(SIGQUIT);

// Waits until the program's first instruction has run: from then on it
// holds every break signal. Before (while the system loads it) nothing
// of the program can answer a signal. The process must be the program
// already: a child that has not yet left the test for it may show a mask
// of the test's own (a sanitizer's, around fork).
bool waitForFirstInstruction(pid_t pid, double seconds) {
    std::string program = std::filesystem::canonical(ZT_PROGRAM_PATH).string();
    std::string exe = "/proc/" + std::to_string(pid) + "/exe";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * testTimeScale());
    for (;;) {
        std::error_code error;
        if (std::filesystem::read_symlink(exe, error).string() == program &&
            (blockedSignals(pid) & kBreakSignals) == kBreakSignals)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    }
}

// The result records (result*.json) a station holds, by name.
std::vector<std::string> records(const TempStation &station) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(station.path())) {
        std::string name = e.path().filename().string();
        if (name.compare(0, 6, "result") == 0 && endsWith(name, ".json"))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Fills what room a pipe has with `filler` bytes through a non-blocking
// descriptor of it.
void fillPipe(int fd) {
    static const std::string filler(4096, '\x01');
    for (std::size_t n = filler.size(); n > 0; n /= 2)
        while (::write(fd, filler.data(), n) > 0) {
        }
}

// The program started with the loader's account of its start
// (LD_DEBUG=libs,symbols: some 30 KB between the program's
// pre-initialisation and main, a line for each library's initialiser and
// each function the initialisers first call) on a one-page pipe that the
// test keeps full: the loader waits in its write for each page the test
// reads. So the test holds the program still in the middle of the
// libraries' initialisers, before main, breaks it there and lets it go on. Returns the exit status, or -2 when the
// program could not be held before main; `loader` gets what the loader said.
int breakWhileLibrariesInitialise(const std::string &dir, const std::vector<std::string> &args, std::string &loader) {
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0)
        return -1;
    fcntl(err[0], F_SETPIPE_SZ, 4096);
    // A second, non-blocking way into the same pipe, to fill it with.
    int filler = ::open(("/proc/self/fd/" + std::to_string(err[1])).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (filler < 0)
        return -1;
    fillPipe(filler);
    ArgVector argv(ZT_PROGRAM_PATH, args);
    pid_t pid = fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(err[1], 2);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        setenv("LD_DEBUG", "libs,symbols", 1);
        execv(argv.program(), argv.data());
        _exit(127);
    }
    ::close(err[1]);
    // Until the loader calls the first library's initialiser; several more
    // of its lines follow before main.
    char page[4096];
    while (loader.find("calling init:") == std::string::npos) {
        ssize_t n = ::read(err[0], page, sizeof page);
        fillPipe(filler);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            if (page[i] != '\x01')
                loader += page[i];
    }
    // Held in its write to stderr (write or writev on descriptor 2): the
    // loader's next line.
    auto writingStderr = [](const std::string &call) {
        return call.compare(0, 6, "1 0x2 ") == 0 || call.compare(0, 7, "20 0x2 ") == 0;
    };
    std::string syscall;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    do {
        std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
        std::getline(in, syscall);
    } while (!writingStderr(syscall) && std::chrono::steady_clock::now() < deadline);
    bool held = writingStderr(syscall) && loader.find("transferring control:") == std::string::npos;
    if (held)
        kill(pid, SIGINT);
    ::close(filler);
    // Let it go on to its end, reading what the loader says meanwhile.
    int status = 0;
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(static_cast<int>(60 * testTimeScale()));
    while (waitpid(pid, &status, WNOHANG) == 0) {
        struct pollfd fd = {err[0], POLLIN, 0};
        if (poll(&fd, 1, 10) > 0 && ::read(err[0], page, sizeof page) <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (std::chrono::steady_clock::now() > deadline)
            kill(pid, SIGKILL);
    }
    ::close(err[0]);
    if (!held)
        return -2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
            continue; // while the system still loaded the program: the signal's own end
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
        int breakAfterMs = 300;                  // from `shown` to the break
    };
    const Moment kMoments[] = {
        {"host exchange", "HOST", "host_port_mbps = 4\n", "1. ОБМЕН СЛОВАМИ (HOST-port)", false},
        {"stream status lines", "HSTREAM", "stream_mbps = 16\n", "Состояние: ", false},
        {"link rows", "INTLINKS", "link_fault = P2.2:dead\n", " <---> ", false},
        // Every processor's chips at their largest and the messages at
        // 1 MB/s: about 50 ms of status words per processor.
        {"memory test's wait", "SDRAM",
         "sdram_chip_size = 0x1000000\np1_sdram_chips = 0x1000000, 0x1000000, 0x1000000, 0x1000000\n"
         "messages_mbps = 1\n",
         " Тест динамической памяти", false, 100},
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
        std::this_thread::sleep_for(std::chrono::milliseconds(m.breakAfterMs));
        program.signal(SIGINT);
        RunResult r = program.finish(30, false);
        expectBrokenOff(r, m.name);
        if (m.lastOnConsole) {
            EXPECT_TRUE(endsWith(r.out, toCp866(m.shown))) << m.name << ": the console went on after the break";
        }
    }
}

// A break while a program loads (a slow boot loader): the break's thread
// closes the board, which ends the load with a failure. The main thread,
// whose texts the break has silenced, must not go on to the next pair's
// load or any other call on the closed board: in the trace (-V, on
// stderr) nothing follows the close but the load it cut short and the
// library's cleanup. Whether a wrong call would come before the process
// ends is a race, so the break is made a few times.
TEST_F(Break, DuringALoadNoBoardCallStartsAfterTheClose) {
    station_.write("check1.cfg", selecting({"INTLINKS"}));
    station_.write("virtual-board.ini", "[board 1]\nload_ms = 1000\n");
    for (int attempt = 0; attempt < 6; ++attempt) {
        station_.remove("result1.json");
        Process program(station_.path(), {"-V"});
        ASSERT_TRUE(program.waitForOutput(toCp866("линк 1 <---> "), 60));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        program.signal(SIGINT);
        RunResult r = program.finish(30, false);
        expectBrokenOff(r, "program load");
        std::size_t close = r.err.find("QAL_close(");
        ASSERT_NE(close, std::string::npos) << r.err;
        std::istringstream after(r.err.substr(close));
        int loads = 0, others = 0;
        for (std::string line; std::getline(after, line);) {
            if (line.compare(0, 10, "QAL_load(1") == 0)
                loads += line.find("\"p1l1p2l0.tsx\"") != std::string::npos ? 1 : 2; // the first pair's, in flight
            else if (line.compare(0, 4, "QAL_") == 0 && line.compare(0, 9, "QAL_close") != 0 &&
                     line.compare(0, 11, "QAL_cleanup") != 0)
                ++others;
        }
        EXPECT_LE(loads, 1) << r.err.substr(close);
        EXPECT_EQ(others, 0) << r.err.substr(close);
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

// Breaks in the first milliseconds of a run at a terminal, counted from
// the program's first instruction: before the options are read, before
// the logs are open, while the board library starts. Each ends the run
// with 255 and the record of the board the arguments name, and no other
// slot's record. Ctrl-C typed at the terminal, and the signals from
// outside, are the same break.
TEST_F(Break, InTheFirstMillisecondsEndsWith255AndTheBoardsRecord) {
    station_.remove("virtual-board.ini"); // every board number the healthy board
    struct Early {
        int delayUs;
        const char *board; // -B's argument, "" for none
        const char *record;
        int signal; // 0: Ctrl-C typed at the terminal
    };
    const Early kEarly[] = {
        {0, "-B3", "result3.json", SIGINT},      {0, "", "result1.json", 0},
        {20, "-b8", "result8.json", SIGINT},     {50, "-B3", "result3.json", 0},
        {100, "-B9", "result.json", SIGTERM},    {200, "-B3", "result3.json", SIGINT},
        {300, "-B2", "result2.json", SIGHUP},    {500, "-B3", "result3.json", 0},
        {750, "-B5", "result5.json", SIGQUIT},   {1000, "-B3", "result3.json", SIGINT},
        {1500, "-B7", "result7.json", 0},        {2000, "-B3", "result3.json", SIGTERM},
        {3000, "-B4", "result4.json", SIGINT},   {5000, "-B3", "result3.json", 0},
        {8000, "-B6", "result6.json", SIGINT},   {12000, "-B3", "result3.json", SIGINT},
    };
    for (const Early &e : kEarly) {
        for (const std::string &name : records(station_))
            station_.remove(name);
        std::ostringstream when;
        when << e.delayUs << " us, " << (e.signal ? strsignal(e.signal) : "Ctrl-C") << ", " << e.board;
        std::vector<std::string> args;
        if (*e.board)
            args.push_back(e.board);
        TerminalProcess program(station_.path(), args, TerminalSetup{{}, true});
        ASSERT_TRUE(waitForFirstInstruction(program.pid(), 10)) << when.str();
        std::this_thread::sleep_for(std::chrono::microseconds(e.delayUs));
        if (e.signal)
            program.signal(e.signal);
        else
            program.type("\x03");
        RunResult r = program.finish(30);
        EXPECT_EQ(r.status, 255) << when.str() << "\n" << r.err;
        EXPECT_EQ(records(station_), std::vector<std::string>{e.record}) << when.str();
        auto j = nlohmann::json::parse(station_.read(e.record), nullptr, false);
        EXPECT_EQ(j["outcome"], "interrupted") << when.str();
        EXPECT_EQ(j["boardNumber"], std::atoi(*e.board ? e.board + 2 : "1")) << when.str();
        EXPECT_FALSE(station_.exists("dsp_app/" + std::string(e.record))) << when.str();
    }
}

// A break while the system's loader runs the libraries' initialisers,
// after the program's first instruction and before main: the program
// already holds it, and it ends the run with 255 and the record.
TEST_F(Break, WhileTheLibrariesInitialiseEndsWith255AndTheBoardsRecord) {
    station_.remove("virtual-board.ini");
    station_.write("check1.cfg", selecting({"EXTLINKS"})); // a short run, should the break not come
    std::string loader;
    int status = -2;
    for (int attempt = 0; attempt < 10 && status == -2; ++attempt) {
        for (const std::string &name : records(station_))
            station_.remove(name);
        loader.clear();
        status = breakWhileLibrariesInitialise(station_.path(), {"-B4"}, loader);
    }
    ASSERT_NE(status, -2) << "the program was never held before main\n" << loader;
    std::size_t preinit = loader.find("calling preinit:"), init = loader.find("calling init:");
    ASSERT_NE(init, std::string::npos) << loader;
    EXPECT_LT(preinit, init) << "the program's first instruction comes after a library's\n" << loader;
    EXPECT_EQ(status, 255) << loader;
    EXPECT_EQ(records(station_), std::vector<std::string>{"result4.json"});
    EXPECT_EQ(nlohmann::json::parse(station_.read("result4.json"), nullptr, false)["outcome"], "interrupted");
}

// A fatal stop's key wait ("press any key") after a log could not be
// created: Ctrl-C there ends the run with 255 and a record of the fatal
// stop, as the key would have.
TEST_F(Break, AtAFatalStopsKeyWaitEndsWith255AndAFatalRecord) {
    struct Stop {
        const char *directory; // the log made a directory, so it cannot be created
        int stop;
        const char *message;
    };
    const Stop kStops[] = {
        {"protoc1.log", 1, "### ОШИБКА: НЕ МОГУ ОТКРЫТЬ ФАЙЛ ПРОТОКОЛА ИСПЫТАНИЙ."},
        {"screen1.log", 2, "### ОШИБКА: НЕ МОГУ ОТКРЫТЬ ФАЙЛ МОНИТОРИНГА ИСПЫТАНИЙ."},
    };
    for (const Stop &s : kStops) {
        for (const char *log : {"protoc1.log", "screen1.log"})
            std::filesystem::remove_all(station_.file(log));
        station_.remove("result1.json");
        std::filesystem::create_directory(station_.file(s.directory));
        TerminalProcess program(station_.path(), {}, TerminalSetup{{}, true});
        // The terminal shows UTF-8 in the C locale.
        ASSERT_TRUE(program.waitForOutput(std::string(s.message) + "\nНажмите любую клавишу")) << s.directory;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        program.type("\x03");
        RunResult r = program.finish(20);
        EXPECT_EQ(r.status, 255) << s.directory << "\n" << r.err;
        // Nothing after the prompt but the line break a terminal gets at the end.
        EXPECT_TRUE(endsWith(r.out, "Нажмите любую клавишу\n")) << s.directory << ": the console went on";
        auto j = nlohmann::json::parse(station_.read("result1.json"), nullptr, false);
        EXPECT_EQ(j["outcome"], "fatal") << s.directory;
        EXPECT_EQ(j["fatal"]["stop"], s.stop) << s.directory;
        EXPECT_TRUE(std::filesystem::is_directory(station_.file(s.directory)));
    }
}

} // namespace
