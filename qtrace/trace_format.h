/*
 * trace_format.h - the board trace: every call a program made through
 * qal.h and what the board answered, as the recorder (recorder/) writes
 * it and the replay (replay/replay.h) reads it.
 *
 * A trace is a header and then records, each one byte of type, its
 * body's length as a varint and the body, and in version 2 a checksum;
 * docs/replay.md describes every field. Numbers in bodies are LEB128 varints, signed ones zigzag
 * coded, so a typical call takes 15 to 30 bytes. Buffers of up to
 * kInlineBytes travel inside the call; a larger output is a blob record
 * of its own, written once and named by its digest by every call that
 * returned the same bytes; a larger input is only its digest, enough to
 * tell another call.
 *
 * The writer flushes each call as it ends, so a trace always ends in
 * whole records but for the last one, which a crash may cut: the reader
 * takes a record that runs past the end of the file as the end of the
 * trace. A whole record it cannot trust (its checksum, a body that does
 * not parse, a size beyond what the call's buffer holds or what memory
 * should be spent on) ends the trace too, and is told.
 */
#ifndef ZORVANTIK_QTRACE_TRACE_FORMAT_H
#define ZORVANTIK_QTRACE_TRACE_FORMAT_H

#include "qal_api.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qtrace {

constexpr char kMagic[8] = {'Q', 'A', 'L', 'T', 'R', 'A', 'C', 'E'};
constexpr uint32_t kVersion = 2;       /* what the recorder writes: every record checked by its checksum */
constexpr uint32_t kOldestVersion = 1; /* still read, unchecked */
constexpr uint32_t kHeaderBytes = 32;  /* version 1's header; version 2 adds its checksum */
constexpr uint32_t kHeaderBytes2 = 36;
constexpr uint32_t kChecksumBytes = 4;
constexpr uint32_t kInlineBytes = 64; /* larger buffers: outputs as blobs, inputs as digests */
constexpr uint32_t kStreamBytes = 64; /* bytes of the newest stream block kept after a state query */
constexpr uint8_t kStreamArg = 7;     /* the argument number those bytes are recorded under */

/* What the reader takes of a trace, whatever its records claim. The
 * program's largest buffer is 16 KB, the stream's largest block 16 MB:
 * no buffer of a call is larger than kMaxBufferBytes, no stream set-up
 * has more than kMaxStreamBlocks blocks, and the blobs of a trace come to
 * at most kMaxBlobBytes plus kBlobBytesPerByte bytes per byte of the file
 * (a whole run's blobs come to some 5 bytes per byte of its trace, a
 * trace of nothing but new 16 KB counts read to some 270). */
constexpr uint32_t kMaxBufferBytes = 16u << 20;
constexpr uint32_t kMaxStreamBlocks = 16;
constexpr uint64_t kMaxBlobBytes = 32u << 20;
constexpr uint64_t kBlobBytesPerByte = 512;
/* No call starts or lasts longer than some 12 days (2^40 microseconds),
 * which a replay with the recorded timing waits out. */
constexpr uint64_t kMaxMicroseconds = uint64_t(1) << 40;

/* Record types. */
constexpr uint8_t kRecordCall = 'C';
constexpr uint8_t kRecordBlob = 'B';

/* The functions of qal.h, numbered as the trace stores them
 * (api/qal_api.h). */
using qalapi::fFunctions;
using qalapi::Function;
#define QTRACE_FUNCTION(Id, ...) using qalapi::f##Id;
QAL_API(QTRACE_FUNCTION)
#undef QTRACE_FUNCTION

/* How a function's arguments show, in the words of the -V trace (see
 * api/qal_api.h), and the buffers it passes and fills. */
using Shape = qalapi::FunctionInfo;
const Shape &shape(uint32_t function); /* a name of "?" for an unknown number */

enum class Storage : uint8_t {
    Inline = 0, /* the bytes are in the call */
    Blob = 1,   /* an output stored in a blob record, by digest */
    Digest = 2, /* an input told by its digest only */
};

/* One buffer of a call: an input the program passed or an output the
 * board filled, belonging to argument `arg` (kStreamArg: the stream
 * block's words). */
struct Buffer {
    uint8_t arg = 0;
    bool out = false;
    Storage storage = Storage::Inline;
    uint32_t size = 0;
    uint64_t digest = 0;                               /* Blob, Digest */
    std::shared_ptr<const std::vector<uint8_t>> bytes; /* Inline; Blob once read; null for Digest */
};

struct Call {
    uint32_t function = 0;
    uint32_t thread = 0;     /* 0 the first thread to call, then in order of first call */
    uint64_t startUs = 0;    /* since the recorder's QAL_init */
    uint64_t durationNs = 0; /* how long the adapter took */
    std::vector<int32_t> args;
    int32_t result = 0;
    std::vector<Buffer> buffers;
    uint64_t number = 0; /* 1-based place among the trace's calls (reader) */
};

/* 64-bit digest of a buffer, the same on every host. */
uint64_t digest(const void *data, size_t size);

/* CRC-32 (the polynomial of zip and PNG), continued from `crc`: 0 starts
 * one, and crc32(crc32(0, a), b) is the checksum of a followed by b. */
uint32_t crc32(uint32_t crc, const void *data, size_t size);

/* Records as bytes, as version 2 frames them: the header, a blob (its
 * bytes coded as the writer sees fit), a call (a Blob buffer's bytes are
 * not in it). Each ends in its checksum, which continues the one before:
 * `running` is the checksum of everything written so far. */
std::string encodeHeader(uint64_t unixMs, uint32_t pointerBits, uint32_t &running);
void encodeBlob(uint64_t digest, const uint8_t *data, uint32_t size, std::string &out, uint32_t &running);
void encodeCall(const Call &call, std::string &out, uint32_t &running);

/* The bytes the program's buffer of argument `arg` holds in a call with
 * these arguments (as trace_calls.h sizes its outputs), or -1 when the
 * call fills no buffer of that argument. */
int64_t outputCapacity(const Call &call, uint8_t arg);

struct Trace {
    uint32_t version = 0;
    uint64_t unixMs = 0;      /* when recording began */
    uint32_t pointerBits = 0; /* of the recording program */
    std::vector<Call> calls;
    bool cut = false; /* the last record runs past the end of the file */
    /* "record N at byte B is refused: why" for the first record the
     * reader did not take (N counts every record from 1, B is where its
     * type byte stands); the calls before it are read. "" for none. */
    std::string refused;
};

/* Reads a whole trace. A missing or unreadable file, anything but a
 * regular file, a cut or damaged header, a file that is no trace or of
 * another version fails with one line "path: why" in `error`. */
bool readTrace(const std::string &path, Trace &out, std::string &error);
/* The same of bytes in memory, named `name` in the error. */
bool readTrace(const uint8_t *data, size_t size, const std::string &name, Trace &out, std::string &error);

/* The text with every control byte (below 0x20, and 0x7F) shown as
 * "\xHH", so that no byte of a file reaches a terminal as a command. */
std::string escapeControls(const std::string &text);

/* The call as the -V trace writes it: "QAL_readRAM(1, 0, 0x00080000,
 * buf, 16384, 1) = 0". Without `withResult`, no " = ...". */
std::string describe(const Call &call, bool withResult = true);

} // namespace qtrace

#endif /* ZORVANTIK_QTRACE_TRACE_FORMAT_H */
