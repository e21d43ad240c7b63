// bench_run.h - the program run whole by a benchmark, as an unattended
// station runs it.
#ifndef ZORVANTIK_BENCH_RUN_H
#define ZORVANTIK_BENCH_RUN_H

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef ZT_PROGRAM_PATH
#error "ZT_PROGRAM_PATH must name the zorvantik-test binary"
#endif
#ifndef ZT_PEAK_PATH
#error "ZT_PEAK_PATH must name the zt_peak binary"
#endif

extern char **environ;

// Runs `argv` in `dir` with stdin and stdout /dev/null to its end and
// gives its wait status, -1 when it cannot start. `usage`, when given,
// gets the peak resident memory and the CPU time of that process alone:
// it then runs under zt_peak (peak.cpp), since a process started straight
// from this one would count this one's memory in its peak.
inline int runMeasuredIn(const std::string &dir, std::vector<std::string> argv, struct rusage *usage = nullptr) {
    int pipeFds[2] = {-1, -1};
    if (usage) {
        *usage = {};
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return -1;
        argv.insert(argv.begin(), ZT_PEAK_PATH);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    if (usage) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
    }
    std::vector<char *> args;
    for (std::string &arg : argv)
        args.push_back(&arg[0]);
    args.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    std::string told;
    if (usage) {
        close(pipeFds[1]);
        char buf[128];
        for (ssize_t n; spawned == 0 && (n = read(pipeFds[0], buf, sizeof buf)) != 0;)
            if (n > 0)
                told.append(buf, size_t(n));
        close(pipeFds[0]);
    }
    if (spawned != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    long long peakKb = 0, userUs = 0, systemUs = 0;
    if (usage && std::sscanf(told.c_str(), "%lld %lld %lld", &peakKb, &userUs, &systemUs) == 3) {
        usage->ru_maxrss = long(peakKb);
        usage->ru_utime = {time_t(userUs / 1000000), suseconds_t(userUs % 1000000)};
        usage->ru_stime = {time_t(systemUs / 1000000), suseconds_t(systemUs % 1000000)};
    }
    return status;
}

// The program in `dir` (runMeasuredIn). With `libraryDir` it finds its
// board library there first.
inline int runProgramIn(const std::string &dir, struct rusage *usage = nullptr, const std::string &libraryDir = "") {
    if (!libraryDir.empty())
        setenv("LD_LIBRARY_PATH", libraryDir.c_str(), 1);
    int status = runMeasuredIn(dir, {ZT_PROGRAM_PATH}, usage);
    if (!libraryDir.empty())
        unsetenv("LD_LIBRARY_PATH");
    return status;
}

#endif
