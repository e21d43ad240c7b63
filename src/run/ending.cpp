// ending.cpp - how a run ends.
#include "run/ending.h"

#include "board/qal.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

void claimRunEnd() {
    if (!platformClaimEnd())
        platformAwaitEnd();
}

// A break from here on is ignored; one that began before ends the run
// with 255 instead, and claimRunEnd does not return.
void finishRun() {
    claimRunEnd();
    boardCall(QAL_close, runState.hBoard.load());
    boardCall(QAL_cleanup);
    recordFinish(true);
}

// On the interrupt thread the end is already claimed for the break; on
// the main thread (a fatal stop) it is claimed here, or, when a break has
// begun meanwhile, left to the break.
void onCtrlC() {
    claimRunEnd();
    freezeOutput();
    recordFinish(false);
    boardCall(QAL_close, runState.hBoard.load());
    boardCall(QAL_cleanup);
    platformExit(-1);
}

void abortRun(const char *program) {
    claimRunEnd();
    recordAbort(program);
    recordFinish(false);
    platformExit(-1);
}
