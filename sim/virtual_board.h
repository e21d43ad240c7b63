/*
 * virtual_board.h - one simulated ZORVANTIK: its configuration and its
 * hardware state, in one struct.
 *
 * Memory map of every processor, word addresses:
 *   0x00000..0x0FFFF    internal memory, bank 0
 *   0x80000..0x8FFFF    internal memory, bank 1
 *   0x100000..0x10FFFF  internal memory, bank 2
 *   0x80000010          host FPGA version word, node 0 only, read-only
 * Anything else is unmapped: it reads 0xFFFFFFFF and ignores writes, as a
 * bus cycle nobody answers.
 */
#ifndef ZORVANTIK_SIM_VIRTUAL_BOARD_H
#define ZORVANTIK_SIM_VIRTUAL_BOARD_H

#include "board_config.h"
#include "qal.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

/* Statuses the library returns; every failure is negative. */
enum : int32_t {
    kQalOk = 0,
    kQalFailed = -1,      /* not available on this board (yet) */
    kQalBadHandle = -2,   /* handle not open, or closed meanwhile */
    kQalBadArgument = -3, /* null buffer, bad size, bad unit */
    kQalNoCpu = -4,       /* node out of range or processor not fitted */
    kQalUnmapped = -5,    /* address, or part of a block, outside any memory */
};

constexpr int kNodes = 7;              /* P1..P7 */
constexpr int kBanks = 3;              /* internal memory banks per processor */
constexpr uint32_t kBankWords = 65536; /* 32-bit words per bank */
constexpr uint32_t kBankBase[kBanks] = {0x00000, 0x80000, 0x100000};
constexpr uint32_t kFpgaVersionAddress = 0x80000010; /* node 0 */
constexpr uint32_t kUnmappedWord = 0xFFFFFFFF;

struct Processor {
    std::vector<uint32_t> bank[kBanks]; /* internal memory, empty until first touched */
};

struct VirtualBoard {
    /* identity, fixed while open */
    int32_t number;              /* board number given to QAL_open */
    BoardConfig config;          /* its section of the board file */
    std::vector<uint8_t> idArea; /* identification area, kIdAreaSize bytes */

    /* state below is guarded by `lock` */
    std::mutex lock;
    std::condition_variable wake; /* blocked calls wait here; close notifies */
    bool closing = false;         /* set once by close; every wait ends on it */
    Processor cpu[kNodes];        /* P1..P7 */
};

/* A board as `cfg` describes it, nothing running. */
std::shared_ptr<VirtualBoard> makeBoard(int32_t number, const BoardConfig &cfg);

/* Marks the board closing and wakes every call blocked on it; this is
 * where anything the board runs must be stopped and joined. */
void shutdownBoard(VirtualBoard &b);

/* The information block; `info` has room for QAL_BOARD_INFO_SIZE bytes. */
void fillBoardInfo(const VirtualBoard &b, BoardInfo &info);

/* Copies `size` bytes of the identification area from `offset`; bytes
 * beyond the area read as erased flash (0xFF). */
void readIdArea(const VirtualBoard &b, uint32_t offset, uint8_t *dst, uint32_t size);

/* One word through the host port. peek gives 0xFFFFFFFF on any failure. */
int32_t boardPeek(VirtualBoard &b, int32_t node, uint32_t address, uint32_t &value);
int32_t boardPoke(VirtualBoard &b, int32_t node, uint32_t address, uint32_t value);

/* A block of words through the host port; the buffers need no alignment.
 * Words outside memory read 0xFFFFFFFF and are not written; the status
 * is then kQalUnmapped, though the mapped words were transferred. */
int32_t boardReadWords(VirtualBoard &b, int32_t node, uint32_t address, void *dst, uint32_t words);
int32_t boardWriteWords(VirtualBoard &b, int32_t node, uint32_t address, const void *src, uint32_t words);

#endif /* ZORVANTIK_SIM_VIRTUAL_BOARD_H */
