/*
 * fw_stream.cpp - tst_strm: P1 as the source of the DMA stream.
 */
#include "firmware.h"
#include "stream.h"

/* Fills the host's blocks while the host runs the stream, waits while it
 * does not, until stopped. */
void tstStrm(FirmwareContext &ctx) { ctx.produceStream(streamWordCount); }
