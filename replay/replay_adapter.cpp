/*
 * replay_adapter.cpp - libqal-replay, a board-access library that answers
 * every call from a board trace.
 *
 * An adapter like any other, beside the recorder: the program links it as
 * it links the virtual board or a bench's adapter, and every board it
 * opens answers from the trace qal-replay.ini names (replay.h), so a desk
 * replays a bench's run without the virtual board. The virtual board's
 * `replay = FILE` does the same for one board of its board file.
 *
 * qal-replay.ini, in the current directory, read by QAL_init:
 *
 *   [replay]
 *   trace = run.qtr      ; the trace, as the recorder wrote it
 *   timing = fast        ; or recorded: each call takes as long as it did
 *
 * A board number the trace holds no open of does not open, and is told
 * in one line on stderr, as replay.h tells it. No C++
 * exception leaves a C function: a call the host machine lets down fails.
 */
#include "ini.h"
#include "qal_api.h"
#include "replay.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#ifdef _WIN32
#define REPLAY_EXPORT __declspec(dllexport)
#else
#define REPLAY_EXPORT __attribute__((visibility("default")))
#endif

namespace {

const char kConfigFile[] = "qal-replay.ini";
constexpr int32_t kBadHandle = -2; /* the handle of no open board or service */

struct Library {
    std::mutex setupLock;
    bool ready = false; /* qal-replay.ini read */
    std::string path;   /* the trace */
    bool timed = false;
    std::atomic<bool> tracing{false}; /* display mode QAL_DISPLAY_TRACE */

    std::mutex lock; /* guards what follows */
    std::map<int32_t, std::pair<int32_t, std::shared_ptr<Replay>>> boards; /* handle -> board number, its replay */
    std::map<int32_t, std::shared_ptr<Replay>> services;                   /* service handle -> its board's replay */
    int32_t lastHandle = 0, lastService = 0;
};

/* Never destroyed: the interrupt thread may close boards while the main
 * thread runs the exit-time destructors. */
Library &library() {
    static Library *lib = new Library;
    return *lib;
}

void tell(const std::string &line) {
    std::string text = line + '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void traceLine(const std::string &line) {
    if (library().tracing)
        tell(line);
}

/* Reads qal-replay.ini; one line on stderr when it cannot. */
bool setUp(Library &lib) {
    IniFile ini;
    std::string error;
    if (readIni(kConfigFile, ini, error) == FileRead::Missing)
        error = std::string(kConfigFile) + ": not found in the current directory";
    std::string trace, timing = "fast";
    for (const IniSection &s : ini.sections) {
        if (!error.empty())
            break;
        if (s.name != "replay") {
            error = s.name.empty() ? s.error : iniError(kConfigFile, s.line, "unknown section [" + s.name + "]");
            break;
        }
        for (const IniEntry &e : s.entries) {
            if (s.errorLine && e.line > s.errorLine)
                break;
            if (e.key == "trace")
                trace = e.value;
            else if (e.key == "timing" && (e.value == "fast" || e.value == "recorded"))
                timing = e.value;
            else if (e.key == "timing")
                error = iniError(kConfigFile, e.line, "timing '" + e.value + "' is neither 'fast' nor 'recorded'");
            else
                error = iniError(kConfigFile, e.line, "unknown key '" + e.key + "' in [replay]");
            if (!error.empty())
                break;
        }
        if (error.empty())
            error = s.error;
    }
    if (error.empty() && trace.empty())
        error = std::string(kConfigFile) + ": no 'trace' in [replay]";
    if (!error.empty()) {
        tell(error);
        return false;
    }
    lib.path = trace;
    lib.timed = timing == "recorded";
    lib.ready = true;
    return true;
}

int32_t openBoard(int32_t number) {
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.lock);
    for (const auto &open : lib.boards)
        if (open.second.first == number)
            return open.first;
    auto replay = openReplay(lib.path, lib.timed, number, traceLine);
    if (!replay)
        return 0;
    int32_t handle = ++lib.lastHandle;
    lib.boards[handle] = {number, std::move(replay)};
    return handle;
}

/* The boards closed: their replays end their waits. */
int32_t closeBoards(int32_t handle) {
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.lock);
    for (auto it = lib.boards.begin(); it != lib.boards.end();) {
        if (handle && it->first != handle) {
            ++it;
            continue;
        }
        for (auto s = lib.services.begin(); s != lib.services.end();)
            s = s->second == it->second.second ? lib.services.erase(s) : std::next(s);
        closeReplay(*it->second.second);
        it = lib.boards.erase(it);
    }
    return 0;
}

std::shared_ptr<Replay> find(const qalapi::CallArgs &args) {
    const qalapi::FunctionInfo &f = qalapi::info(args.function);
    const char *handle = f.args.empty() ? "" : f.args[0];
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.lock);
    if (!std::strcmp(handle, "H")) {
        auto it = lib.boards.find(args.value[0]);
        return it == lib.boards.end() ? nullptr : it->second.second;
    }
    if (!std::strcmp(handle, "S")) {
        auto it = lib.services.find(args.value[0]);
        return it == lib.services.end() ? nullptr : it->second;
    }
    return nullptr;
}

/* A call of an open board's handle, or of its service's, answered from
 * the trace; a capture the trace granted gets a service handle of this
 * library's. */
int64_t replayed(Replay &r, const std::shared_ptr<Replay> &board, const qalapi::CallArgs &args) {
    int32_t failure = args.function == qalapi::fPeek ? int32_t(0xFFFFFFFFu) : kBadHandle;
    int32_t result = replayAnswer(r, args, failure);
    Library &lib = library();
    if (args.function == qalapi::fClose) {
        closeBoards(args.value[0]);
    } else if (args.function == qalapi::fCapture && result > 0) {
        std::lock_guard<std::mutex> guard(lib.lock);
        int32_t handle = ++lib.lastService;
        lib.services[handle] = board;
        replayService(r, handle, result);
        return handle;
    } else if (args.function == qalapi::fRelease && result >= 0) {
        std::lock_guard<std::mutex> guard(lib.lock);
        lib.services.erase(args.value[0]);
    }
    return result;
}

/* Function `args.function`: the library's own for QAL_init, QAL_open,
 * QAL_cleanup and QAL_displayMode, the trace's for a board's or a
 * service's handle, a bad handle for any other. */
int64_t answer(const qalapi::CallArgs &args) {
    Library &lib = library();
    if (args.function != qalapi::fInit && args.function != qalapi::fDisplayMode && !lib.ready)
        return qalapi::info(args.function).failure;
    if (auto r = find(args))
        return replayed(*r, r, args);
    bool tracing = lib.tracing;
    int64_t result = kBadHandle;
    switch (args.function) {
    case qalapi::fInit: {
        std::lock_guard<std::mutex> guard(lib.setupLock);
        result = lib.ready || setUp(lib) ? 0 : -1;
        break;
    }
    case qalapi::fOpen:
        result = openBoard(args.value[0]);
        break;
    case qalapi::fCleanup:
        result = closeBoards(0);
        break;
    case qalapi::fDisplayMode:
        lib.tracing = args.value[0] == QAL_DISPLAY_TRACE;
        result = 0;
        break;
    case qalapi::fPeek:
        result = 0xFFFFFFFFu;
        break;
    default:
        break;
    }
    if (tracing || lib.tracing)
        tell(qalapi::traceLine(args, int32_t(result)));
    return result;
}

template <class Result> Result exported(const qalapi::CallArgs &args) noexcept {
    try {
        return Result(answer(args));
    } catch (...) {
        try {
            tell(std::string(qalapi::info(args.function).name) + ": out of memory");
        } catch (...) {
        }
        return Result(qalapi::info(args.function).failure);
    }
}

} // namespace

/* Each function of qal.h (api/qal_api.h). */
#define REPLAY_FUNCTION(Id, Result, Name, Shows, Failure, N, Params, Buffers)                                          \
    REPLAY_EXPORT Result Name(QAL_API_EACH(QAL_API_PARAMETER, N, Params)) {                                            \
        return exported<Result>(qalapi::callArgs<qalapi::f##Id>(QAL_API_EACH(QAL_API_NAME, N, Params)));               \
    }

extern "C" {

QAL_API(REPLAY_FUNCTION)

/* Every board of this library answers from a trace. */
REPLAY_EXPORT const char *ZT_boardOrigin(int32_t) { return "replay"; }

} /* extern "C" */
