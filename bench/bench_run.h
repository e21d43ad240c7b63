// bench_run.h - the program run whole by a benchmark, as an unattended
// station runs it.
#ifndef ZORVANTIK_BENCH_RUN_H
#define ZORVANTIK_BENCH_RUN_H

#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef ZT_PROGRAM_PATH
#error "ZT_PROGRAM_PATH must name the zorvantik-test binary"
#endif

extern char **environ;

// Runs the program in `dir` with stdin and stdout /dev/null to its end and
// gives its wait status, -1 when it cannot start; `usage`, when given, gets what it used. With
// `libraryDir` it finds its board library there first.
inline int runProgramIn(const std::string &dir, struct rusage *usage = nullptr, const std::string &libraryDir = "") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    std::string program = ZT_PROGRAM_PATH;
    char *argv[] = {&program[0], nullptr};
    if (!libraryDir.empty())
        setenv("LD_LIBRARY_PATH", libraryDir.c_str(), 1);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    if (!libraryDir.empty())
        unsetenv("LD_LIBRARY_PATH");
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    wait4(pid, &status, 0, usage);
    return status;
}

#endif
