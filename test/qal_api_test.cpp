// The table of the board API (api/qal_api.h) in-process: for a call of
// every function, with buffers in and out, the -V trace line reads as the
// virtual board has always written it, the buffers a trace keeps are
// those of the call, and the call comes back through the trace format
// with the same line and the same room for its outputs.
#include "qal_api.h"
#include "trace_calls.h"
#include "trace_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace qtrace;
using Sizes = std::vector<std::pair<int, uint32_t>>; // (argument, bytes)

struct Case {
    qalapi::CallArgs args;
    int32_t result;
    const char *line; // as the virtual board's printf formats wrote it
    Sizes ins, outs;
};

Sizes sizes(const std::vector<Buffer> &buffers) {
    Sizes s;
    for (const Buffer &b : buffers)
        s.push_back({b.arg, b.size});
    return s;
}

Sizes sizes(const std::vector<CallIo::Out> &outs) {
    Sizes s;
    for (const CallIo::Out &o : outs)
        s.push_back({o.arg, o.capacity});
    return s;
}

// The outputs as the recorder keeps them, every byte inline.
Call recordedCall(CallIo &io, int32_t result) {
    Call c = io.call;
    c.result = result;
    for (const CallIo::Out &o : io.outs) {
        Buffer b = o.filled();
        b.bytes = std::make_shared<const std::vector<uint8_t>>(o.bytes(), o.bytes() + b.size);
        c.buffers.push_back(std::move(b));
    }
    return c;
}

TEST(QalApi, EveryFunctionTracesKeepsItsBuffersAndRoundTripsThroughATrace) {
    BoardInfo info{};
    info.size = QAL_BOARD_INFO_SIZE;
    uint8_t buf[64] = {1, 2, 3};
    uint32_t size = 24, asked = 40;
    ServiceEntry list[3] = {};
    int32_t count = 0, mode = QAL_CAPTURE_EXCLUSIVE;
    char arg0[] = "-v", arg1[] = "x";
    char *argv[] = {arg0, arg1};
    StreamBufferSetup setup{1, 1, 4, 4096, nullptr, 0};
    StreamBufferState state{};
    StreamStartArg start{1};
    using namespace qalapi;

    // clang-format off
    const std::vector<Case> cases = {
        {callArgs<fInit>(0, -7), 0, "QAL_init(0, -7) = 0", {}, {}},
        {callArgs<fOpen>(2, 0, 0), 1, "QAL_open(2, 0, 0) = 1", {}, {}},
        {callArgs<fClose>(-3), -2, "QAL_close(-3) = -2", {}, {}},
        {callArgs<fCleanup>(), 0, "QAL_cleanup() = 0", {}, {}},
        {callArgs<fDisplayMode>(QAL_DISPLAY_TRACE), 0, "QAL_displayMode(0x8F) = 0", {}, {}},
        {callArgs<fGetInfo>(1, &info), 0, "QAL_getInfo(1, info) = 0", {{1, 4}}, {{1, 280}}},
        {callArgs<fGetInfo>(1, nullptr), -3, "QAL_getInfo(1, NULL) = -3", {}, {}},
        {callArgs<fPuRead>(1, 1, 0xFFFFFFF0u, buf, 33u), 0, "QAL_puRead(1, 1, 4294967280, buf, 33) = 0", {}, {{3, 33}}},
        {callArgs<fPeek>(1, 6, 0x80000u), int32_t(0xDEADBEEF), "QAL_peek(1, 6, 0x00080000) = 0xDEADBEEF", {}, {}},
        {callArgs<fPoke>(1, 0, 0x3FFu, 0xCAFEu), 0, "QAL_poke(1, 0, 0x000003FF, 0x0000CAFE) = 0", {}, {}},
        {callArgs<fReadRAM>(1, 2, 0x1000u, buf, 16u, 1u), 0, "QAL_readRAM(1, 2, 0x00001000, buf, 16, 1) = 0", {},
         {{3, 16}}},
        {callArgs<fReadRAM>(1, 2, 0x1000u, buf, 8u, 4u), 0, "QAL_readRAM(1, 2, 0x00001000, buf, 8, 4) = 0", {},
         {{3, 32}}},
        {callArgs<fReadRAM>(1, 2, 0x1000u, buf, 8u, 2u), -3, "QAL_readRAM(1, 2, 0x00001000, buf, 8, 2) = -3", {},
         {{3, 0}}},
        {callArgs<fWriteRAM>(1, 3, 0x20u, buf, 12u, 4u), 0, "QAL_writeRAM(1, 3, 0x00000020, buf, 12, 4) = 0",
         {{3, 48}}, {}},
        {callArgs<fLoad>(1, 4, "p\x1b.ldr", 2, argv), 0, "QAL_load(1, 4, \"p\x1b.ldr\", 2, argv) = 0",
         {{2, 7}, {4, 5}}, {}},
        {callArgs<fLoad>(1, 4, nullptr, 0, nullptr), -3, "QAL_load(1, 4, NULL, 0, NULL) = -3", {}, {}},
        {callArgs<fStart>(1, -1), 0, "QAL_start(1, -1) = 0", {}, {}},
        {callArgs<fReset>(1, 5), 0, "QAL_reset(1, 5) = 0", {}, {}},
        {callArgs<fPutMsg>(1, 0, buf, &size, -1), 0, "QAL_putMsg(1, 0, buf, 24, -1) = 0", {{2, 24}}, {{3, 4}}},
        {callArgs<fGetMsg>(1, 0, buf, &asked, 100), 0, "QAL_getMsg(1, 0, buf, 40, 100) = 0", {}, {{3, 4}, {2, 40}}},
        {callArgs<fGetMsg>(1, 0, buf, nullptr, 100), -3, "QAL_getMsg(1, 0, buf, 0, 100) = -3", {}, {{2, 0}}},
        {callArgs<fReadDPRAM>(1, 0, 100u, buf, 20u), 0, "QAL_readDPRAM(1, 0, 100, buf, 20) = 0", {}, {{3, 20}}},
        {callArgs<fWriteDPRAM>(1, 0, 100u, buf, 20u), 0, "QAL_writeDPRAM(1, 0, 100, buf, 20) = 0", {{3, 20}}, {}},
        {callArgs<fReadFIFO>(1, 1, 2, buf, 60u, 5), -1, "QAL_readFIFO(1, 1, 2, buf, 60, 5) = -1", {}, {{3, 60}}},
        {callArgs<fWriteFIFO>(1, 1, 2, buf, 8u, -1), 0, "QAL_writeFIFO(1, 1, 2, buf, 8, -1) = 0", {{3, 8}}, {}},
        {callArgs<fSignalSend>(1, 0, 3), 0, "QAL_signalSend(1, 0, 3) = 0", {}, {}},
        {callArgs<fSignalGrab>(1, 0, 3, 9, 250), -1, "QAL_signalGrab(1, 0, 3, 9, 250) = -1", {}, {}},
        {callArgs<fSignalIack>(1, 0, 3), 0, "QAL_signalIack(1, 0, 3) = 0", {}, {}},
        {callArgs<fServiceList>(1, 1, list, 3, &count), 0, "QAL_serviceList(1, 1, list, 3, count) = 0", {},
         {{2, 60}, {4, 4}}},
        {callArgs<fServiceList>(1, 1, list, -2, nullptr), -3, "QAL_serviceList(1, 1, list, -2, NULL) = -3", {},
         {{2, 0}}},
        {callArgs<fCapture>(1, 1, &mode, "STREAM0", 5000), 1, "QAL_capture(1, 1, mode, \"STREAM0\", 5000) = 1",
         {{2, 4}, {3, 8}}, {{2, 4}}},
        {callArgs<fCtrl>(1, 1, int32_t(QALctrl_STREAM_CBUF_ALLOC), &setup), 0, "QAL_ctrl(1, 1, 0xE00, arg) = 0",
         {{3, 16}}, {{3, 16}}},
        {callArgs<fCtrl>(1, 1, int32_t(QALctrl_STREAM_CBUF_FREE), &setup), 0, "QAL_ctrl(1, 1, 0xE02, arg) = 0",
         {{3, 16}}, {}},
        {callArgs<fCtrl>(1, 1, int32_t(QALctrl_STREAM_CBUF_START), &start), 0, "QAL_ctrl(1, 1, 0xE03, arg) = 0",
         {{3, 4}}, {}},
        {callArgs<fCtrl>(1, 1, int32_t(QALctrl_STREAM_CBUF_STOP), nullptr), 0, "QAL_ctrl(1, 1, 0xE04, NULL) = 0", {},
         {}},
        {callArgs<fCtrl>(2, 1, int32_t(QALctrl_STREAM_CBUF_STATE), &state), -2, "QAL_ctrl(2, 1, 0xE05, arg) = -2",
         {{3, 20}}, {{3, 20}}},
        {callArgs<fCtrl>(1, 1, 0x123, &state), -3, "QAL_ctrl(1, 1, 0x123, arg) = -3", {}, {}},
        {callArgs<fRelease>(1, 1), 0, "QAL_release(1, 1) = 0", {}, {}},
    };
    // clang-format on

    std::set<uint32_t> covered;
    uint32_t running = 0;
    std::string bytes = encodeHeader(0, 64, running);
    std::vector<Call> written;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.line);
        covered.insert(k.args.function);
        EXPECT_EQ(k.args.count, shape(k.args.function).args.size());
        EXPECT_EQ(traceLine(k.args, k.result), k.line);
        CallIo io = qtrace::callIo(k.args);
        EXPECT_EQ(sizes(io.call.buffers), k.ins);
        EXPECT_EQ(sizes(io.outs), k.outs);
        written.push_back(recordedCall(io, k.result));
        encodeCall(written.back(), bytes, running);
    }
    EXPECT_EQ(covered.size(), size_t(fFunctions - 1)) << "a case for every function of the table";

    Trace trace;
    std::string error;
    ASSERT_TRUE(readTrace(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), "t", trace, error)) << error;
    EXPECT_EQ(trace.refused, "");
    ASSERT_EQ(trace.calls.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const Call &c = trace.calls[i];
        SCOPED_TRACE(cases[i].line);
        EXPECT_EQ(c.args, written[i].args);
        // Replay and qal-trace show a file's control bytes escaped.
        std::string line = cases[i].line;
        if (c.function == fLoad && c.args[2])
            line.replace(line.find('\x1b'), 1, "\\x1B");
        EXPECT_EQ(describe(c), line);
        EXPECT_EQ(describe(c, false), line.substr(0, line.rfind(" = ")));
        for (const auto &o : cases[i].outs)
            EXPECT_EQ(outputCapacity(c, uint8_t(o.first)), int64_t(o.second)) << "argument " << o.first;
    }
}

// What an adapter returns for a call that cannot start, and the names a
// library is looked up by.
TEST(QalApi, FailuresAndNamesAreThoseOfQalH) {
    EXPECT_EQ(qalapi::info(qalapi::fPeek).failure, 0xFFFFFFFFll);
    EXPECT_EQ(qalapi::info(qalapi::fOpen).failure, 0);
    EXPECT_EQ(qalapi::info(qalapi::fLoad).failure, -1);
    EXPECT_STREQ(qalapi::info(qalapi::fInit).name, "QAL_init");
    EXPECT_STREQ(qalapi::info(qalapi::fRelease).name, "QAL_release");
    EXPECT_STREQ(qalapi::info(qalapi::fFunctions).name, "?");
    EXPECT_STREQ(qalapi::info(0).name, "?");
    EXPECT_EQ(qalapi::fFunctions, 28u);
}

} // namespace
