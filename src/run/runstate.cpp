// runstate.cpp - the definition of the process-wide run record.
#include "run/runstate.h"

#include "run/record.h"

#include <new>

RunState runState;

// A fresh record in place: the handle's atomic cannot be assigned over.
void resetRunState() {
    runState.~RunState();
    new (&runState) RunState();
}

void countError() {
    ++runState.errorCount;
    recordError();
}
