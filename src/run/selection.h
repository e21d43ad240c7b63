// selection.h - the per-board test selection file, check1.cfg..check8.cfg.
#ifndef ZORVANTIK_SELECTION_H
#define ZORVANTIK_SELECTION_H

#include <cstdint>
#include <string>

// The selection file of board `boardLid`: "check2.cfg".."check8.cfg" for
// boards 2..8, "check1.cfg" for every other number.
std::string selectionFileName(std::int32_t boardLid);

// Asks the selection file of runState.boardLid whether the test `key`
// (`keyLength` characters) runs: 0 to run it, -1 to skip it. The file is
// read afresh at every call. A file that is missing or cannot be read is
// warned about and counted as one error, and the test is skipped.
int isTestSkipped(const char *key, int keyLength);

#endif // ZORVANTIK_SELECTION_H
