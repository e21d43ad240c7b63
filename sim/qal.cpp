/*
 * qal.cpp - the C functions of qal.h over the virtual boards.
 *
 * Open boards live in a handle table. A call looks its board up, takes a
 * shared reference and lets go of the table, so QAL_close or QAL_cleanup
 * from another thread (the program's Ctrl-C thread) never frees a board
 * under a call that is still running; the board goes when the last call
 * using it returns.
 *
 * Handles count up from 1 and are never reused, so a stale handle stays
 * invalid. Opening a board number that is already open returns its handle
 * again, as there is one board in that slot; one QAL_close closes it.
 * Every board number has a board, healthy unless the board file says
 * otherwise; only a non-negative number can have a section.
 *
 * Service handles (QAL_capture) have a table and a count of their own;
 * closing a board ends its services' handles too.
 *
 * A board whose section names a trace to replay is in the tables like
 * any other, but every call of it goes to the answerer the library hands
 * it to (handed_board.h; `handed` below); nothing is simulated.
 *
 * No C++ exception leaves a C function: each runs its body under one
 * guard (guarded below), so a host machine that runs out of memory, or
 * of threads, fails the call, not the program.
 */
#include "board_config.h"
#include "board_lifecycle.h"
#include "channels.h"
#include "handed_board.h"
#include "nodes.h"
#include "qal.h"
#include "qal_api.h"
#include "qal_export.h"
#include "stream.h"
#include "trace.h"
#include "virtual_board.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>

namespace {

void hostFault(const char *function, const char *why) {
    std::fprintf(stderr, "%s: %s\n", function, why);
    std::fflush(stderr);
}

/* The body of C function `function`, and `failure` with one line on
 * stderr if the host machine lets it down with an exception: memory
 * exhausted (a board's state, a 64 KB message, the stream's blocks, a
 * board file read whole), a thread or a lock the system refuses.
 * Everything a body changes is held by objects that undo themselves as
 * the exception passes, and the handle tables change only once a call
 * has all it needs, so QAL_close and QAL_cleanup work after any such
 * failure. */
template <class Result, class Body> Result guarded(const char *function, Result failure, Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        hostFault(function, "out of memory");
    } catch (const std::exception &e) {
        hostFault(function, e.what());
    } catch (...) {
        hostFault(function, "unknown failure");
    }
    return failure;
}

struct Library {
    std::mutex lock;
    std::map<int32_t, std::shared_ptr<VirtualBoard>> boards;   /* open boards by handle */
    int32_t lastHandle = 0;                                    /* last handle given out */
    std::map<int32_t, std::shared_ptr<VirtualBoard>> services; /* captured services by handle, with their board */
    int32_t lastService = 0;                                   /* last service handle given out */
};

/* Never destroyed: the Ctrl-C thread may still close boards while the main
 * thread runs the exit-time destructors. */
Library &library() {
    static Library *lib = new Library;
    return *lib;
}

/* Counts the changes of the board table (opens and closes), under its
 * lock. A thread's last lookup stands while the count has not moved. */
std::atomic<uint64_t> tableVersion{1};

/* A thread's last board lookup, so a call finds its board without the
 * table's lock or a count of references of its own: a 1 KB DPRAM read
 * would spend more on those than on the bytes. Once the table changes, a
 * lookup looks again, and the board the thread's call under way found is
 * `held` until the call returns; a board closed elsewhere goes when every
 * thread that looked it up has looked again, or has ended. */
struct LookedUp {
    int32_t handle = 0;
    uint64_t version = 0; /* tableVersion when looked up; 0 = look again */
    std::shared_ptr<VirtualBoard> board;
    std::shared_ptr<VirtualBoard> held;
};
/* The way to the thread's LookedUp: a plain pointer, reached without a
 * call into the dynamic loader or a check of whether the thread has made
 * its LookedUp yet (libqal is a library the program links, not one it
 * opens later). */
#ifdef __ELF__
#define QAL_THREAD_FAST __attribute__((tls_model("initial-exec")))
#else
#define QAL_THREAD_FAST
#endif
QAL_THREAD_FAST thread_local LookedUp *lookedUp = nullptr;
QAL_THREAD_FAST thread_local bool lookupGone = false;

/* The thread's LookedUp, which goes with the thread. A call after that,
 * from an exit-time destructor, has one that stays. */
struct ThreadLookup {
    LookedUp last;
    ~ThreadLookup() {
        lookedUp = nullptr;
        lookupGone = true;
    }
};
thread_local ThreadLookup threadLookup;

LookedUp &thisThreadsLookup() {
    if (!lookedUp)
        lookedUp = lookupGone ? new LookedUp : &threadLookup.last;
    return *lookedUp;
}

/* Lets go of the thread's lookup: the board goes, at the latest, when
 * the call under way returns (callEnded). */
void forgetLookup() {
    LookedUp &last = thisThreadsLookup();
    if (!last.held)
        last.held = std::move(last.board);
    last.board.reset();
    last.version = 0;
}

/* The end of a call of the C API. */
inline void callEnded() {
    if (lookedUp && lookedUp->held)
        lookedUp->held.reset();
}

/* The board of `handle` as the table has it now, and the thread's lookup. */
VirtualBoard *lookUpBoard(int32_t handle) {
    LookedUp &last = thisThreadsLookup();
    forgetLookup();
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.lock);
    auto it = lib.boards.find(handle);
    last.handle = handle;
    last.version = tableVersion.load(std::memory_order_relaxed);
    if (it != lib.boards.end())
        last.board = it->second;
    return last.board.get();
}

/* The board of `handle`, or null; it stays while the call under way runs. */
inline VirtualBoard *findBoard(int32_t handle) {
    if (LookedUp *known = lookedUp)
        if (known->handle == handle && known->version == tableVersion.load(std::memory_order_acquire))
            return known->board.get();
    return lookUpBoard(handle);
}

std::shared_ptr<VirtualBoard> findService(int32_t handle) {
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.lock);
    auto it = lib.services.find(handle);
    return it == lib.services.end() ? nullptr : it->second;
}

/* Forgets the service handles of a board that goes; under the table lock. */
void dropServices(Library &lib, const VirtualBoard *board) {
    for (auto it = lib.services.begin(); it != lib.services.end();)
        it = it->second.get() == board ? lib.services.erase(it) : std::next(it);
}

/* Reads the board file of the current directory; a malformed one is
 * reported here, once, as a single line. */
bool loadBoardFile(BoardFileScope scope, BoardFile &file) {
    std::string error;
    if (readBoardFile(QAL_BOARD_FILE, scope, file, error))
        return true;
    error += '\n';
    std::fwrite(error.data(), 1, error.size(), stderr);
    std::fflush(stderr);
    return false;
}

/* The -V trace line of a handed board's call. */
void traceHanded(const std::string &line) { trace("%s", line.c_str()); }

/* The file is read under the table lock so two threads opening the same
 * number get the same board. */
int32_t openBoard(int32_t number) {
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.lock);
    for (const auto &open : lib.boards)
        if (open.second->number == number)
            return open.first;

    BoardFile file;
    if (!loadBoardFile(BoardFileScope::All, file))
        return 0;
    BoardConfig cfg = boardConfig(file, number);
    if (!cfg.present)
        return 0;
    std::shared_ptr<qalapi::HandedBoard> handed;
    if (!cfg.replay.empty() && !(handed = qalapi::handBoard(cfg.replay, !cfg.replayFast, number, traceHanded)))
        return 0;
    auto board = makeBoard(number, cfg);
    board->handed = std::move(handed);
    int32_t handle = ++lib.lastHandle;
    lib.boards[handle] = std::move(board);
    tableVersion.fetch_add(1, std::memory_order_release);
    return handle;
}

int32_t closeBoard(int32_t handle) {
    std::shared_ptr<VirtualBoard> board;
    {
        Library &lib = library();
        std::lock_guard<std::mutex> guard(lib.lock);
        auto it = lib.boards.find(handle);
        if (it == lib.boards.end())
            return kQalBadHandle;
        board = std::move(it->second);
        lib.boards.erase(it);
        tableVersion.fetch_add(1, std::memory_order_release);
        dropServices(lib, board.get());
    }
    forgetLookup();
    shutdownBoard(*board);
    return kQalOk;
}

int32_t closeAll() {
    std::map<int32_t, std::shared_ptr<VirtualBoard>> boards;
    {
        Library &lib = library();
        std::lock_guard<std::mutex> guard(lib.lock);
        boards.swap(lib.boards);
        tableVersion.fetch_add(1, std::memory_order_release);
        lib.services.clear();
    }
    forgetLookup();
    for (auto &open : boards)
        shutdownBoard(*open.second);
    return kQalOk;
}

/* Host-port block size in words: element size 1 counts bytes, which must
 * make whole words; element size 4 counts words. */
int32_t ramWords(const void *buf, uint32_t count, uint32_t elementSize, uint32_t &words) {
    if (!buf && count)
        return kQalBadArgument;
    if (elementSize == 4) {
        words = count;
    } else if (elementSize == 1 && count % 4 == 0) {
        words = count / 4;
    } else {
        return kQalBadArgument;
    }
    return kQalOk;
}

int32_t captureService(int32_t hBoard, int32_t unit, int32_t *mode, const char *name) {
    VirtualBoard *board = findBoard(hBoard);
    if (!board)
        return kQalBadHandle;
    if (unit != 1 || !mode)
        return kQalBadArgument;
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.lock);
    auto open = lib.boards.find(hBoard);
    if (open == lib.boards.end())
        return kQalBadHandle;
    // The table's entry first: once the board has granted the service,
    // nothing may fail before the caller has its handle.
    int32_t handle = lib.lastService + 1;
    auto entry = lib.services.emplace(handle, open->second).first;
    int32_t status = streamCapture(*board, name, handle, *mode);
    if (status != kQalOk) {
        lib.services.erase(entry);
        return status;
    }
    lib.lastService = handle;
    return handle;
}

int32_t releaseService(int32_t hService, int32_t unit) {
    if (unit != 1)
        return kQalBadArgument;
    std::shared_ptr<VirtualBoard> board;
    {
        Library &lib = library();
        std::lock_guard<std::mutex> guard(lib.lock);
        auto it = lib.services.find(hService);
        if (it == lib.services.end())
            return kQalBadHandle;
        board = std::move(it->second);
        lib.services.erase(it);
    }
    return streamRelease(*board, hService);
}

int32_t listServices(int32_t hBoard, int32_t unit, ServiceEntry *list, int32_t maxEntries, int32_t *count) {
    if (count)
        *count = 0;
    if (!findBoard(hBoard))
        return kQalBadHandle;
    if (unit != 1 || (maxEntries > 0 && !list))
        return kQalBadArgument;
    if (count)
        *count = 1;
    if (maxEntries > 0) {
        std::memset(&list[0], 0, sizeof list[0]);
        std::memcpy(list[0].name, kStreamName, sizeof kStreamName);
    }
    return kQalOk;
}

/* The virtual board itself: one function for each function of qal.h,
 * with its parameters. The exports below add the -V trace, the hand-over
 * of a replayed board and the guard. */
namespace simulated {

int32_t Init(int32_t, int32_t) {
    BoardFile file;
    bool ok = loadBoardFile(BoardFileScope::Library, file) && file.library.initOk;
    return ok ? kQalOk : kQalFailed;
}

int32_t Open(int32_t boardNumber, int32_t, int32_t) { return openBoard(boardNumber); }

int32_t Close(int32_t hBoard) { return closeBoard(hBoard); }

int32_t Cleanup() { return closeAll(); }

/* Traced whenever the trace is on before or after the call: switching it
 * off writes its own line first (traced below). */
int32_t DisplayMode(int32_t mode) {
    setTraceMode(mode);
    return kQalOk;
}

int32_t GetInfo(int32_t hBoard, BoardInfo *info) {
    VirtualBoard *board = findBoard(hBoard);
    if (!board)
        return kQalBadHandle;
    if (!info || info->size < QAL_BOARD_INFO_SIZE)
        return kQalBadArgument;
    fillBoardInfo(*board, *info);
    return kQalOk;
}

/* Unit 1 is the identification area; the board has no other unit. */
int32_t PuRead(int32_t hBoard, int32_t unit, uint32_t offset, void *buf, uint32_t size) {
    VirtualBoard *board = findBoard(hBoard);
    if (!board)
        return kQalBadHandle;
    if (unit != 1 || (!buf && size))
        return kQalBadArgument;
    readIdArea(*board, offset, static_cast<uint8_t *>(buf), size);
    return kQalOk;
}

uint32_t Peek(int32_t hBoard, int32_t node, uint32_t address) {
    uint32_t value = kUnmappedWord;
    if (VirtualBoard *board = findBoard(hBoard))
        boardPeek(*board, node, address, value);
    return value;
}

int32_t Poke(int32_t hBoard, int32_t node, uint32_t address, uint32_t value) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? boardPoke(*board, node, address, value) : kQalBadHandle;
}

int32_t ReadRAM(int32_t hBoard, int32_t node, uint32_t address, void *buf, uint32_t count, uint32_t elementSize) {
    uint32_t words = 0;
    VirtualBoard *board = findBoard(hBoard);
    int32_t status = board ? ramWords(buf, count, elementSize, words) : kQalBadHandle;
    return status == kQalOk ? boardReadWords(*board, node, address, buf, words) : status;
}

int32_t WriteRAM(int32_t hBoard, int32_t node, uint32_t address, const void *buf, uint32_t count,
                 uint32_t elementSize) {
    uint32_t words = 0;
    VirtualBoard *board = findBoard(hBoard);
    int32_t status = board ? ramWords(buf, count, elementSize, words) : kQalBadHandle;
    return status == kQalOk ? boardWriteWords(*board, node, address, buf, words) : status;
}

/* The program's arguments have no meaning on this board. */
int32_t Load(int32_t hBoard, int32_t node, const char *fileName, int32_t, char **) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? loadProgram(*board, node, fileName) : kQalBadHandle;
}

int32_t Start(int32_t hBoard, int32_t node) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? startNodes(*board, node) : kQalBadHandle;
}

int32_t Reset(int32_t hBoard, int32_t node) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? resetNodes(*board, node) : kQalBadHandle;
}

/* The message size is in bytes. putMsg leaves it as it was; getMsg sets
 * it to the bytes received, 0 when none came. */
int32_t PutMsg(int32_t hBoard, int32_t node, const void *buf, uint32_t *size, int32_t timeoutMs) {
    VirtualBoard *board = findBoard(hBoard);
    return !board ? kQalBadHandle : !size ? kQalBadArgument : hostPutMsg(*board, node, buf, *size, timeoutMs);
}

int32_t GetMsg(int32_t hBoard, int32_t node, void *buf, uint32_t *size, int32_t timeoutMs) {
    VirtualBoard *board = findBoard(hBoard);
    if (!board) {
        if (size)
            *size = 0;
        return kQalBadHandle;
    }
    return size ? hostGetMsg(*board, node, buf, *size, timeoutMs) : kQalBadArgument;
}

int32_t ReadDPRAM(int32_t hBoard, int32_t node, uint32_t offset, void *buf, uint32_t size) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? dpramRead(*board, node, offset, buf, size) : kQalBadHandle;
}

int32_t WriteDPRAM(int32_t hBoard, int32_t node, uint32_t offset, const void *buf, uint32_t size) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? dpramWrite(*board, node, offset, buf, size) : kQalBadHandle;
}

int32_t ReadFIFO(int32_t hBoard, int32_t node, int32_t fifo, void *buf, uint32_t size, int32_t timeoutMs) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? hostReadFifo(*board, node, fifo, buf, size, timeoutMs) : kQalBadHandle;
}

int32_t WriteFIFO(int32_t hBoard, int32_t node, int32_t fifo, const void *buf, uint32_t size, int32_t timeoutMs) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? hostWriteFifo(*board, node, fifo, buf, size, timeoutMs) : kQalBadHandle;
}

int32_t SignalSend(int32_t hBoard, int32_t node, int32_t signal) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? hostSendSignal(*board, node, signal) : kQalBadHandle;
}

/* flags has no meaning on this board. */
int32_t SignalGrab(int32_t hBoard, int32_t node, int32_t signal, int32_t, int32_t timeoutMs) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? hostGrabSignal(*board, node, signal, timeoutMs) : kQalBadHandle;
}

int32_t SignalIack(int32_t hBoard, int32_t node, int32_t signal) {
    VirtualBoard *board = findBoard(hBoard);
    return board ? hostAckSignal(*board, node, signal) : kQalBadHandle;
}

/* Unit 1 has one service, the DMA stream. */
int32_t ServiceList(int32_t hBoard, int32_t unit, ServiceEntry *list, int32_t maxEntries, int32_t *count) {
    return listServices(hBoard, unit, list, maxEntries, count);
}

/* A second capture while the service is held is refused at once; the
 * timeout is not used. */
int32_t Capture(int32_t hBoard, int32_t unit, int32_t *mode, const char *serviceName, int32_t) {
    return captureService(hBoard, unit, mode, serviceName);
}

int32_t Ctrl(int32_t hService, int32_t unit, int32_t code, void *arg) {
    auto board = findService(hService);
    return !board ? kQalBadHandle : unit != 1 ? kQalBadArgument : streamCtrl(*board, hService, code, arg);
}

int32_t Release(int32_t hService, int32_t unit) { return releaseService(hService, unit); }

} // namespace simulated

/* A call of a board handed to another answerer: its own -V trace line.
 * The library gives, or takes back, the service handles for the captures
 * and releases it answers. */
int32_t handed(VirtualBoard &board, const qalapi::CallArgs &args) {
    qalapi::HandedBoard &answerer = *board.handed;
    int32_t failure = args.function == qalapi::fPeek ? int32_t(kUnmappedWord) : kQalBadHandle;
    int32_t result = answerer.answer(args, failure);
    Library &lib = library();
    switch (args.function) {
    case qalapi::fClose:
        closeBoard(args.value[0]);
        break;
    case qalapi::fCapture:
        if (result > 0) {
            std::lock_guard<std::mutex> guard(lib.lock);
            auto open = lib.boards.find(args.value[0]);
            if (open == lib.boards.end())
                return kQalBadHandle;
            int32_t handle = ++lib.lastService;
            lib.services[handle] = open->second;
            answerer.serviceGiven(handle, result);
            return handle;
        }
        break;
    case qalapi::fRelease:
        if (result >= 0) {
            std::lock_guard<std::mutex> guard(lib.lock);
            lib.services.erase(args.value[0]);
        }
        break;
    default:
        break;
    }
    return result;
}

/* The handle of a call: its first argument, when that is a number. */
inline int32_t handleOf() { return 0; }
template <class First, class... Rest> int32_t handleOf(First first, Rest...) {
    if constexpr (std::is_integral_v<First>)
        return int32_t(first);
    else
        return 0;
}

/* Function F of the C API: answered by the answerer its board is handed
 * to, if any, else by the virtual board (`simulate`) with its -V trace
 * line, under the guard. The handle of a call is its first argument
 * (`handle`), a board's or a service's as the table shows it. The call's
 * argument record (`makeArgs`) is made only for the answerer or the
 * trace: a 1 KB DPRAM read would spend a tenth of its time on it. */
template <uint32_t F, class Result, class MakeArgs, class Simulate>
Result exported(int32_t handle, MakeArgs makeArgs, Simulate simulate) noexcept {
    /* One instance per function: what the table says of it is looked up
     * once, not at every call. */
    static const struct Known {
        const qalapi::FunctionInfo &f = qalapi::info(F);
        const char *first = f.args.empty() ? "" : f.args[0];
        bool byBoard = !std::strcmp(first, "H"), byService = !std::strcmp(first, "S");
    } known;
    const qalapi::FunctionInfo &f = known.f;
    return guarded<Result>(f.name, Result(f.failure), [&] {
        struct CallScope {
            ~CallScope() { callEnded(); }
        } scope;
        std::shared_ptr<VirtualBoard> service;
        VirtualBoard *board = nullptr;
        if (known.byBoard) {
            board = findBoard(handle);
        } else if (known.byService) {
            service = findService(handle);
            board = service.get();
        }
        if (board && board->handed)
            return Result(handed(*board, makeArgs()));
        // Only QAL_displayMode turns the trace on: the call that does so
        // is traced too, with its arguments as they came in.
        if (!traceOn() && F != qalapi::fDisplayMode)
            return simulate();
        qalapi::CallArgs args = makeArgs();
        bool tracing = traceOn();
        Result result = simulate();
        if (tracing || traceOn()) {
            try {
                traceAlways(qalapi::traceLine(args, int32_t(result)));
            } catch (...) { /* the trace never fails the call it traces */
            }
        }
        return result;
    });
}

} // namespace

/* The C API: every function of qal.h (api/qal_api.h). */
#define SIM_FUNCTION(Id, Result, Name, Shows, Failure, N, Params, Buffers)                                             \
    QAL_EXPORT Result Name(QAL_API_EACH(QAL_API_PARAMETER, N, Params)) {                                               \
        return exported<qalapi::f##Id, Result>(                                                                        \
            handleOf(QAL_API_EACH(QAL_API_NAME, N, Params)),                                                           \
            [&] { return qalapi::callArgs<qalapi::f##Id>(QAL_API_EACH(QAL_API_NAME, N, Params)); },                    \
            [&] { return simulated::Id(QAL_API_EACH(QAL_API_NAME, N, Params)); });                                     \
    }
QAL_API(SIM_FUNCTION)
#undef SIM_FUNCTION

/* Where the answers of board `boardLid` come from, for the program's
 * result record: "replay" when the board's section names a trace to
 * replay, else "virtual". No part of the board API: the program looks it
 * up at run time, and a library without it is a bench's adapter. */
extern "C" QAL_EXPORT const char *ZT_boardOrigin(int32_t boardLid) {
    try {
        Library &lib = library();
        {
            std::lock_guard<std::mutex> guard(lib.lock);
            for (const auto &open : lib.boards)
                if (open.second->number == boardLid)
                    return open.second->handed ? "replay" : "virtual";
        }
        BoardFile file;
        std::string error;
        if (readBoardFile(QAL_BOARD_FILE, BoardFileScope::All, file, error) &&
            !boardConfig(file, boardLid).replay.empty())
            return "replay";
    } catch (...) {
    }
    return "virtual";
}
