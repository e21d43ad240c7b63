/*
 * fw_exchange.cpp - the other ends of the host's exchange measurements:
 * FIFO sources and sinks, message sinks and sources.
 */
#include "firmware.h"

#include <algorithm>
#include <vector>

namespace {

constexpr uint32_t kFifoChunk = 16384; /* bytes per FIFO transfer of the firmware */

/* Fills the FIFO with a running count of 32-bit words until stopped. */
void feedFifo(FirmwareContext &ctx, PacePath via) {
    std::vector<uint32_t> chunk(kFifoChunk / 4);
    for (uint32_t word = 0;;) {
        for (uint32_t &w : chunk)
            w = word++;
        if (ctx.writeFifo(via, chunk.data(), kFifoChunk) != kQalOk)
            return;
    }
}

/* Takes whatever the host writes until stopped. */
void drainFifo(FirmwareContext &ctx, PacePath via) {
    std::vector<uint8_t> chunk(kFifoChunk);
    for (;;) {
        uint32_t size = kFifoChunk;
        if (ctx.readFifo(via, chunk.data(), size) != kQalOk)
            return;
    }
}

} // namespace

void rfifo(FirmwareContext &ctx) { feedFifo(ctx, kPaceFifoBus); }
void rfifol(FirmwareContext &ctx) { feedFifo(ctx, kPaceFifoLink); }
void wfifo(FirmwareContext &ctx) { drainFifo(ctx, kPaceFifoBus); }
void wfifol(FirmwareContext &ctx) { drainFifo(ctx, kPaceFifoLink); }

/* Accepts every message of its node until stopped. */
void drvread(FirmwareContext &ctx) {
    std::vector<uint8_t> msg(kMaxMessageBytes);
    for (;;) {
        uint32_t size = kMaxMessageBytes;
        if (ctx.getMsg(msg.data(), size) == kQalStopped)
            return;
    }
}

/* Sends messages of `size` bytes (default 16384; whole words, 4 to
 * 65536) without end, as fast as the host takes them. Their words are a
 * running count over all messages: message k starts with k * size / 4. */
void drvwrite(FirmwareContext &ctx) {
    uint32_t size = std::min(std::max(ctx.param("size", 16384) / 4 * 4, 4u), kMaxMessageBytes);
    std::vector<uint32_t> msg(size / 4);
    for (uint32_t word = 0;;) {
        for (uint32_t &w : msg)
            w = word++;
        if (ctx.putMsg(msg.data(), size) != kQalOk)
            return;
    }
}

/* Sends every message of its node back unchanged. */
void echo(FirmwareContext &ctx) {
    std::vector<uint8_t> msg(kMaxMessageBytes);
    for (;;) {
        uint32_t size = kMaxMessageBytes;
        if (ctx.getMsg(msg.data(), size) != kQalOk || ctx.putMsg(msg.data(), size) != kQalOk)
            return;
    }
}
