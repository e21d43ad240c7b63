/*
 * trace_format.cpp - writing and reading board traces (see
 * trace_format.h and docs/replay.md).
 */
#include "trace_format.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace qtrace {

namespace {

const Shape kShapes[fFunctions] = {
    {"?", {}, false},
    {"QAL_init", {"d", "d"}, false},
    {"QAL_open", {"d", "d", "d"}, false},
    {"QAL_close", {"H"}, false},
    {"QAL_cleanup", {}, false},
    {"QAL_displayMode", {"X"}, false},
    {"QAL_getInfo", {"H", "info"}, false},
    {"QAL_puRead", {"H", "d", "u", "buf", "u"}, false},
    {"QAL_peek", {"H", "d", "x"}, true},
    {"QAL_poke", {"H", "d", "x", "x"}, false},
    {"QAL_readRAM", {"H", "d", "x", "buf", "u", "u"}, false},
    {"QAL_writeRAM", {"H", "d", "x", "buf", "u", "u"}, false},
    {"QAL_load", {"H", "d", "s", "d", "argv"}, false},
    {"QAL_start", {"H", "d"}, false},
    {"QAL_reset", {"H", "d"}, false},
    {"QAL_putMsg", {"H", "d", "buf", "*", "d"}, false},
    {"QAL_getMsg", {"H", "d", "buf", "*", "d"}, false},
    {"QAL_readDPRAM", {"H", "d", "u", "buf", "u"}, false},
    {"QAL_writeDPRAM", {"H", "d", "u", "buf", "u"}, false},
    {"QAL_readFIFO", {"H", "d", "d", "buf", "u", "d"}, false},
    {"QAL_writeFIFO", {"H", "d", "d", "buf", "u", "d"}, false},
    {"QAL_signalSend", {"H", "d", "d"}, false},
    {"QAL_signalGrab", {"H", "d", "d", "d", "d"}, false},
    {"QAL_signalIack", {"H", "d", "d"}, false},
    {"QAL_serviceList", {"H", "d", "list", "d", "count"}, false},
    {"QAL_capture", {"H", "d", "mode", "s", "d"}, false},
    {"QAL_ctrl", {"S", "d", "X", "arg"}, false},
    {"QAL_release", {"S", "d"}, false},
};

/* Blob codings: raw bytes, or the 32-bit words as runs of equal
 * differences (a running count is one run, a constant fill too). */
constexpr uint8_t kRaw = 0;
constexpr uint8_t kDeltaRuns = 1;

void putVarint(std::string &out, uint64_t v) {
    while (v >= 0x80) {
        out += char(uint8_t(v) | 0x80);
        v >>= 7;
    }
    out += char(uint8_t(v));
}

uint32_t zigzag(int32_t v) { return (uint32_t(v) << 1) ^ uint32_t(v >> 31); }
int32_t unzigzag(uint32_t v) { return int32_t((v >> 1) ^ (0u - (v & 1))); }

void put64(std::string &out, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out += char(uint8_t(v >> (8 * i)));
}

void put32(std::string &out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += char(uint8_t(v >> (8 * i)));
}

void putRecord(std::string &out, uint8_t type, const std::string &body) {
    out += char(type);
    putVarint(out, body.size());
    out += body;
}

/* Little-endian words from any address. */
uint32_t word(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

uint64_t load64(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

void deltaRuns(const uint8_t *data, uint32_t size, std::string &out) {
    uint32_t words = size / 4, prev = 0;
    for (uint32_t i = 0; i < words;) {
        uint32_t delta = word(data + 4 * i) - prev;
        uint32_t run = 1;
        prev = word(data + 4 * i);
        while (i + run < words && word(data + 4 * (i + run)) - prev == delta) {
            prev = word(data + 4 * (i + run));
            ++run;
        }
        putVarint(out, zigzag(int32_t(delta)));
        putVarint(out, run);
        i += run;
    }
    out.append(reinterpret_cast<const char *>(data) + 4 * words, size % 4);
}

/* Reads a record's fields; any read past the end makes it bad. */
struct Reader {
    const uint8_t *p, *end;
    bool bad = false;

    uint64_t varint() {
        uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (p >= end)
                break;
            uint8_t b = *p++;
            v |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                return v;
        }
        bad = true;
        return 0;
    }
    int32_t signedVarint() { return unzigzag(uint32_t(varint())); }
    uint64_t fixed(int bytes) {
        if (end - p < bytes) {
            bad = true;
            return 0;
        }
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= uint64_t(*p++) << (8 * i);
        return v;
    }
    const uint8_t *take(uint64_t n) {
        if (uint64_t(end - p) < n) {
            bad = true;
            return nullptr;
        }
        const uint8_t *at = p;
        p += n;
        return at;
    }
};

using Blobs = std::map<uint64_t, std::shared_ptr<const std::vector<uint8_t>>>;

bool readBlob(Reader r, Blobs &blobs) {
    uint64_t d = r.fixed(8);
    uint64_t size = r.varint();
    uint64_t coding = r.varint();
    if (r.bad || size > (1u << 30))
        return false;
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    if (coding == kRaw) {
        const uint8_t *at = r.take(size);
        if (!at)
            return false;
        bytes->assign(at, at + size);
    } else if (coding == kDeltaRuns) {
        bytes->reserve(size);
        uint32_t prev = 0;
        while (bytes->size() + 4 <= size && !r.bad) {
            uint32_t delta = uint32_t(r.signedVarint());
            uint64_t run = r.varint();
            if (run == 0 || run > (size - bytes->size()) / 4)
                return false;
            for (uint64_t i = 0; i < run; ++i) {
                prev += delta;
                for (int b = 0; b < 4; ++b)
                    bytes->push_back(uint8_t(prev >> (8 * b)));
            }
        }
        const uint8_t *tail = r.take(size % 4);
        if (r.bad || !tail)
            return false;
        bytes->insert(bytes->end(), tail, tail + size % 4);
    } else {
        return false;
    }
    blobs[d] = std::move(bytes);
    return true;
}

bool readCall(Reader r, const Blobs &blobs, Call &c) {
    c.function = uint32_t(r.varint());
    c.thread = uint32_t(r.varint());
    c.startUs = r.varint();
    c.durationNs = r.varint();
    uint64_t nargs = r.varint();
    if (r.bad || nargs > 16)
        return false;
    for (uint64_t i = 0; i < nargs; ++i)
        c.args.push_back(r.signedVarint());
    c.result = r.signedVarint();
    uint64_t nbuffers = r.varint();
    if (r.bad || nbuffers > 64)
        return false;
    for (uint64_t i = 0; i < nbuffers && !r.bad; ++i) {
        Buffer b;
        b.arg = uint8_t(r.fixed(1));
        uint8_t flags = uint8_t(r.fixed(1));
        b.out = flags & 1;
        b.storage = Storage((flags >> 1) & 3);
        b.size = uint32_t(r.varint());
        if (b.storage == Storage::Inline) {
            const uint8_t *at = r.take(b.size);
            if (!at)
                return false;
            b.bytes = std::make_shared<const std::vector<uint8_t>>(at, at + b.size);
        } else if (b.storage == Storage::Blob || b.storage == Storage::Digest) {
            b.digest = r.fixed(8);
            if (b.storage == Storage::Blob) {
                auto it = blobs.find(b.digest);
                if (it == blobs.end() || it->second->size() != b.size)
                    return false;
                b.bytes = it->second;
            }
        } else {
            return false;
        }
        c.buffers.push_back(std::move(b));
    }
    return !r.bad && c.function > 0 && c.function < fFunctions;
}

void appendArg(std::string &text, const Call &c, size_t i, const char *kind) {
    char number[32];
    int32_t v = i < c.args.size() ? c.args[i] : 0;
    if (!std::strcmp(kind, "d") || !std::strcmp(kind, "H") || !std::strcmp(kind, "S")) {
        std::snprintf(number, sizeof number, "%d", v);
    } else if (!std::strcmp(kind, "u") || !std::strcmp(kind, "*")) {
        std::snprintf(number, sizeof number, "%u", uint32_t(v));
    } else if (!std::strcmp(kind, "x")) {
        std::snprintf(number, sizeof number, "0x%08X", uint32_t(v));
    } else if (!std::strcmp(kind, "X")) {
        std::snprintf(number, sizeof number, "0x%X", uint32_t(v));
    } else if (!v) {
        text += "NULL";
        return;
    } else if (!std::strcmp(kind, "s")) {
        for (const Buffer &b : c.buffers)
            if (!b.out && b.arg == i && b.bytes) {
                std::string name(b.bytes->begin(), b.bytes->end());
                text += '"' + name.substr(0, name.find('\0')) + '"';
                return;
            }
        text += "?";
        return;
    } else {
        text += kind;
        return;
    }
    text += number;
}

} // namespace

const Shape &shape(uint32_t function) { return kShapes[function < fFunctions ? function : 0]; }

/* Four lanes of 8-byte words, each through a multiply and a shift, so
 * that a 16 KB buffer takes a microsecond or two: fast enough to digest
 * every large buffer of a run as it passes. */
uint64_t digest(const void *data, size_t size) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    const uint64_t k = 0x9E3779B97F4A7C15ull;
    uint64_t lane[4] = {k ^ (size * 0xFF51AFD7ED558CCDull), k + 1, k + 2, k + 3};
    auto mix = [k](uint64_t h, uint64_t w) {
        h = (h ^ w) * k;
        return h ^ (h >> 29);
    };
    size_t i = 0;
    for (; i + 32 <= size; i += 32)
        for (int l = 0; l < 4; ++l)
            lane[l] = mix(lane[l], load64(p + i + 8 * l));
    for (; i + 8 <= size; i += 8)
        lane[0] = mix(lane[0], load64(p + i));
    uint64_t tail = 0;
    for (size_t b = 0; i + b < size; ++b)
        tail |= uint64_t(p[i + b]) << (8 * b);
    uint64_t h = mix(mix(mix(lane[0], lane[1]), lane[2]), lane[3]);
    h = (h ^ tail ^ 0xA5) * 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 32);
}

std::string encodeHeader(uint64_t unixMs, uint32_t pointerBits) {
    std::string h(kMagic, sizeof kMagic);
    put32(h, kVersion);
    put32(h, kHeaderBytes);
    put32(h, pointerBits);
    put32(h, 0);
    put64(h, unixMs);
    return h;
}

void encodeBlob(uint64_t d, const uint8_t *data, uint32_t size, std::string &out) {
    std::string runs;
    deltaRuns(data, size, runs);
    std::string body;
    put64(body, d);
    putVarint(body, size);
    if (runs.size() < size) {
        putVarint(body, kDeltaRuns);
        body += runs;
    } else {
        putVarint(body, kRaw);
        body.append(reinterpret_cast<const char *>(data), size);
    }
    putRecord(out, kRecordBlob, body);
}

void encodeCall(const Call &c, std::string &out) {
    std::string body;
    putVarint(body, c.function);
    putVarint(body, c.thread);
    putVarint(body, c.startUs);
    putVarint(body, c.durationNs);
    putVarint(body, c.args.size());
    for (int32_t a : c.args)
        putVarint(body, zigzag(a));
    putVarint(body, zigzag(c.result));
    putVarint(body, c.buffers.size());
    for (const Buffer &b : c.buffers) {
        body += char(b.arg);
        body += char((b.out ? 1 : 0) | uint8_t(b.storage) << 1);
        putVarint(body, b.size);
        if (b.storage == Storage::Inline)
            body.append(b.bytes ? reinterpret_cast<const char *>(b.bytes->data()) : "", b.bytes ? b.bytes->size() : 0);
        else
            put64(body, b.digest);
    }
    putRecord(out, kRecordCall, body);
}

bool readTrace(const std::string &path, Trace &out, std::string &error) {
    out = Trace();
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        data.insert(data.end(), chunk, chunk + n);
    bool failed = std::ferror(f);
    int why = errno;
    std::fclose(f);
    if (failed) {
        error = path + ": cannot be read (" + std::strerror(why) + ")";
        return false;
    }
    if (data.size() < sizeof kMagic || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0) {
        error = path + ": not a board trace";
        return false;
    }
    if (data.size() < kHeaderBytes) {
        error = path + ": header cut short (" + std::to_string(data.size()) + " of " + std::to_string(kHeaderBytes) +
                " bytes)";
        return false;
    }
    Reader h{data.data() + sizeof kMagic, data.data() + kHeaderBytes};
    uint32_t version = uint32_t(h.fixed(4));
    uint32_t headerBytes = uint32_t(h.fixed(4));
    if (version != kVersion) {
        error = path + ": trace format version " + std::to_string(version) + ", this library reads version " +
                std::to_string(kVersion);
        return false;
    }
    if (headerBytes < kHeaderBytes || headerBytes > data.size()) {
        error = path + ": header cut short";
        return false;
    }
    out.pointerBits = uint32_t(h.fixed(4));
    h.fixed(4);
    out.unixMs = h.fixed(8);

    Blobs blobs;
    Reader r{data.data() + headerBytes, data.data() + data.size()};
    while (r.p < r.end) {
        uint8_t type = uint8_t(r.fixed(1));
        uint64_t length = r.varint();
        const uint8_t *body = r.take(length);
        if (!body) {
            out.cut = true;
            break;
        }
        Reader record{body, body + length};
        bool ok = false;
        if (type == kRecordBlob) {
            ok = readBlob(record, blobs);
        } else if (type == kRecordCall) {
            Call c;
            ok = readCall(record, blobs, c);
            c.number = out.calls.size() + 1;
            if (ok)
                out.calls.push_back(std::move(c));
        }
        if (!ok) {
            out.cut = true;
            break;
        }
    }
    return true;
}

std::string describe(const Call &c, bool withResult) {
    const Shape &s = shape(c.function);
    std::string text = std::string(s.name) + "(";
    for (size_t i = 0; i < s.args.size(); ++i) {
        if (i)
            text += ", ";
        appendArg(text, c, i, s.args[i]);
    }
    text += ")";
    if (withResult) {
        char result[32];
        if (s.hexResult)
            std::snprintf(result, sizeof result, " = 0x%08X", uint32_t(c.result));
        else
            std::snprintf(result, sizeof result, " = %d", c.result);
        text += result;
    }
    return text;
}

} // namespace qtrace
