/*
 * stream.cpp - the DMA stream service (see stream.h).
 */
#include "stream.h"

#include "channels.h"

#include <cstring>
#include <exception>
#include <utility>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

/* Stream states a query reports. */
constexpr uint32_t kStreamStopped = 0;
constexpr uint32_t kStreamRunning = 1;

/* The other client of an observer: it runs the stream with tst_strm's
 * data until the observer's blocks go. */
void runOtherClient(VirtualBoard *b) { streamProduce(*b, nullptr, b->stream.otherStop, streamWordCount); }

/* Stops the stream, joins the other client and waits out a block being
 * filled; then the blocks go. Takes and gives back `lk`. */
void freeBlocks(VirtualBoard &b, std::unique_lock<std::mutex> &lk) {
    StreamService &s = b.stream;
    s.running = false;
    s.otherStop = true;
    touch(s);
    std::thread other = std::move(s.otherClient);
    lk.unlock();
    if (other.joinable())
        other.join();
    lk.lock();
    waitOn(
        lk, b, nullptr, s, deadlineAfter(-1), [] { return kQalOk; }, [&] { return !s.filling; });
    s.block.clear();
    s.blockBytes = 0;
    s.filled = s.taken = 0;
    s.held = -1;
    s.overflows = 0;
    s.otherStop = false;
    touch(s);
}

/* Sets up the blocks; the size is rounded up to whole words. In observer
 * mode the other client's stream begins to fill them at once. Up to
 * 16 x 16 MB of host memory: the blocks are made aside first, so a host
 * that has not that much leaves the service as it was, with none. */
int32_t allocBlocks(VirtualBoard &b, StreamBufferSetup *setup) {
    StreamService &s = b.stream;
    if (!setup || !setup->blockAddrs || setup->direction != 1 || setup->blockCount < 1 ||
        setup->blockCount > kStreamMaxBlocks || setup->blockSize < 1 || setup->blockSize > kStreamMaxBlockBytes)
        return kQalBadArgument;
    if (!s.block.empty())
        return kQalRefused;
    uint32_t blockBytes = (setup->blockSize + 3) / 4 * 4;
    std::vector<std::vector<uint32_t>> blocks(setup->blockCount, std::vector<uint32_t>(blockBytes / 4));
    s.block = std::move(blocks);
    s.blockBytes = blockBytes;
    for (uint32_t i = 0; i < setup->blockCount; ++i)
        setup->blockAddrs[i] = s.block[i].data();
    setup->blockSize = s.blockBytes;
    if (s.mode == QAL_CAPTURE_SHARED) {
        try {
            s.otherClient = std::thread(runOtherClient, &b);
        } catch (const std::exception &) {
            s.block.clear();
            s.blockBytes = 0;
            return kQalFailed;
        }
        s.running = true;
    }
    touch(s);
    return kQalOk;
}

bool anyNodeRunning(const VirtualBoard &b) {
    for (const Node &n : b.node)
        if (n.running)
            return true;
    return false;
}

/* Waits for a block filled since the last query and hands the newest to
 * the holder; fails at once when the stream is not running and nothing
 * new is there. */
int32_t queryState(VirtualBoard &b, std::unique_lock<std::mutex> &lk, int32_t handle, StreamBufferState *state) {
    StreamService &s = b.stream;
    if (!state)
        return kQalBadArgument;
    ++s.queries;
    if (b.config.streamStateFailFrom && s.queries >= b.config.streamStateFailFrom)
        return kQalFailed;
    if (s.block.empty())
        return kQalFailed;
    s.held = -1;
    touch(s);
    auto ended = [&] {
        return b.closing || s.holder != handle ? kQalBadHandle : s.block.empty() ? kQalFailed : kQalOk;
    };
    // Only firmware on a node, or the other client of an observer, fills
    // blocks: with none running a wait with a limit would sit it out.
    Deadline d = deadlineAfter(int32_t(state->timeoutMs));
    auto hopeless = [&] { return !d.forever && s.mode == QAL_CAPTURE_EXCLUSIVE && !anyNodeRunning(b); };
    int32_t status =
        waitOn(lk, b, nullptr, s, d, ended, [&] { return s.filled > s.taken || !s.running || hopeless(); });
    if (status == kQalOk && s.filled == s.taken)
        status = s.running ? kQalTimeout : kQalFailed;
    if (status == kQalBadHandle || (status == kQalFailed && s.block.empty()))
        return status;
    if (status == kQalOk) {
        s.taken = s.filled;
        s.held = int32_t((s.filled - 1) % s.block.size());
    }
    state->blockIndex = s.filled ? uint32_t((s.filled - 1) % s.block.size()) : 0;
    state->blockCount = uint32_t(s.filled);
    state->overflows = s.overflows;
    state->state = s.running ? kStreamRunning : kStreamStopped;
    return status;
}

/* Pauses a producer until `until` (paceNow time): the stream's bandwidth. */
int32_t pauseProducer(VirtualBoard &b, std::unique_lock<std::mutex> &lk, NodeFiber *self, const std::atomic<bool> &stop,
                      int64_t until) {
    using namespace std::chrono;
    auto ended = [&] { return stop || b.closing ? kQalStopped : kQalOk; };
    Deadline d{false, steady_clock::time_point(duration_cast<steady_clock::duration>(nanoseconds(until)))};
    int32_t status = waitOn(lk, b, self, b.stream, d, ended, [] { return false; });
    return status == kQalTimeout ? kQalOk : status;
}

} // namespace

int32_t streamCapture(VirtualBoard &b, const char *name, int32_t handle, int32_t &mode) {
    if (!name || std::strcmp(name, kStreamName) != 0 || (mode != QAL_CAPTURE_EXCLUSIVE && mode != QAL_CAPTURE_SHARED))
        return kQalBadArgument;
    std::lock_guard<std::mutex> guard(b.lock);
    StreamService &s = b.stream;
    if (b.closing)
        return kQalBadHandle;
    if (!b.config.streamCapture || s.holder)
        return kQalRefused;
    if (b.config.streamMode == QAL_CAPTURE_SHARED)
        mode = QAL_CAPTURE_SHARED;
    s.holder = handle;
    s.mode = mode;
    return kQalOk;
}

int32_t streamRelease(VirtualBoard &b, int32_t handle) {
    std::unique_lock<std::mutex> lk(b.lock);
    StreamService &s = b.stream;
    if (s.holder != handle)
        return kQalBadHandle;
    freeBlocks(b, lk);
    s.holder = 0;
    s.mode = 0;
    return kQalOk;
}

/* The observer may set up, query and free, but the stream is not its to
 * start or stop. */
int32_t streamCtrl(VirtualBoard &b, int32_t handle, int32_t code, void *arg) {
    std::unique_lock<std::mutex> lk(b.lock);
    StreamService &s = b.stream;
    if (b.closing || s.holder != handle)
        return kQalBadHandle;
    bool owner = s.mode == QAL_CAPTURE_EXCLUSIVE;
    switch (code) {
    case QALctrl_STREAM_CBUF_ALLOC:
        return allocBlocks(b, static_cast<StreamBufferSetup *>(arg));
    case QALctrl_STREAM_CBUF_FREE:
        freeBlocks(b, lk);
        return kQalOk;
    case QALctrl_STREAM_CBUF_START:
        if (!owner)
            return kQalRefused;
        if (s.block.empty())
            return kQalFailed;
        s.running = true;
        touch(s);
        return kQalOk;
    case QALctrl_STREAM_CBUF_STOP:
        if (!owner)
            return kQalRefused;
        s.running = false;
        touch(s);
        return kQalOk;
    case QALctrl_STREAM_CBUF_STATE:
        return queryState(b, lk, handle, static_cast<StreamBufferState *>(arg));
    default:
        return kQalBadArgument;
    }
}

/* One block at a time: chosen and marked under the lock, written outside
 * it, counted under it again. The block the holder has is skipped over
 * by waiting, never overwritten. */
int32_t streamProduce(VirtualBoard &b, NodeFiber *self, const std::atomic<bool> &stop, StreamFill fill) {
    StreamService &s = b.stream;
    auto ended = [&] { return stop || b.closing ? kQalStopped : kQalOk; };
    const Deadline forever = deadlineAfter(-1);
    std::unique_lock<std::mutex> lk(b.lock);
    for (;;) {
        int32_t status =
            waitOn(lk, b, self, s, forever, ended, [&] { return s.running && !s.block.empty() && !s.filling; });
        if (status != kQalOk)
            return status;
        uint32_t index = uint32_t(s.filled % s.block.size());
        if (int32_t(index) == s.held) {
            ++s.overflows;
            status =
                waitOn(lk, b, self, s, forever, ended, [&] { return s.held != int32_t(index) || s.block.empty(); });
            if (status != kQalOk)
                return status;
            continue;
        }
        uint32_t *words = s.block[index].data();
        size_t count = s.blockBytes / 4;
        uint64_t before = s.filled * count;
        s.filling = true;
        lk.unlock();
        fill(words, count, before);
        int64_t until = b.pace[kPaceStream].charge(count * 4);
        lk.lock();
        s.filling = false;
        ++s.filled;
        touch(s);
        if (until) {
            status = pauseProducer(b, lk, self, stop, until);
            b.pace[kPaceStream].woke(until);
            if (status != kQalOk)
                return status;
        }
    }
}

/* Four words at a time where the host can: the stream fills megabytes a
 * run, and the compiler leaves this loop a word at a time. */
void streamWordCount(uint32_t *words, size_t count, uint64_t wordsBefore) {
    size_t i = 0;
#if defined(__SSE2__)
    uint32_t first = uint32_t(wordsBefore);
    __m128i next = _mm_setr_epi32(int(first), int(first + 1), int(first + 2), int(first + 3));
    const __m128i four = _mm_set1_epi32(4);
    for (; count - i >= 4; i += 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(words + i), next);
        next = _mm_add_epi32(next, four);
    }
#endif
    for (; i < count; ++i)
        words[i] = uint32_t(wordsBefore + i);
}

/* Blocks a close takes away. Their addresses are the host's: a close
 * from another thread (the program's interrupt key) may come while the
 * host still reads the newest block, as it does between queries without
 * any call. So their memory stays until the process ends; only the
 * holder's own free or release gives blocks back. */
static void retireBlocks(StreamService &s) {
    static std::mutex retiredLock;
    static auto *retired = new std::vector<std::vector<std::vector<uint32_t>>>;
    std::lock_guard<std::mutex> guard(retiredLock);
    retired->push_back(std::move(s.block));
    s.block.clear();
}

void shutdownStream(VirtualBoard &b) {
    std::unique_lock<std::mutex> lk(b.lock);
    if (!b.stream.block.empty())
        retireBlocks(b.stream);
    freeBlocks(b, lk);
    b.stream.holder = 0;
}
