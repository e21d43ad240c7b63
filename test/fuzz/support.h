// support.h - what the program-side fuzzing targets share: a scratch
// station to work in, with the console silenced and the logs kept there.
#ifndef ZORVANTIK_FUZZ_SUPPORT_H
#define ZORVANTIK_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>

// Makes a fresh directory under $TMPDIR (or /tmp) the current directory for
// the rest of the process and sends stdout to /dev/null, so the program's
// console writes cost nothing and libFuzzer's own report (stderr) stays
// readable. Call once, from LLVMFuzzerInitialize.
void enterScratchStation(const char *target);

// Puts runState and the result record back to their start and names the
// two logs of board 1 in the scratch station.
void resetRunForBoard1();

// The same, but with logs that cannot be opened (in a directory that does
// not exist): every message is still formatted for them, and then lost, as
// when a log is removed during a run. For targets that report a lot.
void resetRunForBoard1WithoutLogs();

// Forgets what the input left in the result record, so that everything an
// input allocates is freed within it: libFuzzer then has no reason to run
// a leak check after it.
void forgetRecord();

// Removes both logs, so appends across many inputs do not pile up.
void removeLogs();

// Writes `size` bytes to the file `name` in the current directory,
// replacing it; aborts when it cannot, since every later answer would be
// about the wrong file.
void writeWholeFile(const char *name, const std::uint8_t *data, std::size_t size);

#endif // ZORVANTIK_FUZZ_SUPPORT_H
