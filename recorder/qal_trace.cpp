/*
 * qal_trace.cpp - qal-trace, a board trace as text: one line per call in
 * the words of the -V trace, with its number, thread, time and duration.
 *
 *   qal-trace [-x] FILE
 *
 * -x also shows each call's buffers: the first bytes of each in
 * hexadecimal, or the digest of an input the trace keeps only by digest.
 *
 * A record the reader refuses ends the listing: the calls before it are
 * shown, the refusal goes to stderr in one line and the exit status is 1.
 * Control bytes of the file (a program's name) show escaped.
 */
#include "trace_format.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

void showBuffer(const qtrace::Buffer &b) {
    std::printf("        %s arg %u, %u bytes:", b.out ? "out" : "in ", unsigned(b.arg), unsigned(b.size));
    if (!b.bytes) {
        std::printf(" digest %016" PRIX64 "\n", b.digest);
        return;
    }
    size_t shown = b.bytes->size() < 32 ? b.bytes->size() : 32;
    for (size_t i = 0; i < shown; ++i)
        std::printf(" %02X", unsigned((*b.bytes)[i]));
    std::printf("%s\n", shown < b.bytes->size() ? " ..." : "");
}

int show(const char *path, bool bytes) {
    qtrace::Trace trace;
    std::string error;
    if (!qtrace::readTrace(path, trace, error)) {
        std::fprintf(stderr, "%s\n", qtrace::escapeControls(error).c_str());
        return 1;
    }
    std::string name = qtrace::escapeControls(path);
    std::printf("# %s: board trace version %u%s, %u-bit program, recorded at %" PRIu64 " ms since 1970, %zu calls\n",
                name.c_str(), unsigned(trace.version), trace.version < 2 ? ", unchecked (no checksums)" : "",
                unsigned(trace.pointerBits), trace.unixMs, trace.calls.size());
    for (const qtrace::Call &c : trace.calls) {
        std::printf("%7" PRIu64 " t%u %10.6f %10.6f  %s\n", c.number, unsigned(c.thread), double(c.startUs) / 1e6,
                    double(c.durationNs) / 1e9, qtrace::describe(c).c_str());
        if (bytes)
            for (const qtrace::Buffer &b : c.buffers)
                showBuffer(b);
    }
    if (trace.cut)
        std::printf("# the trace is cut short after call %zu\n", trace.calls.size());
    if (!trace.refused.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", name.c_str(), trace.refused.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    bool bytes = argc == 3 && std::strcmp(argv[1], "-x") == 0;
    if (argc != 2 + (bytes ? 1 : 0)) {
        std::fprintf(stderr, "usage: qal-trace [-x] FILE\n");
        return 2;
    }
    try {
        return show(argv[argc - 1], bytes);
    } catch (const std::bad_alloc &) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: out of memory\n", qtrace::escapeControls(argv[argc - 1]).c_str());
        return 1;
    }
}
