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
 *
 * DPRAM, host-side byte offsets (node 0):
 *   0x00..0x7F          mailbox registers, read back what was written,
 *                       except word 8 (0x20..0x23), the status register:
 *                       it always reads kDpramStatus, writes vanish
 *   0x80..0xA7F         shared memory, 640 words
 * Beyond 0xA7F nothing answers. Without DPRAM nothing answers at all.
 *
 * Between the host and each processor: a message queue each way and
 * kSignals signal lines each way. Between the host and P1: FIFO port 8, a
 * byte FIFO each way, which P1 reaches through its bus interface or its
 * link interface. From the board into host memory: the DMA stream
 * service. Each started processor runs its firmware as a coroutine that
 * the host's waiting calls resume (scheduler.h, nodes.h).
 *
 * Between the processors: four link ports each, wired in pairs (links.h),
 * and the cluster bus, over which any processor can leave status words
 * in P1's report mailbox. Each processor has four dynamic-memory chips
 * that only its own firmware reaches (sdram.h).
 */
#ifndef ZORVANTIK_SIM_VIRTUAL_BOARD_H
#define ZORVANTIK_SIM_VIRTUAL_BOARD_H

#include "board_config.h"
#include "coroutine.h"
#include "pacing.h"
#include "qal.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/* Statuses the library returns; every failure is negative. */
enum : int32_t {
    kQalOk = 0,
    kQalFailed = -1,      /* the board cannot do it: nothing there, service not running */
    kQalBadHandle = -2,   /* handle not open, or closed meanwhile (also ends blocked calls) */
    kQalBadArgument = -3, /* null buffer, bad size, bad unit, port, signal or code */
    kQalNoCpu = -4,       /* node out of range or processor not fitted */
    kQalUnmapped = -5,    /* address, or part of a block, outside any memory */
    kQalTimeout = -6,     /* nothing came, or no room came, within the timeout */
    kQalStopped = -7,     /* a reset or a new load of the node ended the call */
    kQalCut = -8,         /* message longer than the buffer: what fit was delivered */
    kQalNoProgram = -9,   /* program file missing or malformed, or nothing loaded */
    kQalRefused = -10,    /* service refused, already captured, or not the owner's to do */
};

constexpr int kNodes = 7;              /* P1..P7 */
constexpr int kBanks = 3;              /* internal memory banks per processor */
constexpr uint32_t kBankWords = 65536; /* 32-bit words per bank */
constexpr uint32_t kBankBase[kBanks] = {0x00000, 0x80000, 0x100000};
constexpr uint32_t kFpgaVersionAddress = 0x80000010; /* node 0 */
constexpr uint32_t kUnmappedWord = 0xFFFFFFFF;

constexpr uint32_t kDpramMailboxBytes = 0x80;
constexpr uint32_t kDpramSharedBytes = 2560;
constexpr uint32_t kDpramBytes = kDpramMailboxBytes + kDpramSharedBytes;
constexpr uint32_t kDpramStatusOffset = 32;   /* mailbox word 8 */
constexpr uint32_t kDpramStatus = 0x80000001; /* bit 31 host interface ready, bit 0 DPRAM enabled */

constexpr int kSignals = 8;                  /* signal lines per node and direction */
constexpr uint32_t kMessageDepth = 16;       /* messages a queue holds */
constexpr uint32_t kMaxMessageBytes = 65536; /* largest message */
constexpr int32_t kFifoPort = 8;             /* the host's FIFO port to P1 */
constexpr uint32_t kFifoBytes = 65536;       /* bytes each FIFO direction holds */
constexpr uint32_t kStreamMaxBlocks = 16;
constexpr uint32_t kStreamMaxBlockBytes = 16u << 20;
constexpr char kStreamName[] = "STREAM0";
constexpr int kLinkPorts = 4;      /* link ports per processor */
constexpr int kMaxLinks = 12;      /* connections a board can have wired */
constexpr uint32_t kLinkDepth = 8; /* words a link holds in flight each way */

constexpr int kSdramChips = 4; /* dynamic-memory chips per processor (sdram.h) */

/* Offsets [from, to) of a dynamic-memory chip that hold one pattern of
 * the memory tests (SdramPattern in sdram.h: its kind and key). */
struct SdramRun {
    uint32_t from, to;
    uint32_t kind, key;
};

/* One dynamic-memory chip's words (sdram.cpp), for a chip that must keep
 * them one by one: none until its firmware first touches the chip, then
 * all of them, zero, in memory the system hands out already cleared, so
 * no word is written before the tests write it. */
class SdramCells {
public:
    SdramCells() = default;
    SdramCells(const SdramCells &) = delete;
    SdramCells &operator=(const SdramCells &) = delete;
    ~SdramCells() { release(); }

    uint32_t *data() const { return words_; }
    size_t size() const { return size_; }
    /* `words` zero words in place of any earlier; std::bad_alloc when
     * the host has not the memory. */
    void allocate(size_t words);

private:
    void release();

    uint32_t *words_ = nullptr;
    size_t size_ = 0;
    size_t mapped_ = 0; /* bytes the system gave, from words_ */
};

struct Processor {
    std::vector<uint32_t> bank[kBanks]; /* internal memory, empty until first touched */
    /* dynamic memory (sdram.h): a chip's runs of patterns, in order of
     * offset, offsets in none reading 0; or its words, for a chip that
     * folds offsets, empty until its firmware touches it */
    std::vector<SdramRun> sdramRuns[kSdramChips];
    SdramCells sdram[kSdramChips];
};

/* What sleeping threads of a board wait on: every change of any of its
 * channels rings it. Guarded by the board lock. */
struct Bell {
    std::condition_variable cv;
    int sleepers = 0;
};

/* Something a call can wait for. Every change is counted, so a waiting
 * firmware is resumed only once something it waits on has changed, and
 * a host call running the firmware learns when its own wait may be over
 * (scheduler.h). */
struct Channel {
    std::atomic<uint32_t> changes{0}; /* bumped under the board lock */
    Bell *bell = nullptr;             /* the board's; set when the board is made */
};

/* Messages of one node in one direction, a ring of reusable slots. */
struct MessageQueue : Channel {
    struct Slot {
        std::vector<uint8_t> bytes; /* grows to the largest message seen, never shrinks */
        uint32_t size = 0;
    };
    Slot slot[kMessageDepth];
    uint32_t head = 0;  /* oldest message */
    uint32_t count = 0; /* messages waiting */
};

/* One direction of FIFO port 8. */
struct ByteFifo : Channel {
    std::vector<uint8_t> ring = std::vector<uint8_t>(kFifoBytes);
    uint32_t head = 0;  /* oldest byte */
    uint32_t count = 0; /* bytes waiting */
};

/* One direction of a link connection: words in flight. */
struct LinkLane : Channel {
    uint32_t ring[kLinkDepth] = {};
    uint32_t head = 0;  /* oldest word */
    uint32_t count = 0; /* words in flight */
};

/* Two link ports joined by the board's wiring. Fixed while the board is
 * open but for the lanes and the count of words passed. */
struct LinkConnection {
    int32_t end[2] = {-1, -1}; /* ports at each end, node * kLinkPorts + port */
    LinkLane lane[2];          /* lane[i] carries words from end[i] to the other end */
    uint32_t flipMask = 0;     /* bits inverted on the way, from both ends' faults */
    uint32_t clearMask = ~0u;  /* bits kept; a 0 is a bit stuck at 0 */
    uint32_t setMask = 0;      /* bits stuck at 1 */
    uint64_t limit = ~0ull;    /* words that pass before the link goes quiet; 0 = dead */
    uint64_t passed = 0;       /* words passed since either end was last stopped */
};

struct Firmware;
using ProgramParams = std::map<std::string, uint32_t>;
struct VirtualBoard;

/* What a suspended firmware waits for: a change of `channel` since it
 * saw `seen`, or the time `until` (paceNow nanoseconds), whichever is
 * given; neither: it only gave way and may go on at once. */
struct FiberWait {
    const Channel *channel = nullptr;
    uint32_t seen = 0;
    int64_t until = 0;
};

/* A started processor's firmware, running as a coroutine (scheduler.h).
 * Guarded by the board lock, but for the coroutine itself, which only the
 * thread that holds the board's scheduler resumes. */
struct NodeFiber {
    NodeFiber(VirtualBoard &b, int32_t n, const Firmware *fw, const ProgramParams &p, Coroutine::Body body)
        : board(b), node(n), firmware(fw), params(p), co(body, this) {}
    VirtualBoard &board;
    int32_t node;
    const Firmware *firmware;
    ProgramParams params; /* its own copy: a new load may replace the node's */
    FiberWait wait;
    uint32_t checks = 0; /* counts the points where it may give way, to read the clock now and then */
    Coroutine co;
};

/* One processor as the host and its firmware see it. */
struct Node {
    /* the program; guarded by `control`, which is taken before the board lock */
    std::mutex control;                 /* one load, start, reset or close at a time */
    const Firmware *firmware = nullptr; /* loaded program, nullptr = none */
    ProgramParams params;               /* its parameters from the program file */
    bool launched = false;              /* started since the last stop, even if it has returned */
    std::atomic<bool> stop{false};      /* the firmware must return */

    /* guarded by the board lock */
    bool running = false;                /* started and not yet returned */
    std::unique_ptr<NodeFiber> fiber;    /* the started firmware until it has returned */
    bool awaitingSignal = false;         /* the firmware waits for a host signal */
    uint64_t epoch = 0;                  /* counts resets and loads: host waits begun before end */
    MessageQueue toDsp, toHost;          /* putMsg / getMsg */
    Channel signals;                     /* changes of the two arrays below and of `running` */
    uint32_t hostSignals[kSignals] = {}; /* sent by the host, not yet taken by the firmware */
    bool dspSignals[kSignals] = {};      /* raised by the firmware, not yet acknowledged */
};

/* The DMA stream service, one per board; guarded by the board lock. */
struct StreamService : Channel {
    int32_t holder = 0;                       /* service handle that captured it, 0 = free */
    int32_t mode = 0;                         /* mode granted to the holder */
    std::vector<std::vector<uint32_t>> block; /* host blocks, empty until set up */
    uint32_t blockBytes = 0;
    bool running = false;               /* data flows: started by the holder, or by the other client */
    bool filling = false;               /* a producer is writing a block outside the lock */
    uint64_t filled = 0;                /* blocks filled since the set-up */
    uint64_t taken = 0;                 /* `filled` as the holder's last state query saw it */
    int32_t held = -1;                  /* block the holder got from its last query; the board spares it */
    uint32_t overflows = 0;             /* times the board found the next block still held */
    uint32_t queries = 0;               /* state queries since the board was opened */
    std::thread otherClient;            /* observer mode: the client that runs the stream, a thread of its own */
    std::atomic<bool> otherStop{false}; /* tells it to end */
};

namespace qalapi {
class HandedBoard;
}

/* Who runs the board's firmware: the host threads that wait for it, one
 * at a time (scheduler.h). Guarded by the board lock. */
struct Scheduler {
    Bell bell;
    bool busy = false;                  /* a thread is running a firmware now */
    int next = 0;                       /* the node to try first, round robin */
    const Channel *hostWaits = nullptr; /* what the running thread's own wait waits on */
    uint32_t hostSeen = 0;              /* its count when the firmware was resumed */
    int64_t sliceEnd = 0;               /* paceNow time by which the firmware gives way */
};

struct VirtualBoard {
    VirtualBoard(); /* rings the scheduler's bell at every change of a channel */

    /* identity, fixed while open */
    int32_t number;              /* board number given to QAL_open */
    BoardConfig config;          /* its section of the board file */
    std::vector<uint8_t> idArea; /* identification area, kIdAreaSize bytes */
    PaceClock pace[kPacePaths];  /* one clock per path, rates from the config */
    int64_t opened = 0;          /* paceNow() when opened: the processors' cycle counters start */

    /* a board whose section names a trace to replay is answered by what
     * the library handed it to (handed_board.h); null = simulated */
    std::shared_ptr<qalapi::HandedBoard> handed;

    /* The DPRAM's cells, which only the host reaches, have a lock of their
     * own, held for one copy; `closed` tells its calls of the close. */
    std::atomic_flag dpramBusy = ATOMIC_FLAG_INIT;
    std::atomic<bool> closed{false};
    alignas(64) uint8_t dpram[kDpramBytes] = {};

    /* state below is guarded by `lock` */
    std::mutex lock;
    Scheduler sched;
    Channel wake;          /* node ends and firmware pauses wait here */
    bool closing = false;  /* set once by close; every wait ends on it */
    Processor cpu[kNodes]; /* P1..P7 */
    Node node[kNodes];
    ByteFifo fifoToHost, fifoToDsp; /* port 8 */
    StreamService stream;
    LinkConnection link[kMaxLinks];      /* the first `links` are wired */
    int links = 0;                       /* fixed while open */
    int8_t portLink[kNodes][kLinkPorts]; /* connection of each port, -1 = unwired; fixed while open */
    MessageQueue reports[kNodes];        /* P1's report mailbox on the cluster bus, a queue per sender */
    Channel reportBell;                  /* rings at every report left in the mailbox */
};

/* kQalOk when `node` is a fitted processor, else kQalNoCpu. */
int32_t checkNode(const VirtualBoard &b, int32_t node);

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
 * is then kQalUnmapped, though the mapped words were transferred. Reads
 * show the board's stuck bits. */
int32_t boardReadWords(VirtualBoard &b, int32_t node, uint32_t address, void *dst, uint32_t words);
int32_t boardWriteWords(VirtualBoard &b, int32_t node, uint32_t address, const void *src, uint32_t words);

/* Host-side DPRAM access, byte offsets and sizes. Bytes nobody answers
 * for read 0xFF, and the status is then kQalUnmapped. */
int32_t dpramRead(VirtualBoard &b, int32_t node, uint32_t offset, void *dst, uint32_t size);
int32_t dpramWrite(VirtualBoard &b, int32_t node, uint32_t offset, const void *src, uint32_t size);

#endif /* ZORVANTIK_SIM_VIRTUAL_BOARD_H */
