// fuzz_trace.cpp - the board trace's reader, which qal-trace and the
// virtual board's replay share.
//
// Each input is read as a trace twice: as it is, and, when it is of
// version 2, with its checksums made right, so that mutations reach the
// records' bodies instead of stopping at the first checksum. Besides
// crashes and memory beyond libFuzzer's limit, what the readers rely on
// must hold: a trace refused whole says why in one line naming the file;
// a record refused is named in one line; every call read is of a known
// function with its arguments, and every output it holds fits the buffer
// the program gives it; no line shows a control byte.
#include "trace_format.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kName[] = "fuzz.qtr";

void require(bool holds) {
    if (!holds)
        std::abort();
}

bool oneLine(const std::string &text) { return !text.empty() && text.find('\n') == std::string::npos; }

bool plain(const std::string &text) {
    for (char ch : text)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F)
            return false;
    return true;
}

void check(const std::string &bytes) {
    qtrace::Trace trace;
    std::string error;
    bool ok = qtrace::readTrace(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(), kName, trace, error);
    if (!ok) {
        require(oneLine(error) && error.compare(0, sizeof kName + 1, std::string(kName) + ": ") == 0);
        return;
    }
    require(trace.version >= qtrace::kOldestVersion && trace.version <= qtrace::kVersion);
    require(trace.refused.empty() || (oneLine(trace.refused) && trace.refused.compare(0, 7, "record ") == 0));
    require(!(trace.cut && !trace.refused.empty()));
    for (const qtrace::Call &c : trace.calls) {
        require(c.function > 0 && c.function < qtrace::fFunctions);
        require(c.args.size() == qtrace::shape(c.function).args.size());
        require(c.startUs <= qtrace::kMaxMicroseconds && c.durationNs <= qtrace::kMaxMicroseconds * 1000);
        for (const qtrace::Buffer &b : c.buffers) {
            require(b.size <= qtrace::kMaxBufferBytes);
            require(!b.bytes || b.bytes->size() == b.size);
            if (b.out)
                require(b.size <= qtrace::outputCapacity(c, b.arg));
        }
        require(plain(qtrace::describe(c)));
    }
}

std::uint32_t word(const std::string &s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t(static_cast<unsigned char>(s[at + i])) << (8 * i);
    return v;
}

void putWord(std::string &s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = char(v >> (8 * i));
}

// The checksums of a version 2 trace set to what its bytes need, record
// by record as far as the records go.
std::string resealed(std::string s) {
    if (s.size() < qtrace::kHeaderBytes2 || word(s, 8) != 2)
        return s;
    std::uint32_t running = qtrace::crc32(0, s.data(), qtrace::kHeaderBytes);
    putWord(s, qtrace::kHeaderBytes, running);
    std::size_t at = qtrace::kHeaderBytes2;
    while (at < s.size()) {
        std::size_t p = at + 1;
        std::uint64_t length = 0;
        for (int shift = 0; p < s.size() && shift < 64; shift += 7) {
            unsigned char b = static_cast<unsigned char>(s[p++]);
            length |= std::uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                break;
        }
        if (length > s.size() || s.size() - p < length + qtrace::kChecksumBytes)
            break;
        running = qtrace::crc32(running, s.data() + at, p + length - at);
        putWord(s, p + length, running);
        at = p + length + qtrace::kChecksumBytes;
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char *>(data), size);
    check(bytes);
    std::string sealed = resealed(bytes);
    if (sealed != bytes)
        check(sealed);
    require(plain(qtrace::escapeControls(bytes)));
    return 0;
}
