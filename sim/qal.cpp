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
 * A board whose section names a trace to replay (replay.h) is in the
 * tables like any other, but each function first hands its calls to the
 * replay, which answers them from the trace; nothing is simulated.
 *
 * No C++ exception leaves a C function: each runs its body under one
 * guard (guarded below), so a host machine that runs out of memory, or
 * of threads, fails the call, not the program.
 */
#include "board_config.h"
#include "board_lifecycle.h"
#include "channels.h"
#include "nodes.h"
#include "qal.h"
#include "qal_api.h"
#include "qal_export.h"
#include "replay.h"
#include "stream.h"
#include "trace.h"
#include "virtual_board.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

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

std::shared_ptr<VirtualBoard> findBoard(int32_t handle) {
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.lock);
    auto it = lib.boards.find(handle);
    return it == lib.boards.end() ? nullptr : it->second;
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
    std::shared_ptr<Replay> replay;
    if (!cfg.replay.empty() && !(replay = openReplay(cfg, number)))
        return 0;
    auto board = makeBoard(number, cfg);
    board->replay = std::move(replay);
    int32_t handle = ++lib.lastHandle;
    lib.boards[handle] = std::move(board);
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
        dropServices(lib, board.get());
    }
    shutdownBoard(*board);
    return kQalOk;
}

int32_t closeAll() {
    std::map<int32_t, std::shared_ptr<VirtualBoard>> boards;
    {
        Library &lib = library();
        std::lock_guard<std::mutex> guard(lib.lock);
        boards.swap(lib.boards);
        lib.services.clear();
    }
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

/* The call's -V trace line, when the trace is on. */
template <class Result> void traced(Result result, const qalapi::CallArgs &args) {
    if (traceOn())
        trace("%s", qalapi::traceLine(args, int32_t(result)).c_str());
}

int32_t captureService(int32_t hBoard, int32_t unit, int32_t *mode, const char *name) {
    auto board = findBoard(hBoard);
    if (!board)
        return kQalBadHandle;
    if (unit != 1 || !mode)
        return kQalBadArgument;
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.lock);
    // The table's entry first: once the board has granted the service,
    // nothing may fail before the caller has its handle.
    int32_t handle = lib.lastService + 1;
    auto entry = lib.services.emplace(handle, board).first;
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

/* The trace a board answers from instead of simulating (replay.h), or
 * null. */
std::shared_ptr<Replay> replayOf(const std::shared_ptr<VirtualBoard> &board) { return board ? board->replay : nullptr; }

/* A replayed capture: the trace's service handle gets one of this
 * library's, which the program then uses. */
int32_t captureReplayed(const std::shared_ptr<VirtualBoard> &board, int32_t hBoard, int32_t unit, int32_t *mode,
                        const char *name, int32_t timeoutMs) {
    int32_t recorded =
        replayAnswer(*board->replay, qtrace::callIo<qtrace::fCapture>(hBoard, unit, mode, name, timeoutMs), kQalBadHandle);
    if (recorded <= 0)
        return recorded;
    Library &lib = library();
    std::lock_guard<std::mutex> guard(lib.lock);
    int32_t handle = ++lib.lastService;
    lib.services[handle] = board;
    replayService(*board->replay, handle, recorded);
    return handle;
}

int32_t releaseReplayed(Replay &replay, int32_t hService, int32_t unit) {
    int32_t status = replayAnswer(replay, qtrace::callIo<qtrace::fRelease>(hService, unit), kQalBadHandle);
    if (status >= 0) {
        Library &lib = library();
        std::lock_guard<std::mutex> guard(lib.lock);
        lib.services.erase(hService);
    }
    return status;
}

} // namespace

QAL_EXPORT int32_t QAL_init(int32_t reserved1, int32_t reserved2) {
    return guarded<int32_t>("QAL_init", kQalFailed, [&] {
        BoardFile file;
        bool ok = loadBoardFile(BoardFileScope::Library, file) && file.library.initOk;
        int32_t status = ok ? kQalOk : kQalFailed;
        traced(status, qalapi::callArgs<qalapi::fInit>(reserved1, reserved2));
        return status;
    });
}

QAL_EXPORT int32_t QAL_open(int32_t boardNumber, int32_t reserved1, int32_t reserved2) {
    return guarded<int32_t>("QAL_open", 0, [&] {
        int32_t handle = openBoard(boardNumber);
        traced(handle, qalapi::callArgs<qalapi::fOpen>(boardNumber, reserved1, reserved2));
        return handle;
    });
}

QAL_EXPORT int32_t QAL_close(int32_t hBoard) {
    return guarded<int32_t>("QAL_close", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard))) {
            int32_t status = replayAnswer(*r, qtrace::callIo<qtrace::fClose>(hBoard), kQalBadHandle);
            closeBoard(hBoard);
            return status;
        }
        int32_t status = closeBoard(hBoard);
        traced(status, qalapi::callArgs<qalapi::fClose>(hBoard));
        return status;
    });
}

QAL_EXPORT int32_t QAL_cleanup(void) {
    return guarded<int32_t>("QAL_cleanup", kQalFailed, [&] {
        int32_t status = closeAll();
        traced(status, qalapi::callArgs<qalapi::fCleanup>());
        return status;
    });
}

/* Traced whenever the trace is on before or after the call: switching it
 * off writes its own line first. */
QAL_EXPORT int32_t QAL_displayMode(int32_t mode) {
    return guarded<int32_t>("QAL_displayMode", kQalFailed, [&] {
        bool on = mode == QAL_DISPLAY_TRACE;
        if (!on)
            traced(kQalOk, qalapi::callArgs<qalapi::fDisplayMode>(mode));
        setTraceMode(mode);
        if (on)
            traced(kQalOk, qalapi::callArgs<qalapi::fDisplayMode>(mode));
        return kQalOk;
    });
}

QAL_EXPORT int32_t QAL_getInfo(int32_t hBoard, BoardInfo *info) {
    return guarded<int32_t>("QAL_getInfo", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fGetInfo>(hBoard, info), kQalBadHandle);
        int32_t status = kQalBadArgument;
        auto board = findBoard(hBoard);
        if (!board) {
            status = kQalBadHandle;
        } else if (info && info->size >= QAL_BOARD_INFO_SIZE) {
            fillBoardInfo(*board, *info);
            status = kQalOk;
        }
        traced(status, qalapi::callArgs<qalapi::fGetInfo>(hBoard, info));
        return status;
    });
}

/* Unit 1 is the identification area; the board has no other unit. */
QAL_EXPORT int32_t QAL_puRead(int32_t hBoard, int32_t unit, uint32_t offset, void *buf, uint32_t size) {
    return guarded<int32_t>("QAL_puRead", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fPuRead>(hBoard, unit, offset, buf, size), kQalBadHandle);
        int32_t status = kQalBadArgument;
        auto board = findBoard(hBoard);
        if (!board) {
            status = kQalBadHandle;
        } else if (unit == 1 && (buf || !size)) {
            readIdArea(*board, offset, static_cast<uint8_t *>(buf), size);
            status = kQalOk;
        }
        traced(status, qalapi::callArgs<qalapi::fPuRead>(hBoard, unit, offset, buf, size));
        return status;
    });
}

QAL_EXPORT uint32_t QAL_peek(int32_t hBoard, int32_t node, uint32_t address) {
    return guarded<uint32_t>("QAL_peek", kUnmappedWord, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return uint32_t(replayAnswer(*r, qtrace::callIo<qtrace::fPeek>(hBoard, node, address), int32_t(kUnmappedWord)));
        uint32_t value = kUnmappedWord;
        if (auto board = findBoard(hBoard))
            boardPeek(*board, node, address, value);
        traced(value, qalapi::callArgs<qalapi::fPeek>(hBoard, node, address));
        return value;
    });
}

QAL_EXPORT int32_t QAL_poke(int32_t hBoard, int32_t node, uint32_t address, uint32_t value) {
    return guarded<int32_t>("QAL_poke", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fPoke>(hBoard, node, address, value), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? boardPoke(*board, node, address, value) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fPoke>(hBoard, node, address, value));
        return status;
    });
}

QAL_EXPORT int32_t QAL_readRAM(int32_t hBoard, int32_t node, uint32_t address, void *buf, uint32_t count,
                               uint32_t elementSize) {
    return guarded<int32_t>("QAL_readRAM", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fReadRAM>(hBoard, node, address, buf, count, elementSize), kQalBadHandle);
        uint32_t words = 0;
        auto board = findBoard(hBoard);
        int32_t status = board ? ramWords(buf, count, elementSize, words) : kQalBadHandle;
        if (status == kQalOk)
            status = boardReadWords(*board, node, address, buf, words);
        traced(status, qalapi::callArgs<qalapi::fReadRAM>(hBoard, node, address, buf, count, elementSize));
        return status;
    });
}

QAL_EXPORT int32_t QAL_writeRAM(int32_t hBoard, int32_t node, uint32_t address, const void *buf, uint32_t count,
                                uint32_t elementSize) {
    return guarded<int32_t>("QAL_writeRAM", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fWriteRAM>(hBoard, node, address, buf, count, elementSize), kQalBadHandle);
        uint32_t words = 0;
        auto board = findBoard(hBoard);
        int32_t status = board ? ramWords(buf, count, elementSize, words) : kQalBadHandle;
        if (status == kQalOk)
            status = boardWriteWords(*board, node, address, buf, words);
        traced(status, qalapi::callArgs<qalapi::fWriteRAM>(hBoard, node, address, buf, count, elementSize));
        return status;
    });
}

QAL_EXPORT int32_t QAL_load(int32_t hBoard, int32_t node, const char *fileName, int32_t argc, char **argv) {
    return guarded<int32_t>("QAL_load", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fLoad>(hBoard, node, fileName, argc, argv), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? loadProgram(*board, node, fileName) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fLoad>(hBoard, node, fileName, argc, argv));
        return status;
    });
}

QAL_EXPORT int32_t QAL_start(int32_t hBoard, int32_t node) {
    return guarded<int32_t>("QAL_start", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fStart>(hBoard, node), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? startNodes(*board, node) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fStart>(hBoard, node));
        return status;
    });
}

QAL_EXPORT int32_t QAL_reset(int32_t hBoard, int32_t node) {
    return guarded<int32_t>("QAL_reset", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fReset>(hBoard, node), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? resetNodes(*board, node) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fReset>(hBoard, node));
        return status;
    });
}

/* The message size is in bytes. putMsg leaves it as it was; getMsg sets
 * it to the bytes received, 0 when none came. */
QAL_EXPORT int32_t QAL_putMsg(int32_t hBoard, int32_t node, const void *buf, uint32_t *size, int32_t timeoutMs) {
    return guarded<int32_t>("QAL_putMsg", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fPutMsg>(hBoard, node, buf, size, timeoutMs), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = !board  ? kQalBadHandle
                         : !size ? kQalBadArgument
                                 : hostPutMsg(*board, node, buf, *size, timeoutMs);
        traced(status, qalapi::callArgs<qalapi::fPutMsg>(hBoard, node, buf, size, timeoutMs));
        return status;
    });
}

QAL_EXPORT int32_t QAL_getMsg(int32_t hBoard, int32_t node, void *buf, uint32_t *size, int32_t timeoutMs) {
    return guarded<int32_t>("QAL_getMsg", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fGetMsg>(hBoard, node, buf, size, timeoutMs), kQalBadHandle);
        auto args = qalapi::callArgs<qalapi::fGetMsg>(hBoard, node, buf, size, timeoutMs); /* the size asked for */
        auto board = findBoard(hBoard);
        int32_t status = kQalBadArgument;
        if (!board) {
            status = kQalBadHandle;
            if (size)
                *size = 0;
        } else if (size) {
            status = hostGetMsg(*board, node, buf, *size, timeoutMs);
        }
        traced(status, args);
        return status;
    });
}

QAL_EXPORT int32_t QAL_readDPRAM(int32_t hBoard, int32_t node, uint32_t offset, void *buf, uint32_t size) {
    return guarded<int32_t>("QAL_readDPRAM", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fReadDPRAM>(hBoard, node, offset, buf, size), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? dpramRead(*board, node, offset, buf, size) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fReadDPRAM>(hBoard, node, offset, buf, size));
        return status;
    });
}

QAL_EXPORT int32_t QAL_writeDPRAM(int32_t hBoard, int32_t node, uint32_t offset, const void *buf, uint32_t size) {
    return guarded<int32_t>("QAL_writeDPRAM", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fWriteDPRAM>(hBoard, node, offset, buf, size), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? dpramWrite(*board, node, offset, buf, size) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fWriteDPRAM>(hBoard, node, offset, buf, size));
        return status;
    });
}

QAL_EXPORT int32_t QAL_readFIFO(int32_t hBoard, int32_t node, int32_t fifo, void *buf, uint32_t size,
                                int32_t timeoutMs) {
    return guarded<int32_t>("QAL_readFIFO", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fReadFIFO>(hBoard, node, fifo, buf, size, timeoutMs), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? hostReadFifo(*board, node, fifo, buf, size, timeoutMs) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fReadFIFO>(hBoard, node, fifo, buf, size, timeoutMs));
        return status;
    });
}

QAL_EXPORT int32_t QAL_writeFIFO(int32_t hBoard, int32_t node, int32_t fifo, const void *buf, uint32_t size,
                                 int32_t timeoutMs) {
    return guarded<int32_t>("QAL_writeFIFO", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fWriteFIFO>(hBoard, node, fifo, buf, size, timeoutMs), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? hostWriteFifo(*board, node, fifo, buf, size, timeoutMs) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fWriteFIFO>(hBoard, node, fifo, buf, size, timeoutMs));
        return status;
    });
}

QAL_EXPORT int32_t QAL_signalSend(int32_t hBoard, int32_t node, int32_t signal) {
    return guarded<int32_t>("QAL_signalSend", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fSignalSend>(hBoard, node, signal), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? hostSendSignal(*board, node, signal) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fSignalSend>(hBoard, node, signal));
        return status;
    });
}

/* flags has no meaning on this board. */
QAL_EXPORT int32_t QAL_signalGrab(int32_t hBoard, int32_t node, int32_t signal, int32_t flags, int32_t timeoutMs) {
    return guarded<int32_t>("QAL_signalGrab", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fSignalGrab>(hBoard, node, signal, flags, timeoutMs), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? hostGrabSignal(*board, node, signal, timeoutMs) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fSignalGrab>(hBoard, node, signal, flags, timeoutMs));
        return status;
    });
}

QAL_EXPORT int32_t QAL_signalIack(int32_t hBoard, int32_t node, int32_t signal) {
    return guarded<int32_t>("QAL_signalIack", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fSignalIack>(hBoard, node, signal), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? hostAckSignal(*board, node, signal) : kQalBadHandle;
        traced(status, qalapi::callArgs<qalapi::fSignalIack>(hBoard, node, signal));
        return status;
    });
}

/* Unit 1 has one service, the DMA stream. */
QAL_EXPORT int32_t QAL_serviceList(int32_t hBoard, int32_t unit, ServiceEntry *list, int32_t maxEntries,
                                   int32_t *count) {
    return guarded<int32_t>("QAL_serviceList", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fServiceList>(hBoard, unit, list, maxEntries, count), kQalBadHandle);
        int32_t status = listServices(hBoard, unit, list, maxEntries, count);
        traced(status, qalapi::callArgs<qalapi::fServiceList>(hBoard, unit, list, maxEntries, count));
        return status;
    });
}

/* A second capture while the service is held is refused at once; the
 * timeout is not used. */
QAL_EXPORT int32_t QAL_capture(int32_t hBoard, int32_t unit, int32_t *mode, const char *serviceName,
                               int32_t timeoutMs) {
    return guarded<int32_t>("QAL_capture", kQalFailed, [&] {
        if (auto board = findBoard(hBoard); board && board->replay)
            return captureReplayed(board, hBoard, unit, mode, serviceName, timeoutMs);
        int32_t status = captureService(hBoard, unit, mode, serviceName);
        traced(status, qalapi::callArgs<qalapi::fCapture>(hBoard, unit, mode, serviceName, timeoutMs));
        return status;
    });
}

QAL_EXPORT int32_t QAL_ctrl(int32_t hService, int32_t unit, int32_t code, void *arg) {
    return guarded<int32_t>("QAL_ctrl", kQalFailed, [&] {
        if (auto r = replayOf(findService(hService)))
            return replayAnswer(*r, qtrace::callIo<qtrace::fCtrl>(hService, unit, code, arg), kQalBadHandle);
        auto board = findService(hService);
        int32_t status = !board ? kQalBadHandle : unit != 1 ? kQalBadArgument : streamCtrl(*board, hService, code, arg);
        traced(status, qalapi::callArgs<qalapi::fCtrl>(hService, unit, code, arg));
        return status;
    });
}

QAL_EXPORT int32_t QAL_release(int32_t hService, int32_t unit) {
    return guarded<int32_t>("QAL_release", kQalFailed, [&] {
        if (auto r = replayOf(findService(hService)))
            return releaseReplayed(*r, hService, unit);
        int32_t status = releaseService(hService, unit);
        traced(status, qalapi::callArgs<qalapi::fRelease>(hService, unit));
        return status;
    });
}

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
                    return open.second->replay ? "replay" : "virtual";
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
