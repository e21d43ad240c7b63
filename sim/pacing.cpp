/*
 * pacing.cpp - per-path clocks of the board.
 */
#include "pacing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

PaceStep paceStep(int64_t busyUntil, int64_t now, uint64_t bytes, uint32_t mbPerSecond, int64_t lateNs) {
    if (mbPerSecond == 0)
        return {busyUntil, 0};
    if (busyUntil < now - kPaceIdleNs - std::clamp<int64_t>(lateNs, 0, kPaceLateNs))
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
    PaceStep step = paceStep(busyUntil_, now, bytes, rate_, late_);
    busyUntil_ = step.busyUntil;
    // A late sleeper goes on catching up until the path is ahead again.
    if (step.busyUntil >= now)
        late_ = 0;
    return step.sleepUntil;
}

void PaceClock::woke(int64_t until) {
    int64_t late = paceNow() - until;
    std::lock_guard<std::mutex> guard(lock_);
    late_ = std::clamp<int64_t>(late, 0, kPaceLateNs);
}

void chargeAndSleep(PaceClock &clock, uint64_t bytes) {
    int64_t until = clock.charge(bytes);
    if (until) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(until - paceNow()));
        clock.woke(until);
    }
}
