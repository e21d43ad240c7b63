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

// Runs the whole acceptance run and returns the exit status of a complete
// run (0). Fatal stops end the process inside.
int runDriver(int argc, char **argv);

#endif // ZORVANTIK_DRIVER_H
