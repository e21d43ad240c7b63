// runstate.cpp - the definition of the process-wide run record.
#include "run/runstate.h"

#include <filesystem>
#include <new>

RunState runState;

// A fresh record in place: the handle's atomic cannot be assigned over.
void resetRunState() {
    runState.~RunState();
    new (&runState) RunState();
}

std::string stationPath(const char *name) {
    if (runState.stationDir.empty())
        return name;
    return (std::filesystem::path(runState.stationDir) / name).string();
}
