// runstate.cpp - the definition of the process-wide run record.
#include "run/runstate.h"

#include "run/record.h"

RunState runState;

void resetRunState() { runState = RunState{}; }

void countError() {
    ++runState.errorCount;
    recordError();
}
