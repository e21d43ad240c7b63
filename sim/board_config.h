/*
 * board_config.h - what virtual-board.ini says about the library and each
 * board.
 *
 * Every key has a default that describes a healthy, fully fitted board, so
 * a missing file or a missing section gives that board. A hardware fault is
 * a key set to an unhealthy value; the program under test never knows.
 * Numbers are decimal or 0x hexadecimal.
 */
#ifndef ZORVANTIK_SIM_BOARD_CONFIG_H
#define ZORVANTIK_SIM_BOARD_CONFIG_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

/* The board file, read from the current directory. */
#define QAL_BOARD_FILE "virtual-board.ini"

/* One stuck bit of a processor's internal memory: every read of the words
 * first..last shows bit `bit` as `value`, whatever was written. */
struct StuckBit {
    int32_t node;   /* 0..6 for P1..P7 */
    uint32_t first; /* word address */
    uint32_t last;  /* word address, first <= last */
    uint32_t bit;   /* 0..31 */
    uint32_t value; /* 0 or 1 */
};

/* A fault of one link port; it acts on the connection the port is on,
 * in both directions. */
struct LinkFault {
    enum Kind { Stuck, Flip, Dead, Stop };
    int32_t node;   /* 0..6 for P1..P7 */
    uint32_t port;  /* 0..3 */
    Kind kind;      /* stuck bit, inverted bit, nothing passes, stops after `count` words */
    uint32_t bit;   /* Stuck, Flip: 0..31 */
    uint32_t value; /* Stuck: 0 or 1 */
    uint32_t count; /* Stop: words that pass before the link goes quiet */
};

/* A fault of cells of a dynamic-memory chip, words first..last of the
 * chip (offsets from its first word). */
struct SdramCellFault {
    enum Kind { Stuck, Bad };
    int32_t node;   /* 0..6 for P1..P7 */
    uint32_t chip;  /* 0..3 */
    uint32_t first; /* word offset in the chip */
    uint32_t last;  /* word offset, first <= last */
    Kind kind;      /* Stuck: bit `bit` always reads `value`; Bad: the words read 0xFFFFFFFF */
    uint32_t bit;   /* Stuck: 0..31 */
    uint32_t value; /* Stuck: 0 or 1 */
};

/* A firmware that goes silent part way: on processor `node`, every run of
 * firmware `firmware` halts once it has sent `count` messages, reports or
 * signals towards the host, as a processor that hangs. */
struct SilentFirmware {
    int32_t node;         /* 0..6 for P1..P7 */
    std::string firmware; /* csdram, pcdspint, dsppcint, linkcheck, linkrelay or cfft */
    uint32_t count;       /* what it still sends before it halts */
};

/* An address line of a dynamic-memory chip that the chip ignores: word
 * offsets a and a ^ (1 << bit) are one cell. */
struct SdramAddressFault {
    int32_t node;  /* 0..6 for P1..P7 */
    uint32_t chip; /* 0..3 */
    uint32_t bit;  /* 0..23 */
};

constexpr uint32_t kSdramChipWords = 0x100000;    /* a healthy chip: 4 MB */
constexpr uint32_t kSdramMaxChipWords = 0x1000000; /* the largest chip a processor addresses */

constexpr uint32_t kFftCycles = 10432; /* cfft's 1024-point transform on a healthy processor */

/* Paths whose bandwidth the board file may set; see pacing.h. */
enum PacePath { kPaceHostPort, kPaceDpram, kPaceFifoBus, kPaceFifoLink, kPaceMessages, kPaceStream, kPacePaths };

/* Section [board N]. Key names in quotes. */
struct BoardConfig {
    /* presence */
    bool present = true; /* "present" yes/no: no = not in the machine, QAL_open fails */

    /* information block (QAL_getInfo) */
    uint32_t model = 0x5366;          /* "model": board type bits 31..16; 0x5366 = ZORVANTIK */
    uint32_t version = 0x0010;        /* "version": board type bits 15..0, v.1.0 */
    uint32_t serial = 1042;           /* "serial": serial number */
    uint32_t pciBus = 2;              /* "pci_bus": PCI bus number */
    uint32_t pciDevice = 9;           /* "pci_device": PCI device number */
    uint32_t pciCtrlMem = 0xFEAFF000; /* "pci_ctrl_mem": PCI controller memory address */
    uint32_t pciCtrlIo = 0xE001;      /* "pci_ctrl_io": PCI controller I/O address, bit 0 = I/O space flag */
    uint32_t deviceIo = 0xD001;       /* "device_io": device I/O address, bit 0 = I/O space flag */
    uint32_t deviceMem = 0xFE000000;  /* "device_mem": device memory address */
    uint32_t irq = 11;                /* "irq": interrupt number */

    /* host FPGA */
    uint32_t fpgaVersion = 0x01040200; /* "fpga_version" = major.minor.build: bytes 3, 2, 1 of the version word */

    /* identification area */
    uint32_t cpuMask = 0x7F;    /* "cpu_mask": bit i = processor P(i+1) fitted; also gates node access */
    uint32_t cpuClockMHz = 250; /* "cpu_clock": processor clock in MHz */
    uint32_t submodules = 0;    /* "submodules": 0 none, 1 QDX1, 2 QDX1 and QDX2 */
    uint32_t x5Type = 0;        /* "x5": link (0), synx (1) or a raw code */
    uint32_t x6Type = 0;        /* "x6": link (0), piox (1) or a raw code */
    uint32_t idTag = 0x5366;    /* "id_tag": tag of the board's own entry; another value hides it */
    uint32_t idPrefixSize = 18; /* "id_prefix_size": size field of the 0x0610 entry before it */

    /* host interface */
    bool dpram = true;      /* "dpram" yes/no: no = nothing answers, reads all ones */
    /* "interrupts" ok, dead or to_dsp_dead */
    bool interruptsToHost = true; /* dead: the processors' signals never reach the host */
    bool interruptsToDsp = true;  /* to_dsp_dead: the host's signals never reach the processors */

    /* faults of the processors' internal memory */
    std::vector<StuckBit> stuckBits; /* "ram_stuck_bit": P<n>:address[-address]:bit:value, ...;
                                        "ram_bad_words": P<n>:address[-address], ... (all 32 bits stuck at 1) */
    uint32_t ramAddressFault[7] = {};  /* "ram_address_fault": P<n>:bit, ...: per processor, the bank-offset
                                          address bits that are ignored, so a and a ^ (1 << bit) share a word */

    /* link ports */
    std::vector<LinkFault> linkFaults; /* "link_fault": P<n>.<port>:stuck:bit:value | flip:bit | dead | stop:n, ... */
    bool frontCable = true;            /* "front_cable" plugged/unplugged: P6 link 1 to P7 link 1 on the front panel */

    /* what cfft finds on each processor, P1..P7 */
    uint32_t fftCycles[7] = {kFftCycles, kFftCycles, kFftCycles, kFftCycles,
                             kFftCycles, kFftCycles, kFftCycles}; /* "fft_cycles": n or P<n>:n, ... */
    uint32_t fftWrong = 0;  /* "fft_wrong": P<n>, ...: bit i = P(i+1) gets one bin wrong */
    uint32_t fftSilent = 0; /* "fft_silent": P<n>, ...: bit i = P(i+1) never sends its results */

    /* processors that hang part way */
    std::vector<SilentFirmware> silent; /* "dsp_silent": P<n>:firmware:count, ... */

    /* P1's dynamic memory and what csdram measures */
    /* "p1_sdram_chips": the four chips' sizes in words, bit 31 marks overhead */
    uint32_t sdramChips[4] = {0x100000, 0x100000, 0x100000, 0x100000};
    /* "sdram_chip_size": chips of P2..P7 in words; n, P<n>:n or P<n>:chip<c>:n, ... (P1 row unused) */
    uint32_t sdramWords[7][4] = {{kSdramChipWords, kSdramChipWords, kSdramChipWords, kSdramChipWords},
                                 {kSdramChipWords, kSdramChipWords, kSdramChipWords, kSdramChipWords},
                                 {kSdramChipWords, kSdramChipWords, kSdramChipWords, kSdramChipWords},
                                 {kSdramChipWords, kSdramChipWords, kSdramChipWords, kSdramChipWords},
                                 {kSdramChipWords, kSdramChipWords, kSdramChipWords, kSdramChipWords},
                                 {kSdramChipWords, kSdramChipWords, kSdramChipWords, kSdramChipWords},
                                 {kSdramChipWords, kSdramChipWords, kSdramChipWords, kSdramChipWords}};
    /* "sdram_stuck_bit": P<n>:chip<c>:offset[-offset]:bit:value, ...;
     * "sdram_bad_words": P<n>:chip<c>:offset[-offset], ... */
    std::vector<SdramCellFault> sdramCellFaults;
    std::vector<SdramAddressFault> sdramAddressFaults; /* "sdram_address_fault": P<n>:chip<c>:bit, ... */
    uint32_t sdrcon = 0x3A49;         /* "sdrcon": P1's SDRCON register */
    uint32_t csdramCycles = 20000000; /* "csdram_cycles": cycles of csdram's 8 MB transfer */
    bool csdramSignal = true;         /* "csdram_signal" yes/no: no = csdram halts silently */

    /* DMA stream service */
    bool streamCapture = true;        /* "stream_capture" ok/refused */
    uint32_t streamMode = 1;          /* "stream_mode": 1 exclusive, 2 observer (another client runs it) */
    uint32_t streamStateFailFrom = 0; /* "stream_state_fail_from": n-th and later state queries fail; 0 never */

    /* how long a program load takes, as the boot loader's time over the
     * host port; 0 = at once */
    uint32_t loadMs = 0; /* "load_ms", milliseconds */

    /* pacing, MB/s (1 MB = 1048576 bytes); 0 = as fast as the machine goes */
    uint32_t paceMBps[kPacePaths] = {}; /* "host_port_mbps", "dpram_mbps", "fifo_bus_mbps", "fifo_link_mbps",
                                           "messages_mbps", "stream_mbps" */

    /* replay of a recorded board (replay.h, docs/replay.md) */
    std::string replay;     /* "replay": trace file the board answers from; empty = simulate */
    bool replayFast = true; /* "replay_timing" fast/recorded: recorded = each call takes as long as it did */
};

/* Section [library]. */
struct LibraryConfig {
    bool initOk = true; /* "init" ok/fail: fail = QAL_init returns a failure */
};

/* The whole file: the library's section and every board's. */
struct BoardFile {
    LibraryConfig library;
    std::map<int32_t, BoardConfig> boards; /* [board N] sections by N */
};

/* Which sections a reader checks. QAL_init reads [library] only, so a
 * slip in a board's section leaves the library working; QAL_open checks
 * the whole file. Lines outside any known section concern both. */
enum class BoardFileScope { Library, All };

/* Parses the text of a board file; `path` names it in complaints. On a
 * malformed line in scope returns false with one line "path:line: why" in
 * `error`: the first such line of the file. */
bool parseBoardFile(const std::string &text, const std::string &path, BoardFileScope scope, BoardFile &out,
                    std::string &error);

/* Reads the board file at `path` the same way. A missing file is no
 * error: it gives the built-in configuration. A file that is there but
 * cannot be read (a directory of that name) fails with "path: cannot be
 * read (why)". */
bool readBoardFile(const std::string &path, BoardFileScope scope, BoardFile &out, std::string &error);

/* Board N of the file, or the healthy board when it has no section. */
BoardConfig boardConfig(const BoardFile &file, int32_t boardNumber);

/* A number as the board file and DSP program files write it: decimal or
 * 0x hexadecimal, no sign, at most `max`. */
bool parseNumber(const std::string &s, uint32_t max, uint32_t &out);

#endif /* ZORVANTIK_SIM_BOARD_CONFIG_H */
