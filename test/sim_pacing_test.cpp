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

} // namespace
