/*
 * replay.cpp - answering a board's calls from a trace (see replay.h).
 */
#include "replay.h"

#include "trace_calls.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace qtrace;
using Clock = std::chrono::steady_clock;

/* The blocks of a stream set-up, each of `bytes` bytes. */
struct StreamBlocks {
    std::vector<uint32_t *> at;
    uint32_t bytes = 0;
};

struct Replay {
    std::string path;   /* the trace, as the board file names it */
    int32_t number = 0; /* the board number */
    bool timed = false; /* replay_timing = recorded */
    ReplayTraceLine traceLine = nullptr;
    Trace trace;
    int32_t recordedBoard = 0; /* the handle the recorded QAL_open returned */

    std::mutex lock; /* guards what follows */
    std::condition_variable wake;
    bool closing = false;
    Clock::time_point pinnedAt;                        /* recorded timing: this host's time of... */
    std::chrono::nanoseconds pinnedTo{0};              /* ...this time of the recording (keepTime) */
    bool gone = false;                                 /* diverged or past the end: every call fails */
    uint64_t calls = 0;                                /* calls the program made of the board */
    std::map<std::thread::id, uint32_t> threads;       /* the program's threads as the trace numbers them */
    std::map<uint32_t, size_t> next;                   /* per recorded thread: the next record to look at */
    std::map<int32_t, int32_t> services;               /* service handle given here -> recorded */
    std::set<int32_t> recordedServices;                /* services the trace captured of this board */
    std::map<int32_t, StreamBlocks> blocks;            /* stream blocks by service handle given here */
};

namespace {

/* Stream blocks stay until the process ends: the program may read the
 * newest one after a close from its interrupt thread, as with the
 * simulated stream. Zeroed by the system as they are touched, so the
 * pages of a block the program never reads cost nothing. */
uint32_t *lastingBlock(size_t words) {
    static std::mutex retiredLock;
    static auto *retired = new std::vector<void *>;
    std::lock_guard<std::mutex> guard(retiredLock);
    retired->reserve(retired->size() + 1);
    void *block = std::calloc(words, 4);
    if (!block)
        throw std::bad_alloc();
    retired->push_back(block);
    return static_cast<uint32_t *>(block);
}

/* One line on stderr; no byte of the trace reaches the terminal as a
 * control. */
void tell(const std::string &line) {
    std::string text = escapeControls(line) + '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

/* Whether a record is a call of this board: one with its handle, or with
 * a service handle the trace captured of it. */
bool ofThisBoard(const Replay &r, const Call &c) {
    const Shape &s = shape(c.function);
    if (s.args.empty() || c.args.empty())
        return false;
    if (!std::strcmp(s.args[0], "H"))
        return c.args[0] == r.recordedBoard;
    return !std::strcmp(s.args[0], "S") && r.recordedServices.count(c.args[0]);
}

} // namespace

std::string callDifference(const Call &program, const Call &recorded) {
    if (program.function != recorded.function || program.args != recorded.args)
        return "other call";
    std::vector<const Buffer *> in, rin;
    for (const Buffer &b : program.buffers)
        in.push_back(&b);
    for (const Buffer &b : recorded.buffers)
        if (!b.out)
            rin.push_back(&b);
    if (in.size() != rin.size())
        return "other input";
    const Shape &s = shape(program.function);
    for (size_t i = 0; i < in.size(); ++i) {
        const Buffer &a = *in[i], &b = *rin[i];
        bool same = a.arg == b.arg && a.size == b.size && a.storage == b.storage &&
                    (a.storage == Storage::Digest ? a.digest == b.digest : a.bytes && b.bytes && *a.bytes == *b.bytes);
        if (!same)
            return std::string("other bytes in '") + (b.arg < s.args.size() ? s.args[b.arg] : "?") + "'";
    }
    return "";
}

namespace {

uint32_t threadOf(Replay &r) {
    auto id = std::this_thread::get_id();
    auto it = r.threads.find(id);
    if (it != r.threads.end())
        return it->second;
    // A new thread takes the first thread of the trace that has calls of
    // this board and is not taken yet.
    std::set<uint32_t> taken;
    for (const auto &t : r.threads)
        taken.insert(t.second);
    uint32_t index = 0;
    while (taken.count(index))
        ++index;
    for (const Call &c : r.trace.calls)
        if (!taken.count(c.thread) && ofThisBoard(r, c)) {
            index = c.thread;
            break;
        }
    r.threads[id] = index;
    return index;
}

/* The next record of this board for the calling thread, or null at the
 * end. Under the lock. */
const Call *nextRecord(Replay &r, uint32_t thread) {
    size_t &at = r.next[thread];
    for (; at < r.trace.calls.size(); ++at) {
        const Call &c = r.trace.calls[at];
        if (c.thread == thread && ofThisBoard(r, c))
            return &c;
    }
    return nullptr;
}

/* The program's handles as the trace knows them. */
void translateHandles(const Replay &r, Call &c) {
    const Shape &s = shape(c.function);
    if (s.args.empty() || c.args.empty())
        return;
    if (!std::strcmp(s.args[0], "H")) {
        c.args[0] = r.recordedBoard;
    } else if (!std::strcmp(s.args[0], "S")) {
        auto it = r.services.find(c.args[0]);
        c.args[0] = it == r.services.end() ? -1 : it->second;
    }
}

/* Copies the recorded outputs into the program's buffers; the stream
 * block's words into the block the state names. The trace's reader has
 * held every output to what these buffers hold; should one pass them
 * all the same, nothing is copied and why is returned. Under the lock. */
std::string fillOutputs(Replay &r, const CallIo &io, const Call &rec, int32_t service) {
    struct Copy {
        void *to;
        const Buffer *from;
    };
    std::vector<Copy> copies;
    for (const Buffer &b : rec.buffers) {
        if (!b.out || !b.bytes || b.bytes->empty())
            continue;
        if (b.arg == kStreamArg) {
            /* The block the recorded state names, which the program's
             * state names once the outputs are in. */
            const Buffer *state = nullptr;
            for (const Buffer &s : rec.buffers)
                if (s.out && s.arg == 3 && s.bytes && s.bytes->size() >= sizeof(StreamBufferState))
                    state = &s;
            uint32_t index = 0;
            if (state)
                std::memcpy(&index, state->bytes->data(), 4);
            auto it = r.blocks.find(service);
            if (!state || io.outs.empty() || it == r.blocks.end() || index >= it->second.at.size())
                continue;
            if (b.bytes->size() > it->second.bytes)
                return "its stream block of " + std::to_string(b.bytes->size()) + " bytes passes the blocks of " +
                       std::to_string(it->second.bytes);
            copies.push_back({it->second.at[index], &b});
            continue;
        }
        for (const CallIo::Out &o : io.outs)
            if (o.arg == b.arg) {
                if (b.bytes->size() > o.capacity)
                    return "its output of " + std::to_string(b.bytes->size()) + " bytes passes the program's buffer of " +
                           std::to_string(o.capacity);
                copies.push_back({o.at, &b});
                break;
            }
    }
    for (const Copy &c : copies)
        std::memcpy(c.to, c.from->bytes->data(), c.from->bytes->size());
    return "";
}

/* A stream set-up the trace granted: blocks of the size it gave, no more
 * of them than the program gave room for (`asked`), and none smaller than
 * the recorded words of a block, which they keep. */
void setUpBlocks(Replay &r, const CallIo &io, int32_t service, uint32_t asked) {
    auto *setup = static_cast<StreamBufferSetup *>(io.outs[0].at);
    if (!setup->blockAddrs)
        return;
    StreamBlocks &blocks = r.blocks[service];
    blocks.at.clear();
    blocks.bytes = (std::max(std::min(setup->blockSize, kMaxBufferBytes), kStreamBytes) + 3) / 4 * 4;
    for (uint32_t i = 0; i < std::min({setup->blockCount, asked, kMaxStreamBlocks}); ++i) {
        blocks.at.push_back(lastingBlock(blocks.bytes / 4));
        setup->blockAddrs[i] = blocks.at.back();
    }
}

/* What a board that went away leaves in the outputs the program reads
 * even after a failure. */
void goneOutputs(const CallIo &io) {
    if (io.call.function == fGetMsg || io.call.function == fServiceList)
        for (const CallIo::Out &o : io.outs)
            if (o.capacity == 4 && (o.arg == 3 || o.arg == 4))
                std::memset(o.at, 0, 4);
}

/* Recorded timing: the replay follows the recorded calls' timeline,
 * pinned to this host's clock at some call. A call ends when its recorded
 * end falls due on that timeline; the board sleeps only when that is more
 * than 1 ms away, and calls that come late catch up, so neither a sleep's
 * lateness nor a busy host adds up over many short calls. A call that
 * comes more than 2 ms before its time (the bench's operator took longer
 * at a prompt) or more than 20 ms after it pins the timeline afresh at
 * this call. Under the lock, which the sleep lets go. */
void keepTime(Replay &r, std::unique_lock<std::mutex> &lk, Clock::time_point start, const Call &rec) {
    using namespace std::chrono;
    nanoseconds recorded = microseconds(rec.startUs);
    Clock::time_point due = r.pinnedAt + (recorded - r.pinnedTo);
    if (r.pinnedAt == Clock::time_point() || start - due > milliseconds(20) || due - start > milliseconds(2)) {
        r.pinnedAt = due = start;
        r.pinnedTo = recorded;
    }
    Clock::time_point end = due + nanoseconds(rec.durationNs);
    if (end - Clock::now() > milliseconds(1))
        r.wake.wait_until(lk, end, [&] { return r.closing; });
}

} // namespace

std::shared_ptr<Replay> openReplay(const std::string &path, bool timed, int32_t number, ReplayTraceLine traceLine) {
    auto r = std::make_shared<Replay>();
    r->path = path;
    r->number = number;
    r->timed = timed;
    r->traceLine = traceLine;
    std::string error;
    if (!readTrace(path, r->trace, error)) {
        tell(error);
        return nullptr;
    }
    for (size_t i = 0; i < r->trace.calls.size(); ++i) {
        const Call &c = r->trace.calls[i];
        if (c.function != fOpen || c.args.empty() || c.args[0] != number)
            continue;
        if (c.result <= 0)
            return nullptr;
        r->recordedBoard = c.result;
        r->threads[std::this_thread::get_id()] = c.thread;
        r->next[c.thread] = i + 1;
        return r;
    }
    if (!r->trace.refused.empty())
        tell(path + ": " + r->trace.refused);
    else
        tell(path + ": holds no QAL_open(" + std::to_string(number) + ")");
    return nullptr;
}

int32_t replayAnswer(Replay &r, const qalapi::CallArgs &call, int32_t failure) {
    CallIo io = callIo(call);
    Clock::time_point start = Clock::now();
    int32_t service = io.call.function == fCtrl || io.call.function == fRelease ? io.call.args[0] : 0;
    Call asRecorded = io.call;
    std::unique_lock<std::mutex> lk(r.lock);
    translateHandles(r, asRecorded);
    ++r.calls;
    const Call *rec = r.gone ? nullptr : nextRecord(r, threadOf(r));
    std::string why = rec ? callDifference(asRecorded, *rec) : "";
    bool setUp = io.call.function == fCtrl && io.call.args[2] == QALctrl_STREAM_CBUF_ALLOC && !io.outs.empty();
    uint32_t asked = setUp ? static_cast<const StreamBufferSetup *>(io.outs[0].at)->blockCount : 0;
    std::string unfilled = !r.gone && rec && why.empty() ? fillOutputs(r, io, *rec, service) : "";
    if (!r.gone && (!rec || !why.empty() || !unfilled.empty())) {
        std::string head = r.path + ": board " + std::to_string(r.number) + " call " + std::to_string(r.calls) +
                           ": the program called " + describe(io.call, false);
        if (rec) {
            tell(head + ", the trace holds " + describe(*rec) + " (its call " + std::to_string(rec->number) + ", " +
                 (why.empty() ? unfilled : why) + "); the board answers no more calls");
        } else if (!r.trace.refused.empty()) {
            tell(head + ", the trace's " + r.trace.refused + "; the board answers no more calls");
        } else {
            std::string end =
                r.trace.calls.empty() ? "it holds none" : "it ends at its call " + std::to_string(r.trace.calls.size());
            tell(head + ", the trace holds no more calls (" + end + (r.trace.cut ? ", cut short" : "") +
                 "); the board answers no more calls");
        }
        r.gone = true;
    }
    if (r.gone) {
        goneOutputs(io);
        io.call.result = failure;
        lk.unlock();
        r.traceLine(describe(io.call));
        return failure;
    }
    ++r.next[rec->thread];
    const Call &c = io.call;
    if (c.function == fCapture && rec->result > 0)
        r.recordedServices.insert(rec->result);
    if (setUp && rec->result >= 0)
        setUpBlocks(r, io, service, asked);
    if (c.function == fRelease || (c.function == fCtrl && c.args[2] == QALctrl_STREAM_CBUF_FREE))
        r.blocks.erase(service);
    if (r.timed)
        keepTime(r, lk, start, *rec);
    io.call.result = rec->result;
    lk.unlock();
    r.traceLine(describe(io.call));
    return io.call.result;
}

void replayService(Replay &r, int32_t handle, int32_t recorded) {
    std::lock_guard<std::mutex> guard(r.lock);
    r.services[handle] = recorded;
}

void closeReplay(Replay &r) {
    std::lock_guard<std::mutex> guard(r.lock);
    r.closing = true;
    r.wake.notify_all();
}
