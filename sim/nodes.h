/*
 * nodes.h - loading, starting and stopping the processors' firmware.
 *
 * A node holds at most one loaded program. Loading first stops the node
 * and forgets what it held, so a load that fails leaves nothing loaded.
 * Starting runs the loaded firmware from its beginning on a thread of the
 * node's own (a running one is stopped first). Stopping tells the
 * firmware through every wait it may be in, joins its thread, and empties
 * the node's messages and signals (and P1's FIFOs); it also ends host
 * calls that wait on the node. A reset stops; the program stays loaded.
 */
#ifndef ZORVANTIK_SIM_NODES_H
#define ZORVANTIK_SIM_NODES_H

#include "virtual_board.h"

#include <cstdint>

/* Reads `fileName` from the current directory and puts its firmware on
 * `node`. A malformed file is reported in one line on stderr; a missing
 * one only fails. */
int32_t loadProgram(VirtualBoard &b, int32_t node, const char *fileName);

/* Starts `node`, or with -1 every fitted node that has a program. */
int32_t startNodes(VirtualBoard &b, int32_t node);

/* Stops `node`, or with -1 every fitted node. */
int32_t resetNodes(VirtualBoard &b, int32_t node);

/* Stops every node; for close, after the board is marked closing. */
void stopAllNodes(VirtualBoard &b);

#endif /* ZORVANTIK_SIM_NODES_H */
