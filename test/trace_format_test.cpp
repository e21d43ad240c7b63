// The board trace's reader in-process: the checksum and the digest see
// every byte, every size a trace claims is held at its limit (a blob's
// runs at its size), a version 1 trace still reads, and no control byte
// of a trace reaches a line unescaped.
#include "support/trace_edit.h"

#include "trace_calls.h"
#include "trace_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace qtrace;
namespace te = traceedit;

std::shared_ptr<const std::vector<uint8_t>> bytesOf(const std::string &s) {
    return std::make_shared<const std::vector<uint8_t>>(s.begin(), s.end());
}

Buffer inlineBuffer(uint8_t arg, bool out, const std::string &bytes) {
    Buffer b;
    b.arg = arg;
    b.out = out;
    b.size = uint32_t(bytes.size());
    b.bytes = bytesOf(bytes);
    return b;
}

Call makeCall(Function f, std::vector<int32_t> args, int32_t result, std::vector<Buffer> buffers = {}) {
    Call c;
    c.function = f;
    c.args = std::move(args);
    c.result = result;
    c.buffers = std::move(buffers);
    return c;
}

std::string words(std::initializer_list<uint32_t> values) {
    std::string s;
    for (uint32_t v : values)
        te::put32(s, v);
    return s;
}

// A short trace as the recorder writes it: a 16 KB read as a blob, a
// stream set-up of 16 blocks of 64 bytes, a state query with the newest
// block's 64 bytes, a program loaded by name.
std::string smallTrace() {
    uint32_t running = 0;
    std::string out = encodeHeader(1796700000000ull, 64, running);
    encodeCall(makeCall(fInit, {0, 0}, 0), out, running);
    encodeCall(makeCall(fOpen, {1, 0, 0}, 1), out, running);
    encodeCall(makeCall(fReadRAM, {1, 0, 0x80000, 1, 4, 4}, 0, {inlineBuffer(3, true, words({1, 2, 3, 4}))}), out,
               running);
    std::vector<uint8_t> count(16384);
    for (size_t i = 0; i < count.size(); i += 4)
        std::memcpy(&count[i], &i, 4);
    uint64_t d = digest(count.data(), count.size());
    encodeBlob(d, count.data(), uint32_t(count.size()), out, running);
    Buffer blob;
    blob.arg = 3;
    blob.out = true;
    blob.storage = Storage::Blob;
    blob.size = 16384;
    blob.digest = d;
    encodeCall(makeCall(fReadRAM, {1, 0, 0x80000, 1, 4096, 4}, 0, {blob}), out, running);
    encodeCall(makeCall(fCapture, {1, 1, 1, 1, 5000}, 1,
                        {inlineBuffer(2, false, words({1})), inlineBuffer(3, false, std::string("STREAM0\0", 8)),
                         inlineBuffer(2, true, words({1}))}),
               out, running);
    std::string setup = words({1, 1, 16, 64});
    encodeCall(makeCall(fCtrl, {1, 1, 0xE00, 1}, 0, {inlineBuffer(3, false, setup), inlineBuffer(3, true, setup)}),
               out, running);
    encodeCall(makeCall(fCtrl, {1, 1, 0xE05, 1}, 0,
                        {inlineBuffer(3, false, words({0, 0, 0, 0, 100})),
                         inlineBuffer(3, true, words({3, 4, 0, 1, 100})), inlineBuffer(7, true, std::string(64, 'w'))}),
               out, running);
    encodeCall(makeCall(fLoad, {1, 0, 1, 0, 0}, 0, {inlineBuffer(2, false, std::string("a.ldr\0", 6))}), out,
               running);
    encodeCall(makeCall(fClose, {1}, 0), out, running);
    return out;
}

constexpr size_t kSmallTraceCalls = 9;

struct Read {
    bool ok;
    std::string error;
    Trace trace;
};

Read read(const std::string &bytes) {
    Read r;
    r.ok = readTrace(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), "t.qtr", r.trace, r.error);
    return r;
}

std::string refusal(const te::File &f, size_t record, const std::string &why) {
    return "record " + std::to_string(record + 1) + " at byte " + std::to_string(f.records[record].offset) +
           " is refused: " + why;
}

TEST(TraceChecksum, IsTheCrc32OfZipContinuedAndSeesEveryBit) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32(0, check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(crc32(crc32(0, check.data(), 4), check.data() + 4, 5), 0xCBF43926u);
    EXPECT_EQ(crc32(0, "", 0), 0u);
    // Every single bit of a buffer longer than the eight bytes a step
    // takes, at every alignment of the tail.
    std::string data = smallTrace().substr(0, 203);
    uint32_t whole = crc32(0, data.data(), data.size());
    for (size_t i = 0; i < data.size(); ++i)
        for (int bit = 0; bit < 8; ++bit) {
            std::string flipped = data;
            flipped[i] = char(flipped[i] ^ (1 << bit));
            ASSERT_NE(crc32(0, flipped.data(), flipped.size()), whole) << "byte " << i << " bit " << bit;
        }
}

TEST(TraceReader, ReadsWhatTheWriterWroteAndTheDocumentedLayoutAgrees) {
    std::string bytes = smallTrace();
    Read r = read(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.trace.version, 2u);
    EXPECT_EQ(r.trace.pointerBits, 64u);
    EXPECT_EQ(r.trace.unixMs, 1796700000000ull);
    EXPECT_EQ(r.trace.refused, "");
    EXPECT_FALSE(r.trace.cut);
    ASSERT_EQ(r.trace.calls.size(), kSmallTraceCalls);
    EXPECT_EQ(describe(r.trace.calls[7]), "QAL_load(1, 0, \"a.ldr\", 0, NULL) = 0");
    ASSERT_EQ(r.trace.calls[3].buffers.size(), 1u);
    EXPECT_EQ(r.trace.calls[3].buffers[0].bytes->size(), 16384u);
    EXPECT_EQ((*r.trace.calls[3].buffers[0].bytes)[4], 4);

    // Taken apart and built again by the documented layout: the same bytes.
    te::File f = te::parse(bytes);
    EXPECT_EQ(f.records.size(), kSmallTraceCalls + 1);
    EXPECT_EQ(f.tail, "");
    EXPECT_EQ(te::build(f), bytes);
}

// Any single flipped bit is told: in the header the trace is refused
// whole, in a record the reader stops at that record and names it, or, a
// bit of a length that now runs past the file, takes it as cut there.
TEST(TraceReader, EveryFlippedBitIsToldAtTheRecordItHit) {
    std::string bytes = smallTrace();
    te::File f = te::parse(bytes);
    te::build(f);
    for (size_t i = 0; i < bytes.size(); ++i) {
        size_t record = 0;
        while (record + 1 < f.records.size() && f.records[record + 1].offset <= i)
            ++record;
        size_t callsBefore = record; // the blob is record 3; calls 1-3 stand before it
        if (record > 3)
            --callsBefore;
        for (int bit = 0; bit < 8; ++bit) {
            std::string flipped = bytes;
            flipped[i] = char(flipped[i] ^ (1 << bit));
            Read r = read(flipped);
            std::string where = "byte " + std::to_string(i) + " bit " + std::to_string(bit);
            if (i < qtrace::kHeaderBytes2) {
                EXPECT_FALSE(r.ok) << where;
                continue;
            }
            ASSERT_TRUE(r.ok) << where << ": " << r.error;
            EXPECT_EQ(r.trace.calls.size(), callsBefore) << where;
            if (r.trace.cut) {
                EXPECT_EQ(r.trace.refused, "") << where;
                EXPECT_LT(i, f.records[record].offset + 4) << where << ": cut by a bit past its length";
            } else {
                EXPECT_EQ(r.trace.refused, refusal(f, record, "its checksum does not match")) << where;
            }
        }
    }
}

// Each size a trace claims, at its limit and one past it.
TEST(TraceReader, SizesAreHeldAtTheirLimits) {
    struct Case {
        const char *name;
        std::function<void(te::File &)> edit;
        int record;      // the record refused, -1 for none
        std::string why; // its reason
    };
    auto editCall = [](te::File &f, size_t record, const std::function<void(te::Call &)> &edit) {
        te::Call c = te::decodeCall(f.records[record].body);
        edit(c);
        f.records[record].body = te::encodeCall(c);
    };
    auto setBytes = [](te::Buffer &b, const std::string &bytes) {
        b.payload = bytes;
        b.size = bytes.size();
    };
    const uint32_t limit = kMaxBufferBytes;
    auto bigBlob = [](uint32_t value, uint64_t size) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i + 4 <= size; i += 4)
            std::memcpy(&bytes[i], &value, 4);
        return te::Record{kRecordBlob,
                          te::blobBody(digest(bytes.data(), bytes.size()), size, 1, te::constantRuns(value, size / 4))};
    };
    const std::vector<Case> cases = {
        {"an output as large as its buffer", [&](te::File &f) { editCall(f, 2, [&](te::Call &c) { setBytes(c.buffers[0], std::string(16, 'x')); }); }, -1, ""},
        {"an output a byte larger",
         [&](te::File &f) { editCall(f, 2, [&](te::Call &c) { setBytes(c.buffers[0], std::string(17, 'x')); }); }, 2,
         "QAL_readRAM's output 'buf' of 17 bytes, where the program's buffer holds 16"},
        {"a blob at the size limit", [&](te::File &f) { f.records.insert(f.records.begin() + 2, bigBlob(7, limit)); },
         -1, ""},
        {"a blob past it", [&](te::File &f) { f.records.insert(f.records.begin() + 2, bigBlob(7, limit + 4ull)); }, 2,
         "a blob of 16777220 bytes, beyond the limit of 16777216"},
        {"blobs past what a trace of this size may hold",
         [&](te::File &f) {
             for (uint32_t v = 1; v <= 3; ++v)
                 f.records.insert(f.records.begin() + 2, bigBlob(v, limit));
         },
         4,
         "a blob of 16777216 bytes, beyond the limit of {limit} for the blobs of a trace of this size"},
        {"a raw blob larger than its data",
         [&](te::File &f) { f.records[3].body = te::blobBody(1, 1000, 0, std::string(21, 'z')); }, 3,
         "a blob of 1000 bytes with 21 bytes of data"},
        {"runs that pass the blob's size",
         [&](te::File &f) { f.records[3].body = te::blobBody(1, 16, 1, te::constantRuns(9, 5)); }, 3,
         "a blob of 16 bytes whose runs pass its size"},
        {"a stream block as large as the set-up's blocks",
         [&](te::File &f) {
             editCall(f, 6, [&](te::Call &c) { setBytes(*c.find(3, true), words({1, 1, 16, 32})); });
             editCall(f, 7, [&](te::Call &c) { setBytes(*c.find(7, true), std::string(32, 'w')); });
         },
         -1, ""},
        {"a stream block larger than the set-up's blocks",
         [&](te::File &f) { editCall(f, 6, [&](te::Call &c) { setBytes(*c.find(3, true), words({1, 1, 16, 63})); }); },
         7, "QAL_ctrl's output of the stream block of 64 bytes, where the set-up's blocks hold 63"},
        {"a stream block larger than a trace keeps",
         [&](te::File &f) {
             editCall(f, 6, [&](te::Call &c) { setBytes(*c.find(3, true), words({1, 1, 16, 1 << 20})); });
             editCall(f, 7, [&](te::Call &c) { setBytes(*c.find(7, true), std::string(65, 'w')); });
         },
         7, "QAL_ctrl's output of the stream block of 65 bytes, where the program's buffer holds 64"},
        {"a set-up of more blocks than the program asked for",
         [&](te::File &f) { editCall(f, 6, [&](te::Call &c) { setBytes(*c.find(3, true), words({1, 1, 17, 64})); }); },
         6, "QAL_ctrl's stream set-up of 17 blocks of 64 bytes, where the program asked for 16 blocks"},
        {"a set-up of larger blocks than a stream has",
         [&](te::File &f) {
             editCall(f, 6, [&](te::Call &c) { setBytes(*c.find(3, true), words({1, 1, 16, limit + 1})); });
         },
         6, "QAL_ctrl's stream set-up of 16 blocks of 16777217 bytes, beyond the limit of 16 blocks of 16777216 bytes"},
        {"a set-up of the largest blocks",
         [&](te::File &f) { editCall(f, 6, [&](te::Call &c) { setBytes(*c.find(3, true), words({1, 1, 16, limit})); }); },
         -1, ""},
        {"a buffer of an argument the function has not",
         [&](te::File &f) { editCall(f, 2, [&](te::Call &c) { c.buffers[0].arg = 6; }); }, 2,
         "a call of QAL_readRAM with a buffer of argument 6"},
        {"a call that names a blob not in the trace",
         [&](te::File &f) { f.records.erase(f.records.begin() + 3); }, 3,
         "a call of QAL_readRAM that names a blob the trace does not hold"},
        {"a call as long as a replay waits out",
         [&](te::File &f) { editCall(f, 2, [&](te::Call &c) { c.duration = kMaxMicroseconds * 1000; }); }, -1, ""},
        {"a call longer",
         [&](te::File &f) { editCall(f, 2, [&](te::Call &c) { c.duration = kMaxMicroseconds * 1000 + 1; }); }, 2,
         "a call of QAL_readRAM at 0 us for 1099511627776001 ns, beyond the limit of 1099511627776 us"},
        {"an unknown record type", [&](te::File &f) { f.records[5].type = 'Z'; }, 5, "a record of unknown type 90"},
        {"a call of an unknown function", [&](te::File &f) { editCall(f, 9, [&](te::Call &c) { c.function = 40; }); },
         9, "a call of unknown function 40"},
        {"a body with bytes past its end", [&](te::File &f) { f.records[8].body += '\0'; }, 8,
         "a call of QAL_load with 1 bytes past its end"},
    };
    for (const Case &c : cases) {
        te::File f = te::parse(smallTrace());
        c.edit(f);
        std::string bytes = te::build(f);
        Read r = read(bytes);
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
        EXPECT_FALSE(r.trace.cut) << c.name;
        if (c.record < 0) {
            EXPECT_EQ(r.trace.refused, "") << c.name;
        } else {
            std::string why = c.why;
            size_t at = why.find("{limit}");
            if (at != std::string::npos)
                why.replace(at, 7, std::to_string(kMaxBlobBytes + kBlobBytesPerByte * bytes.size()));
            EXPECT_EQ(r.trace.refused, refusal(f, size_t(c.record), why)) << c.name;
        }
    }
}

// The digest of a buffer changes with any one byte of it: every byte of
// the short lengths, around each 8-byte word and 32-byte stride, the
// first and the last 16 bytes of long ones (the bytes past the last whole
// word are mixed in apart from the words), and with the length alone.
TEST(TraceDigest, SeesEveryByte) {
    std::vector<size_t> lengths;
    for (size_t n = 1; n <= 80; ++n)
        lengths.push_back(n);
    for (size_t n : {95, 96, 97, 127, 128, 129, 255, 256, 257, 1021, 1024, 4099, 16384})
        lengths.push_back(n);
    std::vector<uint8_t> buffer(16384 + 1);
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = uint8_t(i * 37 + 11);
    for (size_t length : lengths) {
        std::vector<size_t> positions;
        for (size_t at = 0; at < length; ++at)
            if (length <= 300 || at < 16 || at >= length - 16 || at % 509 == 0)
                positions.push_back(at);
        const uint64_t whole = digest(buffer.data(), length);
        for (size_t at : positions)
            for (uint8_t flip : {0x01, 0x80, 0xFF}) {
                buffer[at] ^= flip;
                uint64_t flipped = digest(buffer.data(), length);
                buffer[at] ^= flip;
                EXPECT_NE(flipped, whole) << "length " << length << ", byte " << at << " ^ " << int(flip);
            }
        // One more byte, of the value a zero fill would give: still another digest.
        uint8_t next = buffer[length];
        buffer[length] = 0;
        EXPECT_NE(digest(buffer.data(), length + 1), whole) << "length " << length << " and one zero byte";
        buffer[length] = next;
    }
    EXPECT_EQ(digest(buffer.data(), 0), digest(nullptr, 0));
}

// Runs of (difference, count) as a delta-coded blob stores them.
std::string runsOf(std::initializer_list<std::pair<int32_t, uint64_t>> runs, const std::string &tail = "") {
    std::string out;
    for (const auto &r : runs) {
        te::putVarint(out, te::zigzag(r.first));
        te::putVarint(out, r.second);
    }
    return out + tail;
}

// A delta-coded blob is read only when its runs make exactly its size:
// a run that ends at the blob's end is taken, one that goes a word past
// it, or whose count overflows any width, is refused with its reason.
TEST(TraceReader, BlobRunsAreHeldToTheBlobsSize) {
    struct Case {
        const char *name;
        uint64_t size;
        std::string runs;
        std::vector<uint32_t> words; // what a blob that is taken holds
        std::string tail;            // and its bytes past the last word
        std::string why;             // why it is refused, "" when it is taken
    };
    const std::string pass16 = "a blob of 16 bytes whose runs pass its size";
    const Case cases[] = {
        {"one run exactly to the end", 16, runsOf({{9, 1}, {0, 3}}), {9, 9, 9, 9}, "", ""},
        {"a count going up", 16, runsOf({{5, 1}, {1, 3}}), {5, 6, 7, 8}, "", ""},
        {"a falling count wrapping past zero", 12, runsOf({{1, 1}, {-1, 2}}), {1, 0, 0xFFFFFFFF}, "", ""},
        {"runs to the end and the bytes past the last word", 18, runsOf({{3, 4}}, "ab"), {3, 6, 9, 12}, "ab", ""},
        {"less than a word: only the tail", 3, runsOf({}, "xyz"), {}, "xyz", ""},
        {"one run a word past the end", 16, runsOf({{9, 1}, {0, 4}}), {}, "", pass16},
        {"a first run past the end", 16, runsOf({{9, 5}}), {}, "", pass16},
        {"a later run past the end", 16, runsOf({{1, 2}, {1, 3}}), {}, "", pass16},
        {"a run past the end before the tail", 18, runsOf({{1, 5}}, "ab"), {}, "",
         "a blob of 18 bytes whose runs pass its size"},
        {"a count of 2^32 + 1", 16, runsOf({{0, (uint64_t(1) << 32) + 1}}), {}, "", pass16},
        {"a count that overflows four times its words", 16, runsOf({{0, (uint64_t(1) << 62) + 1}}), {}, "", pass16},
        {"the largest count", 16, runsOf({{0, ~uint64_t(0)}}), {}, "", pass16},
        {"a run of no words", 16, runsOf({{1, 0}, {1, 4}}), {}, "", pass16},
        {"runs that stop short", 16, runsOf({{1, 3}}), {}, "", "a blob of 16 bytes whose runs end at byte 12"},
        {"a count cut in the middle", 16, runsOf({{1, 2}}) + "\x02\x80", {}, "",
         "a blob of 16 bytes whose runs end at byte 8"},
        {"a tail shorter than the size says", 18, runsOf({{1, 4}}, "a"), {}, "",
         "a blob of 18 bytes whose runs end at byte 16"},
        {"runs to the end, then one more", 16, runsOf({{1, 4}, {1, 1}}), {}, "", "a blob with 2 bytes past its data"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes;
        for (uint32_t w : c.words)
            te::put32(bytes, w);
        bytes += c.tail;
        te::File f = te::parse(smallTrace());
        // A blob that is taken matches its digest: its bytes are those of
        // its runs.
        f.records.insert(f.records.begin() + 2,
                         te::Record{kRecordBlob, te::blobBody(digest(bytes.data(), bytes.size()), c.size, 1, c.runs)});
        Read r = read(te::build(f));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.trace.refused, c.why.empty() ? "" : refusal(f, 2, c.why));
        EXPECT_EQ(r.trace.calls.size(), c.why.empty() ? kSmallTraceCalls : 2u);
    }
}

// What the reader holds each output to is what the recorder and the
// replay give it room for: every output of every call, built as they
// build it.
TEST(TraceReader, OutputCapacityIsTheRoomTheCallsGive) {
    std::vector<uint8_t> buf(1 << 16);
    uint32_t size = 300;
    int32_t count = 0, mode = 1;
    BoardInfo info{};
    ServiceEntry list[10];
    StreamBufferSetup setup{};
    StreamBufferState state{};
    const std::vector<CallIo> calls = {
        callIo<fGetInfo>(1, &info),
        callIo<fPuRead>(1, 1, 0, buf.data(), 513),
        callIo<fReadRAM>(1, 0, 0, buf.data(), 100, 4),
        callIo<fReadRAM>(1, 0, 0, buf.data(), 100, 1),
        callIo<fReadRAM>(1, 0, 0, buf.data(), 100, 2),
        callIo<fPutMsg>(1, 0, buf.data(), &size, 10),
        callIo<fGetMsg>(1, 0, buf.data(), &size, 10),
        callIo<fReadDPRAM>(1, 0, 0, buf.data(), 77),
        callIo<fReadFIFO>(1, 0, 0, buf.data(), 4096, 10),
        callIo<fServiceList>(1, 1, list, 10, &count),
        callIo<fServiceList>(1, 1, list, 0, &count),
        callIo<fServiceList>(1, 1, list, -3, &count),
        callIo<fCapture>(1, 1, &mode, "STREAM0", 10),
        callIo<fCtrl>(1, 1, QALctrl_STREAM_CBUF_ALLOC, &setup),
        callIo<fCtrl>(1, 1, QALctrl_STREAM_CBUF_STATE, &state),
    };
    for (const CallIo &io : calls) {
        ASSERT_FALSE(io.outs.empty()) << describe(io.call);
        for (const CallIo::Out &o : io.outs)
            EXPECT_EQ(outputCapacity(io.call, o.arg), int64_t(o.capacity))
                << describe(io.call) << " arg " << int(o.arg);
    }
    Call state8 = callIo<fCtrl>(1, 1, QALctrl_STREAM_CBUF_STATE, &state).call;
    EXPECT_EQ(outputCapacity(state8, kStreamArg), int64_t(kStreamBytes));
    EXPECT_EQ(outputCapacity(callIo<fCtrl>(1, 1, QALctrl_STREAM_CBUF_START, &state).call, 3), -1);
    EXPECT_EQ(outputCapacity(callIo<fWriteRAM>(1, 0, 0, buf.data(), 10, 4).call, 3), -1);
    EXPECT_EQ(outputCapacity(callIo<fReadRAM>(1, 0, 0, buf.data(), 10, 4).call, 2), -1);
}

TEST(TraceText, ControlBytesAreEscaped) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"pcdspint.ldr", "pcdspint.ldr"},
        {"\x1b[2J\x1b]0;x\x07", "\\x1B[2J\\x1B]0;x\\x07"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\t\r\n\x7f", "\\x09\\x0D\\x0A\\x7F"},
        {" ~", " ~"},
        {"C:\\dsp\\x.ldr", "C:\\dsp\\x.ldr"},        // a backslash stays as it is
        {"\xd0\x9f\xe8\x80\x9b", "\xd0\x9f\xe8\x80\x9b"}, // bytes of a code page or of UTF-8 stay
    };
    for (const auto &c : cases)
        EXPECT_EQ(escapeControls(c.first), c.second) << c.second;
    Call load = makeCall(fLoad, {1, 0, 1, 0, 0}, 0, {inlineBuffer(2, false, std::string("\x1b[31mx.ldr\0", 11))});
    EXPECT_EQ(describe(load), "QAL_load(1, 0, \"\\x1B[31mx.ldr\", 0, NULL) = 0");
}

std::string fileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The stored version 1 trace reads, unchecked, to its end; the same
// records in version 2 read to the same calls; and a bit of a version 1
// blob is told by the blob's digest.
TEST(TraceReader, VersionOneReadsUncheckedAndAsVersionTwo) {
    std::string bytes = fileBytes(ZT_TRACE_DIR "/link-fault.qtr");
    Read v1 = read(bytes);
    ASSERT_TRUE(v1.ok) << v1.error;
    EXPECT_EQ(v1.trace.version, 1u);
    EXPECT_EQ(v1.trace.refused, "");
    EXPECT_FALSE(v1.trace.cut);
    ASSERT_EQ(v1.trace.calls.size(), 1658u);

    te::File f = te::parse(bytes);
    EXPECT_EQ(te::build(f), bytes);
    Read v2 = read(te::build(f, 2));
    ASSERT_TRUE(v2.ok) << v2.error;
    EXPECT_EQ(v2.trace.version, 2u);
    EXPECT_EQ(v2.trace.refused, "");
    ASSERT_EQ(v2.trace.calls.size(), v1.trace.calls.size());
    for (size_t i = 0; i < v1.trace.calls.size(); ++i)
        ASSERT_EQ(describe(v2.trace.calls[i]), describe(v1.trace.calls[i])) << i;

    te::build(f, 1);
    size_t blob = 0;
    while (f.records[blob].type != kRecordBlob)
        ++blob;
    f.records[blob].body[12] = char(f.records[blob].body[12] ^ 0x10);
    Read damaged = read(te::build(f));
    ASSERT_TRUE(damaged.ok) << damaged.error;
    std::string told = refusal(f, blob, "a blob");
    EXPECT_EQ(damaged.trace.refused.substr(0, told.size()), told);
}

} // namespace
