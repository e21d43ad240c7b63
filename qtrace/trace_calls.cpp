/*
 * trace_calls.cpp - the calls of qal.h as traces keep them (see
 * trace_calls.h).
 */
#include "trace_calls.h"

#include <cstring>
#include <string>

namespace qtrace {

/* The sizes the trace's reader holds outputs to (outputCapacity). */
static_assert(QAL_BOARD_INFO_SIZE == 280 && sizeof(BoardInfo) == 280, "BoardInfo is 280 bytes");
static_assert(sizeof(ServiceEntry) == 20, "a ServiceEntry is 20 bytes");
static_assert(sizeof(StreamBufferState) == 20, "a StreamBufferState is 20 bytes");
static_assert(QALctrl_STREAM_CBUF_ALLOC == 0xE00 && QALctrl_STREAM_CBUF_STATE == 0xE05, "the stream's codes");

namespace {

int32_t given(const void *p) { return p ? 1 : 0; }
int32_t value(const uint32_t *size) { return size ? int32_t(*size) : 0; }

} // namespace

CallIo::CallIo(Function f, std::initializer_list<int32_t> args) {
    call.function = f;
    call.args = args;
}

CallIo &CallIo::in(uint8_t arg, const void *at, uint32_t size) {
    if (!at)
        return *this;
    Buffer b;
    b.arg = arg;
    b.size = size;
    if (size <= kInlineBytes) {
        const uint8_t *p = static_cast<const uint8_t *>(at);
        b.bytes = std::make_shared<const std::vector<uint8_t>>(p, p + size);
    } else {
        b.storage = Storage::Digest;
        b.digest = digest(at, size);
    }
    call.buffers.push_back(std::move(b));
    return *this;
}

CallIo &CallIo::out(uint8_t arg, void *at, uint32_t capacity, const uint32_t *actual) {
    if (at)
        outs.push_back({arg, at, capacity, actual});
    return *this;
}

uint32_t ramBytes(uint32_t count, uint32_t elementSize) {
    return elementSize == 4 ? count * 4 : elementSize == 1 ? count : 0;
}

CallIo ioInit(int32_t r1, int32_t r2) { return CallIo(fInit, {r1, r2}); }
CallIo ioOpen(int32_t n, int32_t r1, int32_t r2) { return CallIo(fOpen, {n, r1, r2}); }
CallIo ioClose(int32_t h) { return CallIo(fClose, {h}); }
CallIo ioCleanup() { return CallIo(fCleanup, {}); }
CallIo ioDisplayMode(int32_t mode) { return CallIo(fDisplayMode, {mode}); }

CallIo ioGetInfo(int32_t h, BoardInfo *info) {
    CallIo io(fGetInfo, {h, given(info)});
    if (info)
        io.in(1, &info->size, 4).out(1, info, QAL_BOARD_INFO_SIZE);
    return io;
}

CallIo ioPuRead(int32_t h, int32_t unit, uint32_t offset, void *buf, uint32_t size) {
    return CallIo(fPuRead, {h, unit, int32_t(offset), given(buf), int32_t(size)}).out(3, buf, size);
}

CallIo ioPeek(int32_t h, int32_t node, uint32_t address) { return CallIo(fPeek, {h, node, int32_t(address)}); }

CallIo ioPoke(int32_t h, int32_t node, uint32_t address, uint32_t v) {
    return CallIo(fPoke, {h, node, int32_t(address), int32_t(v)});
}

CallIo ioReadRAM(int32_t h, int32_t node, uint32_t address, void *buf, uint32_t count, uint32_t elementSize) {
    return CallIo(fReadRAM, {h, node, int32_t(address), given(buf), int32_t(count), int32_t(elementSize)})
        .out(3, buf, ramBytes(count, elementSize));
}

CallIo ioWriteRAM(int32_t h, int32_t node, uint32_t address, const void *buf, uint32_t count, uint32_t elementSize) {
    return CallIo(fWriteRAM, {h, node, int32_t(address), given(buf), int32_t(count), int32_t(elementSize)})
        .in(3, buf, ramBytes(count, elementSize));
}

/* The arguments as one input, each with its NUL. */
CallIo ioLoad(int32_t h, int32_t node, const char *fileName, int32_t argc, char **argv) {
    CallIo io(fLoad, {h, node, given(fileName), argc, given(argv)});
    if (fileName)
        io.in(2, fileName, uint32_t(std::strlen(fileName) + 1));
    if (argv) {
        std::string args;
        for (int32_t i = 0; i < argc; ++i)
            args += std::string(argv[i] ? argv[i] : "") + '\0';
        io.in(4, args.data(), uint32_t(args.size()));
    }
    return io;
}

CallIo ioStart(int32_t h, int32_t node) { return CallIo(fStart, {h, node}); }
CallIo ioReset(int32_t h, int32_t node) { return CallIo(fReset, {h, node}); }

CallIo ioPutMsg(int32_t h, int32_t node, const void *buf, uint32_t *size, int32_t timeoutMs) {
    return CallIo(fPutMsg, {h, node, given(buf), value(size), timeoutMs}).in(2, buf, size ? *size : 0).out(3, size, 4);
}

/* The size first: it tells how much of the buffer came. */
CallIo ioGetMsg(int32_t h, int32_t node, void *buf, uint32_t *size, int32_t timeoutMs) {
    return CallIo(fGetMsg, {h, node, given(buf), value(size), timeoutMs})
        .out(3, size, 4)
        .out(2, buf, size ? *size : 0, size);
}

CallIo ioReadDPRAM(int32_t h, int32_t node, uint32_t offset, void *buf, uint32_t size) {
    return CallIo(fReadDPRAM, {h, node, int32_t(offset), given(buf), int32_t(size)}).out(3, buf, size);
}

CallIo ioWriteDPRAM(int32_t h, int32_t node, uint32_t offset, const void *buf, uint32_t size) {
    return CallIo(fWriteDPRAM, {h, node, int32_t(offset), given(buf), int32_t(size)}).in(3, buf, size);
}

CallIo ioReadFIFO(int32_t h, int32_t node, int32_t fifo, void *buf, uint32_t size, int32_t timeoutMs) {
    return CallIo(fReadFIFO, {h, node, fifo, given(buf), int32_t(size), timeoutMs}).out(3, buf, size);
}

CallIo ioWriteFIFO(int32_t h, int32_t node, int32_t fifo, const void *buf, uint32_t size, int32_t timeoutMs) {
    return CallIo(fWriteFIFO, {h, node, fifo, given(buf), int32_t(size), timeoutMs}).in(3, buf, size);
}

CallIo ioSignalSend(int32_t h, int32_t node, int32_t signal) { return CallIo(fSignalSend, {h, node, signal}); }

CallIo ioSignalGrab(int32_t h, int32_t node, int32_t signal, int32_t flags, int32_t timeoutMs) {
    return CallIo(fSignalGrab, {h, node, signal, flags, timeoutMs});
}

CallIo ioSignalIack(int32_t h, int32_t node, int32_t signal) { return CallIo(fSignalIack, {h, node, signal}); }

CallIo ioServiceList(int32_t h, int32_t unit, ServiceEntry *list, int32_t maxEntries, int32_t *count) {
    uint32_t bytes = maxEntries > 0 ? uint32_t(maxEntries) * sizeof(ServiceEntry) : 0;
    return CallIo(fServiceList, {h, unit, given(list), maxEntries, given(count)}).out(2, list, bytes).out(4, count, 4);
}

CallIo ioCapture(int32_t h, int32_t unit, int32_t *mode, const char *serviceName, int32_t timeoutMs) {
    CallIo io(fCapture, {h, unit, given(mode), given(serviceName), timeoutMs});
    io.in(2, mode, 4);
    if (serviceName)
        io.in(3, serviceName, uint32_t(std::strlen(serviceName) + 1));
    return io.out(2, mode, 4);
}

/* A set-up's four words (direction, channel, count, size) go in, and come
 * back with the size the board chose; a state query's five words go in
 * and out. */
CallIo ioCtrl(int32_t hService, int32_t unit, int32_t code, void *arg) {
    CallIo io(fCtrl, {hService, unit, code, given(arg)});
    switch (code) {
    case QALctrl_STREAM_CBUF_ALLOC:
        return io.in(3, arg, 16).out(3, arg, 16);
    case QALctrl_STREAM_CBUF_FREE:
        return io.in(3, arg, 16);
    case QALctrl_STREAM_CBUF_START:
        return io.in(3, arg, sizeof(StreamStartArg));
    case QALctrl_STREAM_CBUF_STATE:
        return io.in(3, arg, sizeof(StreamBufferState)).out(3, arg, sizeof(StreamBufferState));
    default:
        return io;
    }
}

CallIo ioRelease(int32_t hService, int32_t unit) { return CallIo(fRelease, {hService, unit}); }

} // namespace qtrace
