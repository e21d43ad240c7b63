// Pacing of the virtual board's paths: the clock arithmetic alone.
#include "pacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

constexpr int64_t kSecond = 1000000000;

// Runs `calls` transfers of `bytes` back to back at `mbps`, the caller
// sleeping as told and waking `late` ns after the time it asked for;
// returns the time the run took.
int64_t run(uint32_t mbps, uint64_t bytes, int calls, int64_t late) {
    int64_t now = 5 * kSecond, start = now, busy = 0;
    for (int i = 0; i < calls; ++i) {
        PaceStep step = paceStep(busy, now, bytes, mbps);
        busy = step.busyUntil;
        if (step.sleepUntil) {
            EXPECT_GT(step.sleepUntil - now, kPaceSlackNs); // never a sleep for less
            now = step.sleepUntil + late;
        }
    }
    return std::max(now, busy) - start;
}

TEST(SimPacing, SmallTransfersAverageOutToTheBandwidth) {
    // 16 MB in 4-byte calls at 40 MB/s: 0.4 s, whether the sleeps end on
    // time or each oversleeps by 0.3 ms, which later calls make up.
    for (int64_t late : {int64_t(0), int64_t(300000)}) {
        int64_t took = run(40, 4, 4 << 20, late);
        EXPECT_NEAR(double(took), 0.4 * kSecond, 0.005 * kSecond) << "late " << late;
    }
    // 1 MB blocks at 120 MB/s: a sleep after each block.
    EXPECT_NEAR(double(run(120, 1 << 20, 512, 100000)), 512.0 / 120 * kSecond, 0.005 * kSecond);
}

TEST(SimPacing, UnpacedAndIdlePaths) {
    PaceStep unpaced = paceStep(123, 5 * kSecond, 1 << 30, 0);
    EXPECT_EQ(unpaced.busyUntil, 123);
    EXPECT_EQ(unpaced.sleepUntil, 0);

    // A path idle for a second does not bank that second: the next 1 MB at
    // 1 MB/s is due one second from now.
    PaceStep fresh = paceStep(4 * kSecond, 5 * kSecond, 1 << 20, 1);
    EXPECT_EQ(fresh.busyUntil, 6 * kSecond);
    EXPECT_EQ(fresh.sleepUntil, 6 * kSecond);

    // Within the slack nobody sleeps.
    PaceStep small = paceStep(5 * kSecond, 5 * kSecond, 1024, 1);
    EXPECT_EQ(small.sleepUntil, 0);
    EXPECT_NEAR(double(small.busyUntil - 5 * kSecond), 976563, 1);
}

TEST(SimPacing, ASleeperWokenLateMakesUpTheTime) {
    // Busy until 5 s; the next step comes `late` ns after that, from a
    // caller the path put to sleep or from one that was idle.
    struct Case {
        int64_t late;
        bool afterSleep;
        int64_t busyUntil; // after 1 KB at 1 MB/s
    };
    const int64_t kKb = 976563; // 1 KB at 1 MB/s
    const Case cases[] = {
        {kPaceIdleNs / 2, false, 5 * kSecond + kKb},                   // shortly after: goes on either way
        {kPaceIdleNs / 2, true, 5 * kSecond + kKb},                    //
        {kPaceIdleNs * 5, false, 5 * kSecond + kPaceIdleNs * 5 + kKb}, // idle: afresh from now
        {kPaceIdleNs * 5, true, 5 * kSecond + kKb},                    // woken 10 ms late: made up
        {kPaceLateNs - 1, true, 5 * kSecond + kKb},                    //
        {kPaceLateNs + 1, true, 5 * kSecond + kPaceLateNs + 1 + kKb},  // too late to be a sleeper's
    };
    for (const Case &c : cases) {
        PaceStep step = paceStep(5 * kSecond, 5 * kSecond + c.late, 1024, 1, c.afterSleep);
        EXPECT_NEAR(double(step.busyUntil), double(c.busyUntil), 1) << c.late << " " << c.afterSleep;
    }
    // 16 MB in 4 KB calls at 40 MB/s, every sleep ending 10 ms late, as
    // on a machine busy with other work: still 0.4 s all told, give or
    // take the last oversleep.
    int64_t now = 5 * kSecond, start = now, busy = 0;
    bool slept = false;
    for (int i = 0; i < 4096; ++i) {
        PaceStep step = paceStep(busy, now, 4096, 40, slept);
        busy = step.busyUntil;
        slept = step.sleepUntil != 0 || (slept && busy < now);
        if (step.sleepUntil)
            now = step.sleepUntil + 10000000;
    }
    EXPECT_NEAR(double(std::max(now, busy) - start), 0.4 * kSecond, 0.011 * kSecond);
}

} // namespace
