/*
 * links.h - the link ports between the processors.
 *
 * Every processor has four link ports, 0 to 3. The board wires them in
 * pairs; a pair is one connection that carries 32-bit words both ways,
 * each way holding kLinkDepth words in flight:
 *
 *   P1 l1 - P2 l0    P2 l3 - P4 l0    P3 l3 - P5 l0
 *   P1 l2 - P3 l0    P2 l1 - P6 l0    P3 l1 - P7 l0
 *   P2 l2 - P3 l2    P4 l1 - P6 l2    P5 l1 - P7 l2
 *
 * A board built without P2 routes P1 l1 to P6 l0 instead, one without P3
 * routes P1 l2 to P7 l0: the processor that takes the absent one's
 * programs also takes its place on P1's link. P6 l1 and P7 l1 come out on
 * the front panel (X5, X6) and meet only through the operator's cable,
 * when both connectors are LINK. A pair with an absent processor is not
 * wired.
 *
 * A send waits while the link holds kLinkDepth words; a receive waits for
 * a word. Nothing acknowledges a send on an unwired port, or on a link
 * that is dead or has stopped, so the sender waits as the receiver does,
 * until the timeout or the node's stop. A link port fault of the board
 * file acts on the connection its port is on, in both directions: stuck
 * and inverted bits change every word on its way, a dead port lets
 * nothing through, a stopping one lets a number of words through (counted
 * from the last stop of either end) and then nothing.
 */
#ifndef ZORVANTIK_SIM_LINKS_H
#define ZORVANTIK_SIM_LINKS_H

#include "virtual_board.h"

#include <cstdint>

/* Wires the board's link ports as its configuration says, with the
 * faults of its ports. For makeBoard. */
void wireLinks(VirtualBoard &b);

/* The firmware side; a negative timeout waits until the node stops. */
int32_t dspLinkSend(VirtualBoard &b, int32_t node, int32_t port, uint32_t word, int32_t timeoutMs);
int32_t dspLinkReceive(VirtualBoard &b, int32_t node, int32_t port, uint32_t &word, int32_t timeoutMs);

/* Empties the links of the node's ports and restarts their word counts:
 * what a stop of the node leaves. Under the board lock. */
void clearNodeLinks(VirtualBoard &b, int32_t node);

#endif /* ZORVANTIK_SIM_LINKS_H */
