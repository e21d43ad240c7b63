/*
 * recorder.cpp - libqal-record, a board-access library that records.
 *
 * It is an adapter like any other: the program links it as it links the
 * virtual board or a bench's adapter. It loads the real adapter that
 * qal-record.ini names, passes every call on to it unchanged and writes
 * the call and the answer to a trace (qtrace/trace_format.h) that the
 * virtual board can replay at a desk.
 *
 * What the program sees does not change: the same results and the same
 * bytes in its buffers, returned as soon as the trace has the call. The
 * adapter is loaded privately (RTLD_LOCAL), and, except in a sanitizer
 * build, with RTLD_DEEPBIND, so that its own calls of its QAL_ functions
 * reach itself and not these ones. An adapter linked with -Bsymbolic needs
 * neither.
 *
 * Each call is written and flushed as it returns, so whatever ends the
 * program (a break, a fatal stop, a crash) leaves the trace readable up
 * to its last call. No C++ exception leaves a C function, and a recording
 * that fails never fails the call: the first write that fails (a full
 * disk, memory) is told on stderr, nothing more is written, and the next
 * close of a board tells that the trace is incomplete.
 */
#include "ini.h"
#include "qal.h"
#include "qal_api.h"
#include "trace_calls.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#define RECORDER_EXPORT __declspec(dllexport)
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#define RECORDER_EXPORT __attribute__((visibility("default")))
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RECORDER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RECORDER_SANITIZED 1
#endif
#endif

using namespace qtrace;

namespace {

const char kConfigFile[] = "qal-record.ini";
using Clock = std::chrono::steady_clock;

/* The stream blocks of a set-up, by service handle: after a state query
 * the newest block's first words are recorded, which the program reads
 * without any call. */
struct StreamBlocks {
    int32_t board = 0;
    std::vector<void *> addresses;
    uint32_t blockBytes = 0;
};

struct Recorder {
    std::mutex setupLock;            /* one QAL_init sets up at a time */
    std::atomic<bool> ready{false};  /* the adapter is loaded and the trace open */
    void *function[fFunctions] = {}; /* the adapter's functions */
    void *origin = nullptr;          /* the adapter's ZT_boardOrigin, when it has one */
    Clock::time_point start;         /* the trace's time 0 */

    std::mutex lock;                         /* guards what follows */
    std::FILE *file = nullptr;               /* the trace */
    std::string path;                        /* its name in qal-record.ini */
    uint32_t running = 0;                    /* the checksum of what the trace holds */
    uint64_t made = 0, written = 0;          /* calls recorded, and those in the trace */
    bool failed = false;                     /* a write failed: nothing more is written */
    bool toldIncomplete = false;
    std::unordered_set<uint64_t> blobs;      /* outputs already in the trace */
    std::map<int32_t, int32_t> serviceBoard; /* service handle -> its board */
    std::map<int32_t, StreamBlocks> streams; /* service handle -> blocks set up */
    std::atomic<uint32_t> threads{0};        /* threads seen so far */
};

/* Never destroyed: the interrupt thread may call while the main thread
 * runs the exit-time destructors. */
Recorder &recorder() {
    static Recorder *r = new Recorder;
    return *r;
}

void complain(const std::string &why) {
    std::string line = why + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

uint32_t threadIndex() {
    thread_local uint32_t index = ~0u;
    if (index == ~0u)
        index = recorder().threads++;
    return index;
}

bool loadAdapter(Recorder &r, const std::string &path, std::string &error) {
    std::string where = std::string(kConfigFile) + ": adapter '" + path + "'";
#ifdef _WIN32
    HMODULE lib = LoadLibraryA(path.c_str());
    if (!lib) {
        error = where + " cannot be loaded (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
#else
    int flags = RTLD_NOW | RTLD_LOCAL;
#if !defined(RECORDER_SANITIZED) && defined(RTLD_DEEPBIND)
    flags |= RTLD_DEEPBIND;
#endif
    void *lib = dlopen(path.c_str(), flags);
    if (!lib) {
        const char *why = dlerror();
        error = where + " cannot be loaded (" + (why ? why : "unknown") + ")";
        return false;
    }
#endif
    for (uint32_t f = 1; f < fFunctions; ++f) {
        const char *name = shape(f).name;
#ifdef _WIN32
        void *fn = reinterpret_cast<void *>(GetProcAddress(lib, name));
#else
        void *fn = dlsym(lib, name);
#endif
        if (!fn) {
            error = where + " lacks " + name;
            return false;
        }
        r.function[f] = fn;
    }
#ifdef _WIN32
    r.origin = reinterpret_cast<void *>(GetProcAddress(lib, "ZT_boardOrigin"));
#else
    r.origin = dlsym(lib, "ZT_boardOrigin");
#endif
    if (r.function[fInit] == reinterpret_cast<void *>(&QAL_init)) {
        error = where + " is the recorder itself";
        return false;
    }
    return true;
}

std::string traceError(const Recorder &r, const std::string &why) {
    return std::string(kConfigFile) + ": trace '" + r.path + "' cannot be written (" + why + ")";
}

/* Opens the trace for writing, from its start. Only a regular file: a
 * FIFO or a device would take the run's calls somewhere no replay reads
 * them back, and opening a FIFO with no reader would wait for one, so the
 * file is opened without waiting and looked at before it is used. */
std::FILE *openTrace(const std::string &path, std::string &error) {
    std::string head = std::string(kConfigFile) + ": trace '" + path + "'";
    std::FILE *f = nullptr;
#ifdef _WIN32
    struct _stat64 st;
    if (::_stat64(path.c_str(), &st) == 0 && (st.st_mode & _S_IFMT) != _S_IFREG) {
        error = head + " is not a regular file";
        return nullptr;
    }
    f = std::fopen(path.c_str(), "wb");
    bool regular = f && ::_fstat64(_fileno(f), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = head + " is not a regular file";
        return nullptr;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd >= 0 && !(f = ::fdopen(fd, "wb")))
        ::close(fd);
    bool regular = f && ::fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
    if (regular)
        ::fcntl(fileno(f), F_SETFL, ::fcntl(fileno(f), F_GETFL) & ~O_NONBLOCK);
#endif
    if (!f) {
        error = head + " cannot be written (" + std::strerror(errno) + ")";
        return nullptr;
    }
    if (!regular) {
        std::fclose(f);
        error = head + " is not a regular file";
        return nullptr;
    }
    return f;
}

/* Reads qal-record.ini, loads the adapter and starts the trace; one line
 * on stderr when any of it fails. */
bool setUp(Recorder &r) {
    IniFile ini;
    std::string error;
    FileRead read = readIni(kConfigFile, ini, error);
    if (read == FileRead::Missing)
        error = std::string(kConfigFile) + ": not found in the current directory";
    std::string adapter, trace;
    for (const IniSection &s : ini.sections) {
        if (!error.empty())
            break;
        if (s.name != "record") {
            error = s.name.empty() ? s.error : iniError(kConfigFile, s.line, "unknown section [" + s.name + "]");
            break;
        }
        for (const IniEntry &e : s.entries) {
            if (s.errorLine && e.line > s.errorLine)
                break;
            if (e.key == "adapter")
                adapter = e.value;
            else if (e.key == "trace")
                trace = e.value;
            else
                error = iniError(kConfigFile, e.line, "unknown key '" + e.key + "' in [record]");
            if (!error.empty())
                break;
        }
        if (error.empty())
            error = s.error;
    }
    if (error.empty() && adapter.empty())
        error = std::string(kConfigFile) + ": no 'adapter' in [record]";
    if (error.empty() && trace.empty())
        error = std::string(kConfigFile) + ": no 'trace' in [record]";
    if (error.empty() && loadAdapter(r, adapter, error))
        r.file = openTrace(trace, error);
    r.path = trace;
    r.start = Clock::now();
    auto unixMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
    if (r.file) {
        std::string header = encodeHeader(uint64_t(unixMs.count()), uint32_t(sizeof(void *) * 8), r.running);
        if (std::fwrite(header.data(), 1, header.size(), r.file) != header.size() || std::fflush(r.file) != 0) {
            error = traceError(r, std::strerror(errno));
            std::fclose(r.file);
            r.file = nullptr;
        }
    }
    if (!error.empty()) {
        complain(error);
        return false;
    }
    r.ready = true;
    return true;
}

/* What the stream does around a call: remembers the blocks of a set-up,
 * adds the newest block's words to a state query, forgets blocks that go.
 * Under the lock. */
void followStream(Recorder &r, CallIo &io, int32_t result) {
    const Call &c = io.call;
    auto forgetBoard = [&](int32_t board) {
        for (auto it = r.serviceBoard.begin(); it != r.serviceBoard.end();)
            if (board == 0 || it->second == board) {
                r.streams.erase(it->first);
                it = r.serviceBoard.erase(it);
            } else {
                ++it;
            }
    };
    if (c.function == fCapture && result > 0) {
        r.serviceBoard[result] = c.args[0];
    } else if (c.function == fRelease) {
        r.streams.erase(c.args[0]);
        r.serviceBoard.erase(c.args[0]);
    } else if (c.function == fClose) {
        forgetBoard(c.args[0]);
    } else if (c.function == fCleanup) {
        forgetBoard(0);
    } else if (c.function == fCtrl && !io.outs.empty() && result >= 0) {
        if (c.args[2] == QALctrl_STREAM_CBUF_ALLOC) {
            auto *setup = static_cast<StreamBufferSetup *>(io.outs[0].at);
            StreamBlocks &blocks = r.streams[c.args[0]];
            blocks.board = r.serviceBoard[c.args[0]];
            blocks.addresses.assign(setup->blockAddrs, setup->blockAddrs + setup->blockCount);
            blocks.blockBytes = setup->blockSize;
        } else if (c.args[2] == QALctrl_STREAM_CBUF_STATE) {
            auto *state = static_cast<StreamBufferState *>(io.outs[0].at);
            auto it = r.streams.find(c.args[0]);
            if (it != r.streams.end() && state->blockIndex < it->second.addresses.size() &&
                it->second.addresses[state->blockIndex])
                io.out(kStreamArg, it->second.addresses[state->blockIndex],
                       std::min(kStreamBytes, it->second.blockBytes));
        }
    } else if (c.function == fCtrl && c.args[2] == QALctrl_STREAM_CBUF_FREE && result >= 0) {
        r.streams.erase(c.args[0]);
    }
}

/* The first write that fails: told, and nothing more is written, since
 * a trace with a call left out would replay as another run. Under the
 * lock. */
void failWrite(Recorder &r, const std::string &why) {
    r.failed = true;
    complain(traceError(r, why) + "; it ends before call " + std::to_string(r.written + 1));
}

/* After a failed write, a board's close tells once more, that the trace
 * lacks calls. */
void tellIncomplete(Function f) {
    Recorder &r = recorder();
    std::lock_guard<std::mutex> guard(r.lock);
    if (!r.failed || r.toldIncomplete || (f != fClose && f != fCleanup))
        return;
    r.toldIncomplete = true;
    complain(std::string(kConfigFile) + ": trace '" + r.path + "' is incomplete: it holds " +
             std::to_string(r.written) + " of the " + std::to_string(r.made) + " calls made");
}

/* Completes the call's record with its result, times and outputs, and
 * writes it, with the blobs of outputs the trace does not hold yet. */
void write(CallIo &io, int32_t result, Clock::time_point t0, Clock::time_point t1, uint32_t thread) {
    using namespace std::chrono;
    Recorder &r = recorder();
    Call &c = io.call;
    c.thread = thread;
    c.result = result;
    c.startUs = uint64_t(duration_cast<microseconds>(t0 - r.start).count());
    c.durationNs = uint64_t(duration_cast<nanoseconds>(t1 - t0).count());

    std::lock_guard<std::mutex> guard(r.lock);
    ++r.made;
    if (r.failed)
        return;
    followStream(r, io, result);
    std::string bytes;
    uint32_t running = r.running;
    for (const CallIo::Out &o : io.outs) {
        Buffer b = o.filled();
        const uint8_t *at = o.bytes();
        if (b.size <= kInlineBytes) {
            b.bytes = std::make_shared<const std::vector<uint8_t>>(at, at + b.size);
        } else {
            b.storage = Storage::Blob;
            b.digest = digest(at, b.size);
            if (r.blobs.insert(b.digest).second)
                encodeBlob(b.digest, at, b.size, bytes, running);
        }
        c.buffers.push_back(std::move(b));
    }
    encodeCall(c, bytes, running);
    if (!r.failed) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), r.file) != bytes.size() || std::fflush(r.file) != 0)
            failWrite(r, std::strerror(errno));
        else {
            r.running = running;
            ++r.written;
        }
    }
}

/* The adapter's function f, of the type of ours. */
template <class Fn> Fn real(Function f) { return reinterpret_cast<Fn>(recorder().function[f]); }

/* Passes the call on and records it. Before a successful QAL_init there
 * is no adapter: the call fails as a library that has not started. */
template <class Result, class MakeIo, class Forward> Result recorded(Function f, MakeIo makeIo, Forward forward) {
    if (!recorder().ready)
        return Result(shape(f).failure);
    std::unique_ptr<CallIo> io;
    try {
        io.reset(new CallIo(makeIo()));
    } catch (...) {
    }
    uint32_t thread = threadIndex();
    Clock::time_point t0 = Clock::now();
    Result result = forward();
    Clock::time_point t1 = Clock::now();
    try {
        if (!io)
            throw std::bad_alloc();
        write(*io, int32_t(result), t0, t1, thread);
    } catch (...) {
        Recorder &r = recorder();
        std::lock_guard<std::mutex> guard(r.lock);
        r.made += io ? 0 : 1;
        try {
            if (!r.failed)
                failWrite(r, "out of memory");
        } catch (...) {
        }
    }
    try {
        tellIncomplete(f);
    } catch (...) {
    }
    return result;
}

/* QAL_init reads qal-record.ini, loads the adapter and starts the trace
 * first, once. */
bool setUpOnce() {
    Recorder &r = recorder();
    std::lock_guard<std::mutex> guard(r.setupLock);
    try {
        return r.ready || setUp(r);
    } catch (...) {
        complain(std::string(kConfigFile) + ": out of memory");
        return false;
    }
}

} // namespace

/* Each function of qal.h (api/qal_api.h): the record it makes, and the
 * call passed on. */
#define RECORDER_FUNCTION(Id, Result, Name, Shows, Failure, N, Params, Buffers)                                        \
    RECORDER_EXPORT Result Name(QAL_API_EACH(QAL_API_PARAMETER, N, Params)) {                                          \
        if (f##Id == fInit && !setUpOnce())                                                                            \
            return Result(Failure);                                                                                    \
        return recorded<Result>(                                                                                       \
            f##Id, [&] { return callIo<f##Id>(QAL_API_EACH(QAL_API_NAME, N, Params)); },                               \
            [&] { return real<decltype(&Name)>(f##Id)(QAL_API_EACH(QAL_API_NAME, N, Params)); });                      \
    }

extern "C" {

QAL_API(RECORDER_FUNCTION)

/* Where the board's answers come from, as the adapter under the recorder
 * says (the virtual board: "virtual" or "replay"); an adapter that cannot
 * tell is a bench's, "adapter". Not recorded in the trace. */
RECORDER_EXPORT const char *ZT_boardOrigin(int32_t boardLid) {
    Recorder &r = recorder();
    if (!r.ready || !r.origin)
        return "adapter";
    return reinterpret_cast<const char *(*)(int32_t)>(r.origin)(boardLid);
}

} /* extern "C" */
