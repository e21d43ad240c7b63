/*
 * trace.cpp - the call trace on stderr.
 */
#include "trace.h"

#include "qal.h"

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>

std::atomic<bool> traceSwitch{false};

void setTraceMode(int32_t mode) { traceSwitch = mode == QAL_DISPLAY_TRACE; }

/* The line is formatted first and written with one fwrite, so lines of
 * two threads never interleave (the stream's lock covers one call). A
 * line too long for the stack buffer that finds no memory for itself is
 * written cut: the trace never fails the call it traces. */
void trace(const char *format, ...) {
    if (!traceOn())
        return;
    char small[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(small, sizeof small - 1, format, args);
    va_end(args);
    if (n < 0)
        return;

    size_t length = size_t(n);
    char *line = small;
    std::unique_ptr<char[]> large;
    if (length >= sizeof small - 1) {
        large.reset(new (std::nothrow) char[length + 2]);
        if (large) {
            line = large.get();
            va_start(args, format);
            std::vsnprintf(line, length + 1, format, args);
            va_end(args);
        } else {
            length = sizeof small - 2;
        }
    }
    line[length] = '\n';
    std::fwrite(line, 1, length + 1, stderr);
    std::fflush(stderr);
}

/* One fwrite, as above; a line that finds no memory is lost, not the
 * call. */
void traceAlways(const std::string &line) {
    try {
        std::string text = line + '\n';
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    } catch (...) {
    }
}
