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

std::string quoted(const char *s) { return s ? '"' + std::string(s) + '"' : "NULL"; }

uint32_t sizeArg(const uint32_t *size) { return size ? *size : 0; }

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
        replayAnswer(*board->replay, qtrace::ioCapture(hBoard, unit, mode, name, timeoutMs), kQalBadHandle);
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
    int32_t status = replayAnswer(replay, qtrace::ioRelease(hService, unit), kQalBadHandle);
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
        trace("QAL_init(%d, %d) = %d", reserved1, reserved2, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_open(int32_t boardNumber, int32_t reserved1, int32_t reserved2) {
    return guarded<int32_t>("QAL_open", 0, [&] {
        int32_t handle = openBoard(boardNumber);
        trace("QAL_open(%d, %d, %d) = %d", boardNumber, reserved1, reserved2, handle);
        return handle;
    });
}

QAL_EXPORT int32_t QAL_close(int32_t hBoard) {
    return guarded<int32_t>("QAL_close", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard))) {
            int32_t status = replayAnswer(*r, qtrace::ioClose(hBoard), kQalBadHandle);
            closeBoard(hBoard);
            return status;
        }
        int32_t status = closeBoard(hBoard);
        trace("QAL_close(%d) = %d", hBoard, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_cleanup(void) {
    return guarded<int32_t>("QAL_cleanup", kQalFailed, [&] {
        int32_t status = closeAll();
        trace("QAL_cleanup() = %d", status);
        return status;
    });
}

/* Traced whenever the trace is on before or after the call: switching it
 * off writes its own line first. */
QAL_EXPORT int32_t QAL_displayMode(int32_t mode) {
    return guarded<int32_t>("QAL_displayMode", kQalFailed, [&] {
        bool on = mode == QAL_DISPLAY_TRACE;
        if (!on)
            trace("QAL_displayMode(0x%X) = %d", unsigned(mode), kQalOk);
        setTraceMode(mode);
        if (on)
            trace("QAL_displayMode(0x%X) = %d", unsigned(mode), kQalOk);
        return kQalOk;
    });
}

QAL_EXPORT int32_t QAL_getInfo(int32_t hBoard, BoardInfo *info) {
    return guarded<int32_t>("QAL_getInfo", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioGetInfo(hBoard, info), kQalBadHandle);
        int32_t status = kQalBadArgument;
        auto board = findBoard(hBoard);
        if (!board) {
            status = kQalBadHandle;
        } else if (info && info->size >= QAL_BOARD_INFO_SIZE) {
            fillBoardInfo(*board, *info);
            status = kQalOk;
        }
        trace("QAL_getInfo(%d, %s) = %d", hBoard, traceArg(info, "info"), status);
        return status;
    });
}

/* Unit 1 is the identification area; the board has no other unit. */
QAL_EXPORT int32_t QAL_puRead(int32_t hBoard, int32_t unit, uint32_t offset, void *buf, uint32_t size) {
    return guarded<int32_t>("QAL_puRead", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioPuRead(hBoard, unit, offset, buf, size), kQalBadHandle);
        int32_t status = kQalBadArgument;
        auto board = findBoard(hBoard);
        if (!board) {
            status = kQalBadHandle;
        } else if (unit == 1 && (buf || !size)) {
            readIdArea(*board, offset, static_cast<uint8_t *>(buf), size);
            status = kQalOk;
        }
        trace("QAL_puRead(%d, %d, %u, %s, %u) = %d", hBoard, unit, offset, traceArg(buf, "buf"), size, status);
        return status;
    });
}

QAL_EXPORT uint32_t QAL_peek(int32_t hBoard, int32_t node, uint32_t address) {
    return guarded<uint32_t>("QAL_peek", kUnmappedWord, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return uint32_t(replayAnswer(*r, qtrace::ioPeek(hBoard, node, address), int32_t(kUnmappedWord)));
        uint32_t value = kUnmappedWord;
        if (auto board = findBoard(hBoard))
            boardPeek(*board, node, address, value);
        trace("QAL_peek(%d, %d, 0x%08X) = 0x%08X", hBoard, node, address, value);
        return value;
    });
}

QAL_EXPORT int32_t QAL_poke(int32_t hBoard, int32_t node, uint32_t address, uint32_t value) {
    return guarded<int32_t>("QAL_poke", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioPoke(hBoard, node, address, value), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? boardPoke(*board, node, address, value) : kQalBadHandle;
        trace("QAL_poke(%d, %d, 0x%08X, 0x%08X) = %d", hBoard, node, address, value, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_readRAM(int32_t hBoard, int32_t node, uint32_t address, void *buf, uint32_t count,
                               uint32_t elementSize) {
    return guarded<int32_t>("QAL_readRAM", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioReadRAM(hBoard, node, address, buf, count, elementSize), kQalBadHandle);
        uint32_t words = 0;
        auto board = findBoard(hBoard);
        int32_t status = board ? ramWords(buf, count, elementSize, words) : kQalBadHandle;
        if (status == kQalOk)
            status = boardReadWords(*board, node, address, buf, words);
        trace("QAL_readRAM(%d, %d, 0x%08X, %s, %u, %u) = %d", hBoard, node, address, traceArg(buf, "buf"), count,
              elementSize, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_writeRAM(int32_t hBoard, int32_t node, uint32_t address, const void *buf, uint32_t count,
                                uint32_t elementSize) {
    return guarded<int32_t>("QAL_writeRAM", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioWriteRAM(hBoard, node, address, buf, count, elementSize), kQalBadHandle);
        uint32_t words = 0;
        auto board = findBoard(hBoard);
        int32_t status = board ? ramWords(buf, count, elementSize, words) : kQalBadHandle;
        if (status == kQalOk)
            status = boardWriteWords(*board, node, address, buf, words);
        trace("QAL_writeRAM(%d, %d, 0x%08X, %s, %u, %u) = %d", hBoard, node, address, traceArg(buf, "buf"), count,
              elementSize, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_load(int32_t hBoard, int32_t node, const char *fileName, int32_t argc, char **argv) {
    return guarded<int32_t>("QAL_load", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioLoad(hBoard, node, fileName, argc, argv), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? loadProgram(*board, node, fileName) : kQalBadHandle;
        trace("QAL_load(%d, %d, %s, %d, %s) = %d", hBoard, node, quoted(fileName).c_str(), argc, traceArg(argv, "argv"),
              status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_start(int32_t hBoard, int32_t node) {
    return guarded<int32_t>("QAL_start", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioStart(hBoard, node), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? startNodes(*board, node) : kQalBadHandle;
        trace("QAL_start(%d, %d) = %d", hBoard, node, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_reset(int32_t hBoard, int32_t node) {
    return guarded<int32_t>("QAL_reset", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioReset(hBoard, node), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? resetNodes(*board, node) : kQalBadHandle;
        trace("QAL_reset(%d, %d) = %d", hBoard, node, status);
        return status;
    });
}

/* The message size is in bytes. putMsg leaves it as it was; getMsg sets
 * it to the bytes received, 0 when none came. */
QAL_EXPORT int32_t QAL_putMsg(int32_t hBoard, int32_t node, const void *buf, uint32_t *size, int32_t timeoutMs) {
    return guarded<int32_t>("QAL_putMsg", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioPutMsg(hBoard, node, buf, size, timeoutMs), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = !board  ? kQalBadHandle
                         : !size ? kQalBadArgument
                                 : hostPutMsg(*board, node, buf, *size, timeoutMs);
        trace("QAL_putMsg(%d, %d, %s, %u, %d) = %d", hBoard, node, traceArg(buf, "buf"), sizeArg(size), timeoutMs,
              status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_getMsg(int32_t hBoard, int32_t node, void *buf, uint32_t *size, int32_t timeoutMs) {
    return guarded<int32_t>("QAL_getMsg", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioGetMsg(hBoard, node, buf, size, timeoutMs), kQalBadHandle);
        uint32_t wanted = sizeArg(size);
        auto board = findBoard(hBoard);
        int32_t status = kQalBadArgument;
        if (!board) {
            status = kQalBadHandle;
            if (size)
                *size = 0;
        } else if (size) {
            status = hostGetMsg(*board, node, buf, *size, timeoutMs);
        }
        trace("QAL_getMsg(%d, %d, %s, %u, %d) = %d", hBoard, node, traceArg(buf, "buf"), wanted, timeoutMs, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_readDPRAM(int32_t hBoard, int32_t node, uint32_t offset, void *buf, uint32_t size) {
    return guarded<int32_t>("QAL_readDPRAM", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioReadDPRAM(hBoard, node, offset, buf, size), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? dpramRead(*board, node, offset, buf, size) : kQalBadHandle;
        trace("QAL_readDPRAM(%d, %d, %u, %s, %u) = %d", hBoard, node, offset, traceArg(buf, "buf"), size, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_writeDPRAM(int32_t hBoard, int32_t node, uint32_t offset, const void *buf, uint32_t size) {
    return guarded<int32_t>("QAL_writeDPRAM", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioWriteDPRAM(hBoard, node, offset, buf, size), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? dpramWrite(*board, node, offset, buf, size) : kQalBadHandle;
        trace("QAL_writeDPRAM(%d, %d, %u, %s, %u) = %d", hBoard, node, offset, traceArg(buf, "buf"), size, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_readFIFO(int32_t hBoard, int32_t node, int32_t fifo, void *buf, uint32_t size,
                                int32_t timeoutMs) {
    return guarded<int32_t>("QAL_readFIFO", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioReadFIFO(hBoard, node, fifo, buf, size, timeoutMs), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? hostReadFifo(*board, node, fifo, buf, size, timeoutMs) : kQalBadHandle;
        trace("QAL_readFIFO(%d, %d, %d, %s, %u, %d) = %d", hBoard, node, fifo, traceArg(buf, "buf"), size, timeoutMs,
              status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_writeFIFO(int32_t hBoard, int32_t node, int32_t fifo, const void *buf, uint32_t size,
                                 int32_t timeoutMs) {
    return guarded<int32_t>("QAL_writeFIFO", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioWriteFIFO(hBoard, node, fifo, buf, size, timeoutMs), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? hostWriteFifo(*board, node, fifo, buf, size, timeoutMs) : kQalBadHandle;
        trace("QAL_writeFIFO(%d, %d, %d, %s, %u, %d) = %d", hBoard, node, fifo, traceArg(buf, "buf"), size, timeoutMs,
              status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_signalSend(int32_t hBoard, int32_t node, int32_t signal) {
    return guarded<int32_t>("QAL_signalSend", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioSignalSend(hBoard, node, signal), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? hostSendSignal(*board, node, signal) : kQalBadHandle;
        trace("QAL_signalSend(%d, %d, %d) = %d", hBoard, node, signal, status);
        return status;
    });
}

/* flags has no meaning on this board. */
QAL_EXPORT int32_t QAL_signalGrab(int32_t hBoard, int32_t node, int32_t signal, int32_t flags, int32_t timeoutMs) {
    return guarded<int32_t>("QAL_signalGrab", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioSignalGrab(hBoard, node, signal, flags, timeoutMs), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? hostGrabSignal(*board, node, signal, timeoutMs) : kQalBadHandle;
        trace("QAL_signalGrab(%d, %d, %d, %d, %d) = %d", hBoard, node, signal, flags, timeoutMs, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_signalIack(int32_t hBoard, int32_t node, int32_t signal) {
    return guarded<int32_t>("QAL_signalIack", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioSignalIack(hBoard, node, signal), kQalBadHandle);
        auto board = findBoard(hBoard);
        int32_t status = board ? hostAckSignal(*board, node, signal) : kQalBadHandle;
        trace("QAL_signalIack(%d, %d, %d) = %d", hBoard, node, signal, status);
        return status;
    });
}

/* Unit 1 has one service, the DMA stream. */
QAL_EXPORT int32_t QAL_serviceList(int32_t hBoard, int32_t unit, ServiceEntry *list, int32_t maxEntries,
                                   int32_t *count) {
    return guarded<int32_t>("QAL_serviceList", kQalFailed, [&] {
        if (auto r = replayOf(findBoard(hBoard)))
            return replayAnswer(*r, qtrace::ioServiceList(hBoard, unit, list, maxEntries, count), kQalBadHandle);
        int32_t status = listServices(hBoard, unit, list, maxEntries, count);
        trace("QAL_serviceList(%d, %d, %s, %d, %s) = %d", hBoard, unit, traceArg(list, "list"), maxEntries,
              traceArg(count, "count"), status);
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
        trace("QAL_capture(%d, %d, %s, %s, %d) = %d", hBoard, unit, traceArg(mode, "mode"), quoted(serviceName).c_str(),
              timeoutMs, status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_ctrl(int32_t hService, int32_t unit, int32_t code, void *arg) {
    return guarded<int32_t>("QAL_ctrl", kQalFailed, [&] {
        if (auto r = replayOf(findService(hService)))
            return replayAnswer(*r, qtrace::ioCtrl(hService, unit, code, arg), kQalBadHandle);
        auto board = findService(hService);
        int32_t status = !board ? kQalBadHandle : unit != 1 ? kQalBadArgument : streamCtrl(*board, hService, code, arg);
        trace("QAL_ctrl(%d, %d, 0x%X, %s) = %d", hService, unit, unsigned(code), traceArg(arg, "arg"), status);
        return status;
    });
}

QAL_EXPORT int32_t QAL_release(int32_t hService, int32_t unit) {
    return guarded<int32_t>("QAL_release", kQalFailed, [&] {
        if (auto r = replayOf(findService(hService)))
            return releaseReplayed(*r, hService, unit);
        int32_t status = releaseService(hService, unit);
        trace("QAL_release(%d, %d) = %d", hService, unit, status);
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
