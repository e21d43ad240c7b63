/*
 * replay.h - a board that answers from a trace instead of simulating.
 *
 * `replay = FILE` in a board's section of virtual-board.ini makes the
 * virtual board hand that board to this code, which plays back a trace
 * the recorder made (qtrace/trace_format.h): no firmware runs, and every call of the board is matched, in order per
 * thread, against the calls the trace holds for it and answered with what
 * the recorded board answered: the result and the bytes of every output,
 * also the stream block's words the program reads after a state query.
 *
 * The first call that differs from the trace, or that comes after its
 * end, is told once on stderr; from then on the board answers as a board
 * that went away, so the program ends its run by its own paths.
 */
#ifndef ZORVANTIK_REPLAY_REPLAY_H
#define ZORVANTIK_REPLAY_REPLAY_H

#include "qal_api.h"
#include "trace_format.h"

#include <cstdint>
#include <memory>
#include <string>

struct Replay;

/* Where the -V trace lines of the replayed calls go: the board library's
 * own trace, which writes them while it is on. */
using ReplayTraceLine = void (*)(const std::string &line);

/* Reads the trace `path` of board `number` and finds where its QAL_open
 * is; `timed` keeps the recorded timing (replay_timing = recorded). A
 * trace that cannot be read, is no trace or holds no open of the board is
 * told in one line on stderr; a recorded open that failed fails silently,
 * as it did. Either way the result is null. */
std::shared_ptr<Replay> openReplay(const std::string &path, bool timed, int32_t number, ReplayTraceLine traceLine);

/* Answers the call being made (its arguments as the program passed them,
 * handles as the program knows them) from the trace: fills its outputs and returns
 * the recorded result, or `failure` once the board has gone. Writes the
 * -V trace line. */
int32_t replayAnswer(Replay &r, const qalapi::CallArgs &call, int32_t failure);

/* A capture the trace granted: service handle `handle`, as this library
 * gave it, stands for the trace's `recorded`. */
void replayService(Replay &r, int32_t handle, int32_t recorded);

/* Where the program's call (its handles as the trace knows them) and the
 * recorded one part, in the words the divergence line tells it: "other
 * call" (another function or argument), "other input" (another number of
 * input buffers), "other bytes in 'ARG'"; "" when they do not. The
 * recorded call's outputs play no part. */
std::string callDifference(const qtrace::Call &program, const qtrace::Call &recorded);

/* Ends every wait of the board (the recorded timing's) for a close. */
void closeReplay(Replay &r);

#endif /* ZORVANTIK_REPLAY_REPLAY_H */
