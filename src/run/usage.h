// usage.h - the two informative options, --help and --version.
//
// They answer a question and leave the station alone: no log is created or
// touched and the board library is never called, so an operator can ask at
// a bench whose logs still hold the last board's run.
#ifndef ZORVANTIK_USAGE_H
#define ZORVANTIK_USAGE_H

enum class InfoOption {
    kNone,    // an acceptance run
    kHelp,    // --help: the usage text
    kVersion, // --version: the program's version
};

// The first of "--help" and "--version" among the first three arguments,
// each compared whole and as written. Other arguments (-h, -help,
// --helpx, a fourth argument) keep their meaning for the run.
InfoOption findInfoOption(int argc, char **argv);

// Prints the usage text or the version on the console.
void printInfo(InfoOption option);

#endif // ZORVANTIK_USAGE_H
