// How the virtual board runs its firmware: coroutines that the host's
// waiting calls resume. Which call advances which firmware, deadlines
// that pass while a processor is silent, paced wake-ups, a reset or a
// close that ends every wait, and two host threads at once.
#include "board_lifecycle.h"
#include "channels.h"
#include "coroutine.h"
#include "firmware.h"
#include "nodes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A coroutine that logs each step and suspends between them.
struct Steps {
    std::vector<std::string> log;
    int steps = 0;
    std::unique_ptr<Coroutine> co;
    static void body(void *arg) {
        Steps &s = *static_cast<Steps *>(arg);
        for (int i = 0; i < s.steps; ++i) {
            char frame[4096]; // stack of its own: a frame that the resumer's could not hold for it
            std::memset(frame, 'a' + i, sizeof frame);
            s.log.push_back("step " + std::to_string(i) + frame[4095]);
            s.co->suspend();
            s.log.push_back(std::string("after ") + frame[0]);
        }
    }
};

TEST(SimScheduler, CoroutineResumesWhereItStoppedOnAnyThread) {
    struct Case {
        int steps;
        int resumes; // the last one finishes it
        bool crossThreads;
    };
    const Case cases[] = {{0, 1, false}, {1, 2, false}, {3, 4, false}, {3, 4, true}, {50, 51, true}};
    for (const Case &c : cases) {
        Steps s;
        s.steps = c.steps;
        s.co = std::make_unique<Coroutine>(&Steps::body, &s);
        EXPECT_FALSE(s.co->started());
        for (int r = 0; r < c.resumes; ++r) {
            EXPECT_FALSE(s.co->finished()) << c.steps << " resume " << r;
            if (c.crossThreads && r % 2)
                std::thread([&] { s.co->resume(); }).join();
            else
                s.co->resume();
            EXPECT_TRUE(s.co->started());
        }
        EXPECT_TRUE(s.co->finished()) << c.steps;
        std::vector<std::string> expected;
        for (int i = 0; i < c.steps; ++i) {
            expected.push_back("step " + std::to_string(i) + char('a' + i));
            expected.push_back(std::string("after ") + char('a' + i));
        }
        EXPECT_EQ(s.log, expected) << c.steps;
    }
}

// A board of its own, healthy but for `change`, no board file.
std::shared_ptr<VirtualBoard> board(const std::function<void(BoardConfig &)> &change = nullptr) {
    BoardConfig cfg;
    if (change)
        change(cfg);
    return makeBoard(1, cfg);
}

// Puts `firmware` with `params` on `node` and starts it, as a load and
// QAL_start would.
void start(VirtualBoard &b, int32_t node, const char *firmware, ProgramParams params = {}) {
    Node &n = b.node[node];
    n.firmware = findFirmware(firmware);
    ASSERT_NE(n.firmware, nullptr) << firmware;
    n.params = std::move(params);
    ASSERT_EQ(startNodes(b, node), kQalOk) << firmware;
}

uint32_t queued(VirtualBoard &b, int32_t node) {
    std::lock_guard<std::mutex> guard(b.lock);
    return b.node[node].toHost.count;
}

bool began(VirtualBoard &b, int32_t node) {
    std::lock_guard<std::mutex> guard(b.lock);
    return b.node[node].fiber && b.node[node].fiber->co.started();
}

TEST(SimScheduler, EachHostCallRunsTheFirmwareItWaitsFor) {
    struct Case {
        const char *name;
        std::function<void(VirtualBoard &)> setUp;
        std::function<int32_t(VirtualBoard &)> call;
        int32_t status;
        uint32_t p1Queued; // messages P1 has sent and the host not yet taken, afterwards
        bool p2Began;      // whether P2's firmware has run at all
        int minMs;         // the call's deadline held at least this long
    };
    uint32_t word = 0, size = 0;
    auto getMsg = [&](int32_t node, int32_t timeoutMs) {
        return [&word, &size, node, timeoutMs](VirtualBoard &b) {
            size = 4;
            return hostGetMsg(b, node, &word, size, timeoutMs);
        };
    };
    const Case cases[] = {
        {"a call that does not wait runs nothing",
         [](VirtualBoard &b) {
             start(b, 0, "drvwrite", {{"size", 4}});
             start(b, 1, "echo");
         },
         [](VirtualBoard &b) {
             uint32_t v = 0;
             return boardPeek(b, 0, 0x80000010, v);
         },
         kQalOk, 0, false, 0},
        {"getMsg on P1 runs P1 until its first message",
         [](VirtualBoard &b) {
             start(b, 0, "drvwrite", {{"size", 4}});
             start(b, 1, "echo");
         },
         getMsg(0, -1), kQalOk, 0, false, 0},
        {"a wait on P2 runs every firmware until its time is up",
         [](VirtualBoard &b) {
             start(b, 0, "drvwrite", {{"size", 4}});
             start(b, 1, "echo");
         },
         getMsg(1, 20), kQalTimeout, kMessageDepth, true, 20},
        {"a poll with no time at all still lets P1 answer",
         [](VirtualBoard &b) {
             start(b, 0, "echo");
             uint32_t hello = 0x600D;
             ASSERT_EQ(hostPutMsg(b, 0, &hello, 4, 0), kQalOk);
         },
         getMsg(0, 0), kQalOk, 0, false, 0},
        {"a silent link runs out the host's wait",
         [](VirtualBoard &b) {
             start(b, 0, "linkcheck", {{"port", 1}});
         },
         getMsg(0, 30), kQalTimeout, 0, false, 30},
        {"a firmware that has returned ends a bounded wait at once", [](VirtualBoard &b) { start(b, 0, "csdram"); },
         [&](VirtualBoard &b) {
             EXPECT_EQ(hostGrabSignal(b, 0, 0, -1), 1);
             EXPECT_EQ(hostAckSignal(b, 0, 0), kQalOk);
             uint32_t msg[8], n = sizeof msg;
             EXPECT_EQ(hostGetMsg(b, 0, msg, n, -1), kQalOk);
             return getMsg(0, 60000)(b);
         },
         kQalTimeout, 0, false, 0},
    };
    for (const Case &c : cases) {
        auto b = board();
        c.setUp(*b);
        auto began0 = Clock::now();
        EXPECT_EQ(c.call(*b), c.status) << c.name;
        auto took = Clock::now() - began0;
        EXPECT_EQ(queued(*b, 0), c.p1Queued) << c.name;
        EXPECT_EQ(began(*b, 1), c.p2Began) << c.name;
        EXPECT_GE(took, std::chrono::milliseconds(c.minMs)) << c.name;
        shutdownBoard(*b);
    }
}

TEST(SimScheduler, PacedFirmwareWakesOnItsOwnTime) {
    // P1 feeds the FIFO at 4 MB/s and pauses in between; nothing but its
    // wake-up times makes the host's read go on.
    auto b = board([](BoardConfig &c) { c.paceMBps[kPaceFifoBus] = 4; });
    start(*b, 0, "rfifo");
    std::vector<uint32_t> words(40000);
    ASSERT_EQ(hostReadFifo(*b, 0, kFifoPort, words.data(), uint32_t(words.size() * 4), -1), kQalOk);
    for (uint32_t i = 0; i < words.size(); ++i)
        ASSERT_EQ(words[i], i);
    shutdownBoard(*b);
}

TEST(SimScheduler, AResetOrACloseEndsEveryWait) {
    struct Case {
        const char *name;
        bool close;      // else a reset of P1 alone
        int32_t expect1; // P1's waiter
        int32_t expect2; // P2's
    };
    const Case cases[] = {
        {"close", true, kQalBadHandle, kQalBadHandle},
        {"reset of P1", false, kQalStopped, 1},
    };
    for (const Case &c : cases) {
        auto b = board();
        start(*b, 0, "echo");     // waits for a message that never comes
        start(*b, 1, "pcdspint"); // waits for a signal that never comes
        start(*b, 2, "linkcheck", {{"port", 2}});
        std::atomic<int32_t> got1{1}, got2{1};
        std::thread t1([&] {
            uint32_t w, n = 4;
            got1 = hostGetMsg(*b, 0, &w, n, -1);
        });
        std::thread t2([&] { got2 = hostGrabSignal(*b, 1, 0, -1); });
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(got1.load(), 1) << c.name; // both still wait
        EXPECT_EQ(got2.load(), 1) << c.name;
        if (c.close) {
            shutdownBoard(*b);
        } else {
            EXPECT_EQ(resetNodes(*b, 0), kQalOk);
            EXPECT_EQ(hostSendSignal(*b, 1, 0), kQalOk); // P2's waiter gets its answer
        }
        t1.join();
        t2.join();
        EXPECT_EQ(got1.load(), c.expect1) << c.name;
        EXPECT_EQ(got2.load(), c.expect2) << c.name;
        {
            std::lock_guard<std::mutex> guard(b->lock);
            EXPECT_FALSE(b->node[0].fiber) << c.name; // ran to its end, its stack freed
            EXPECT_FALSE(b->node[0].running) << c.name;
            EXPECT_EQ(bool(b->node[2].fiber), !c.close) << c.name;
        }
        if (!c.close)
            shutdownBoard(*b);
    }
}

TEST(SimScheduler, TwoHostThreadsEachGetTheirOwnProcessorsWords) {
    auto b = board();
    start(*b, 0, "drvwrite", {{"size", 4}});
    start(*b, 1, "drvwrite", {{"size", 8}});
    constexpr uint32_t kMessages = 20000;
    auto reader = [&](int32_t node, uint32_t words, std::atomic<uint32_t> &bad) {
        for (uint32_t i = 0; i < kMessages; ++i) {
            uint32_t msg[2] = {}, size = 8;
            if (hostGetMsg(*b, node, msg, size, 5000) != kQalOk || size != words * 4 || msg[0] != i * words)
                ++bad;
        }
    };
    std::atomic<uint32_t> bad1{0}, bad2{0};
    std::thread t1(reader, 0, 1, std::ref(bad1));
    std::thread t2(reader, 1, 2, std::ref(bad2));
    t1.join();
    t2.join();
    EXPECT_EQ(bad1.load(), 0u);
    EXPECT_EQ(bad2.load(), 0u);
    shutdownBoard(*b);
}

} // namespace
