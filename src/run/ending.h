// ending.h - the ways a run ends before its verdict.
#ifndef ZORVANTIK_ENDING_H
#define ZORVANTIK_ENDING_H

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
