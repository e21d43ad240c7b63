// ending.h - how a run ends, and the gate every board call passes.
//
// The end is claimed once (platformClaimEnd): by the interrupt thread when
// a break begins, or by the thread that ends the run by its own path. From
// then on no board call starts on any other thread: the thread that ends
// the run closes the board and the library, and a call begun after that
// would run on a closed handle.
#ifndef ZORVANTIK_ENDING_H
#define ZORVANTIK_ENDING_H

#include "platform/platform.h"

#include <utility>

// Every board call the program makes: `call` (a QAL_ function) with its
// arguments, unless another thread has claimed the end, in which case
// this thread waits here for that thread to end the process.
template <class Call, class... Args>
auto boardCall(Call call, Args &&...args) -> decltype(call(std::forward<Args>(args)...)) {
    if (platformEndClaimedElsewhere())
        platformAwaitEnd();
    return call(std::forward<Args>(args)...);
}

// The end of the run by this thread's own path: claims it, or, when a
// break has claimed it already, waits here for the break to end the
// process. The first step of each ending below.
void claimRunEnd();

// The verdict is out: closes the board, cleans up the library and writes
// the complete record. The caller returns the status 0 after it.
void finishRun();

// The interrupt handler: closes the board, cleans up the library and ends
// the process with status -1, writing nothing more to the console or the
// logs (the result record is written). Also the last step of every fatal
// stop.
[[noreturn]] void onCtrlC();

// Ends the program at once with status -1, without verdict and without
// closing the board: the way out of a test whose DSP program `program` is
// missing and without which the run cannot go on. The result record says
// which.
[[noreturn]] void abortRun(const char *program);

#endif // ZORVANTIK_ENDING_H
