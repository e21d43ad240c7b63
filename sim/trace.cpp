/*
 * trace.cpp - the call trace on stderr.
 */
#include "trace.h"

#include "qal.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
std::atomic<bool> tracing{false};
}

void setTraceMode(int32_t mode) { tracing = mode == QAL_DISPLAY_TRACE; }

/* The line is formatted first and written with one fwrite, so lines of
 * two threads never interleave (the stream's lock covers one call). */
void trace(const char *format, ...) {
    if (!tracing)
        return;
    char small[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0)
        return;

    std::string line;
    if (size_t(n) < sizeof small) {
        line.assign(small, size_t(n));
    } else {
        line.resize(size_t(n) + 1);
        va_start(args, format);
        std::vsnprintf(&line[0], line.size(), format, args);
        va_end(args);
        line.resize(size_t(n));
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

const char *traceArg(const void *p, const char *name) { return p ? name : "NULL"; }
