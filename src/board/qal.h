/*
 * qal.h - the board-access library as the program calls it.
 *
 * The program reaches the ZORVANTIK only through these C functions. On this
 * machine they are implemented by the virtual board (sim/, libqal); on a
 * bench with real hardware by an adapter to the vendor library with the same
 * ABI. Everything here is plain C so that either side can be swapped.
 *
 * Conventions of every call:
 *   - handle: 32-bit, from QAL_open, valid when greater than 0;
 *   - node:   processor index 0..6 for P1..P7 (QAL_start also takes -1,
 *             all processors);
 *   - status: signed 32-bit, negative = failure;
 *   - timeouts in milliseconds, QAL_WAIT_FOREVER (-1) = no limit;
 *   - processor memory addresses are 32-bit word addresses, DPRAM offsets
 *     and message sizes are in bytes; words are little-endian.
 */
#ifndef ZORVANTIK_QAL_H
#define ZORVANTIK_QAL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QAL_WAIT_FOREVER (-1)

/* Display mode that makes the library trace every call on stderr. */
#define QAL_DISPLAY_TRACE 0x8F

/* Information block filled by QAL_getInfo. The caller sets `size` to 280
 * before the call. Only the named members are used by the program; the
 * reserved words keep the offsets of the block. */
typedef struct BoardInfo {
    uint32_t size;           /*   0: block size, 280 */
    uint32_t reserved0;      /*   4 */
    uint32_t boardType;      /*   8: model << 16 | version (bits 4..15 major, 0..3 minor) */
    uint32_t reserved1[32];  /*  12 */
    uint32_t serialNumber;   /* 140 */
    uint32_t reserved2;      /* 144 */
    uint32_t pciBus;         /* 148 */
    uint32_t pciDevice;      /* 152 */
    uint32_t reserved3[19];  /* 156 */
    uint32_t pciCtrlMemAddr; /* 232: PCI controller memory address */
    uint32_t pciCtrlIoAddr;  /* 236: PCI controller I/O address (bit 0 is a flag) */
    uint32_t devIoAddr;      /* 240: device I/O address (bit 0 is a flag) */
    uint32_t devMemAddr;     /* 244: device memory address */
    uint32_t reserved4[4];   /* 248 */
    uint32_t irq;            /* 264: interrupt number */
    uint32_t reserved5[3];   /* 268 */
} BoardInfo;

#define QAL_BOARD_INFO_SIZE 280u

/* One entry of the service list of QAL_serviceList: 20 bytes, the name
 * first, NUL-terminated. */
typedef struct ServiceEntry {
    char name[16];       /* service name, NUL-terminated */
    uint32_t attributes; /* library's own use */
} ServiceEntry;

/* Control codes of QAL_ctrl for the DMA stream service. */
#define QALctrl_STREAM_CBUF_ALLOC 0xE00 /* set up the host blocks: StreamBufferSetup */
#define QALctrl_STREAM_CBUF_FREE 0xE02  /* release the host blocks: StreamBufferSetup */
#define QALctrl_STREAM_CBUF_START 0xE03 /* start the stream: StreamStartArg */
#define QALctrl_STREAM_CBUF_STOP 0xE04  /* stop the stream: no argument */
#define QALctrl_STREAM_CBUF_STATE 0xE05 /* query the state: StreamBufferState */

/* Capture modes of QAL_capture (in and out). */
#define QAL_CAPTURE_EXCLUSIVE 1 /* the caller owns the stream */
#define QAL_CAPTURE_SHARED 2    /* granted as an observer only */

/* Block set-up for QALctrl_STREAM_CBUF_ALLOC and _FREE. Host addresses are
 * pointer-sized, so the block is laid out for the host's pointer width. */
typedef struct StreamBufferSetup {
    uint32_t direction;  /* 1: from the board to the host */
    uint32_t channel;    /* stream channel, 1 */
    uint32_t blockCount; /* number of blocks */
    uint32_t blockSize;  /* bytes per block; the library may adjust it */
    void **blockAddrs;   /* array the library fills with the blocks' host addresses */
    uintptr_t reserved;  /* library's own use */
} StreamBufferSetup;

typedef struct StreamStartArg {
    uint32_t cyclic; /* 1: run the blocks as a ring */
} StreamStartArg;

typedef struct StreamBufferState {
    uint32_t blockIndex; /* out: block most recently filled */
    uint32_t blockCount; /* out: running count of filled blocks */
    uint32_t overflows;  /* out: blocks the host did not take in time */
    uint32_t state;      /* out: stream state */
    uint32_t timeoutMs;  /* in: how long to wait for the next block */
} StreamBufferState;

int32_t QAL_init(int32_t reserved1, int32_t reserved2);
int32_t QAL_open(int32_t boardNumber, int32_t reserved1, int32_t reserved2);
int32_t QAL_close(int32_t hBoard);
int32_t QAL_cleanup(void);
int32_t QAL_displayMode(int32_t mode);

int32_t QAL_getInfo(int32_t hBoard, BoardInfo *info);
int32_t QAL_puRead(int32_t hBoard, int32_t unit, uint32_t offset, void *buf, uint32_t size);

uint32_t QAL_peek(int32_t hBoard, int32_t node, uint32_t address);
int32_t QAL_poke(int32_t hBoard, int32_t node, uint32_t address, uint32_t value);
int32_t QAL_readRAM(int32_t hBoard, int32_t node, uint32_t address, void *buf, uint32_t count, uint32_t elementSize);
int32_t QAL_writeRAM(int32_t hBoard, int32_t node, uint32_t address, const void *buf, uint32_t count,
                     uint32_t elementSize);

int32_t QAL_load(int32_t hBoard, int32_t node, const char *fileName, int32_t argc, char **argv);
int32_t QAL_start(int32_t hBoard, int32_t node);
int32_t QAL_reset(int32_t hBoard, int32_t node);

int32_t QAL_putMsg(int32_t hBoard, int32_t node, const void *buf, uint32_t *size, int32_t timeoutMs);
int32_t QAL_getMsg(int32_t hBoard, int32_t node, void *buf, uint32_t *size, int32_t timeoutMs);

int32_t QAL_readDPRAM(int32_t hBoard, int32_t node, uint32_t offset, void *buf, uint32_t size);
int32_t QAL_writeDPRAM(int32_t hBoard, int32_t node, uint32_t offset, const void *buf, uint32_t size);

int32_t QAL_readFIFO(int32_t hBoard, int32_t node, int32_t fifo, void *buf, uint32_t size, int32_t timeoutMs);
int32_t QAL_writeFIFO(int32_t hBoard, int32_t node, int32_t fifo, const void *buf, uint32_t size, int32_t timeoutMs);

int32_t QAL_signalSend(int32_t hBoard, int32_t node, int32_t signal);
int32_t QAL_signalGrab(int32_t hBoard, int32_t node, int32_t signal, int32_t flags, int32_t timeoutMs);
int32_t QAL_signalIack(int32_t hBoard, int32_t node, int32_t signal);

int32_t QAL_serviceList(int32_t hBoard, int32_t unit, ServiceEntry *list, int32_t maxEntries, int32_t *count);
int32_t QAL_capture(int32_t hBoard, int32_t unit, int32_t *mode, const char *serviceName, int32_t timeoutMs);
int32_t QAL_ctrl(int32_t hService, int32_t unit, int32_t code, void *arg);
int32_t QAL_release(int32_t hService, int32_t unit);

#ifdef __cplusplus
}

static_assert(sizeof(BoardInfo) == QAL_BOARD_INFO_SIZE, "BoardInfo is 280 bytes");
static_assert(offsetof(BoardInfo, boardType) == 8, "board type at 8");
static_assert(offsetof(BoardInfo, serialNumber) == 140, "serial number at 140");
static_assert(offsetof(BoardInfo, pciBus) == 148, "PCI bus at 148");
static_assert(offsetof(BoardInfo, pciDevice) == 152, "PCI device at 152");
static_assert(offsetof(BoardInfo, pciCtrlMemAddr) == 232, "PCI controller memory at 232");
static_assert(offsetof(BoardInfo, devMemAddr) == 244, "device memory at 244");
static_assert(offsetof(BoardInfo, irq) == 264, "interrupt number at 264");
static_assert(sizeof(ServiceEntry) == 20, "service list entry is 20 bytes");
#endif

#endif /* ZORVANTIK_QAL_H */
