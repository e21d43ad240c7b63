// Pacing of the virtual board's paths: the clock arithmetic, and one
// clock told of a late wake.
#include "pacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

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
    // Busy until 5 s; the next step comes `gap` ns after that, from a
    // caller the path put to sleep and a busy machine woke `late` ns past
    // its time, or (late 0) from one that was idle.
    struct Case {
        int64_t gap;
        int64_t late;
        int64_t busyUntil; // after 1 KB at 1 MB/s
    };
    const int64_t kKb = 976563; // 1 KB at 1 MB/s
    const int64_t kMs = 1000000;
    const Case cases[] = {
        {kPaceIdleNs / 2, 0, 5 * kSecond + kKb},                   // shortly after: goes on
        {kPaceIdleNs / 2, kPaceIdleNs / 2, 5 * kSecond + kKb},     //
        {kPaceIdleNs * 5, 0, 5 * kSecond + kPaceIdleNs * 5 + kKb}, // idle: afresh from now
        {10 * kMs, 10 * kMs, 5 * kSecond + kKb},                   // woken 10 ms late, back at once: made up
        {10 * kMs + kPaceIdleNs, 10 * kMs, 5 * kSecond + kKb},     // and within the idle slack after
        {15 * kMs + kPaceIdleNs, 10 * kMs, 5 * kSecond + 15 * kMs + kPaceIdleNs + kKb}, // 5 ms of its own after: afresh
        {kPaceLateNs, kPaceLateNs, 5 * kSecond + kKb},                                  // as late as is made up
        {kPaceLateNs + kPaceIdleNs + 1, 2 * kPaceLateNs, 5 * kSecond + kPaceLateNs + kPaceIdleNs + 1 + kKb}, // later
    };
    for (const Case &c : cases) {
        PaceStep step = paceStep(5 * kSecond, 5 * kSecond + c.gap, 1024, 1, c.late);
        EXPECT_NEAR(double(step.busyUntil), double(c.busyUntil), 1) << c.gap << " " << c.late;
    }
    // 16 MB in 4 KB calls at 40 MB/s, every sleep ending 10 ms late, as
    // on a machine busy with other work: still 0.4 s all told, give or
    // take the last oversleep.
    int64_t now = 5 * kSecond, start = now, busy = 0, late = 0;
    for (int i = 0; i < 4096; ++i) {
        PaceStep step = paceStep(busy, now, 4096, 40, late);
        busy = step.busyUntil;
        if (busy >= now)
            late = 0;
        if (step.sleepUntil) {
            now = step.sleepUntil + 10 * kMs;
            late = 10 * kMs;
        }
    }
    EXPECT_NEAR(double(std::max(now, busy) - start), 0.4 * kSecond, 0.011 * kSecond);
}

// A late wake at the end of one test is not made up by the next: the
// program's own work between them, longer than the idle slack, starts
// the path afresh, and the second test's 4 MB take their 0.1 s.
TEST(SimPacing, ALateWakeIsNotCarriedIntoTheNextTest) {
    PaceClock clock;
    clock.setRate(40);
    int64_t until = 0;
    for (int i = 0; i < 64 && !until; ++i)
        until = clock.charge(65536);
    ASSERT_NE(until, 0) << "the path never asked its caller to sleep";
    std::this_thread::sleep_for(std::chrono::nanoseconds(until - paceNow() + 30000000)); // woken 30 ms late
    clock.woke(until);
    std::this_thread::sleep_for(std::chrono::milliseconds(5)); // the program between two tests
    int64_t start = paceNow(), last = 0;
    for (int i = 0; i < 64; ++i)
        if (int64_t u = clock.charge(65536))
            last = u;
    EXPECT_GE(last - start, 95000000) << "4 MB at 40 MB/s take 100 ms";
}

} // namespace
