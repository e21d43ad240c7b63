/*
 * nodes.h - loading, starting and stopping the processors' firmware.
 *
 * A node holds at most one loaded program. Loading first stops the node
 * and forgets what it held, so a load that fails leaves nothing loaded.
 * Starting runs the loaded firmware from its beginning as a coroutine of
 * the node's own (a running one is stopped first), which the host's
 * waiting calls run (scheduler.h). Stopping tells the firmware through
 * every wait it may be in, runs it to its end, and empties
 * the node's messages and signals (and P1's FIFOs); it also ends host
 * calls that wait on the node. A reset stops; the program stays loaded.
 */
#ifndef ZORVANTIK_SIM_NODES_H
#define ZORVANTIK_SIM_NODES_H

#include "virtual_board.h"

#include <cstdint>

/* Reads `fileName` from the current directory and puts its firmware on
 * `node`. A malformed file is reported in one line on stderr; a missing
 * one only fails.
 *
 * A program set (program.h) puts each of its parts on the processor it
 * names or, on a board without that processor, on the partner that takes
 * its programs: P6 for P2 and P7 for P3, when P1 and the partner are
 * fitted. A part that no processor takes fails the load with kQalNoCpu
 * before any processor is touched, as the loader maps the whole set onto
 * the board before it boots anything. Through node 0, P1, the set boots
 * the board: every processor is stopped, and only those the set loads
 * hold a program afterwards. Through any other node, the set may load
 * that node only (a one-part set for that processor or the one whose
 * place it takes); anything else fails with kQalBadArgument. */
int32_t loadProgram(VirtualBoard &b, int32_t node, const char *fileName);

/* Starts `node`, or with -1 every fitted node that has a program. */
int32_t startNodes(VirtualBoard &b, int32_t node);

/* Stops `node`, or with -1 every fitted node. */
int32_t resetNodes(VirtualBoard &b, int32_t node);

/* Stops every node; for close, after the board is marked closing. */
void stopAllNodes(VirtualBoard &b);

#endif /* ZORVANTIK_SIM_NODES_H */
