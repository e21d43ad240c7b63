/*
 * scheduler.h - who runs the processors' firmware, and how every call
 * that waits on the board waits.
 *
 * A started processor's firmware is a coroutine (coroutine.h), not a
 * thread. Where it would block (a message, a signal, FIFO bytes, a link
 * word, a pause of its pacing) it suspends, noting what it waits for: a
 * change of a channel, or a time. Nothing runs it in the background: a
 * host call that must wait for the board runs the board's firmware on
 * its own thread, one resumable coroutine after another, round robin,
 * until its own condition holds, its time is up, or a reset or close
 * ends it. One thread at a time runs a board's firmware (the scheduler
 * is "busy"); other waiting threads sleep on the board's bell meanwhile,
 * and take over when it is free.
 *
 * A firmware gives way at its next board operation as soon as what the
 * running host call waits on has changed, so the host sees a message as
 * soon as it is sent, or once it has run for a slice of time, so a
 * firmware that never waits (an unpaced source) cannot keep the host
 * beyond its timeout. When no firmware can run and the host still waits,
 * it sleeps until its deadline, the next paced wake-up of a firmware, or
 * a change that another thread makes (the stream's other client, a
 * close from the interrupt key, a second host thread).
 *
 * A wait whose time is already up still lets the firmware run a round
 * first: a poll with timeout 0 sees what a processor running beside the
 * host would have done by then.
 */
#ifndef ZORVANTIK_SIM_SCHEDULER_H
#define ZORVANTIK_SIM_SCHEDULER_H

#include "virtual_board.h"

#include <chrono>
#include <cstdint>
#include <mutex>

/* When a wait gives up; a negative timeout waits without limit. */
struct Deadline {
    bool forever;
    std::chrono::steady_clock::time_point at;
};
Deadline deadlineAfter(int32_t timeoutMs);

/* How long a firmware runs before it gives way to the host call running
 * it, in nanoseconds. */
constexpr int64_t kFirmwareSliceNs = 2000000;

/* Counts a change of `ch` and rings the board's bell for its sleepers;
 * under the board lock. */
void touch(Channel &ch);

/* Links every channel of a fresh board to its bell. */
void attachChannels(VirtualBoard &b);

/* Counts a change of every channel of the board and rings the bell:
 * every wait looks again at what ends it. Under the board lock, after
 * setting what ends those waits. */
void wakeAll(VirtualBoard &b);

/* Runs `f` on the calling thread from where it stands until it suspends
 * or returns; a returned one is freed. Under `lk`, which it gives up
 * meanwhile; the scheduler must not be busy. */
void runFiber(std::unique_lock<std::mutex> &lk, VirtualBoard &b, NodeFiber &f, const Channel &hostWaits);

/* The next firmware that can run now, round robin, or nullptr. */
NodeFiber *nextRunnable(VirtualBoard &b);

/* One step of a host thread's wait that is neither ended nor ready:
 * runs one firmware for a slice, or sleeps until a change, `d`, or the
 * next paced wake-up. `late` counts the slices run once `d` had passed.
 * False once the wait's time is up. Under `lk`. */
bool hostWaitStep(std::unique_lock<std::mutex> &lk, VirtualBoard &b, const Channel &ch, const Deadline &d, int &late);

/* A firmware's wait for `ch` to change or `d` to pass: suspends. False
 * when `d` has passed already. Under `lk`, which it gives up meanwhile. */
bool fiberWaitStep(std::unique_lock<std::mutex> &lk, NodeFiber &f, const Channel &ch, const Deadline &d);

/* A firmware's board operation gives way here when the host call that
 * runs it may now be answered, or its slice is over. Under `lk`. */
void fiberCheckpoint(std::unique_lock<std::mutex> &lk, NodeFiber &f);

/* Waits under `lk` until `ready()`: kQalOk; or until `ended()` says
 * otherwise: its status; or until the deadline: kQalTimeout. `self` is
 * the firmware that waits, or nullptr for any other thread (a host call,
 * the stream's other client). */
template <class Ended, class Ready>
int32_t waitOn(std::unique_lock<std::mutex> &lk, VirtualBoard &b, NodeFiber *self, Channel &ch, const Deadline &d,
               Ended ended, Ready ready) {
    if (self)
        fiberCheckpoint(lk, *self);
    for (int late = 0;;) {
        int32_t status = ended();
        if (status != kQalOk)
            return status;
        if (ready())
            return kQalOk;
        if (!(self ? fiberWaitStep(lk, *self, ch, d) : hostWaitStep(lk, b, ch, d, late))) {
            status = ended();
            return status != kQalOk ? status : ready() ? kQalOk : kQalTimeout;
        }
    }
}

#endif /* ZORVANTIK_SIM_SCHEDULER_H */
