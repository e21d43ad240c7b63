/*
 * pacing.h - how fast the board's paths go.
 *
 * The board file may give a path a bandwidth in MB/s (1 MB = 1048576
 * bytes, as the program counts). Each path then keeps a clock: the time
 * until which it is busy with what it has moved. A transfer of n bytes
 * pushes that time on by n / bandwidth; the caller sleeps only when the
 * path has run more than kPaceSlackNs ahead of real time. So thousands of
 * 4-byte calls average out to the bandwidth with one sleep per
 * millisecond, never a sleep per call. Bandwidth 0 leaves a path unpaced.
 */
#ifndef ZORVANTIK_SIM_PACING_H
#define ZORVANTIK_SIM_PACING_H

#include <cstdint>
#include <mutex>

constexpr int64_t kPaceSlackNs = 1000000;  /* a path may run this far ahead before it sleeps */
constexpr int64_t kPaceIdleNs = 2000000;   /* a path idle this long starts afresh from now */
constexpr int64_t kPaceLateNs = 100000000; /* but a caller it put to sleep may wake this late and go on */

/* One step of a path's clock: its new busy-until time, and the time to
 * sleep until (0: no sleep). Times are nanoseconds of one steady clock. */
struct PaceStep {
    int64_t busyUntil;
    int64_t sleepUntil;
};

/* The clock arithmetic, without side effects. A path that was busy until
 * shortly before `now` (kPaceIdleNs) goes on from where it was, so that a
 * short gap is made up by the next transfers; one idle for longer starts
 * at `now`. `lateNs`: how late a busy machine woke the caller that the
 * path last put to sleep, while the path has not caught up since. That
 * much more gap is made up too, up to kPaceLateNs: the lost time was the
 * path's sleep, not the caller's own pause. A caller that goes on to
 * other work for longer than kPaceIdleNs after it wakes starts afresh,
 * so a late wake at the end of one test never speeds up the next. */
PaceStep paceStep(int64_t busyUntil, int64_t now, uint64_t bytes, uint32_t mbPerSecond, int64_t lateNs = 0);

/* Nanoseconds of the steady clock that paceStep works in. */
int64_t paceNow();

/* The clock of one path of one board; any thread may charge it. */
class PaceClock {
public:
    void setRate(uint32_t mbPerSecond) { rate_ = mbPerSecond; }
    bool paced() const { return rate_ != 0; }
    /* Accounts for `bytes` moved now; returns the time to sleep until, or 0. */
    int64_t charge(uint64_t bytes);
    /* The caller is back from the sleep until `until` that charge asked
     * for: how late it is back is made up by the next transfers. */
    void woke(int64_t until);

private:
    std::mutex lock_;
    uint32_t rate_ = 0;     /* MB/s, 0 = unpaced; set before any thread charges */
    int64_t busyUntil_ = 0; /* guarded by lock_ */
    int64_t late_ = 0;      /* the last sleeper's lateness, until caught up; guarded by lock_ */
};

/* Charges the clock and sleeps as it says: for host calls, whose pauses
 * stay within a few milliseconds. An unpaced path costs a test. */
void chargeAndSleep(PaceClock &clock, uint64_t bytes);
inline void paceHost(PaceClock &clock, uint64_t bytes) {
    if (clock.paced())
        chargeAndSleep(clock, bytes);
}

#endif /* ZORVANTIK_SIM_PACING_H */
