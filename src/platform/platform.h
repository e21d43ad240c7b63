// platform.h - the few operating-system services the program needs.
//
// One interface, two implementations chosen at build time:
// platform_posix.cpp and platform_win32.cpp. Nothing else in the program
// asks which system it runs on.
#ifndef ZORVANTIK_PLATFORM_H
#define ZORVANTIK_PLATFORM_H

// The one place that asks which system this is; each implementation file
// is guarded as a whole by its macro.
#if defined(_WIN32)
#define ZT_PLATFORM_WIN32 1
#else
#define ZT_PLATFORM_POSIX 1
#endif

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// Key code returned by platformReadKey when the input has ended: it is no
// byte and not Escape, so an unattended run goes on as if a key was pressed.
constexpr int kKeyEndOfInput = 0x100;
constexpr int kKeyEscape = 27;

// Holds every break (the interrupt key, and on POSIX the signals that end
// a process from outside) for the interrupt thread, so that none ends the
// process by the system's default. The program calls it before any other
// code of its own runs: main.cpp puts it where the system's loader calls
// it before any static initialisation. Safe to call again.
void platformHoldBreaks();

// Prepares the console for the run: the keyboard without echo and line
// buffering, the interrupt key routed to platformSetInterruptHandler's
// handler. Call once, first thing in main. A break that comes before a
// handler is set waits for it; one that comes when none is ever set (the
// program only prints its help) goes unanswered. On POSIX the
// signals that end a process from outside (SIGTERM, SIGHUP, SIGQUIT) go
// the interrupt key's way, and a console or a file that is gone or full
// (SIGPIPE, SIGXFSZ) is a failed write, never the end of the run.
void platformInit();

// Puts the console back as platformInit found it: the keyboard's mode and,
// on POSIX at a terminal, the cursor at the start of a line (a line break
// when the program's last text did not end with one). Every end of the
// process passes here. Safe to call repeatedly and from any thread.
void platformRestoreConsole();

// Writes text stored in Windows-1251 to the console, converted to the
// console's code page, and makes sure it is on the screen when the call
// returns. Windows: the OEM code page (866 on a Russian system). POSIX:
// 866 to a pipe or file; at a terminal the locale's code page when it has
// Cyrillic (UTF-8, KOI8-R, 1251, 866, ISO-8859-5), else UTF-8.
void platformConsoleWrite(const char *cp1251, std::size_t length);

// True when a key press is waiting to be read. Never true once the input
// has ended.
bool platformKeyWaiting();

// Reads one key without echo, waiting for it. Returns the key's byte, or
// kKeyEndOfInput when the input has ended.
int platformReadKey();

// The current directory; an empty string when it cannot be read.
std::string platformCurrentDir();
// Changes the current directory; false on failure.
bool platformChangeDir(const std::string &path);

// The directory the DSP programs are kept in, relative to the station.
const char *platformDspProgramDir();

// Milliseconds of real time since the program started (a steady clock).
std::uint32_t platformMillis();
void platformSleepMs(unsigned milliseconds);

// The calendar time now, broken down as local time.
std::tm platformLocalTime();
// The calendar time `t` broken down as local time, and how far that local
// time is ahead of UTC, in minutes.
std::tm platformLocalTimeAt(std::time_t t);
int platformUtcOffsetMinutes(std::time_t t);

// Which file a name led to when it was last written: a file removed or
// replaced under the same name shows as another identity. All zero before
// the first write.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
};

// Creates (truncates) the file `name` and writes `data` into it. False,
// with the reason in `why`, when it cannot be created or written.
bool platformCreateFile(const char *name, const std::string &data, FileIdentity &identity, std::string &why);

enum class AppendResult {
    kAppended, // all of `data` is in the file
    kFailed,   // none of it: the file cannot be opened or written (`why` says why)
    kReplaced, // all of it, but the name led to another file than the one last written
};

// Appends `data` to the file `name` (created when missing, as mode "a"
// does), whole or not at all: a write cut short by a full disk is taken
// back, so the file never ends in half a message. `identity` is the file
// last written (all zero: none yet) and becomes this one.
AppendResult platformAppendFile(const char *name, const std::string &data, FileIdentity &identity, std::string &why);

// This machine's name; an empty string when it has none.
std::string platformHostName();

// Puts the file `from` in the place of `to` in one step, so `to` is always
// either its old or its new whole content. False, with the reason in
// `why`, when it cannot.
bool platformReplaceFile(const std::string &from, const std::string &to, std::string &why);

// Writes `text` to `name` whole: to `name`.tmp first, then in the place of
// `name` (platformReplaceFile), so the old file stays whole until the new
// one is. False, with the reason in `why`, when it cannot; the temporary
// file is then gone.
bool platformWriteWhole(const std::string &name, const std::string &text, std::string &why);

// Writes a warning stored in Windows-1251 to stderr, converted as the
// console's texts are (to stderr's terminal, or 866).
void platformWarn(const char *cp1251, std::size_t length);

// Runs `handler` when the operator presses the interrupt key (Ctrl-C), or
// the process is told to end (POSIX: SIGTERM, SIGHUP, SIGQUIT; Windows: the
// console window closed). The handler runs on a thread of its own, never
// inside a signal handler, so it may call the board-access library and
// take locks; it must not return. A break that came before the handler
// was set runs it as soon as it is set.
void platformSetInterruptHandler(void (*handler)());

// The end of the process is claimed once, by one thread, with a single
// compare-and-swap: the interrupt thread claims it when a break begins,
// before it runs the handler; a thread that ends the run by its own path
// (the verdict, a fatal stop, a fatal exit) claims it first
// (run/ending.h). True when this thread holds the claim, taken now or
// before; false when another thread holds it. Once the end is claimed the
// interrupt key is ignored: what follows is the ending itself.
bool platformClaimEnd();

// A break, on the thread the system gives it (the platform files' own):
// claims the end and runs the handler, waiting for it to be set; returns
// at once when another thread has claimed the end.
void platformTakeBreak();

// True when a thread other than this one has claimed the end.
bool platformEndClaimedElsewhere();

// Waits for the thread that claimed the end to end the process: never
// returns.
[[noreturn]] void platformAwaitEnd();

// Forgets the claim (for tests).
void platformResetEndClaim();

// Restores the console and ends the process at once with `status`
// (-1 becomes 255). The caller holds the end's claim. Runs no static
// destructors, so it is safe while other threads are still inside the
// program.
[[noreturn]] void platformExit(int status);

// Where the board library says the board's answers come from: its
// optional function ZT_boardOrigin, looked up at run time ("virtual" or
// "replay" from the virtual board and a recorder over it); "adapter" for a
// library without it, a bench's. The program never links to the symbol.
const char *platformBoardOrigin(std::int32_t boardLid);

// Creates the directory `path` and any of its parents that are missing.
// True when it is a directory afterwards (made now or before); false, with
// the reason in `why`, when it cannot be made (a file in the way, no
// right, no such share).
bool platformMakeDirs(const std::string &path, std::string &why);

#endif // ZORVANTIK_PLATFORM_H
