/*
 * trace_format.h - the board trace: every call a program made through
 * qal.h and what the board answered, as the recorder (recorder/) writes
 * it and the virtual board's replay (sim/replay.h) reads it.
 *
 * A trace is a 32-byte header and then records, each one byte of type,
 * its body's length as a varint and the body; docs/replay.md describes
 * every field. Numbers in bodies are LEB128 varints, signed ones zigzag
 * coded, so a typical call takes 15 to 30 bytes. Buffers of up to
 * kInlineBytes travel inside the call; a larger output is a blob record
 * of its own, written once and named by its digest by every call that
 * returned the same bytes; a larger input is only its digest, enough to
 * tell another call.
 *
 * The writer flushes each call as it ends, so a trace always ends in
 * whole records but for the last one, which a crash may cut: the reader
 * takes a cut or garbled record as the end of the trace.
 */
#ifndef ZORVANTIK_QTRACE_TRACE_FORMAT_H
#define ZORVANTIK_QTRACE_TRACE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qtrace {

constexpr char kMagic[8] = {'Q', 'A', 'L', 'T', 'R', 'A', 'C', 'E'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kHeaderBytes = 32;
constexpr uint32_t kInlineBytes = 64; /* larger buffers: outputs as blobs, inputs as digests */
constexpr uint32_t kStreamBytes = 64; /* bytes of the newest stream block kept after a state query */
constexpr uint8_t kStreamArg = 7;     /* the argument number those bytes are recorded under */

/* Record types. */
constexpr uint8_t kRecordCall = 'C';
constexpr uint8_t kRecordBlob = 'B';

/* The functions of qal.h, numbered as the trace stores them. */
enum Function : uint32_t {
    fInit = 1,
    fOpen,
    fClose,
    fCleanup,
    fDisplayMode,
    fGetInfo,
    fPuRead,
    fPeek,
    fPoke,
    fReadRAM,
    fWriteRAM,
    fLoad,
    fStart,
    fReset,
    fPutMsg,
    fGetMsg,
    fReadDPRAM,
    fWriteDPRAM,
    fReadFIFO,
    fWriteFIFO,
    fSignalSend,
    fSignalGrab,
    fSignalIack,
    fServiceList,
    fCapture,
    fCtrl,
    fRelease,
    fFunctions
};

/* How a function's arguments show, in the words of the -V trace: "d"
 * signed, "u" unsigned, "x" 0x%08X, "X" 0x%X, "H" a board handle, "S" a
 * service handle, "s" a string (its bytes are an input buffer), "*" a
 * size passed by pointer (its value on the way in); any other word names
 * a pointer argument, stored as 1 or 0 for NULL. */
struct Shape {
    const char *name;
    std::vector<const char *> args;
    bool hexResult; /* QAL_peek's word */
};
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

/* Records as bytes: the header, a blob (its bytes coded as the writer
 * sees fit), a call (a Blob buffer's bytes are not in it). */
std::string encodeHeader(uint64_t unixMs, uint32_t pointerBits);
void encodeBlob(uint64_t digest, const uint8_t *data, uint32_t size, std::string &out);
void encodeCall(const Call &call, std::string &out);

struct Trace {
    uint64_t unixMs = 0;      /* when recording began */
    uint32_t pointerBits = 0; /* of the recording program */
    std::vector<Call> calls;
    bool cut = false; /* the last record was cut or garbled */
};

/* Reads a whole trace. A missing or unreadable file, a cut header, a file
 * that is no trace or of another version fails with one line "path: why"
 * in `error`. */
bool readTrace(const std::string &path, Trace &out, std::string &error);

/* The call as the -V trace writes it: "QAL_readRAM(1, 0, 0x00080000,
 * buf, 16384, 1) = 0". Without `withResult`, no " = ...". */
std::string describe(const Call &call, bool withResult = true);

} // namespace qtrace

#endif /* ZORVANTIK_QTRACE_TRACE_FORMAT_H */
