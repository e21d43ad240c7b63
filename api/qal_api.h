/*
 * qal_api.h - the board API of qal.h as one table, and what is made of it.
 *
 * QAL_API(X) calls the macro X once for each function of qal.h, in the
 * order board traces number them (fInit = 1, fOpen = 2, ...):
 *
 *   X(Id, Result, Name, Shows, Failure, Arity, (Parameters), (Buffers))
 *
 *   Id          the function's short name: the enumerator f<Id> numbers it
 *   Result      its return type
 *   Name        its C name
 *   Shows       how the -V trace writes the result: "d", or "x" (0x%08X)
 *   Failure     what an adapter returns when the call cannot start at all
 *   Arity       the number of parameters
 *   Parameters  one (type, name, shows) per parameter; shows is how the
 *               -V trace writes the argument: "d" signed, "u" unsigned,
 *               "x" 0x%08X, "X" 0x%X, "H" a board handle, "S" a service
 *               handle, "s" a string (its bytes an input), "*" a size
 *               passed by pointer (its value on the way in); any other
 *               word names a pointer argument, written as that word or
 *               NULL
 *   Buffers     the memory the call reads (in) and fills (out), each with
 *               the argument it belongs to and what sizes it, in the order
 *               a trace keeps them (see Size below)
 *
 * The declarations of qal.h are checked against the table here, at
 * compile time. The trace format's call shapes and buffers, the
 * recorder's exports, the virtual board's exports and every -V trace
 * line are made from it, so a new function of the board API is one line
 * below and its behaviour in each adapter.
 *
 * This header depends on nothing but qal.h: every adapter may include it.
 */
#ifndef ZORVANTIK_API_QAL_API_H
#define ZORVANTIK_API_QAL_API_H

#include "qal.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

// clang-format off
#define QAL_API(X) \
    X(Init, int32_t, QAL_init, "d", -1, 2, ((int32_t, reserved1, "d"), (int32_t, reserved2, "d")), ()) \
    X(Open, int32_t, QAL_open, "d", 0, 3, ((int32_t, boardNumber, "d"), (int32_t, reserved1, "d"), (int32_t, reserved2, "d")), ()) \
    X(Close, int32_t, QAL_close, "d", -1, 1, ((int32_t, hBoard, "H")), ()) \
    X(Cleanup, int32_t, QAL_cleanup, "d", -1, 0, (), ()) \
    X(DisplayMode, int32_t, QAL_displayMode, "d", -1, 1, ((int32_t, mode, "X")), ()) \
    X(GetInfo, int32_t, QAL_getInfo, "d", -1, 2, ((int32_t, hBoard, "H"), (BoardInfo *, info, "info")), \
      (in(1, bytes(4)), out(1, bytes(QAL_BOARD_INFO_SIZE)))) \
    X(PuRead, int32_t, QAL_puRead, "d", -1, 5, ((int32_t, hBoard, "H"), (int32_t, unit, "d"), (uint32_t, offset, "u"), \
      (void *, buf, "buf"), (uint32_t, size, "u")), (out(3, argument(4)))) \
    X(Peek, uint32_t, QAL_peek, "x", 0xFFFFFFFFu, 3, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (uint32_t, address, "x")), ()) \
    X(Poke, int32_t, QAL_poke, "d", -1, 4, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (uint32_t, address, "x"), \
      (uint32_t, value, "x")), ()) \
    X(ReadRAM, int32_t, QAL_readRAM, "d", -1, 6, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (uint32_t, address, "x"), \
      (void *, buf, "buf"), (uint32_t, count, "u"), (uint32_t, elementSize, "u")), (out(3, ramBlock(4)))) \
    X(WriteRAM, int32_t, QAL_writeRAM, "d", -1, 6, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (uint32_t, address, "x"), \
      (const void *, buf, "buf"), (uint32_t, count, "u"), (uint32_t, elementSize, "u")), (in(3, ramBlock(4)))) \
    X(Load, int32_t, QAL_load, "d", -1, 5, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (const char *, fileName, "s"), \
      (int32_t, argc, "d"), (char **, argv, "argv")), (in(2, text()), in(4, texts(3)))) \
    X(Start, int32_t, QAL_start, "d", -1, 2, ((int32_t, hBoard, "H"), (int32_t, node, "d")), ()) \
    X(Reset, int32_t, QAL_reset, "d", -1, 2, ((int32_t, hBoard, "H"), (int32_t, node, "d")), ()) \
    X(PutMsg, int32_t, QAL_putMsg, "d", -1, 5, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (const void *, buf, "buf"), \
      (uint32_t *, size, "*"), (int32_t, timeoutMs, "d")), (in(2, pointee(3)), out(3, bytes(4)))) \
    X(GetMsg, int32_t, QAL_getMsg, "d", -1, 5, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (void *, buf, "buf"), \
      (uint32_t *, size, "*"), (int32_t, timeoutMs, "d")), (out(3, bytes(4)), out(2, pointee(3)))) \
    X(ReadDPRAM, int32_t, QAL_readDPRAM, "d", -1, 5, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (uint32_t, offset, "u"), \
      (void *, buf, "buf"), (uint32_t, size, "u")), (out(3, argument(4)))) \
    X(WriteDPRAM, int32_t, QAL_writeDPRAM, "d", -1, 5, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (uint32_t, offset, "u"), \
      (const void *, buf, "buf"), (uint32_t, size, "u")), (in(3, argument(4)))) \
    X(ReadFIFO, int32_t, QAL_readFIFO, "d", -1, 6, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (int32_t, fifo, "d"), \
      (void *, buf, "buf"), (uint32_t, size, "u"), (int32_t, timeoutMs, "d")), (out(3, argument(4)))) \
    X(WriteFIFO, int32_t, QAL_writeFIFO, "d", -1, 6, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (int32_t, fifo, "d"), \
      (const void *, buf, "buf"), (uint32_t, size, "u"), (int32_t, timeoutMs, "d")), (in(3, argument(4)))) \
    X(SignalSend, int32_t, QAL_signalSend, "d", -1, 3, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (int32_t, signal, "d")), ()) \
    X(SignalGrab, int32_t, QAL_signalGrab, "d", -1, 5, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (int32_t, signal, "d"), \
      (int32_t, flags, "d"), (int32_t, timeoutMs, "d")), ()) \
    X(SignalIack, int32_t, QAL_signalIack, "d", -1, 3, ((int32_t, hBoard, "H"), (int32_t, node, "d"), (int32_t, signal, "d")), ()) \
    X(ServiceList, int32_t, QAL_serviceList, "d", -1, 5, ((int32_t, hBoard, "H"), (int32_t, unit, "d"), \
      (ServiceEntry *, list, "list"), (int32_t, maxEntries, "d"), (int32_t *, count, "count")), \
      (out(2, entries(3, sizeof(ServiceEntry))), out(4, bytes(4)))) \
    X(Capture, int32_t, QAL_capture, "d", -1, 5, ((int32_t, hBoard, "H"), (int32_t, unit, "d"), (int32_t *, mode, "mode"), \
      (const char *, serviceName, "s"), (int32_t, timeoutMs, "d")), (in(2, bytes(4)), in(3, text()), out(2, bytes(4)))) \
    X(Ctrl, int32_t, QAL_ctrl, "d", -1, 4, ((int32_t, hService, "S"), (int32_t, unit, "d"), (int32_t, code, "X"), \
      (void *, arg, "arg")), (in(3, streamCtrl(2)), out(3, streamCtrl(2)))) \
    X(Release, int32_t, QAL_release, "d", -1, 2, ((int32_t, hService, "S"), (int32_t, unit, "d")), ())
// clang-format on

/* The parameters of a table entry, each through M(type, name, shows),
 * separated by commas: QAL_API_EACH(QAL_API_PARAMETER, Arity, (Parameters))
 * gives "int32_t hBoard, int32_t node", with QAL_API_NAME "hBoard, node". */
#define QAL_API_EACH(M, N, params) QAL_API_EXPAND(QAL_API_CAT(QAL_API_EACH_, N) QAL_API_WITH(M, params))
#define QAL_API_PARAMETER(type, name, shows) type name
#define QAL_API_NAME(type, name, shows) name
#define QAL_API_TYPE(type, name, shows) type
#define QAL_API_SHOWS(type, name, shows) shows

#define QAL_API_UNPAREN(...) __VA_ARGS__
#define QAL_API_EXPAND(x) x
#define QAL_API_CAT(a, b) QAL_API_CAT_(a, b)
#define QAL_API_CAT_(a, b) a##b
#define QAL_API_WITH(M, params) (M, QAL_API_UNPAREN params)
#define QAL_API_EACH_0(M, none)
#define QAL_API_EACH_1(M, a) M a
#define QAL_API_EACH_2(M, a, b) M a, M b
#define QAL_API_EACH_3(M, a, b, c) M a, M b, M c
#define QAL_API_EACH_4(M, a, b, c, d) M a, M b, M c, M d
#define QAL_API_EACH_5(M, a, b, c, d, e) M a, M b, M c, M d, M e
#define QAL_API_EACH_6(M, a, b, c, d, e, f) M a, M b, M c, M d, M e, M f

/* qal.h declares each function as the table does. */
#define QAL_API_CHECK(Id, Result, Name, Shows, Failure, N, Params, Buffers)                                            \
    static_assert(std::is_same<Result(QAL_API_EACH(QAL_API_TYPE, N, Params)), decltype(Name)>::value,                  \
                  #Name " is declared in qal.h as in the table of qal_api.h");
QAL_API(QAL_API_CHECK)
#undef QAL_API_CHECK

namespace qalapi {

/* The functions, numbered as traces store them. */
enum Function : uint32_t {
    fNone = 0,
#define QAL_API_ENUM(Id, ...) f##Id,
    QAL_API(QAL_API_ENUM)
#undef QAL_API_ENUM
        fFunctions
};

constexpr size_t kMaxArgs = 6;

/* What sizes a buffer, from the arguments as a trace keeps them. */
enum class Sizer : uint8_t {
    Bytes,      /* n bytes */
    Argument,   /* the value of argument `at` */
    Pointee,    /* the size argument `at` points to; an output's bytes filled are what it says after the call */
    Entries,    /* argument `at` entries of n bytes, none for a count below 1 */
    RamBlock,   /* argument `at` elements of the size argument at + 1 gives: 4 or 1 bytes, else none */
    Text,       /* a string with its NUL */
    Texts,      /* argument `at` strings, each with its NUL, one after the other */
    StreamCtrl, /* the stream's structure of the control code in argument `at`, none for another code; of
                 * a set-up only its four words, as the block addresses it returns are the host's own */
};

struct Size {
    Sizer sizer;
    uint8_t at;
    uint32_t n;
};

struct BufferRule {
    uint8_t arg; /* the argument the buffer belongs to */
    bool out;    /* filled by the board, else read from the program */
    Size size;
};

/* The words of the table's buffer column. */
namespace rules {
constexpr Size bytes(uint32_t n) { return {Sizer::Bytes, 0, n}; }
constexpr Size argument(uint8_t at) { return {Sizer::Argument, at, 0}; }
constexpr Size pointee(uint8_t at) { return {Sizer::Pointee, at, 0}; }
constexpr Size entries(uint8_t at, uint32_t each) { return {Sizer::Entries, at, each}; }
constexpr Size ramBlock(uint8_t at) { return {Sizer::RamBlock, at, 0}; }
constexpr Size text() { return {Sizer::Text, 0, 0}; }
constexpr Size texts(uint8_t at) { return {Sizer::Texts, at, 0}; }
constexpr Size streamCtrl(uint8_t at) { return {Sizer::StreamCtrl, at, 0}; }
constexpr BufferRule in(uint8_t arg, Size size) { return {arg, false, size}; }
constexpr BufferRule out(uint8_t arg, Size size) { return {arg, true, size}; }
} // namespace rules

/* One function of the table. */
struct FunctionInfo {
    const char *name;               /* "QAL_readRAM"; "?" for no function */
    std::vector<const char *> args; /* how each argument shows */
    bool hexResult;                 /* the result shows as 0x%08X */
    int64_t failure;                /* the result of a call that cannot start */
    std::vector<BufferRule> buffers;
};

/* The function of number f, or one named "?" with no arguments. */
const FunctionInfo &info(uint32_t f);

/* A call's arguments as a trace keeps them (a pointer as 1 or 0, a size
 * passed by pointer as its value) and, for a call being made, the
 * pointers themselves. `text` holds what the -V trace writes inside the
 * quotes of a string argument; null for a given string means unknown. */
struct CallArgs {
    uint32_t function = fNone;
    size_t count = 0;
    int32_t value[kMaxArgs];
    const void *pointer[kMaxArgs];
    const char *text[kMaxArgs];

    CallArgs() : value{}, pointer{}, text{} {}
    /* callArgs's: only the first `count` of each are ever set or read,
     * so a call of the C API does not clear all of them first. */
    struct Unset {};
    explicit CallArgs(Unset) {}
};

/* Argument `count` of the call: its value as a trace keeps it, its
 * pointer, its text. */
inline void put(CallArgs &a, int32_t v, const void *p = nullptr, const char *text = nullptr) {
    a.value[a.count] = v;
    a.pointer[a.count] = p;
    a.text[a.count++] = text;
}
inline void take(CallArgs &a, int32_t v) { put(a, v); }
inline void take(CallArgs &a, uint32_t v) { put(a, int32_t(v)); }
inline void take(CallArgs &a, const uint32_t *size) { put(a, size ? int32_t(*size) : 0, size); }
inline void take(CallArgs &a, const char *s) { put(a, s ? 1 : 0, s, s); }
inline void take(CallArgs &a, const void *p) { put(a, p ? 1 : 0, p); }
inline void take(CallArgs &a, std::nullptr_t) { take(a, static_cast<const void *>(nullptr)); }

/* The number of arguments of each function. */
constexpr size_t kArity[fFunctions] = {0,
#define QAL_API_ARITY(Id, Result, Name, Shows, Failure, N, ...) N,
                                       QAL_API(QAL_API_ARITY)
#undef QAL_API_ARITY
};

/* The arguments of a call of function F being made:
 * callArgs<fReadRAM>(hBoard, node, address, buf, count, elementSize). */
template <uint32_t F, class... A> CallArgs callArgs(A... args) {
    static_assert(F < fFunctions && sizeof...(A) == kArity[F], "the arguments of the function, as the table has them");
    CallArgs a{CallArgs::Unset{}};
    a.function = F;
    (take(a, args), ...);
    return a;
}

/* The bytes of a buffer the rule sizes from the call's argument values;
 * -1 when the call has no such buffer. Text and Texts, which only the
 * strings themselves size, give -1. */
int64_t bufferBytes(const BufferRule &rule, const int32_t *values, size_t count);

/* The call as the -V trace writes it: "QAL_readRAM(1, 0, 0x00080000, buf,
 * 16384, 1) = 0". Without `withResult`, no " = ...". */
std::string traceLine(const CallArgs &call, int32_t result, bool withResult = true);

} // namespace qalapi

#endif /* ZORVANTIK_API_QAL_API_H */
