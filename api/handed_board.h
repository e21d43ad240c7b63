/*
 * handed_board.h - a board that a board-access library hands to another
 * answerer.
 *
 * The virtual board keeps a board's handle and its service handles as
 * for any other board, but when the board's section names something
 * else to answer it (a trace to replay, docs/replay.md), every call of
 * that board goes to the answerer made here. The virtual board knows
 * nothing of what the answerer reads: the library that links the virtual
 * board links the answerer beside it and defines handBoard.
 */
#ifndef ZORVANTIK_API_HANDED_BOARD_H
#define ZORVANTIK_API_HANDED_BOARD_H

#include "qal_api.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qalapi {

class HandedBoard {
public:
    virtual ~HandedBoard() = default;
    /* Answers the call being made, its handles as the program knows
     * them: fills its outputs and returns the result, or `failure` once
     * the answerer can answer no more. Writes the call's -V trace line. */
    virtual int32_t answer(const CallArgs &call, int32_t failure) = 0;
    /* A capture it answered with `answered`: the library gives the
     * program service handle `handle` for it. */
    virtual void serviceGiven(int32_t handle, int32_t answered) = 0;
    /* The board closes: every wait of the answerer ends. */
    virtual void close() = 0;
};

/* Where the -V trace lines of the handed board's calls go. */
using TraceSink = void (*)(const std::string &line);

/* The answerer of board `number`, whose section says `replay = source`;
 * `timed` keeps the recorded timing. Null when it cannot answer that
 * board (told on stderr in one line where there is something to tell). */
std::shared_ptr<HandedBoard> handBoard(const std::string &source, bool timed, int32_t number, TraceSink traceLine);

} // namespace qalapi

#endif /* ZORVANTIK_API_HANDED_BOARD_H */
