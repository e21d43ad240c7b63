/*
 * channels.cpp - messages, signals and FIFO port 8, both sides.
 */
#include "channels.h"

#include <algorithm>
#include <cstring>

namespace {

bool validSignal(int32_t signal) { return signal >= 0 && signal < kSignals; }

bool never() { return false; }

/* Queues a copy of the message; waits while the queue is full. */
template <class Ended>
int32_t putMessage(std::unique_lock<std::mutex> &lk, VirtualBoard &b, NodeFiber *self, MessageQueue &q,
                   const Deadline &d, Ended ended, const void *buf, uint32_t size) {
    int32_t status = waitOn(lk, b, self, q, d, ended, [&] { return q.count < kMessageDepth; });
    if (status != kQalOk)
        return status;
    MessageQueue::Slot &slot = q.slot[(q.head + q.count) % kMessageDepth];
    if (slot.bytes.size() < size)
        slot.bytes.resize(size);
    if (size)
        std::memcpy(slot.bytes.data(), buf, size);
    slot.size = size;
    ++q.count;
    touch(q);
    return kQalOk;
}

/* Takes the oldest message into `buf`, which has room for `size` bytes;
 * `size` becomes what was delivered. When `hopeless()` tells that no
 * message can come any more, an empty queue is a timeout at once. */
template <class Ended, class Hopeless>
int32_t getMessage(std::unique_lock<std::mutex> &lk, VirtualBoard &b, NodeFiber *self, MessageQueue &q,
                   const Deadline &d, Ended ended, void *buf, uint32_t &size, Hopeless hopeless) {
    uint32_t room = size;
    size = 0;
    int32_t status = waitOn(lk, b, self, q, d, ended, [&] { return q.count > 0 || hopeless(); });
    if (status != kQalOk)
        return status;
    if (q.count == 0)
        return kQalTimeout;
    const MessageQueue::Slot &slot = q.slot[q.head];
    size = std::min(room, slot.size);
    if (size)
        std::memcpy(buf, slot.bytes.data(), size);
    status = size < slot.size ? kQalCut : kQalOk;
    q.head = (q.head + 1) % kMessageDepth;
    --q.count;
    touch(q);
    return status;
}

/* Up to `size` bytes into or out of the ring, as far as it has bytes or
 * room; returns how many moved. */
uint32_t fifoTake(ByteFifo &f, uint8_t *dst, uint32_t size) {
    uint32_t n = std::min(size, f.count);
    uint32_t first = std::min(n, kFifoBytes - f.head);
    std::memcpy(dst, &f.ring[f.head], first);
    std::memcpy(dst + first, &f.ring[0], n - first);
    f.head = (f.head + n) % kFifoBytes;
    f.count -= n;
    touch(f);
    return n;
}

uint32_t fifoPut(ByteFifo &f, const uint8_t *src, uint32_t size) {
    uint32_t n = std::min(size, kFifoBytes - f.count);
    uint32_t tail = (f.head + f.count) % kFifoBytes;
    uint32_t first = std::min(n, kFifoBytes - tail);
    std::memcpy(&f.ring[tail], src, first);
    std::memcpy(&f.ring[0], src + first, n - first);
    f.count += n;
    touch(f);
    return n;
}

/* Moves all `size` bytes, waiting for bytes or room as it goes. */
template <class Ended>
int32_t fifoRead(std::unique_lock<std::mutex> &lk, VirtualBoard &b, NodeFiber *self, ByteFifo &f, const Deadline &d,
                 Ended ended, uint8_t *dst, uint32_t size) {
    for (uint32_t done = 0; done < size;) {
        int32_t status = waitOn(lk, b, self, f, d, ended, [&] { return f.count > 0; });
        if (status != kQalOk)
            return status;
        done += fifoTake(f, dst + done, size - done);
    }
    return kQalOk;
}

template <class Ended>
int32_t fifoWrite(std::unique_lock<std::mutex> &lk, VirtualBoard &b, NodeFiber *self, ByteFifo &f, const Deadline &d,
                  Ended ended, const uint8_t *src, uint32_t size) {
    for (uint32_t done = 0; done < size;) {
        int32_t status = waitOn(lk, b, self, f, d, ended, [&] { return f.count < kFifoBytes; });
        if (status != kQalOk)
            return status;
        done += fifoPut(f, src + done, size - done);
    }
    return kQalOk;
}

/* Port 8 leads to P1 and nowhere else. */
int32_t checkFifo(const VirtualBoard &b, int32_t node, int32_t port, const void *buf, uint32_t size) {
    if (node != 0)
        return kQalNoCpu;
    if (port != kFifoPort || (!buf && size))
        return kQalBadArgument;
    return checkNode(b, node);
}

int32_t hostFifo(VirtualBoard &b, int32_t node, int32_t port, ByteFifo &f, uint8_t *dst, const uint8_t *src,
                 uint32_t size, int32_t timeoutMs) {
    int32_t status = checkFifo(b, node, port, dst ? static_cast<const void *>(dst) : src, size);
    if (status != kQalOk)
        return status;
    Deadline d = deadlineAfter(timeoutMs);
    Node &n = b.node[0];
    std::unique_lock<std::mutex> lk(b.lock);
    uint64_t epoch = n.epoch;
    auto ended = [&] { return hostEnded(b, n, epoch); };
    return dst ? fifoRead(lk, b, nullptr, f, d, ended, dst, size) : fifoWrite(lk, b, nullptr, f, d, ended, src, size);
}

/* The firmware's transfers pay for themselves on their interface's clock. */
int32_t dspPace(VirtualBoard &b, int32_t node, PacePath via, uint32_t bytes) {
    int64_t until = b.pace[via].charge(bytes);
    if (!until)
        return kQalOk;
    int32_t status = dspPauseUntil(b, node, until);
    b.pace[via].woke(until);
    return status;
}

} // namespace

int32_t hostEnded(const VirtualBoard &b, const Node &n, uint64_t epoch) {
    if (b.closing)
        return kQalBadHandle;
    return n.epoch != epoch ? kQalStopped : kQalOk;
}

int32_t dspEnded(const VirtualBoard &b, const Node &n) { return n.stop || b.closing ? kQalStopped : kQalOk; }

int32_t hostPutMsg(VirtualBoard &b, int32_t node, const void *buf, uint32_t size, int32_t timeoutMs) {
    int32_t status = checkNode(b, node);
    if (status != kQalOk)
        return status;
    if ((!buf && size) || size > kMaxMessageBytes)
        return kQalBadArgument;
    Deadline d = deadlineAfter(timeoutMs);
    Node &n = b.node[node];
    std::unique_lock<std::mutex> lk(b.lock);
    uint64_t epoch = n.epoch;
    auto ended = [&] { return hostEnded(b, n, epoch); };
    status = putMessage(lk, b, nullptr, n.toDsp, d, ended, buf, size);
    lk.unlock();
    if (status == kQalOk)
        paceHost(b.pace[kPaceMessages], size);
    return status;
}

int32_t hostGetMsg(VirtualBoard &b, int32_t node, void *buf, uint32_t &size, int32_t timeoutMs) {
    int32_t status = checkNode(b, node);
    if (status == kQalOk && !buf && size)
        status = kQalBadArgument;
    if (status != kQalOk) {
        size = 0;
        return status;
    }
    Deadline d = deadlineAfter(timeoutMs);
    Node &n = b.node[node];
    std::unique_lock<std::mutex> lk(b.lock);
    uint64_t epoch = n.epoch;
    auto ended = [&] { return hostEnded(b, n, epoch); };
    // Only the node's own firmware sends on its node: once none runs, a
    // wait with a limit would sit it out for nothing.
    status = getMessage(lk, b, nullptr, n.toHost, d, ended, buf, size, [&] { return !d.forever && !n.running; });
    lk.unlock();
    if (size)
        paceHost(b.pace[kPaceMessages], size);
    return status;
}

/* The node and the signal number of a host signal call. */
static int32_t checkSignal(VirtualBoard &b, int32_t node, int32_t signal) {
    int32_t status = checkNode(b, node);
    if (status == kQalOk && !validSignal(signal))
        status = kQalBadArgument;
    return status;
}

int32_t hostSendSignal(VirtualBoard &b, int32_t node, int32_t signal) {
    int32_t status = checkSignal(b, node, signal);
    if (status != kQalOk)
        return status;
    std::lock_guard<std::mutex> guard(b.lock);
    if (b.closing)
        return kQalBadHandle;
    Node &n = b.node[node];
    if (b.config.interruptsToDsp) {
        ++n.hostSignals[signal];
        touch(n.signals);
    }
    return kQalOk;
}

/* On a dead line towards the host the firmware's signals stay pending on
 * the board and never show; on a dead line towards the processors the
 * host's signals vanish on the way. A finite wait ends at once, with 0,
 * when the board knows that nothing can show any more: the line towards
 * the host is dead, no firmware runs on the node, or it waits for a host
 * signal that cannot reach it. */
int32_t hostGrabSignal(VirtualBoard &b, int32_t node, int32_t signal, int32_t timeoutMs) {
    int32_t status = checkSignal(b, node, signal);
    if (status != kQalOk)
        return status;
    Deadline d = deadlineAfter(timeoutMs);
    Node &n = b.node[node];
    const BoardConfig &c = b.config;
    std::unique_lock<std::mutex> lk(b.lock);
    uint64_t epoch = n.epoch;
    auto pending = [&] { return c.interruptsToHost && n.dspSignals[signal]; };
    auto hopeless = [&] {
        return !d.forever && (!c.interruptsToHost || !n.running || (n.awaitingSignal && !c.interruptsToDsp));
    };
    auto ended = [&] { return hostEnded(b, n, epoch); };
    status = waitOn(lk, b, nullptr, n.signals, d, ended, [&] { return pending() || hopeless(); });
    if (status == kQalTimeout)
        return 0;
    return status != kQalOk ? status : pending() ? 1 : 0;
}

int32_t hostAckSignal(VirtualBoard &b, int32_t node, int32_t signal) {
    int32_t status = checkSignal(b, node, signal);
    if (status != kQalOk)
        return status;
    std::lock_guard<std::mutex> guard(b.lock);
    if (b.closing)
        return kQalBadHandle;
    Node &n = b.node[node];
    n.dspSignals[signal] = false;
    touch(n.signals);
    return kQalOk;
}

int32_t hostReadFifo(VirtualBoard &b, int32_t node, int32_t port, void *buf, uint32_t size, int32_t timeoutMs) {
    return hostFifo(b, node, port, b.fifoToHost, static_cast<uint8_t *>(buf), nullptr, size, timeoutMs);
}

int32_t hostWriteFifo(VirtualBoard &b, int32_t node, int32_t port, const void *buf, uint32_t size, int32_t timeoutMs) {
    return hostFifo(b, node, port, b.fifoToDsp, nullptr, static_cast<const uint8_t *>(buf), size, timeoutMs);
}

int32_t dspPutMsg(VirtualBoard &b, int32_t node, const void *buf, uint32_t size) {
    if ((!buf && size) || size > kMaxMessageBytes)
        return kQalBadArgument;
    Node &n = b.node[node];
    std::unique_lock<std::mutex> lk(b.lock);
    auto ended = [&] { return dspEnded(b, n); };
    return putMessage(lk, b, n.fiber.get(), n.toHost, deadlineAfter(-1), ended, buf, size);
}

int32_t dspGetMsg(VirtualBoard &b, int32_t node, void *buf, uint32_t &size) {
    Node &n = b.node[node];
    std::unique_lock<std::mutex> lk(b.lock);
    auto ended = [&] { return dspEnded(b, n); };
    return getMessage(lk, b, n.fiber.get(), n.toDsp, deadlineAfter(-1), ended, buf, size, never);
}

int32_t dspWaitSignal(VirtualBoard &b, int32_t node, int32_t signal) {
    if (!validSignal(signal))
        return kQalBadArgument;
    Node &n = b.node[node];
    std::unique_lock<std::mutex> lk(b.lock);
    auto ended = [&] { return dspEnded(b, n); };
    n.awaitingSignal = true;
    touch(n.signals);
    int32_t status =
        waitOn(lk, b, n.fiber.get(), n.signals, deadlineAfter(-1), ended, [&] { return n.hostSignals[signal] > 0; });
    n.awaitingSignal = false;
    if (status == kQalOk) {
        --n.hostSignals[signal];
        touch(n.signals);
    }
    return status;
}

/* One signal outstanding per line: a second raise waits for the host's
 * acknowledgement of the first. */
int32_t dspRaiseSignal(VirtualBoard &b, int32_t node, int32_t signal) {
    if (!validSignal(signal))
        return kQalBadArgument;
    Node &n = b.node[node];
    std::unique_lock<std::mutex> lk(b.lock);
    auto ended = [&] { return dspEnded(b, n); };
    int32_t status =
        waitOn(lk, b, n.fiber.get(), n.signals, deadlineAfter(-1), ended, [&] { return !n.dspSignals[signal]; });
    if (status == kQalOk) {
        n.dspSignals[signal] = true;
        touch(n.signals);
    }
    return status;
}

int32_t dspWriteFifo(VirtualBoard &b, int32_t node, PacePath via, const void *buf, uint32_t size) {
    if (node != 0)
        return kQalNoCpu;
    Node &n = b.node[0];
    std::unique_lock<std::mutex> lk(b.lock);
    auto ended = [&] { return dspEnded(b, n); };
    int32_t status = fifoWrite(lk, b, n.fiber.get(), b.fifoToHost, deadlineAfter(-1), ended,
                               static_cast<const uint8_t *>(buf), size);
    lk.unlock();
    return status == kQalOk ? dspPace(b, node, via, size) : status;
}

int32_t dspReadFifo(VirtualBoard &b, int32_t node, PacePath via, void *buf, uint32_t &size) {
    uint32_t room = size;
    size = 0;
    if (node != 0)
        return kQalNoCpu;
    Node &n = b.node[0];
    std::unique_lock<std::mutex> lk(b.lock);
    auto ended = [&] { return dspEnded(b, n); };
    int32_t status = waitOn(lk, b, n.fiber.get(), b.fifoToDsp, deadlineAfter(-1), ended,
                            [&] { return b.fifoToDsp.count > 0 || room == 0; });
    if (status != kQalOk)
        return status;
    size = fifoTake(b.fifoToDsp, static_cast<uint8_t *>(buf), room);
    lk.unlock();
    return dspPace(b, node, via, size);
}

int32_t dspReport(VirtualBoard &b, int32_t node, const uint32_t *words, uint32_t count) {
    Node &n = b.node[node];
    std::unique_lock<std::mutex> lk(b.lock);
    auto ended = [&] { return dspEnded(b, n); };
    if (node != 0) {
        int32_t status = putMessage(lk, b, n.fiber.get(), b.reports[node], deadlineAfter(-1), ended, words, count * 4);
        if (status == kQalOk)
            touch(b.reportBell);
        return status;
    }
    for (uint32_t i = 0; i < count; ++i) {
        int32_t status = putMessage(lk, b, n.fiber.get(), n.toHost, deadlineAfter(-1), ended, &words[i], 4);
        if (status != kQalOk)
            return status;
    }
    return kQalOk;
}

int32_t dspTakeReport(VirtualBoard &b, int32_t node, int32_t from, uint32_t *words, uint32_t &count) {
    uint32_t room = count;
    count = 0;
    if (node != 0 || from == 0 || from < -1 || from >= kNodes)
        return kQalNoCpu;
    Node &n = b.node[0];
    std::unique_lock<std::mutex> lk(b.lock);
    auto ended = [&] { return dspEnded(b, n); };
    MessageQueue *q = nullptr;
    int32_t status = waitOn(lk, b, n.fiber.get(), b.reportBell, deadlineAfter(-1), ended, [&] {
        for (int32_t i = from < 0 ? 1 : from; i < (from < 0 ? kNodes : from + 1); ++i)
            if (b.reports[i].count) {
                q = &b.reports[i];
                return true;
            }
        return false;
    });
    if (status != kQalOk)
        return status;
    uint32_t size = room * 4;
    status = getMessage(lk, b, n.fiber.get(), *q, deadlineAfter(-1), ended, words, size, never);
    count = size / 4;
    return status;
}

int32_t dspPauseUntil(VirtualBoard &b, int32_t node, int64_t until) {
    using namespace std::chrono;
    Node &n = b.node[node];
    Deadline d{false, steady_clock::time_point(duration_cast<steady_clock::duration>(nanoseconds(until)))};
    std::unique_lock<std::mutex> lk(b.lock);
    waitOn(
        lk, b, n.fiber.get(), b.wake, d, [&] { return dspEnded(b, n); }, [] { return false; });
    return dspEnded(b, n);
}

void clearNodeChannels(VirtualBoard &b, int32_t node) {
    Node &n = b.node[node];
    for (MessageQueue *q : {&n.toDsp, &n.toHost}) {
        q->head = q->count = 0;
        touch(*q);
    }
    std::fill(std::begin(n.hostSignals), std::end(n.hostSignals), 0u);
    std::fill(std::begin(n.dspSignals), std::end(n.dspSignals), false);
    touch(n.signals);
    if (node == 0) {
        for (ByteFifo *f : {&b.fifoToHost, &b.fifoToDsp}) {
            f->head = f->count = 0;
            touch(*f);
        }
        for (MessageQueue &q : b.reports) {
            q.head = q.count = 0;
            touch(q);
        }
        touch(b.reportBell);
    }
}
