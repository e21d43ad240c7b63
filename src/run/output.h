// output.h - the console and the two logs.
//
// Texts are stored in Windows-1251. The console gets them converted to its
// code page; the logs get them as they are, with every "\n" written as
// CR LF. Each log append opens the log by name, writes and closes it, so
// whatever was reported is in the files whenever the process ends.
#ifndef ZORVANTIK_OUTPUT_H
#define ZORVANTIK_OUTPUT_H

#define ZT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

// Longest console text of one call; a longer text is cut to this length.
constexpr int kConsoleTextMax = 255;

// Console only.
void conPrintf(const char *format, ...) ZT_PRINTF(1, 2);
// Console, then the screen log, then the protocol log.
void report(const char *format, ...) ZT_PRINTF(1, 2);
// Console, then the screen log.
void reportScreen(const char *format, ...) ZT_PRINTF(1, 2);
// One log alone, for messages whose sinks differ.
void logScreen(const char *format, ...) ZT_PRINTF(1, 2);
void logProtocol(const char *format, ...) ZT_PRINTF(1, 2);
// Both logs, not the console (for messages the console shows otherwise).
void logBoth(const char *format, ...) ZT_PRINTF(1, 2);

// Creates (truncates) the log `name` and writes `text` into it. False when
// the file cannot be created.
bool startLog(const char *name, const char *text);

// Prompts for a key, waits for one, reads it and blanks the prompt line.
// Console only.
void waitAnyKey();

// Stops all output for good: no console or log write starts after it, and
// a log append under way is waited out. The interrupt handler calls it
// first, so that nothing is written after the operator broke off the run
// and no append is cut in the middle, even while the console cannot be
// written (a pipe nobody reads).
void freezeOutput();

#endif // ZORVANTIK_OUTPUT_H
