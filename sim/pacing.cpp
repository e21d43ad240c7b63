/*
 * pacing.cpp - per-path clocks of the board.
 */
#include "pacing.h"

#include <chrono>
#include <cmath>
#include <thread>

PaceStep paceStep(int64_t busyUntil, int64_t now, uint64_t bytes, uint32_t mbPerSecond, bool afterSleep) {
    if (mbPerSecond == 0)
        return {busyUntil, 0};
    if (busyUntil < now - (afterSleep ? kPaceLateNs : kPaceIdleNs))
        busyUntil = now;
    double ns = double(bytes) * 1e9 / (double(mbPerSecond) * 1048576.0);
    busyUntil += int64_t(std::llround(ns));
    return {busyUntil, busyUntil - now > kPaceSlackNs ? busyUntil : 0};
}

int64_t paceNow() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t PaceClock::charge(uint64_t bytes) {
    if (rate_ == 0)
        return 0;
    std::lock_guard<std::mutex> guard(lock_);
    int64_t now = paceNow();
    PaceStep step = paceStep(busyUntil_, now, bytes, rate_, slept_);
    busyUntil_ = step.busyUntil;
    // A late sleeper goes on catching up until the path is ahead again.
    slept_ = step.sleepUntil != 0 || (slept_ && step.busyUntil < now);
    return step.sleepUntil;
}

void chargeAndSleep(PaceClock &clock, uint64_t bytes) {
    int64_t until = clock.charge(bytes);
    if (until)
        std::this_thread::sleep_for(std::chrono::nanoseconds(until - paceNow()));
}
