/*
 * fw_config.cpp - csdram: P1 reports its dynamic memory to the host.
 */
#include "firmware.h"

namespace {

/* csdram times a transfer of this many 32-bit words (8 MB). */
constexpr uint32_t kTimedWords = 0x200000;

} // namespace

/* Raises signal 0, then sends one 32-byte message: the four chip sizes
 * in words (bit 31 marks overhead), SDRCON, the cycles the timed transfer
 * took, the words it moved, and 0. What it finds is the board's wiring,
 * from the board file. Without its signal it halts at once. */
void csdram(FirmwareContext &ctx) {
    const BoardConfig &c = ctx.config();
    if (!c.csdramSignal || ctx.raiseSignal(0) != kQalOk)
        return;
    const uint32_t msg[8] = {c.sdramChips[0], c.sdramChips[1], c.sdramChips[2], c.sdramChips[3],
                             c.sdrcon,        c.csdramCycles,  kTimedWords,     0};
    ctx.putMsg(msg, sizeof msg);
}
