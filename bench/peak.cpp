// peak.cpp - zt_peak: runs a program and tells what it alone used.
//
//   zt_peak PROGRAM [ARG...]      (from a benchmark, with fd 3 open)
//
// Linux counts in a process's peak resident memory the memory of the
// image it replaced at exec. A program that a benchmark starts straight
// replaces a copy of the benchmark (posix_spawn, fork), so its peak is
// never less than the benchmark's own, which grows with the benchmarks
// that ran before. zt_peak is small: the program replaces a copy of it.
// It writes "peak-KB user-us system-us" of the program to fd 3 and ends
// as the program ended: with its exit status, or by its signal.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long long microseconds(const timeval &t) { return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_usec; }

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: zt_peak PROGRAM [ARG...]\n");
        return 2;
    }
    fcntl(3, F_SETFD, FD_CLOEXEC); // the program does not keep the benchmark's pipe open
    pid_t pid = fork();
    if (pid < 0) {
        std::perror("zt_peak: fork");
        return 127;
    }
    if (pid == 0) {
        execv(argv[1], argv + 1);
        std::perror("zt_peak: exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) {
            std::perror("zt_peak: wait");
            return 127;
        }
    dprintf(3, "%ld %lld %lld\n", usage.ru_maxrss, microseconds(usage.ru_utime), microseconds(usage.ru_stime));
    if (WIFSIGNALED(status)) {
        std::signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}
