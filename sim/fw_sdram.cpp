/*
 * fw_sdram.cpp - the dynamic-memory tests: each processor's own (sdram)
 * and the cluster's (clast on P2..P5, clastrelay on P1).
 *
 * A pass writes its pattern over every chip's tested part, then reads it
 * back a slice per step: per step the same slice of all four chips, and
 * one status report for the step, the progress word or, for the step's
 * first mismatch, the error word with the DSP address, the word written
 * and the word read. After the last step comes the end-of-pass word.
 * Because the whole part is written before any of it is read, an address
 * line that the chip ignores shows: the later of two folded writes wins,
 * and the earlier word reads back wrong.
 *
 * The patterns (running 0, running 1, random) are the chips' own
 * (SdramPattern in sdram.h), so a chip can keep a pass's words as the
 * pattern that made them.
 */
#include "firmware.h"
#include "sdram.h"

#include <algorithm>

namespace {

constexpr uint32_t kProgressWord = 0x12345678;
constexpr uint32_t kErrorWord = 0x87654321;
constexpr uint32_t kEndOfPassWord = 0x0E0D0E0D;
constexpr uint32_t kSliceWords = 2048;        /* per step of sdram */
constexpr uint32_t kClusterSliceWords = 8192; /* per step of clast */
constexpr uint32_t kClusterCycles = 10;
constexpr uint32_t kClusterNodes = 0x1E; /* P2..P5 */

/* How a test hands a step's status words on: sdram sends them on its own
 * node, a cluster processor leaves them in P1's mailbox. */
using Send = bool (*)(FirmwareContext &, const uint32_t *, uint32_t);

bool sendOwn(FirmwareContext &ctx, const uint32_t *words, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (ctx.putMsg(&words[i], 4) != kQalOk)
            return false;
    return true;
}

bool sendToP1(FirmwareContext &ctx, const uint32_t *words, uint32_t count) {
    return ctx.report(words, count) == kQalOk;
}

struct Chips {
    SdramChip chip[kSdramChips];
    explicit Chips(VirtualBoard &b, int32_t node) : chip{{b, node, 0}, {b, node, 1}, {b, node, 2}, {b, node, 3}} {}
};

/* Writes the pattern over the tested part of every chip, then reads it
 * back a slice per step, the same slice of every chip. */
bool runPattern(FirmwareContext &ctx, Chips &chips, uint32_t steps, uint32_t slice, Send send,
                const SdramPattern &gen) {
    uint64_t tested = uint64_t(steps) * slice;
    for (SdramChip &c : chips.chip)
        c.write(0, uint32_t(std::min<uint64_t>(tested, c.words())), gen);
    for (uint32_t s = 0; s < steps; ++s) {
        uint32_t status[4] = {kProgressWord}, count = 1;
        uint32_t base = s * slice; /* every chip's slice starts here, or is empty */
        for (SdramChip &c : chips.chip) {
            uint32_t from = std::min(base, c.words()), to = std::min(from + slice, c.words()), at;
            // A chip smaller than the others has nothing left to read here.
            if (from < to && c.firstMismatch(from, to, gen, at, status[2], status[3])) {
                status[0] = kErrorWord;
                status[1] = c.address(at);
                count = 4;
                break;
            }
        }
        if (!send(ctx, status, count))
            return false;
    }
    return send(ctx, &kEndOfPassWord, 1);
}

bool runPass(FirmwareContext &ctx, Chips &chips, SdramPattern::Kind p, uint32_t seed, uint32_t steps, uint32_t slice,
             Send send) {
    return runPattern(ctx, chips, steps, slice, send, SdramPattern(p, seed));
}

void chipSizes(const BoardConfig &c, int32_t node, uint32_t (&sizes)[kSdramChips]) {
    for (int i = 0; i < kSdramChips; ++i)
        sizes[i] = sdramChipWords(c, node, i);
}

/* The cluster processors of a set, from its `members` parameter (bit i =
 * P(i+1), as cpu_mask counts them), P2..P5 only. */
uint32_t members(const FirmwareContext &ctx) { return ctx.param("members", kClusterNodes) & kClusterNodes; }

/* The cluster walks what all its members have: per chip the smallest. */
uint32_t clusterChipWords(const BoardConfig &c, uint32_t mask, int chip) {
    uint32_t words = kSdramMaxChipWords;
    for (int32_t node = 1; node < kNodes; ++node)
        if (mask >> node & 1)
            words = std::min(words, sdramChipWords(c, node, chip));
    return words;
}

} // namespace

/* The size message, then running 0, running 1 and random, size >> 11
 * steps each (the size of chip 0), all on the processor's own node. */
void sdram(FirmwareContext &ctx) {
    uint32_t sizes[kSdramChips];
    chipSizes(ctx.config(), ctx.node(), sizes);
    if (ctx.putMsg(sizes, sizeof sizes) != kQalOk)
        return;
    Chips chips(ctx.board(), ctx.node());
    uint32_t steps = sizes[0] / kSliceWords;
    for (SdramPattern::Kind p : {SdramPattern::Running0, SdramPattern::Running1, SdramPattern::Random})
        if (!runPass(ctx, chips, p, 1, steps, kSliceWords, sendOwn))
            return;
}

/* On a cluster processor: its chip sizes to P1, then ten cycles of the
 * three passes over its own chips, every report to P1's mailbox. The
 * steps come from the cluster's chip 0, so every member takes as many. */
void clast(FirmwareContext &ctx) {
    uint32_t sizes[kSdramChips];
    chipSizes(ctx.config(), ctx.node(), sizes);
    if (ctx.report(sizes, kSdramChips) != kQalOk)
        return;
    Chips chips(ctx.board(), ctx.node());
    uint32_t steps = clusterChipWords(ctx.config(), members(ctx), 0) / kClusterSliceWords;
    for (uint32_t cycle = 1; cycle <= kClusterCycles; ++cycle)
        for (SdramPattern::Kind p : {SdramPattern::Running0, SdramPattern::Running1, SdramPattern::Random})
            if (!runPass(ctx, chips, p, cycle, steps, kClusterSliceWords, sendToP1))
                return;
}

/* On P1: takes each member's sizes and sends the smallest per chip as
 * the size message; then passes the members' reports on in turn, one
 * report of each member in the order P2, P3, P4, P5, until stopped. As
 * every member sends one report per step and one per pass end, that is
 * the order in which the host reads them. */
void clastrelay(FirmwareContext &ctx) {
    uint32_t mask = members(ctx);
    uint32_t sizes[kSdramChips] = {~0u, ~0u, ~0u, ~0u};
    for (int32_t node = 1; node < kNodes; ++node) {
        if (!(mask >> node & 1))
            continue;
        uint32_t words[kSdramChips], count = kSdramChips;
        if (ctx.takeReport(words, count, node) != kQalOk)
            return;
        for (uint32_t i = 0; i < count; ++i)
            sizes[i] = std::min(sizes[i], words[i]);
    }
    if (!mask || ctx.putMsg(sizes, sizeof sizes) != kQalOk)
        return;
    for (;;) {
        for (int32_t node = 1; node < kNodes; ++node) {
            if (!(mask >> node & 1))
                continue;
            uint32_t words[4], count = 4;
            if (ctx.takeReport(words, count, node) != kQalOk || ctx.report(words, count) != kQalOk)
                return;
        }
    }
}
