// driver.h - one acceptance run of one board, from the options to the
// verdict.
#ifndef ZORVANTIK_DRIVER_H
#define ZORVANTIK_DRIVER_H

#include <cstdint>

// Reads -B<n>, -C and -V from the first three arguments into runState;
// -V switches the board library's trace on at once.
void parseOptions(int argc, char **argv);

// Sets runState's log names from boardLid.
void chooseLogNames(std::int32_t boardLid);

// Runs the whole acceptance run and returns the exit status of a complete
// run (0). Fatal stops end the process inside.
int runDriver(int argc, char **argv);

#endif // ZORVANTIK_DRIVER_H
