// process.h - runs the real zorvantik-test binary in a station directory,
// as the operator would, and collects what it shows and leaves behind.
#ifndef ZORVANTIK_TEST_PROCESS_H
#define ZORVANTIK_TEST_PROCESS_H

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

// Runs the program to its end with `keys` as the whole of stdin.
RunResult runProgram(const std::string &dir, const std::vector<std::string> &args, const std::string &keys = "");

// Runs the program with `keys` in a file as its stdin and tells how many
// bytes (keys) it read from it.
RunResult runWithKeyFile(const std::string &dir, const std::vector<std::string> &args, const std::string &keys,
                         long *keysRead);

#endif // ZORVANTIK_TEST_PROCESS_H
