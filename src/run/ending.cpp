// ending.cpp - the ways a run ends before its verdict.
#include "run/ending.h"

#include "board/qal.h"
#include "platform/platform.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

// On the interrupt thread the end is already decided for the break; on
// the main thread (a fatal stop) it is decided here, or, when a break has
// begun meanwhile, left to the break.
void onCtrlC() {
    platformDecideEnd();
    freezeOutput();
    recordFinish(false);
    QAL_close(runState.hBoard);
    QAL_cleanup();
    platformExit(-1);
}

void abortRun(const char *program) {
    platformDecideEnd();
    recordAbort(program);
    recordFinish(false);
    platformExit(-1);
}
