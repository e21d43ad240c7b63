/*
 * trace_format.cpp - writing and reading board traces (see
 * trace_format.h and docs/replay.md).
 */
#include "trace_format.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qtrace {

namespace {

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

/* A record: its type, its body's length, the body, then (version 2)
 * the checksum of everything written so far, left out the checksums. */
void putRecord(std::string &out, uint8_t type, const std::string &body, uint32_t &running) {
    size_t at = out.size();
    out += char(type);
    putVarint(out, body.size());
    out += body;
    running = crc32(running, out.data() + at, out.size() - at);
    put32(out, running);
}

/* A little-endian number (uint32_t or uint64_t) from any address. */
template <class T> T loadLittle(const uint8_t *p) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8, "a word or a double word");
    T v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    if constexpr (sizeof(T) == 8)
        v = __builtin_bswap64(v);
    else
        v = __builtin_bswap32(v);
#endif
    return v;
}

uint32_t word(const uint8_t *p) { return loadLittle<uint32_t>(p); }
uint64_t load64(const uint8_t *p) { return loadLittle<uint64_t>(p); }

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

std::string number(uint64_t v) { return std::to_string(v); }

/* What a reader takes in: the blobs so far and the bytes they came to,
 * the limit on those, and the block size of each stream set-up by the
 * recorded service handle. */
struct ReadState {
    Blobs blobs;
    uint64_t blobBytes = 0;
    uint64_t blobLimit = 0;
    std::map<int32_t, uint32_t> blockBytes;
};

const char *const kUnparsed = "its body does not parse";

/* A blob record into `st.blobs`; why it is refused, "" when it is not. */
std::string readBlob(Reader r, ReadState &st) {
    uint64_t d = r.fixed(8);
    uint64_t size = r.varint();
    uint64_t coding = r.varint();
    if (r.bad)
        return kUnparsed;
    if (size > kMaxBufferBytes)
        return "a blob of " + number(size) + " bytes, beyond the limit of " + number(kMaxBufferBytes);
    if (st.blobBytes + size > st.blobLimit)
        return "a blob of " + number(size) + " bytes, beyond the limit of " + number(st.blobLimit) +
               " for the blobs of a trace of this size";
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    if (coding == kRaw) {
        if (uint64_t(r.end - r.p) < size)
            return "a blob of " + number(size) + " bytes with " + number(uint64_t(r.end - r.p)) + " bytes of data";
        const uint8_t *at = r.take(size);
        bytes->assign(at, at + size);
    } else if (coding == kDeltaRuns) {
        bytes->reserve(size);
        uint32_t prev = 0;
        while (bytes->size() + 4 <= size) {
            uint32_t delta = uint32_t(r.signedVarint());
            uint64_t run = r.varint();
            if (r.bad)
                return "a blob of " + number(size) + " bytes whose runs end at byte " + number(bytes->size());
            if (run == 0 || run > (size - bytes->size()) / 4)
                return "a blob of " + number(size) + " bytes whose runs pass its size";
            for (uint64_t i = 0; i < run; ++i) {
                prev += delta;
                for (int b = 0; b < 4; ++b)
                    bytes->push_back(uint8_t(prev >> (8 * b)));
            }
        }
        const uint8_t *tail = r.take(size % 4);
        if (!tail)
            return "a blob of " + number(size) + " bytes whose runs end at byte " + number(bytes->size());
        bytes->insert(bytes->end(), tail, tail + size % 4);
    } else {
        return "a blob of unknown coding " + number(coding);
    }
    if (r.p != r.end)
        return "a blob with " + number(uint64_t(r.end - r.p)) + " bytes past its data";
    if (digest(bytes->data(), bytes->size()) != d)
        return "a blob whose bytes do not match its digest";
    st.blobBytes += size;
    st.blobs[d] = std::move(bytes);
    return "";
}

uint32_t littleWord(const Buffer &b, size_t at) {
    return b.bytes && b.bytes->size() >= at + 4 ? word(b.bytes->data() + at) : 0;
}

const Buffer *findBuffer(const Call &c, uint8_t arg, bool out) {
    for (const Buffer &b : c.buffers)
        if (b.arg == arg && b.out == out)
            return &b;
    return nullptr;
}

/* What a replay takes from a call's outputs holds in the program's
 * buffers: each output within its buffer, the stream block's bytes
 * within the blocks of the stream's set-up, a set-up's blocks no more
 * than the program gave room for. Why not, "" when it does. */
std::string checkOutputs(const Call &c, ReadState &st) {
    const char *name = shape(c.function).name;
    for (const Buffer &b : c.buffers) {
        if (!b.out)
            continue;
        int64_t capacity = outputCapacity(c, b.arg);
        std::string what = std::string(name) + "'s output " +
                           (b.arg == kStreamArg ? std::string("of the stream block")
                                                : std::string("'") + shape(c.function).args[b.arg] + "'");
        if (capacity < 0)
            return what + ", which the call does not have";
        if (b.size > capacity)
            return what + " of " + number(b.size) + " bytes, where the program's buffer holds " + number(capacity);
        if (b.arg == kStreamArg) {
            auto setup = st.blockBytes.find(c.args[0]);
            if (setup != st.blockBytes.end() && b.size > setup->second)
                return what + " of " + number(b.size) + " bytes, where the set-up's blocks hold " +
                       number(setup->second);
        }
    }
    if (c.function == fCtrl && c.args[2] == 0xE00 && c.result >= 0) {
        const Buffer *in = findBuffer(c, 3, false), *out = findBuffer(c, 3, true);
        if (out && out->size >= 16) {
            uint32_t asked = in ? littleWord(*in, 8) : 0, blocks = littleWord(*out, 8), bytes = littleWord(*out, 12);
            std::string what = std::string(name) + "'s stream set-up of " + number(blocks) + " blocks of " +
                               number(bytes) + " bytes";
            if (!in || blocks > asked)
                return what + ", where the program asked for " + number(asked) + " blocks";
            if (blocks > kMaxStreamBlocks || bytes > kMaxBufferBytes)
                return what + ", beyond the limit of " + number(kMaxStreamBlocks) + " blocks of " +
                       number(kMaxBufferBytes) + " bytes";
            st.blockBytes[c.args[0]] = bytes;
        }
    }
    return "";
}

/* A call record; why it is refused, "" when it is not. */
std::string readCall(Reader r, const ReadState &st, Call &c) {
    c.function = uint32_t(r.varint());
    c.thread = uint32_t(r.varint());
    c.startUs = r.varint();
    c.durationNs = r.varint();
    uint64_t nargs = r.varint();
    if (r.bad)
        return kUnparsed;
    if (c.function == 0 || c.function >= fFunctions)
        return "a call of unknown function " + number(c.function);
    const Shape &s = shape(c.function);
    if (c.startUs > kMaxMicroseconds || c.durationNs > kMaxMicroseconds * 1000)
        return std::string("a call of ") + s.name + " at " + number(c.startUs) + " us for " + number(c.durationNs) +
               " ns, beyond the limit of " + number(kMaxMicroseconds) + " us";
    if (nargs != s.args.size())
        return std::string("a call of ") + s.name + " with " + number(nargs) + " arguments";
    for (uint64_t i = 0; i < nargs; ++i)
        c.args.push_back(r.signedVarint());
    c.result = r.signedVarint();
    uint64_t nbuffers = r.varint();
    if (r.bad)
        return kUnparsed;
    if (nbuffers > 2 * s.args.size() + 1)
        return std::string("a call of ") + s.name + " with " + number(nbuffers) + " buffers";
    for (uint64_t i = 0; i < nbuffers; ++i) {
        Buffer b;
        b.arg = uint8_t(r.fixed(1));
        uint8_t flags = uint8_t(r.fixed(1));
        b.out = flags & 1;
        b.storage = Storage((flags >> 1) & 3);
        uint64_t size = r.varint();
        if (r.bad || flags > 5 || b.storage > Storage::Digest)
            return kUnparsed;
        if (b.arg >= s.args.size() && !(b.arg == kStreamArg && b.out))
            return std::string("a call of ") + s.name + " with a buffer of argument " + number(b.arg);
        if (size > kMaxBufferBytes)
            return std::string("a call of ") + s.name + " with a buffer of " + number(size) + " bytes, beyond the limit of " +
                   number(kMaxBufferBytes);
        b.size = uint32_t(size);
        if (b.storage == Storage::Inline) {
            const uint8_t *at = r.take(b.size);
            if (!at)
                return kUnparsed;
            b.bytes = std::make_shared<const std::vector<uint8_t>>(at, at + b.size);
        } else {
            b.digest = r.fixed(8);
            if (r.bad)
                return kUnparsed;
            if (b.storage == Storage::Blob) {
                if (!b.out)
                    return kUnparsed;
                auto it = st.blobs.find(b.digest);
                if (it == st.blobs.end())
                    return std::string("a call of ") + s.name + " that names a blob the trace does not hold";
                if (it->second->size() != b.size)
                    return std::string("a call of ") + s.name + " that names a blob of " +
                           number(it->second->size()) + " bytes as one of " + number(b.size);
                b.bytes = it->second;
            }
        }
        c.buffers.push_back(std::move(b));
    }
    if (r.p != r.end)
        return std::string("a call of ") + s.name + " with " + number(uint64_t(r.end - r.p)) + " bytes past its end";
    return "";
}

} // namespace

const Shape &shape(uint32_t function) { return qalapi::info(function); }

/* Four lanes of 8-byte words, each through a multiply and a shift, so
 * that a 16 KB buffer takes a microsecond or two: fast enough to digest
 * every large buffer of a run as it passes. */
uint64_t digest(const void *data, size_t size) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    const uint64_t k = 0x9E3779B97F4A7C15ull;
    uint64_t lane[4] = {k ^ (size * 0xFF51AFD7ED558CCDull), k + 1, k + 2, k + 3};
    auto mix = [](uint64_t h, uint64_t w) {
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

/* Slicing by eight: eight tables, eight bytes a step, so that the
 * checksum of a 16 KB blob takes some microseconds. */
struct CrcTables {
    uint32_t t[8][256];
};

constexpr CrcTables makeCrcTables() {
    CrcTables c{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t v = i;
        for (int k = 0; k < 8; ++k)
            v = v & 1 ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        c.t[0][i] = v;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (int s = 1; s < 8; ++s)
            c.t[s][i] = (c.t[s - 1][i] >> 8) ^ c.t[0][c.t[s - 1][i] & 0xFF];
    return c;
}

constexpr CrcTables kCrc = makeCrcTables();

uint32_t crc32(uint32_t crc, const void *data, size_t size) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    const auto &t = kCrc.t;
    crc = ~crc;
    for (; size >= 8; p += 8, size -= 8) {
        uint32_t a = word(p) ^ crc, b = word(p + 4);
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^ t[3][b & 0xFF] ^
              t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
    }
    for (; size; --size)
        crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return ~crc;
}

std::string encodeHeader(uint64_t unixMs, uint32_t pointerBits, uint32_t &running) {
    std::string h(kMagic, sizeof kMagic);
    put32(h, kVersion);
    put32(h, kHeaderBytes2);
    put32(h, pointerBits);
    put32(h, 0);
    put64(h, unixMs);
    running = crc32(0, h.data(), h.size());
    put32(h, running);
    return h;
}

void encodeBlob(uint64_t d, const uint8_t *data, uint32_t size, std::string &out, uint32_t &running) {
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
    putRecord(out, kRecordBlob, body, running);
}

void encodeCall(const Call &c, std::string &out, uint32_t &running) {
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
    putRecord(out, kRecordCall, body, running);
}

/* The room the table of qal_api.h gives the output, from the recorded
 * arguments; the newest stream block's words after a state query. */
int64_t outputCapacity(const Call &c, uint8_t arg) {
    if (arg == kStreamArg)
        return c.function == fCtrl && c.args.size() > 2 && c.args[2] == QALctrl_STREAM_CBUF_STATE
                   ? int64_t(kStreamBytes)
                   : -1;
    for (const qalapi::BufferRule &rule : shape(c.function).buffers)
        if (rule.out && rule.arg == arg)
            return qalapi::bufferBytes(rule, c.args.data(), c.args.size());
    return -1;
}

std::string escapeControls(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        uint8_t b = uint8_t(ch);
        if (b < 0x20 || b == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(b));
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

bool readTrace(const std::string &path, Trace &out, std::string &error) {
    out = Trace();
    std::vector<uint8_t> data;
    std::FILE *f = nullptr;
#ifdef _WIN32
    f = std::fopen(path.c_str(), "rb");
#else
    /* Not to wait on a FIFO with no writer: opened without blocking, and
     * read only when it is a regular file. */
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && !(f = ::fdopen(fd, "rb")))
        ::close(fd);
#endif
    if (!f) {
        error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
#ifdef _WIN32
    struct _stat64 st;
    bool regular = ::_fstat64(_fileno(f), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat st;
    bool regular = ::fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
#endif
    if (!regular) {
        std::fclose(f);
        error = path + ": not a regular file";
        return false;
    }
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
    return readTrace(data.data(), data.size(), path, out, error);
}

bool readTrace(const uint8_t *data, size_t size, const std::string &name, Trace &out, std::string &error) {
    out = Trace();
    if (size < sizeof kMagic || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
        error = name + ": not a board trace";
        return false;
    }
    if (size < kHeaderBytes) {
        error = name + ": header cut short (" + number(size) + " of " + number(kHeaderBytes) + " bytes)";
        return false;
    }
    Reader h{data + sizeof kMagic, data + kHeaderBytes};
    uint32_t version = uint32_t(h.fixed(4));
    uint32_t headerBytes = uint32_t(h.fixed(4));
    if (version < kOldestVersion || version > kVersion) {
        error = name + ": trace format version " + number(version) + ", this library reads versions " +
                number(kOldestVersion) + (kVersion == kOldestVersion + 1 ? " and " : " to ") + number(kVersion);
        return false;
    }
    out.version = version;
    bool checked = version >= 2;
    uint32_t wanted = checked ? kHeaderBytes2 : kHeaderBytes;
    if (size < wanted) {
        error = name + ": header cut short (" + number(size) + " of " + number(wanted) + " bytes)";
        return false;
    }
    uint32_t running = 0;
    if (checked) {
        running = crc32(0, data, kHeaderBytes);
        if (running != word(data + kHeaderBytes)) {
            error = name + ": header damaged (its checksum does not match)";
            return false;
        }
        if (headerBytes != kHeaderBytes2) {
            error = name + ": header of " + number(headerBytes) + " bytes, not " + number(kHeaderBytes2);
            return false;
        }
    } else if (headerBytes < kHeaderBytes || headerBytes > size) {
        error = name + ": header cut short";
        return false;
    }
    out.pointerBits = uint32_t(h.fixed(4));
    h.fixed(4);
    out.unixMs = h.fixed(8);

    ReadState st;
    st.blobLimit = kMaxBlobBytes + kBlobBytesPerByte * uint64_t(size);
    Reader r{data + headerBytes, data + size};
    for (uint64_t record = 1; r.p < r.end; ++record) {
        const uint8_t *at = r.p;
        uint8_t type = uint8_t(r.fixed(1));
        uint64_t length = r.varint();
        const uint8_t *body = r.take(length);
        const uint8_t *check = checked && body ? r.take(kChecksumBytes) : nullptr;
        if (!body || (checked && !check)) {
            out.cut = true;
            break;
        }
        std::string why;
        if (checked) {
            running = crc32(running, at, size_t(check - at));
            if (running != word(check))
                why = "its checksum does not match";
        }
        if (why.empty() && type == kRecordBlob) {
            why = readBlob(Reader{body, body + length}, st);
        } else if (why.empty() && type == kRecordCall) {
            Call c;
            why = readCall(Reader{body, body + length}, st, c);
            if (why.empty())
                why = checkOutputs(c, st);
            c.number = out.calls.size() + 1;
            if (why.empty())
                out.calls.push_back(std::move(c));
        } else if (why.empty()) {
            why = "a record of unknown type " + number(type);
        }
        if (!why.empty()) {
            out.refused = "record " + number(record) + " at byte " + number(uint64_t(at - data)) +
                          " is refused: " + why;
            break;
        }
    }
    return true;
}

/* A string argument shows as its input's bytes up to the first NUL,
 * escaped. */
std::string describe(const Call &c, bool withResult) {
    qalapi::CallArgs args;
    args.function = c.function;
    args.count = std::min(c.args.size(), qalapi::kMaxArgs);
    std::string texts[qalapi::kMaxArgs];
    const Shape &s = shape(c.function);
    for (size_t i = 0; i < args.count; ++i) {
        args.value[i] = c.args[i];
        if (i >= s.args.size() || std::strcmp(s.args[i], "s"))
            continue;
        for (const Buffer &b : c.buffers)
            if (!b.out && b.arg == i && b.bytes) {
                std::string name(b.bytes->begin(), b.bytes->end());
                texts[i] = escapeControls(name.substr(0, name.find('\0')));
                args.text[i] = texts[i].c_str();
                break;
            }
    }
    return qalapi::traceLine(args, c.result, withResult);
}

} // namespace qtrace
