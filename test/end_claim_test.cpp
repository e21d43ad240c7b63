// The run's end: claimed by one thread only, and no board call starts on
// another thread once it is claimed.
#include "platform/platform.h"
#include "run/ending.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<int> gCallsMade{0};
int countedCall(int value) {
    gCallsMade.fetch_add(1);
    return value;
}

// Two threads race for the end, many times over: exactly one takes it,
// and the test's own thread, which did not, finds it taken.
TEST(EndClaim, OneOfTwoThreadsTakesIt) {
    for (int round = 0; round < 500; ++round) {
        platformResetEndClaim();
        std::atomic<bool> go{false};
        bool took[2] = {false, false};
        bool again[2] = {false, false};
        auto racer = [&](int i) {
            while (!go.load()) {
            }
            took[i] = platformClaimEnd();
            again[i] = platformClaimEnd(); // the holder holds it still; the other is still refused
        };
        std::thread a(racer, 0), b(racer, 1);
        go.store(true);
        a.join();
        b.join();
        ASSERT_NE(took[0], took[1]) << "round " << round;
        EXPECT_EQ(again[0], took[0]);
        EXPECT_EQ(again[1], took[1]);
        EXPECT_TRUE(platformEndClaimedElsewhere());
        EXPECT_FALSE(platformClaimEnd());
    }
    platformResetEndClaim();
    EXPECT_FALSE(platformEndClaimedElsewhere());
}

// The thread that holds the end makes its calls (the close, the cleanup);
// another thread's call waits for the end and never runs.
TEST(EndClaim, BoardCallNeverStartsOnAnotherThreadOnceClaimed) {
    platformResetEndClaim();
    gCallsMade = 0;
    EXPECT_EQ(boardCall(countedCall, 7), 7); // nobody has claimed it
    ASSERT_TRUE(platformClaimEnd());
    EXPECT_EQ(boardCall(countedCall, 8), 8); // the holder's own call
    std::atomic<bool> reached{false};
    std::thread other([&reached] {
        reached = true;
        boardCall(countedCall, 9); // never returns: the process ends meanwhile
    });
    other.detach();
    while (!reached.load())
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(gCallsMade.load(), 2);
    platformResetEndClaim(); // the other thread keeps waiting: it reads the claim once
}

} // namespace
