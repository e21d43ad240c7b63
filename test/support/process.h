// process.h - runs the real zorvantik-test binary in a station directory,
// as the operator would, and collects what it shows and leaves behind.
#ifndef ZORVANTIK_TEST_PROCESS_H
#define ZORVANTIK_TEST_PROCESS_H

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct RunResult {
    std::string out; // stdout bytes (the console, code page 866)
    std::string err; // stderr bytes (the board library's trace)
    int status = -1; // exit status, or 128 + signal when killed
};

// How much longer than usual the program may take: ZT_TEST_TIME_SCALE from
// the environment (a sanitizer build sets it), 1 without. Every wait for
// the program is that many times its stated seconds.
double testTimeScale();

// A running program whose stdin stays open until closeInput().
class Process {
public:
    // With `inputFd` >= 0 the program reads that file as its stdin instead
    // of a pipe; the file's offset afterwards tells how much it read.
    Process(const std::string &dir, const std::vector<std::string> &args, int inputFd = -1);
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    void write(const std::string &keys);
    void closeInput();
    // Waits until stdout holds `needle` (as bytes) `times` times; false
    // after `seconds`.
    bool waitForOutput(const std::string &needle, double seconds = 20, int times = 1);
    void signal(int sig);
    pid_t pid() const { return pid_; }
    // Waits for the end, killing the program after `seconds`. Closes stdin
    // first, unless the program is to end on its own with keys still awaited.
    RunResult finish(double seconds = 60, bool endInput = true);

private:
    bool pump(int timeoutMs);
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    RunResult result_;
};

// The argument vector of a program to start: `program`, then `args`, ended
// by a null pointer, as execv and posix_spawn take it. Its strings live as
// long as it does.
class ArgVector {
public:
    ArgVector(const std::string &program, const std::vector<std::string> &args);
    ArgVector(const ArgVector &) = delete;
    ArgVector &operator=(const ArgVector &) = delete;
    char **data() { return pointers_.data(); }
    const char *program() const { return strings_.front().c_str(); }

private:
    std::vector<std::string> strings_;
    std::vector<char *> pointers_;
};

// Writes all of `bytes` to `fd`, again after an interrupted write; stops at
// the first failure (a reader that is gone) or when `fd` is -1.
void writeAllTo(int fd, const std::string &bytes);

// Reads what a started program writes, `pump` a time (it waits up to the
// milliseconds given and tells whether there can be more), until it has
// ended; kills it when it has not after `seconds` (a hang: the test sees
// status 128 + 9). Then reaps it, sets `pid` to -1 and gives its exit
// status, or 128 + the signal that ended it.
int pumpUntilEnd(pid_t &pid, double seconds, const std::function<bool(int timeoutMs)> &pump);

// Runs the program to its end with `keys` as the whole of stdin.
RunResult runProgram(const std::string &dir, const std::vector<std::string> &args, const std::string &keys = "");

// Runs the program with `keys` in a file as its stdin and tells how many
// bytes (keys) it read from it.
RunResult runWithKeyFile(const std::string &dir, const std::vector<std::string> &args, const std::string &keys,
                         long *keysRead);

// Runs zorvantik-report in `dir` with `args` to its end; what it wrote on
// stdout and stderr is kept (the files it went to, command.out and
// command.err in `dir`, are gone after). The status is -1 when it did not
// exit.
RunResult runReportCommand(const std::string &dir, const std::vector<std::string> &args);

#endif // ZORVANTIK_TEST_PROCESS_H
