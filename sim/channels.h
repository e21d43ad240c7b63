/*
 * channels.h - waiting on the board, and the channels between the host
 * and the processors: messages, signals and FIFO port 8.
 *
 * Every blocking call waits on a Channel under the board lock, as
 * scheduler.h tells: a host call runs the firmware it waits for, a
 * firmware suspends until what it waits for has changed.
 *
 * Who waits decides how a wait ends early: a host call ends when the board
 * closes (kQalBadHandle) or when its node is reset or loaded anew
 * (kQalStopped); a firmware call ends when its node is stopped
 * (kQalStopped), and a firmware must then return.
 */
#ifndef ZORVANTIK_SIM_CHANNELS_H
#define ZORVANTIK_SIM_CHANNELS_H

#include "scheduler.h"
#include "virtual_board.h"

#include <cstdint>
#include <mutex>

/* How the waits of one party end: kQalOk while the wait may go on. Under
 * the board lock. `epoch` is the node's epoch when the host call began. */
int32_t hostEnded(const VirtualBoard &b, const Node &n, uint64_t epoch);
int32_t dspEnded(const VirtualBoard &b, const Node &n);

/* Host side. A message longer than the buffer is cut: the first `size`
 * bytes are delivered, the rest is dropped, and the status is kQalCut.
 * On any other failure `size` becomes 0. */
int32_t hostPutMsg(VirtualBoard &b, int32_t node, const void *buf, uint32_t size, int32_t timeoutMs);
int32_t hostGetMsg(VirtualBoard &b, int32_t node, void *buf, uint32_t &size, int32_t timeoutMs);

/* Host side of signals. grab: 1 when the firmware's signal is pending
 * (it stays pending), 0 when none came in time. */
int32_t hostSendSignal(VirtualBoard &b, int32_t node, int32_t signal);
int32_t hostGrabSignal(VirtualBoard &b, int32_t node, int32_t signal, int32_t timeoutMs);
int32_t hostAckSignal(VirtualBoard &b, int32_t node, int32_t signal);

/* Host side of FIFO port 8: the call ends when all `size` bytes have
 * moved. On a timeout, reset or close, the bytes moved so far stay moved
 * (at the front of `buf`) and the status says why the rest did not. */
int32_t hostReadFifo(VirtualBoard &b, int32_t node, int32_t port, void *buf, uint32_t size, int32_t timeoutMs);
int32_t hostWriteFifo(VirtualBoard &b, int32_t node, int32_t port, const void *buf, uint32_t size, int32_t timeoutMs);

/* Firmware side; each waits without limit until done or stopped. */
int32_t dspPutMsg(VirtualBoard &b, int32_t node, const void *buf, uint32_t size);
int32_t dspGetMsg(VirtualBoard &b, int32_t node, void *buf, uint32_t &size);
int32_t dspWaitSignal(VirtualBoard &b, int32_t node, int32_t signal);
int32_t dspRaiseSignal(VirtualBoard &b, int32_t node, int32_t signal);
/* write: all `size` bytes; read: at least one byte, at most `size`, and
 * `size` becomes the count. Either paced by the interface's clock. */
int32_t dspWriteFifo(VirtualBoard &b, int32_t node, PacePath via, const void *buf, uint32_t size);
int32_t dspReadFifo(VirtualBoard &b, int32_t node, PacePath via, void *buf, uint32_t &size);
/* Status words for the host, which only P1 sends: P1 puts them as
 * 4-byte messages of its own; any other node leaves them, `count` words
 * at once, in P1's report mailbox on the cluster bus, which keeps each
 * sender's reports in the order sent. take, for P1 only: the oldest
 * report of node `from`, or with `from` -1 of the lowest-numbered sender
 * that has one; `count` is the room in words and becomes the words
 * taken. */
int32_t dspReport(VirtualBoard &b, int32_t node, const uint32_t *words, uint32_t count);
int32_t dspTakeReport(VirtualBoard &b, int32_t node, int32_t from, uint32_t *words, uint32_t &count);
/* Sleeps until `until` (paceNow time) or the node's stop. */
int32_t dspPauseUntil(VirtualBoard &b, int32_t node, int64_t until);

/* Empties the node's message queues and signals, and for P1 the FIFOs
 * and the report mailbox: what a reset or a new load leaves of them (its
 * links: links.h). Under the board lock. */
void clearNodeChannels(VirtualBoard &b, int32_t node);

#endif /* ZORVANTIK_SIM_CHANNELS_H */
