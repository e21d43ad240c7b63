/*
 * scheduler.cpp - running the firmware from the calls that wait for it
 * (see scheduler.h).
 */
#include "scheduler.h"

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;

int64_t nanosOf(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

Clock::time_point timeOf(int64_t ns) {
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

template <class F> void forEachChannel(VirtualBoard &b, F f) {
    for (Channel *ch : {&b.wake, static_cast<Channel *>(&b.fifoToHost), static_cast<Channel *>(&b.fifoToDsp),
                        static_cast<Channel *>(&b.stream), &b.reportBell})
        f(*ch);
    for (MessageQueue &q : b.reports)
        f(q);
    for (Node &n : b.node) {
        f(n.toDsp);
        f(n.toHost);
        f(n.signals);
    }
    for (LinkConnection &l : b.link)
        for (LinkLane &lane : l.lane)
            f(lane);
}

/* The earliest paced wake-up of a suspended firmware, 0 for none. */
int64_t nextWakeUp(const VirtualBoard &b) {
    int64_t at = 0;
    for (const Node &n : b.node)
        if (n.fiber && n.fiber->wait.until && (!at || n.fiber->wait.until < at))
            at = n.fiber->wait.until;
    return at;
}

} // namespace

Deadline deadlineAfter(int32_t timeoutMs) {
    if (timeoutMs < 0)
        return {true, {}};
    return {false, Clock::now() + std::chrono::milliseconds(timeoutMs)};
}

void touch(Channel &ch) {
    ch.changes.fetch_add(1, std::memory_order_relaxed);
    if (ch.bell && ch.bell->sleepers)
        ch.bell->cv.notify_all();
}

void attachChannels(VirtualBoard &b) {
    forEachChannel(b, [&](Channel &ch) { ch.bell = &b.sched.bell; });
}

void wakeAll(VirtualBoard &b) {
    forEachChannel(b, [](Channel &ch) { ch.changes.fetch_add(1, std::memory_order_relaxed); });
    b.sched.bell.cv.notify_all();
}

NodeFiber *nextRunnable(VirtualBoard &b) {
    int64_t now = 0;
    for (int k = 0; k < kNodes; ++k) {
        NodeFiber *f = b.node[(b.sched.next + k) % kNodes].fiber.get();
        if (!f)
            continue;
        const FiberWait &w = f->wait;
        if (!w.channel && !w.until)
            return f;
        if (w.channel && w.channel->changes.load(std::memory_order_relaxed) != w.seen)
            return f;
        if (w.until) {
            if (!now)
                now = paceNow();
            if (now >= w.until)
                return f;
        }
    }
    return nullptr;
}

void runFiber(std::unique_lock<std::mutex> &lk, VirtualBoard &b, NodeFiber &f, const Channel &hostWaits) {
    Scheduler &s = b.sched;
    s.busy = true;
    s.next = (f.node + 1) % kNodes;
    s.hostWaits = &hostWaits;
    s.hostSeen = hostWaits.changes.load(std::memory_order_relaxed);
    s.sliceEnd = paceNow() + kFirmwareSliceNs;
    lk.unlock();
    f.co.resume();
    lk.lock();
    s.busy = false;
    s.hostWaits = nullptr;
    if (f.co.finished())
        b.node[f.node].fiber.reset();
    // Another waiting thread may take over, or see what the firmware did.
    if (s.bell.sleepers)
        s.bell.cv.notify_all();
}

bool hostWaitStep(std::unique_lock<std::mutex> &lk, VirtualBoard &b, const Channel &ch, const Deadline &d, int &late) {
    Scheduler &s = b.sched;
    bool past = !d.forever && Clock::now() >= d.at;
    if (past && late >= kNodes)
        return false;
    if (!s.busy) {
        if (NodeFiber *f = nextRunnable(b)) {
            late += past;
            runFiber(lk, b, *f, ch);
            return true;
        }
    }
    if (past)
        return false;
    int64_t wake = s.busy ? 0 : nextWakeUp(b);
    ++s.bell.sleepers;
    if (wake && (d.forever || wake < nanosOf(d.at)))
        s.bell.cv.wait_until(lk, timeOf(wake));
    else if (d.forever)
        s.bell.cv.wait(lk);
    else
        s.bell.cv.wait_until(lk, d.at);
    --s.bell.sleepers;
    return true;
}

bool fiberWaitStep(std::unique_lock<std::mutex> &lk, NodeFiber &f, const Channel &ch, const Deadline &d) {
    if (!d.forever && Clock::now() >= d.at)
        return false;
    f.wait.channel = &ch;
    f.wait.seen = ch.changes.load(std::memory_order_relaxed);
    f.wait.until = d.forever ? 0 : std::max<int64_t>(nanosOf(d.at), 1);
    lk.unlock();
    f.co.suspend();
    lk.lock();
    f.wait = FiberWait();
    return true;
}

void fiberCheckpoint(std::unique_lock<std::mutex> &lk, NodeFiber &f) {
    const Scheduler &s = f.board.sched;
    bool giveWay = s.hostWaits && s.hostWaits->changes.load(std::memory_order_relaxed) != s.hostSeen;
    if (!giveWay && ++f.checks % 16 == 0)
        giveWay = paceNow() >= s.sliceEnd;
    if (!giveWay)
        return;
    f.wait = FiberWait();
    lk.unlock();
    f.co.suspend();
    lk.lock();
}
