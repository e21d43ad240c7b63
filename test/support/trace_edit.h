// trace_edit.h - a board trace taken apart into its records and put back
// together, by the layout docs/replay.md gives, so that a test can bend or
// damage exactly the record it means to: a call's buffer, a blob's size, a
// bit. Written apart from the library's reader and writer, so that it also
// holds them to the documented format.
#ifndef ZORVANTIK_TEST_TRACE_EDIT_H
#define ZORVANTIK_TEST_TRACE_EDIT_H

#include "trace_format.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace traceedit {

inline void putVarint(std::string &out, std::uint64_t v) {
    for (; v >= 0x80; v >>= 7)
        out += char(std::uint8_t(v) | 0x80);
    out += char(std::uint8_t(v));
}

inline std::uint64_t getVarint(const std::string &in, std::size_t &at) {
    std::uint64_t v = 0;
    for (int shift = 0; at < in.size() && shift < 64; shift += 7) {
        std::uint8_t b = std::uint8_t(in[at++]);
        v |= std::uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80))
            return v;
    }
    throw std::runtime_error("a varint runs past its bytes");
}

inline void put32(std::string &out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += char(std::uint8_t(v >> (8 * i)));
}

inline std::uint32_t get32(const std::string &in, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t(std::uint8_t(in.at(at + i))) << (8 * i);
    return v;
}

inline std::uint32_t zigzag(std::int32_t v) { return (std::uint32_t(v) << 1) ^ std::uint32_t(v >> 31); }
inline std::int32_t unzigzag(std::uint64_t v) {
    return std::int32_t((std::uint32_t(v) >> 1) ^ (0u - (std::uint32_t(v) & 1)));
}

struct Record {
    std::uint8_t type = 0;
    std::string body;
    std::size_t offset = 0; // of its type byte, in the file it was read from or last built
};

struct File {
    std::uint32_t version = 0;
    std::string header; // its first 32 bytes, without version 2's checksum
    std::vector<Record> records;
    std::string tail; // bytes after the last whole record
};

// Splits a trace into its records (version 1 or 2); the checksums are
// not looked at.
inline File parse(const std::string &bytes) {
    File f;
    f.version = get32(bytes, 8);
    std::size_t headerBytes = get32(bytes, 12);
    f.header = bytes.substr(0, 32);
    std::size_t at = headerBytes;
    const std::size_t check = f.version >= 2 ? 4 : 0;
    while (at < bytes.size()) {
        Record r;
        r.offset = at;
        std::size_t p = at;
        r.type = std::uint8_t(bytes[p++]);
        std::uint64_t length;
        try {
            length = getVarint(bytes, p);
        } catch (const std::runtime_error &) {
            break;
        }
        if (bytes.size() - p < length + check)
            break;
        r.body = bytes.substr(p, length);
        f.records.push_back(r);
        at = p + length + check;
    }
    f.tail = bytes.substr(at);
    return f;
}

// One record's bytes as it stands in the file, its checksum left out.
inline std::string frame(const Record &r) {
    std::string out(1, char(r.type));
    putVarint(out, r.body.size());
    return out + r.body;
}

// The trace's bytes, in `version` (0: the file's own): version 2 with the
// checksums the records now need. Sets each record's offset.
inline std::string build(File &f, std::uint32_t version = 0) {
    version = version ? version : f.version;
    std::string out = f.header;
    out.replace(8, 8, std::string(8, '\0'));
    std::string fields;
    put32(fields, version);
    put32(fields, version >= 2 ? 36 : 32);
    out.replace(8, 8, fields);
    std::uint32_t running = qtrace::crc32(0, out.data(), out.size());
    if (version >= 2)
        put32(out, running);
    for (Record &r : f.records) {
        r.offset = out.size();
        std::string bytes = frame(r);
        out += bytes;
        if (version >= 2) {
            running = qtrace::crc32(running, bytes.data(), bytes.size());
            put32(out, running);
        }
    }
    f.version = version;
    return out + f.tail;
}

// A call record's body, field by field.
struct Buffer {
    std::uint8_t arg = 0, flags = 0; // flags: bit 0 output, bits 1-2 storage
    std::uint64_t size = 0;
    std::string payload; // the bytes (inline) or the 8-byte digest
    bool out() const { return flags & 1; }
};

struct Call {
    std::uint64_t function = 0, thread = 0, start = 0, duration = 0;
    std::vector<std::int32_t> args;
    std::int32_t result = 0;
    std::vector<Buffer> buffers;
    Buffer *find(std::uint8_t arg, bool out) {
        for (Buffer &b : buffers)
            if (b.arg == arg && b.out() == out)
                return &b;
        return nullptr;
    }
};

inline Call decodeCall(const std::string &body) {
    Call c;
    std::size_t at = 0;
    c.function = getVarint(body, at);
    c.thread = getVarint(body, at);
    c.start = getVarint(body, at);
    c.duration = getVarint(body, at);
    for (std::uint64_t n = getVarint(body, at); n > 0; --n)
        c.args.push_back(unzigzag(getVarint(body, at)));
    c.result = unzigzag(getVarint(body, at));
    for (std::uint64_t n = getVarint(body, at); n > 0; --n) {
        Buffer b;
        b.arg = std::uint8_t(body.at(at++));
        b.flags = std::uint8_t(body.at(at++));
        b.size = getVarint(body, at);
        std::size_t bytes = ((b.flags >> 1) & 3) == 0 ? b.size : 8;
        b.payload = body.substr(at, bytes);
        at += bytes;
        c.buffers.push_back(b);
    }
    return c;
}

inline std::string encodeCall(const Call &c) {
    std::string body;
    for (std::uint64_t v : {c.function, c.thread, c.start, c.duration, std::uint64_t(c.args.size())})
        putVarint(body, v);
    for (std::int32_t a : c.args)
        putVarint(body, zigzag(a));
    putVarint(body, zigzag(c.result));
    putVarint(body, c.buffers.size());
    for (const Buffer &b : c.buffers) {
        body += char(b.arg);
        body += char(b.flags);
        putVarint(body, b.size);
        body += b.payload;
    }
    return body;
}

// A blob record's body: coding 0 raw bytes, 1 runs of (difference, count).
inline std::string blobBody(std::uint64_t digest, std::uint64_t size, std::uint64_t coding, const std::string &data) {
    std::string body;
    for (int i = 0; i < 8; ++i)
        body += char(std::uint8_t(digest >> (8 * i)));
    putVarint(body, size);
    putVarint(body, coding);
    return body + data;
}

// Runs of differences for `words` words of the same value: the value
// once, then no change.
inline std::string constantRuns(std::uint32_t value, std::uint64_t words) {
    std::string runs;
    putVarint(runs, zigzag(std::int32_t(value)));
    putVarint(runs, 1);
    if (words > 1) {
        putVarint(runs, 0);
        putVarint(runs, words - 1);
    }
    return runs;
}

// The index of the n-th call record (from 0) of function `function` for
// which `pick` holds, or -1.
template <class Pick> int findCall(const File &f, std::uint32_t function, Pick pick, int n = 0) {
    for (std::size_t i = 0; i < f.records.size(); ++i) {
        if (f.records[i].type != qtrace::kRecordCall)
            continue;
        Call c = decodeCall(f.records[i].body);
        if (c.function == function && pick(c) && n-- == 0)
            return int(i);
    }
    return -1;
}

} // namespace traceedit

#endif // ZORVANTIK_TEST_TRACE_EDIT_H
