// output.cpp - conPrintf, the log-writing idioms and the key wait.
#include "run/output.h"

#include "platform/platform.h"
#include "run/record.h"
#include "run/runstate.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// Set once by the interrupt handler (freezeOutput): no message starts after
// it, on the console or in a log.
std::atomic<bool> gFrozen{false};

// Held by every console write from its look at gFrozen to its last byte,
// so that no write starts after the freeze. The handler waits out a write
// under way only so long: a console that cannot be written (a pipe nobody
// reads) must not keep it from ending the run, and any write that comes
// later still finds the freeze.
std::timed_mutex gConsoleLock;
constexpr auto kConsoleWriteWait = std::chrono::milliseconds(500);

// Held by every log append, which the handler waits out and then keeps for
// good, so no append is cut in the middle.
std::mutex gLogLock;

// Each log as last written, and whether its first failure was told.
struct LogFile {
    FileIdentity identity;
    bool failureTold = false;
};
LogFile gScreenLog, gProtocolLog;

LogFile &logFile(const char *name) { return std::strcmp(name, runState.screenLogName) == 0 ? gScreenLog : gProtocolLog; }

// A log's name from the directory the run started in, so that a test
// that has changed into the program directory writes to the same file.
std::string logPath(const char *name) { return stationPath(name); }

std::string formatText(const char *format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// The console's share of a message: formatted into the first half of a
// 512-byte buffer, so at most 255 characters.
void consoleWrite(const char *format, va_list args) {
    char buffer[kConsoleTextMax + 1];
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (length <= 0)
        return;
    if (length > kConsoleTextMax)
        length = kConsoleTextMax;
    std::lock_guard<std::timed_mutex> hold(gConsoleLock);
    if (gFrozen.load())
        return;
    recordConsoleText(buffer, static_cast<std::size_t>(length));
    platformConsoleWrite(buffer, static_cast<std::size_t>(length));
}

// `text` as a log holds it: every "\n" as CR LF.
std::string logBytes(const std::string &text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 2);
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// The first time an append to a log fails, or finds the log removed or
// replaced, it is told once: in the result record, and by the warning
// added to `warnings` for stderr. The run goes on.
void noteLogTrouble(const char *name, AppendResult result, const std::string &why, std::string &warnings) {
    LogFile &log = logFile(name);
    if (log.failureTold)
        return;
    log.failureTold = true;
    char text[256];
    if (result == AppendResult::kReplaced)
        std::snprintf(text, sizeof text, "### ПРЕДУПРЕЖДЕНИЕ: Файл '%s' удален или заменен во время испытаний\n", name);
    else
        std::snprintf(text, sizeof text, "### ПРЕДУПРЕЖДЕНИЕ: Не могу дописать файл '%s' (%s)\n", name, why.c_str());
    warnings += text;
    recordLogFailure(name, result == AppendResult::kReplaced ? "removed or replaced meanwhile" : why.c_str());
}

// One self-contained append, whole or not at all. A log that cannot be
// written (a full disk, the file made read-only) loses this message, and
// one that was removed or replaced gets it in the new file.
void appendLog(const char *name, const char *format, va_list args, std::string &warnings) {
    std::string why;
    AppendResult result =
        platformAppendFile(logPath(name).c_str(), logBytes(formatText(format, args)), logFile(name).identity, why);
    if (result != AppendResult::kAppended)
        noteLogTrouble(name, result, why, warnings);
}

enum Sinks { kConsole = 1, kScreen = 2, kProtocol = 4 };

// The console first, then the logs, as the program has always written.
void emit(int sinks, const char *format, va_list args) {
    if (gFrozen.load())
        return;
    va_list copy;
    if (sinks & kConsole) {
        va_copy(copy, args);
        consoleWrite(format, copy);
        va_end(copy);
    }
    if (!(sinks & (kScreen | kProtocol)))
        return;
    std::string warnings; // told once the logs are let go: stderr may block
    {
        std::lock_guard<std::mutex> hold(gLogLock);
        if (gFrozen.load())
            return;
        if (sinks & kScreen) {
            va_copy(copy, args);
            appendLog(runState.screenLogName, format, copy, warnings);
            va_end(copy);
        }
        if (sinks & kProtocol) {
            va_copy(copy, args);
            appendLog(runState.protocolLogName, format, copy, warnings);
            va_end(copy);
        }
    }
    if (!warnings.empty())
        platformWarn(warnings.data(), warnings.size());
}

} // namespace

#define ZT_EMIT(sinks)                                                                                                 \
    do {                                                                                                               \
        va_list args;                                                                                                  \
        va_start(args, format);                                                                                        \
        emit((sinks), format, args);                                                                                   \
        va_end(args);                                                                                                  \
    } while (0)

void conPrintf(const char *format, ...) { ZT_EMIT(kConsole); }
void report(const char *format, ...) { ZT_EMIT(kConsole | kScreen | kProtocol); }
void reportScreen(const char *format, ...) { ZT_EMIT(kConsole | kScreen); }
void logScreen(const char *format, ...) { ZT_EMIT(kScreen); }
void logProtocol(const char *format, ...) { ZT_EMIT(kProtocol); }
void logBoth(const char *format, ...) { ZT_EMIT(kScreen | kProtocol); }

bool startLog(const char *name, const char *text) {
    std::lock_guard<std::mutex> hold(gLogLock);
    LogFile &log = logFile(name);
    log.failureTold = false;
    std::string why;
    return platformCreateFile(logPath(name).c_str(), logBytes(text), log.identity, why);
}

void waitAnyKey() {
    conPrintf("\nНажмите любую клавишу");
    platformReadKey();
    conPrintf("\r%47s", "");
}

void freezeOutput() {
    gFrozen.store(true);
    // Both never released: the process is about to end.
    // A write that began before the freeze and is stuck there (a console
    // nobody reads) is left to itself: every later one finds the freeze.
    bool consoleHeld = gConsoleLock.try_lock_for(kConsoleWriteWait);
    (void)consoleHeld;
    gLogLock.lock();
}
