/*
 * stream.h - the DMA stream service: one stream per board, from the board
 * into blocks in host memory.
 *
 * A client captures the service and gets a handle; the board grants mode 1
 * (it owns the stream) or mode 2 (an observer: another client already runs
 * the stream, so blocks fill as soon as they are set up). The owner sets
 * up 1 to kStreamMaxBlocks blocks, starts the stream, queries its state
 * and stops it. Blocks fill in ring order while the stream runs and a
 * producer feeds it (tst_strm on P1, or the other client). A state query
 * hands the newest filled block to the client, which may read it until
 * its next query: the board never writes that block meanwhile, it waits
 * and counts an overflow instead.
 */
#ifndef ZORVANTIK_SIM_STREAM_H
#define ZORVANTIK_SIM_STREAM_H

#include "virtual_board.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

using StreamFill = void (*)(uint32_t *words, size_t count, uint64_t wordsBefore);

/* What tst_strm and the other client of an observer stream: a running
 * count of 32-bit words over the whole stream, so block n of b bytes
 * starts with n * b / 4. */
void streamWordCount(uint32_t *words, size_t count, uint64_t wordsBefore);

/* Grants the service `name` to `handle`; `mode` in: requested, out:
 * granted. */
int32_t streamCapture(VirtualBoard &b, const char *name, int32_t handle, int32_t &mode);

/* Frees the blocks (stopping what fills them) and the service. */
int32_t streamRelease(VirtualBoard &b, int32_t handle);

/* QAL_ctrl of the holder: QALctrl_STREAM_CBUF_* codes. */
int32_t streamCtrl(VirtualBoard &b, int32_t handle, int32_t code, void *arg);

/* A producer's loop: fills blocks with `fill` while the stream runs,
 * paced by the stream's clock; returns kQalStopped once `stop` is set or
 * the board closes. `self`: the firmware that produces, or nullptr for
 * the other client's thread. */
int32_t streamProduce(VirtualBoard &b, NodeFiber *self, const std::atomic<bool> &stop, StreamFill fill);

/* For close: frees the blocks and joins the other client's thread. */
void shutdownStream(VirtualBoard &b);

#endif /* ZORVANTIK_SIM_STREAM_H */
