// runstate.cpp - the definition of the process-wide run record.
#include "run/runstate.h"

RunState runState;

void resetRunState() { runState = RunState{}; }

void countError() { ++runState.errorCount; }
