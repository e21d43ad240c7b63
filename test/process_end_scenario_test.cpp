// Faults of the machine the program runs on: a console nobody reads or
// that went away, signals that end a process from outside, logs that
// cannot be appended to or a disk that fills. The run must end as the
// operator would expect, and its logs must hold only whole messages.
#include "support/scenario.h"
#include "support/terminal.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

const std::string kSuccess = "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++";
const std::string kCablePrompt = "\nи нажмите любую клавишу . . .";

// The program with stdin from /dev/null, stdout the write end of a pipe
// the test holds (or closes), stderr into a file; and optionally a limit
// on the size of any file it writes, as a full disk would set one.
class RawProcess {
public:
    RawProcess(const std::string &dir, const std::vector<std::string> &args, long fileSizeLimit = -1) {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe failed");
        fcntl(out[0], F_SETPIPE_SZ, 4096); // the smallest pipe: it fills at once
        errPath_ = dir + "/../stderr-" + std::to_string(getpid());
        ArgVector argv(ZT_PROGRAM_PATH, args);
        int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = ::open("/dev/null", O_RDONLY);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(null, 0);
            dup2(out[1], 1);
            dup2(err, 2);
            for (int fd : {null, err, out[0], out[1]})
                ::close(fd);
            if (fileSizeLimit >= 0) {
                struct rlimit limit = {static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            execve(argv.program(), argv.data(), environ);
            _exit(127);
        }
        ::close(null);
        ::close(err);
        ::close(out[1]);
        out_ = out[0];
    }
    ~RawProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
        std::remove(errPath_.c_str());
    }
    // The reader goes away.
    void closeConsole() {
        ::close(out_);
        out_ = -1;
    }
    // True once the console pipe is full: it holds bytes unread and takes
    // no more, so the program sits in a console write.
    bool waitUntilConsoleIsFull(double seconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * testTimeScale());
        int last = -1;
        while (std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            int held = 0;
            ioctl(out_, FIONREAD, &held);
            if (held > 0 && held == last)
                return true;
            last = held;
        }
        return false;
    }
    void signal(int sig) { kill(pid_, sig); }
    // The exit status, or -1 when the program had not ended after
    // `seconds` (it is then killed).
    int wait(double seconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * testTimeScale());
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string err() const {
        std::ifstream in(errPath_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string errPath_;
};

// A log's bytes after its two date lines, which differ from run to run.
std::string afterDateLines(const std::string &log) {
    std::size_t at = 0;
    for (int i = 0; i < 3 && at != std::string::npos; ++i)
        at = log.find("\r\n", at + (i ? 2 : 0));
    return at == std::string::npos ? std::string() : log.substr(at);
}

class ProcessEnd : public ScenarioTest {
protected:
    void SetUp() override { station_.write("virtual-board.ini", "[board 1]\np1_sdram_chips = 0, 0, 0, 0\n"); }
};

// With stdout a pipe that nobody reads the program sits in a console
// write; Ctrl-C still ends the run at once, and the logs hold whole lines.
TEST_F(ProcessEnd, CtrlCWhileTheConsoleCannotBeWritten) {
    station_.write("check1.cfg", selecting({"HOST"}));
    RawProcess program(station_.path(), {"-C"});
    ASSERT_TRUE(program.waitUntilConsoleIsFull(30)) << "the console pipe never filled";
    program.signal(SIGINT);
    EXPECT_EQ(program.wait(10), 255) << "the run did not end while its console was full";
    // The log ends where one of the test's messages ends.
    std::string log = logText(station_.read("protoc1.log"));
    bool whole = false;
    for (const char *end : {"-----", "(HOST-port)", "ПАМЯТЬ.", ": ", "MB/c", "MB/c\n"})
        whole = whole || endsWith(log, end);
    EXPECT_TRUE(whole) << log.substr(log.size() > 80 ? log.size() - 80 : 0);
}

// Ctrl-C while the stream test reads its blocks between queries: the
// close on the interrupt thread must not take the blocks' memory from
// under the host (a sanitizer build sees any read of freed memory).
TEST_F(ProcessEnd, CtrlCDuringTheStreamTestEndsItCleanly) {
    station_.write("check1.cfg", selecting({"HSTREAM"}));
    station_.write("virtual-board.ini", "[board 1]\np1_sdram_chips = 0, 0, 0, 0\nstream_mbps = 64\n");
    for (int delayMs : {50, 300, 700}) {
        Process program(station_.path(), {});
        ASSERT_TRUE(program.waitForOutput(toCp866("Состояние: ")));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        program.signal(SIGINT);
        RunResult r = program.finish(20, false);
        EXPECT_EQ(r.status, 255) << delayMs << " ms: " << r.err;
        EXPECT_EQ(r.err, "") << delayMs << " ms";
        auto record = nlohmann::json::parse(station_.read("result1.json"), nullptr, false);
        EXPECT_EQ(record["outcome"], "interrupted") << delayMs << " ms";
    }
}

// A console that went away ends no test and loses nothing of the logs.
TEST_F(ProcessEnd, ConsoleThatGoesAwayLeavesTheRunToItsVerdict) {
    station_.write("check1.cfg", selecting({"HOST", "INTLINKS", "FFTTIME"}));
    RawProcess program(station_.path(), {});
    program.closeConsole();
    EXPECT_EQ(program.wait(60), 0);
    EXPECT_TRUE(endsWith(logText(station_.read("protoc1.log")), kSuccess));
    EXPECT_TRUE(endsWith(logText(station_.read("screen1.log")), kSuccess));
    EXPECT_EQ(program.err(), "");
}

// SIGTERM, SIGHUP and SIGQUIT end the run as Ctrl-C does: status 255, the
// board closed, the terminal's modes given back, the logs as far as they got.
TEST_F(ProcessEnd, SignalsFromOutsideEndTheRunAsCtrlCDoes) {
    station_.write("check1.cfg", selecting({"EXTLINKS"}));
    for (int sig : {SIGTERM, SIGHUP, SIGQUIT}) {
        TerminalProcess terminal(station_.path(), {"-V"}, TerminalSetup{{}, true});
        ASSERT_TRUE(terminal.waitForOutput(kCablePrompt)) << terminal.finish(1).out; // UTF-8 in the C locale
        EXPECT_EQ(terminal.mode().c_lflag & (ICANON | ECHO), 0u);
        terminal.signal(sig);
        RunResult r = terminal.finish(20);
        EXPECT_EQ(r.status, 255) << strsignal(sig);
        EXPECT_EQ(terminal.mode().c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO)) << strsignal(sig);
        EXPECT_NE(r.err.find("QAL_close(1) = 0"), std::string::npos) << strsignal(sig);
        EXPECT_TRUE(endsWith(logText(station_.read("protoc1.log")), "\n -----   TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ----- "))
            << strsignal(sig);
        auto record = nlohmann::json::parse(station_.read("result1.json"), nullptr, false);
        EXPECT_EQ(record["outcome"], "interrupted") << strsignal(sig);
    }
}

// A log that cannot be appended to any more is told once on stderr and in
// the record; the run goes on to its verdict in the other log and on the
// console. A log replaced under the program is told likewise, and gets
// what follows.
TEST_F(ProcessEnd, LogThatCannotBeAppendedIsToldOnce) {
    station_.write("check1.cfg", selecting({"INTLINKS", "EXTLINKS"}));
    Process program(station_.path(), {});
    ASSERT_TRUE(program.waitForOutput(toCp866(kCablePrompt)));
    std::filesystem::remove(station_.file("protoc1.log"));
    std::filesystem::create_directory(station_.file("protoc1.log"));
    station_.write("screen-new.log", "");
    std::filesystem::rename(station_.file("screen-new.log"), station_.file("screen1.log"));
    program.write("x");
    RunResult r = program.finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(consoleText(r.err), "### ПРЕДУПРЕЖДЕНИЕ: Файл 'screen1.log' удален или заменен во время испытаний\n"
                                  "### ПРЕДУПРЕЖДЕНИЕ: Не могу дописать файл 'protoc1.log' (Is a directory)\n");
    EXPECT_TRUE(endsWith(consoleText(r.out), kSuccess));
    EXPECT_EQ(logText(station_.read("screen1.log")),
              "\nP6 линк 1 <---> P7 линк 1:  Ошибок нет.\n TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ЗАВЕРШЕН УСПЕШНО " + kSuccess);
    auto record = nlohmann::json::parse(station_.read("result1.json"), nullptr, false);
    EXPECT_EQ(record["logs"]["writeFailures"],
              nlohmann::json::parse(R"([{"file": "screen1.log", "reason": "removed or replaced meanwhile"},
                                        {"file": "protoc1.log", "reason": "Is a directory"}])"));
}

// A disk that fills in the middle of the run: a message that does not fit
// is taken back whole, so no log holds half of one; what still fits gets
// in, and the run goes on to its verdict.
TEST_F(ProcessEnd, FullDiskNeverLeavesHalfAMessage) {
    station_.write("check1.cfg", selecting({"INTLINKS", "FFTTIME"}));
    RunResult full = runProgram(station_.path(), {});
    ASSERT_EQ(full.status, 0);
    std::string fullProtocol = afterDateLines(station_.read("protoc1.log"));
    std::string fullScreen = afterDateLines(station_.read("screen1.log"));
    for (long limit : {1000L, 1500L, 2000L}) {
        RawProcess program(station_.path(), {}, limit);
        program.closeConsole();
        EXPECT_EQ(program.wait(60), 0) << limit;
        for (const auto &log : {std::make_pair("protoc1.log", fullProtocol), std::make_pair("screen1.log", fullScreen)}) {
            std::string file = station_.read(log.first), cut = afterDateLines(file);
            ASSERT_LT(cut.size(), log.second.size()) << log.first << " " << limit;
            // A write cut short at the limit would leave the file exactly
            // that long, ending inside its message.
            EXPECT_LT(file.size(), static_cast<std::size_t>(limit)) << log.first;
            // It starts as the full run's log does.
            EXPECT_EQ(cut.substr(0, 200), log.second.substr(0, 200)) << log.first;
            std::string warning = std::string("### ПРЕДУПРЕЖДЕНИЕ: Не могу дописать файл '") + log.first + "' (File too large)\n";
            EXPECT_EQ(count(consoleText(program.err()), fromCodePage(toCp866(warning), "CP866")), 1u) << program.err();
        }
    }
}

} // namespace
