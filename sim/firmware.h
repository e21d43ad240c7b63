/*
 * firmware.h - what runs on the virtual processors.
 *
 * A firmware is a C++ function that a started node runs as a coroutine
 * (scheduler.h): its blocking operations suspend it until the host's
 * waiting calls run it on. It reaches the host only through the board's channels, by way of its
 * context: messages and signals of its node, FIFO port 8 (P1), the DMA
 * stream. Every blocking operation of the context ends with kQalStopped
 * when the node is reset, loaded anew or the board closes; the firmware
 * must then return promptly. A firmware that computes for long checks
 * stopped() as it goes.
 *
 * Every firmware is a line of the table in firmware.cpp: its name as
 * program files write it, its function, and the parameters it takes.
 *
 * A processor that hangs part way (dsp_silent) is the context's doing:
 * once the firmware has sent its allowance of messages, reports and
 * signals, the next one ends with kQalStopped and the firmware returns,
 * so the host hears nothing more from it.
 */
#ifndef ZORVANTIK_SIM_FIRMWARE_H
#define ZORVANTIK_SIM_FIRMWARE_H

#include "virtual_board.h"

#include <cstddef>
#include <cstdint>
#include <string>

class FirmwareContext {
public:
    /* `allowance`: what the firmware may send towards the host before it
     * goes silent (dsp_silent); kNeverSilent for a healthy processor. */
    FirmwareContext(VirtualBoard &board, int32_t node, const ProgramParams &params,
                    uint32_t allowance = kNeverSilent)
        : board_(board), node_(node), params_(params), allowance_(allowance) {}

    static constexpr uint32_t kNeverSilent = 0xFFFFFFFFu;

    int32_t node() const { return node_; }
    /* The board itself, for what the processor reaches directly: its
     * dynamic memory (sdram.h). */
    VirtualBoard &board() const { return board_; }
    const BoardConfig &config() const { return board_.config; }
    /* A parameter from the program file, or `fallback` when it has none. */
    uint32_t param(const char *key, uint32_t fallback) const;
    /* The node is being stopped: return. */
    bool stopped() const;

    /* Messages of this node; get cuts a longer message as the host's does. */
    int32_t getMsg(void *buf, uint32_t &size);
    int32_t putMsg(const void *buf, uint32_t size);

    /* Waits for the host's signal and takes it. */
    int32_t waitSignal(int32_t signal);
    /* Raises a signal to the host; waits first while the previous one on
     * that line is not yet acknowledged. */
    int32_t raiseSignal(int32_t signal);

    /* FIFO port 8 through P1's bus or link interface (kPaceFifoBus or
     * kPaceFifoLink), paced by that interface. write moves all `size`
     * bytes; read takes what is there, at least one byte, at most `size`. */
    int32_t writeFifo(PacePath via, const void *buf, uint32_t size);
    int32_t readFifo(PacePath via, void *buf, uint32_t &size);

    /* Feeds the DMA stream while the host runs it: `fill` writes each
     * block, given its words and the number of words streamed before it.
     * Returns when the node is stopped. */
    int32_t produceStream(void (*fill)(uint32_t *words, size_t count, uint64_t wordsBefore));

    /* One word over link port 0..3 of this node (links.h); they wait until
     * the node stops. */
    int32_t linkSend(int32_t port, uint32_t word);
    int32_t linkReceive(int32_t port, uint32_t &word);

    /* Status words for the host: P1 sends them, any other node hands them
     * to P1's report mailbox, all `count` at once. takeReport, on P1: the
     * oldest report that node `from` left, or with -1 one of any sender;
     * `count` is the room and becomes the words taken. */
    int32_t report(const uint32_t *words, uint32_t count);
    int32_t takeReport(uint32_t *words, uint32_t &count, int32_t from = -1);

    /* The processor's 64-bit cycle counter: cycles at cpu_clock since the
     * board was opened. */
    uint64_t cycleCounter() const;

private:
    /* Takes one from the allowance; false once it is spent. */
    bool mayTalk();

    VirtualBoard &board_;
    int32_t node_;
    const ProgramParams &params_;
    uint32_t allowance_;
};

using FirmwareFn = void (*)(FirmwareContext &);

struct Firmware {
    const char *name;   /* as `firmware = name` writes it */
    FirmwareFn run;     /* runs as the node's coroutine until done or stopped */
    const char *params; /* the parameter keys it takes, blank-separated */
};

/* The firmware called `name`, or nullptr. */
const Firmware *findFirmware(const std::string &name);

/* Whether `fw` takes the parameter `key`. */
bool firmwareTakes(const Firmware &fw, const std::string &key);

/* What `fw` on `node` may send before it goes silent, from the board's
 * dsp_silent; FirmwareContext::kNeverSilent when it does not. */
uint32_t silentAllowance(const BoardConfig &cfg, int32_t node, const Firmware &fw);

/* Configuration check (fw_config.cpp). */
void csdram(FirmwareContext &ctx);

/* Exchange with the host (fw_exchange.cpp). */
void rfifo(FirmwareContext &ctx);
void rfifol(FirmwareContext &ctx);
void wfifo(FirmwareContext &ctx);
void wfifol(FirmwareContext &ctx);
void drvread(FirmwareContext &ctx);
void drvwrite(FirmwareContext &ctx);
void echo(FirmwareContext &ctx);

/* Interrupts (fw_interrupts.cpp). */
void pcdspint(FirmwareContext &ctx);
void dsppcint(FirmwareContext &ctx);

/* Link ports (fw_links.cpp). */
void linksend(FirmwareContext &ctx);
void linkcheck(FirmwareContext &ctx);
void linkrelay(FirmwareContext &ctx);
/* Word i of the link firmware's test sequence. */
uint32_t linkTestWord(uint32_t i);

/* Processor test (fw_fft.cpp). */
void cfft(FirmwareContext &ctx);

/* Dynamic memory (fw_sdram.cpp). */
void sdram(FirmwareContext &ctx);
void clast(FirmwareContext &ctx);
void clastrelay(FirmwareContext &ctx);

/* DMA stream (fw_stream.cpp). */
void tstStrm(FirmwareContext &ctx);

#endif /* ZORVANTIK_SIM_FIRMWARE_H */
