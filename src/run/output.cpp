// output.cpp - conPrintf, the log-writing idioms and the key wait.
#include "run/output.h"

#include "platform/platform.h"
#include "run/record.h"
#include "run/runstate.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

// Held by every console or log write. The interrupt handler takes it for
// good (freezeOutput), which also makes each report() whole: its console
// text and both log appends happen entirely or, after the freeze, not at all.
std::mutex gOutputLock;

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
    recordConsoleText(buffer, static_cast<std::size_t>(length));
    platformConsoleWrite(buffer, static_cast<std::size_t>(length));
}

// Writes `text` to `file` with every "\n" as CR LF, in one write.
bool writeLogText(std::FILE *file, const std::string &text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 2);
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return std::fwrite(out.data(), 1, out.size(), file) == out.size();
}

// One self-contained append. A log that cannot be reopened during the run
// (removed or locked meanwhile) loses this message; the run goes on.
void appendLog(const char *name, const char *format, va_list args) {
    std::string text = formatText(format, args);
    std::FILE *file = std::fopen(name, "ab");
    if (!file)
        return;
    writeLogText(file, text);
    std::fclose(file);
}

enum Sinks { kConsole = 1, kScreen = 2, kProtocol = 4 };

void emit(int sinks, const char *format, va_list args) {
    std::lock_guard<std::mutex> hold(gOutputLock);
    va_list copy;
    if (sinks & kConsole) {
        va_copy(copy, args);
        consoleWrite(format, copy);
        va_end(copy);
    }
    if (sinks & kScreen) {
        va_copy(copy, args);
        appendLog(runState.screenLogName, format, copy);
        va_end(copy);
    }
    if (sinks & kProtocol) {
        va_copy(copy, args);
        appendLog(runState.protocolLogName, format, copy);
        va_end(copy);
    }
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
    std::lock_guard<std::mutex> hold(gOutputLock);
    std::FILE *file = std::fopen(name, "wb");
    if (!file)
        return false;
    bool written = writeLogText(file, text);
    return std::fclose(file) == 0 && written;
}

void waitAnyKey() {
    conPrintf("\nНажмите любую клавишу");
    platformReadKey();
    conPrintf("\r%47s", "");
}

void freezeOutput() {
    gOutputLock.lock(); // never released: the process is about to end
}
