// main.cpp - entry point of zorvantik-test.
#include "platform/platform.h"
#include "main/driver.h"
#include "run/usage.h"

namespace {

// Breaks are held for the interrupt thread from the program's first
// instruction on, before any static object of the program or its
// libraries is made: a break in the first milliseconds then ends the run
// as any other does, never by the system's default. On ELF systems the
// loader calls the executable's pre-initialisation functions before any
// library's initialisers; elsewhere the earliest constructor has to do.
void holdBreaksFirst() { platformHoldBreaks(); }

#if defined(__ELF__)
__attribute__((section(".preinit_array"), used)) void (*const kHoldBreaksFirst)() = holdBreaksFirst;
#else
__attribute__((constructor(101))) void holdBreaksAtStart() { holdBreaksFirst(); }
#endif

} // namespace

int main(int argc, char **argv) {
    platformInit();
    int status = 0;
    // --help and --version are looked for before any option acts, so that
    // neither the board library (-V) nor the logs are touched.
    InfoOption info = findInfoOption(argc, argv);
    if (info != InfoOption::kNone)
        printInfo(info);
    else
        status = runDriver(argc, argv);
    platformRestoreConsole();
    return status;
}
