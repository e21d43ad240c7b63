/*
 * fw_stream.cpp - tst_strm: P1 as the source of the DMA stream.
 */
#include "firmware.h"

void streamWordCount(uint32_t *words, size_t count, uint64_t wordsBefore) {
    for (size_t i = 0; i < count; ++i)
        words[i] = uint32_t(wordsBefore + i);
}

/* Fills the host's blocks while the host runs the stream, waits while it
 * does not, until stopped. */
void tstStrm(FirmwareContext &ctx) { ctx.produceStream(streamWordCount); }
