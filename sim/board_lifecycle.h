/*
 * board_lifecycle.h - a board's life from its opening to its close.
 *
 * The board's parts (links, channels, nodes, stream) know only the
 * board's state (virtual_board.h). Making a board and shutting it down
 * reaches all of them: the links to wire, every wait to wake, every
 * thread to stop and join. That lives here, above the parts, so that
 * what the library's C functions call runs one way down to the state.
 */
#ifndef ZORVANTIK_SIM_BOARD_LIFECYCLE_H
#define ZORVANTIK_SIM_BOARD_LIFECYCLE_H

#include "virtual_board.h"

#include <cstdint>
#include <memory>

/* A board as `cfg` describes it, nothing running. */
std::shared_ptr<VirtualBoard> makeBoard(int32_t number, const BoardConfig &cfg);

/* Marks the board closing, wakes every call blocked on it, and stops and
 * joins every thread it runs: the firmware and the stream's. What
 * makeBoard made, this undoes; nothing runs on the board afterwards. */
void shutdownBoard(VirtualBoard &b);

#endif /* ZORVANTIK_SIM_BOARD_LIFECYCLE_H */
