/*
 * fw_links.cpp - the link test: one end of a link sends a sequence of
 * test words, the other end checks each word it receives, and P1 tells
 * the host how each check went.
 *
 * Status words to the host, 4-byte messages on P1's node: the progress
 * word for a word that arrived as sent, or the error word followed by the
 * word sent and the word received. A checking end other than P1 hands
 * its status words to P1's report mailbox, and linkrelay on P1 passes
 * them on; so P1 is the only processor that talks to the host.
 */
#include "firmware.h"

namespace {

constexpr uint32_t kProgressWord = 0x12345678;
constexpr uint32_t kErrorWord = 0x87654321;
constexpr uint32_t kDefaultWords = 100; /* checks of an internal link test */
constexpr uint32_t kMaxReport = 3;      /* words of the longest report */

int32_t portOf(const FirmwareContext &ctx) { return int32_t(ctx.param("port", 0)); }

} // namespace

/* A walking one and its complement in turn: every bit line is seen high
 * among lows and low among highs, so a stuck or inverted bit shows within
 * the first 64 words. */
uint32_t linkTestWord(uint32_t i) {
    uint32_t bit = 1u << (i / 2 % 32);
    return i % 2 ? ~bit : bit;
}

/* Sends `words` test words over `port`, then halts. */
void linksend(FirmwareContext &ctx) {
    int32_t port = portOf(ctx);
    uint32_t words = ctx.param("words", kDefaultWords);
    for (uint32_t i = 0; i < words; ++i)
        if (ctx.linkSend(port, linkTestWord(i)) != kQalOk)
            return;
}

/* Receives `words` words over `port`, checks each against the sequence
 * and reports it, then halts. A link that goes quiet leaves it waiting
 * until the node stops: the host hears nothing more. */
void linkcheck(FirmwareContext &ctx) {
    int32_t port = portOf(ctx);
    uint32_t words = ctx.param("words", kDefaultWords);
    for (uint32_t i = 0; i < words; ++i) {
        uint32_t read;
        if (ctx.linkReceive(port, read) != kQalOk)
            return;
        uint32_t written = linkTestWord(i);
        const uint32_t error[kMaxReport] = {kErrorWord, written, read};
        int32_t status = read == written ? ctx.report(&kProgressWord, 1) : ctx.report(error, kMaxReport);
        if (status != kQalOk)
            return;
    }
}

/* On P1: passes every report of the mailbox on to the host, until
 * stopped. */
void linkrelay(FirmwareContext &ctx) {
    for (;;) {
        uint32_t words[kMaxReport], count = kMaxReport;
        if (ctx.takeReport(words, count) == kQalStopped || ctx.report(words, count) == kQalStopped)
            return;
    }
}
