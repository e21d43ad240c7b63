/*
 * trace_calls.h - what of each call of qal.h goes into a trace: its
 * arguments, the input buffers it passes and the output buffers the board
 * fills. The recorder and the replay build a call the same way, so a call
 * the program makes again matches its record exactly.
 */
#ifndef ZORVANTIK_QTRACE_TRACE_CALLS_H
#define ZORVANTIK_QTRACE_TRACE_CALLS_H

#include "qal.h"
#include "trace_format.h"

#include <initializer_list>
#include <vector>

namespace qtrace {

/* One call: its record so far (arguments and inputs, kept inline up to
 * kInlineBytes, else by digest) and where its outputs lie. */
struct CallIo {
    struct Out {
        uint8_t arg;            /* the argument it belongs to */
        void *at;               /* the caller's memory */
        uint32_t capacity;      /* bytes there */
        const uint32_t *actual; /* when set, the bytes filled are min(*actual, capacity) after the call */
    };
    Call call;
    std::vector<Out> outs;

    CallIo(Function f, std::initializer_list<int32_t> args);
    CallIo &in(uint8_t arg, const void *at, uint32_t size);
    CallIo &out(uint8_t arg, void *at, uint32_t capacity, const uint32_t *actual = nullptr);
};

/* Bytes a host-port block moves: elements of 1 or 4 bytes. */
uint32_t ramBytes(uint32_t count, uint32_t elementSize);

CallIo ioInit(int32_t reserved1, int32_t reserved2);
CallIo ioOpen(int32_t boardNumber, int32_t reserved1, int32_t reserved2);
CallIo ioClose(int32_t hBoard);
CallIo ioCleanup();
CallIo ioDisplayMode(int32_t mode);
CallIo ioGetInfo(int32_t hBoard, BoardInfo *info);
CallIo ioPuRead(int32_t hBoard, int32_t unit, uint32_t offset, void *buf, uint32_t size);
CallIo ioPeek(int32_t hBoard, int32_t node, uint32_t address);
CallIo ioPoke(int32_t hBoard, int32_t node, uint32_t address, uint32_t value);
CallIo ioReadRAM(int32_t hBoard, int32_t node, uint32_t address, void *buf, uint32_t count, uint32_t elementSize);
CallIo ioWriteRAM(int32_t hBoard, int32_t node, uint32_t address, const void *buf, uint32_t count,
                  uint32_t elementSize);
CallIo ioLoad(int32_t hBoard, int32_t node, const char *fileName, int32_t argc, char **argv);
CallIo ioStart(int32_t hBoard, int32_t node);
CallIo ioReset(int32_t hBoard, int32_t node);
CallIo ioPutMsg(int32_t hBoard, int32_t node, const void *buf, uint32_t *size, int32_t timeoutMs);
CallIo ioGetMsg(int32_t hBoard, int32_t node, void *buf, uint32_t *size, int32_t timeoutMs);
CallIo ioReadDPRAM(int32_t hBoard, int32_t node, uint32_t offset, void *buf, uint32_t size);
CallIo ioWriteDPRAM(int32_t hBoard, int32_t node, uint32_t offset, const void *buf, uint32_t size);
CallIo ioReadFIFO(int32_t hBoard, int32_t node, int32_t fifo, void *buf, uint32_t size, int32_t timeoutMs);
CallIo ioWriteFIFO(int32_t hBoard, int32_t node, int32_t fifo, const void *buf, uint32_t size, int32_t timeoutMs);
CallIo ioSignalSend(int32_t hBoard, int32_t node, int32_t signal);
CallIo ioSignalGrab(int32_t hBoard, int32_t node, int32_t signal, int32_t flags, int32_t timeoutMs);
CallIo ioSignalIack(int32_t hBoard, int32_t node, int32_t signal);
CallIo ioServiceList(int32_t hBoard, int32_t unit, ServiceEntry *list, int32_t maxEntries, int32_t *count);
CallIo ioCapture(int32_t hBoard, int32_t unit, int32_t *mode, const char *serviceName, int32_t timeoutMs);
/* The stream's structures by code; the block addresses a set-up returns
 * are the host's own and are not kept, nor anything of an unknown code. */
CallIo ioCtrl(int32_t hService, int32_t unit, int32_t code, void *arg);
CallIo ioRelease(int32_t hService, int32_t unit);

} // namespace qtrace

#endif /* ZORVANTIK_QTRACE_TRACE_CALLS_H */
