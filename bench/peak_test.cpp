// The benchmarks' measured run of a program: what the program alone used,
// and how it ended, from a benchmark process whose own memory is far
// larger.
#include "bench_run.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

double cpuSeconds(const rusage &u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST(MeasuredRun, TellsWhatTheProgramAloneUsedAndHowItEnded) {
    std::vector<char> own(size_t(256) << 20, 1); // this process's peak: 256 MB
    struct Case {
        const char *name;
        std::vector<std::string> argv;
        int exitCode, signal; // signal: 0 = it exits with exitCode
        long minKb, maxKb;
        double minCpu;
    };
    const Case cases[] = {
        {"does nothing", {"/bin/true"}, 0, 0, 1, 64 << 10, 0},
        {"holds 100 MB",
         {"/bin/dd", "if=/dev/zero", "of=/dev/null", "bs=100M", "count=1", "status=none"},
         0,
         0,
         100 << 10,
         200 << 10,
         0},
        {"exits with 3", {"/bin/sh", "-c", "exit 3"}, 3, 0, 1, 64 << 10, 0},
        {"ended by a signal", {"/bin/sh", "-c", "kill -TERM $$"}, 0, SIGTERM, 1, 64 << 10, 0},
        {"computes", {"/bin/sh", "-c", "i=0; while [ $i -lt 300000 ]; do i=$((i+1)); done"}, 0, 0, 1, 64 << 10, 0.05},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        rusage usage{};
        int status = runMeasuredIn(".", c.argv, &usage);
        if (c.signal) {
            ASSERT_TRUE(WIFSIGNALED(status)) << status;
            EXPECT_EQ(WTERMSIG(status), c.signal);
        } else {
            ASSERT_TRUE(WIFEXITED(status)) << status;
            EXPECT_EQ(WEXITSTATUS(status), c.exitCode);
        }
        EXPECT_GE(usage.ru_maxrss, c.minKb);
        EXPECT_LE(usage.ru_maxrss, c.maxKb);
        EXPECT_GE(cpuSeconds(usage), c.minCpu);
        // Unmeasured, the program runs straight, to the same end.
        int straight = runMeasuredIn(".", c.argv);
        EXPECT_EQ(straight, status);
    }
    // A program that is not there does not start.
    rusage usage{};
    int missing = runMeasuredIn(".", {"/nonexistent/program"}, &usage);
    EXPECT_TRUE(missing == -1 || (WIFEXITED(missing) && WEXITSTATUS(missing) == 127)) << missing;
    EXPECT_EQ(own[own.size() / 2], 1);
}

} // namespace
