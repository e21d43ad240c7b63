// The virtual board's DSP programs and firmware through the C API: loading,
// each firmware's conversation with the host, the DMA stream, and blocked
// host calls that a reset or a close ends.
#include "qal.h"
#include "stream.h"

#include "support/sim_board.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Each test in a fresh directory with its own board file and dsp_app.
class SimFirmware : public SimBoardTest {
protected:
    SimFirmware() : SimBoardTest(false) {}
    // Writes NAME.ldr for `firmware`, loads it onto P1 and starts it.
    void run(int32_t h, const std::string &firmware, const std::string &params = "") {
        program(firmware + ".ldr", "ZORVANTIK-DSP 1\nfirmware = " + firmware + "\n" + params);
        ASSERT_EQ(load(h, 0, firmware + ".ldr"), 0);
        ASSERT_EQ(QAL_start(h, 0), 0);
    }
};

int32_t grab(int32_t h, int32_t timeoutMs) { return QAL_signalGrab(h, 0, 0, 0, timeoutMs); }

TEST_F(SimFirmware, LoadRefusesBadProgramsAndThenHoldsNothing) {
    int32_t h = open("cpu_mask = 0x03\n");
    program("ok.ldr", "\xEF\xBB\xBFZORVANTIK-DSP 1\r\n; comment\r\nfirmware = drvwrite   ; 4-byte messages\r\n"
                      "size = 4\r\n");
    program("header.ldr", "ZORVANTIK-DSP 2\nfirmware = echo\n");
    program("unknown.ldr", "ZORVANTIK-DSP 1\n\nfirmware = nope\n");
    program("param.ldr", "ZORVANTIK-DSP 1\nfirmware = echo\nsize = 4\n");
    program("none.ldr", "ZORVANTIK-DSP 1\n# nothing\n");

    ASSERT_EQ(load(h, 0, "ok.ldr"), 0);
    ASSERT_EQ(QAL_start(h, -1), 0);
    uint32_t words[2] = {0, 0}, size = 8;
    EXPECT_EQ(QAL_getMsg(h, 0, words, &size, 5000), 0);
    EXPECT_EQ(size, 4u);

    ::testing::internal::CaptureStderr();
    for (const char *bad : {"header.ldr", "unknown.ldr", "param.ldr", "none.ldr"})
        EXPECT_LT(load(h, 0, bad), 0) << bad;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "header.ldr:1: expected 'ZORVANTIK-DSP 1' or 'ZORVANTIK-DSP-SET 1', got 'ZORVANTIK-DSP 2'\n"
              "unknown.ldr:3: unknown firmware 'nope'\n"
              "param.ldr:3: firmware 'echo' takes no 'size'\n"
              "none.ldr:1: no 'firmware = name' line\n");

    ASSERT_EQ(load(h, 0, "ok.ldr"), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_LT(load(h, 0, "missing.ldr"), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), ""); // a missing program is a board fault, not a typo
    EXPECT_LT(QAL_start(h, 0), 0);                           // the failed load left nothing
    EXPECT_LT(QAL_start(h, -1), 0);

    EXPECT_EQ(load(h, 1, "ok.ldr"), 0);
    for (int32_t node : {2, 6, 7, -1})
        EXPECT_LT(load(h, node, "ok.ldr"), 0) << node;
    EXPECT_LT(QAL_load(h, 0, nullptr, 0, nullptr), 0);
}

TEST_F(SimFirmware, CsdramSignalsThenSendsTheDynamicMemoryFindings) {
    for (bool healthy : {true, false}) {
        int32_t h = open(healthy ? ""
                                 : "p1_sdram_chips = 0x80100000, 0x100000, 0x40000, 0\nsdrcon = 0x4A51\n"
                                   "csdram_cycles = 2000000\n");
        run(h, "csdram");
        ASSERT_EQ(grab(h, 100000), 1);
        EXPECT_EQ(grab(h, 0), 1); // pending until acknowledged
        EXPECT_EQ(QAL_signalIack(h, 0, 0), 0);
        uint32_t msg[9] = {}, size = 32;
        ASSERT_EQ(QAL_getMsg(h, 0, msg, &size, -1), 0);
        EXPECT_EQ(size, 32u);
        std::vector<uint32_t> words(msg, msg + 6);
        if (healthy)
            EXPECT_EQ(words, (std::vector<uint32_t>{0x100000, 0x100000, 0x100000, 0x100000, 0x3A49, 20000000}));
        else
            EXPECT_EQ(words, (std::vector<uint32_t>{0x80100000, 0x100000, 0x40000, 0, 0x4A51, 2000000}));
        EXPECT_EQ(grab(h, 0), 0);
        QAL_close(h);
    }
}

// The host waits up to 100 s for csdram's signal; once csdram has halted
// nothing can raise it, so the wait ends at once.
TEST_F(SimFirmware, SilentCsdramOrADeadInterruptLineEndTheGrabEarly) {
    for (const char *fault : {"csdram_signal = no\n", "interrupts = dead\n"}) {
        int32_t h = open(fault);
        run(h, "csdram");
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(grab(h, 100000), 0) << fault;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(50)) << fault;
        uint32_t msg[8], size = 32;
        bool sent = std::string(fault) == "interrupts = dead\n"; // the message has its own way
        EXPECT_EQ(QAL_getMsg(h, 0, msg, &size, sent ? 5000 : 0) == 0, sent) << fault;
        QAL_close(h);
    }
}

// A processor that hangs part way, or a line dead one way: a host wait
// with a limit ends at once, as the board knows that nothing can come.
// Waits without a limit are left as they are.
TEST_F(SimFirmware, SilentFirmwareAndDeadLinesEndBoundedWaitsAtOnce) {
    const auto limit = std::chrono::seconds(50);
    auto quick = [&](std::function<void()> wait) {
        auto start = std::chrono::steady_clock::now();
        wait();
        return std::chrono::steady_clock::now() - start < limit;
    };
    int32_t h = open("dsp_silent = P1:pcdspint:3\n");
    run(h, "pcdspint");
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(QAL_signalSend(h, 0, 0), 0);
        ASSERT_EQ(grab(h, -1), 1) << i;
        ASSERT_EQ(QAL_signalIack(h, 0, 0), 0);
    }
    ASSERT_EQ(QAL_signalSend(h, 0, 0), 0);
    EXPECT_TRUE(quick([&] { EXPECT_EQ(grab(h, 100000), 0); }));

    // Dead towards the processors: pcdspint never hears the host, while
    // dsppcint's interrupts still reach it.
    QAL_close(h);
    h = open("interrupts = to_dsp_dead\n");
    run(h, "pcdspint");
    ASSERT_EQ(QAL_signalSend(h, 0, 0), 0);
    EXPECT_TRUE(quick([&] { EXPECT_EQ(grab(h, 100000), 0); }));
    run(h, "dsppcint");
    EXPECT_EQ(grab(h, 100000), 1);

    // Dead towards the host: dsppcint raises, nothing shows.
    QAL_close(h);
    h = open("interrupts = dead\n");
    run(h, "dsppcint");
    EXPECT_TRUE(quick([&] { EXPECT_EQ(grab(h, 100000), 0); }));

    // Messages: what was sent before the silence arrives, then a timeout.
    QAL_close(h);
    h = open("dsp_silent = P1:csdram:1\n");
    run(h, "csdram");
    ASSERT_EQ(grab(h, 100000), 1);
    ASSERT_EQ(QAL_signalIack(h, 0, 0), 0);
    uint32_t msg[8], size = 32;
    EXPECT_TRUE(quick([&] { EXPECT_EQ(QAL_getMsg(h, 0, msg, &size, 100000), -6); }));
    EXPECT_EQ(size, 0u);
}

TEST_F(SimFirmware, InterruptFirmwareAnswerOneSignalAtATime) {
    int32_t h = open();
    run(h, "pcdspint");
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(QAL_signalSend(h, 0, 0), 0);
        ASSERT_EQ(grab(h, -1), 1) << i;
        ASSERT_EQ(QAL_signalIack(h, 0, 0), 0);
    }
    EXPECT_EQ(grab(h, 20), 0); // one answer per signal, no more

    run(h, "dsppcint");
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(grab(h, -1), 1) << i;
        ASSERT_EQ(QAL_signalIack(h, 0, 0), 0);
    }
    EXPECT_EQ(grab(h, 5000), 1); // and on without end
    EXPECT_LT(QAL_signalSend(h, 0, 8), 0);
    EXPECT_LT(QAL_signalGrab(h, 0, -1, 0, 0), 0);
}

TEST_F(SimFirmware, MessageFirmwareMoveThousandsOfMessages) {
    int32_t h = open();
    std::vector<uint32_t> buf(4097);
    run(h, "drvread");
    for (int i = 0; i < 1024; ++i) {
        uint32_t size = 16384;
        ASSERT_EQ(QAL_putMsg(h, 0, buf.data(), &size, 5000), 0) << i;
    }

    // drvwrite counts words across its messages: none lost, none repeated.
    run(h, "drvwrite");
    for (uint32_t i = 0; i < 1024; ++i) {
        uint32_t size = 16384;
        ASSERT_EQ(QAL_getMsg(h, 0, buf.data(), &size, 5000), 0) << i;
        ASSERT_EQ(size, 16384u);
        ASSERT_EQ(buf[0], i * 4096);
        ASSERT_EQ(buf[4095], i * 4096 + 4095);
    }
    // A message longer than the buffer is cut; its rest is gone.
    uint32_t size = 8;
    EXPECT_LT(QAL_getMsg(h, 0, buf.data(), &size, 5000), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(buf[0], 1024u * 4096);
    EXPECT_EQ(buf[1], 1024u * 4096 + 1);
    size = 16384;
    ASSERT_EQ(QAL_getMsg(h, 0, buf.data(), &size, 5000), 0);
    EXPECT_EQ(buf[0], 1025u * 4096);

    run(h, "echo");
    for (uint32_t i = 0; i < 1000; ++i) {
        uint32_t out[16] = {i, ~i}, in[16] = {}, n = 4 + i % 60;
        ASSERT_EQ(QAL_putMsg(h, 0, out, &n, 5000), 0);
        ASSERT_EQ(QAL_getMsg(h, 0, in, &n, 5000), 0);
        ASSERT_EQ(n, 4 + i % 60);
        ASSERT_EQ(std::memcmp(in, out, n), 0) << i;
    }
}

TEST_F(SimFirmware, FifoFirmwareFeedAndDrain16MegabytesPerInterface) {
    int32_t h = open();
    std::vector<uint32_t> buf(4096);
    for (const char *source : {"rfifo", "rfifol"}) {
        run(h, source);
        for (uint32_t i = 0; i < 1024; ++i) {
            ASSERT_EQ(QAL_readFIFO(h, 0, 8, buf.data(), 16384, 5000), 0) << source << " " << i;
            for (uint32_t k = 0; k < 4096; ++k)
                ASSERT_EQ(buf[k], i * 4096 + k) << source;
        }
    }
    for (const char *sink : {"wfifo", "wfifol"}) {
        run(h, sink);
        for (int i = 0; i < 1024; ++i)
            ASSERT_EQ(QAL_writeFIFO(h, 0, 8, buf.data(), 16384, 5000), 0) << sink << " " << i;
    }
    // Nothing feeds the FIFO now: a read times out. Port 8 of P1 only.
    EXPECT_LT(QAL_readFIFO(h, 0, 8, buf.data(), 4, 20), 0);
    EXPECT_LT(QAL_readFIFO(h, 0, 7, buf.data(), 4, 0), 0);
    EXPECT_LT(QAL_writeFIFO(h, 1, 8, buf.data(), 4, 0), 0);
}

// Host calls blocked without limit on node 0, whose firmware never answers,
// end when the node is reset or the board closed from another thread (the
// program's Ctrl-C thread); the firmware threads are joined by then.
TEST_F(SimFirmware, ResetOrCloseFromAnotherThreadEndsBlockedCalls) {
    using Call = std::function<int32_t(int32_t h)>;
    const Call calls[] = {
        [](int32_t h) {
            uint32_t word, size = 4;
            int32_t status = QAL_getMsg(h, 0, &word, &size, -1);
            return size == 0 ? status : 0;
        },
        [](int32_t h) { return grab(h, -1); },
        [](int32_t h) {
            uint32_t word;
            return QAL_readFIFO(h, 0, 8, &word, 4, -1);
        },
        [](int32_t h) {
            std::vector<uint8_t> block(1 << 20);
            return QAL_writeFIFO(h, 0, 8, block.data(), uint32_t(block.size()), -1);
        },
    };
    for (const char *how : {"reset", "close", "cleanup"}) {
        for (const Call &call : calls) {
            int32_t h = open();
            run(h, "drvread"); // takes messages, never sends, signals or touches the FIFO
            int32_t status = 0;
            std::atomic<bool> done{false};
            std::thread host([&] {
                status = call(h);
                done = true;
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(20)); // into its wait, most likely
            if (std::string(how) == "reset") {
                while (!done) { // should the call only now begin to wait
                    EXPECT_EQ(QAL_reset(h, 0), 0);
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            } else {
                std::string(how) == "close" ? QAL_close(h) : QAL_cleanup();
            }
            host.join();
            EXPECT_LT(status, 0) << how;
            QAL_cleanup();
        }
    }
}

// The stream service as the host's stream test uses it.
class SimStream : public SimFirmware {
protected:
    void capture(const std::string &keys, int32_t wantMode) {
        h_ = open(keys);
        int32_t count = 0;
        ServiceEntry list[10];
        ASSERT_EQ(QAL_serviceList(h_, 1, list, 0, &count), 0);
        EXPECT_EQ(count, 1);
        ASSERT_EQ(QAL_serviceList(h_, 1, list, 10, &count), 0);
        EXPECT_STREQ(list[0].name, "STREAM0");
        int32_t mode = 1;
        service_ = QAL_capture(h_, 1, &mode, list[0].name, 5000);
        ASSERT_GT(service_, 0);
        EXPECT_EQ(mode, wantMode);
        setup_ = {1, 1, 16, 65536, blocks_, 0};
        ASSERT_EQ(QAL_ctrl(service_, 1, QALctrl_STREAM_CBUF_ALLOC, &setup_), 0);
        EXPECT_EQ(setup_.blockSize, 65536u);
    }
    int32_t query(StreamBufferState &state, uint32_t timeoutMs = 5000) {
        state = StreamBufferState{};
        state.timeoutMs = timeoutMs;
        return QAL_ctrl(service_, 1, QALctrl_STREAM_CBUF_STATE, &state);
    }
    // The newest block starts with the running word count of its number.
    void expectRecognisable(const StreamBufferState &s) {
        ASSERT_LT(s.blockIndex, 16u);
        ASSERT_GT(s.blockCount, 0u);
        EXPECT_EQ(s.blockIndex, (s.blockCount - 1) % 16);
        const uint32_t *block = static_cast<const uint32_t *>(blocks_[s.blockIndex]);
        EXPECT_EQ(block[0], (s.blockCount - 1) * 16384);
        EXPECT_EQ(block[1], block[0] + 1);
        EXPECT_EQ(block[16383], block[0] + 16383);
    }
    void freeAndRelease() {
        EXPECT_EQ(QAL_ctrl(service_, 1, QALctrl_STREAM_CBUF_FREE, &setup_), 0);
        EXPECT_EQ(QAL_release(service_, 1), 0);
        EXPECT_LT(QAL_release(service_, 1), 0);
        StreamBufferState state;
        EXPECT_LT(query(state), 0);
    }

    int32_t h_ = 0, service_ = 0;
    void *blocks_[128] = {};
    StreamBufferSetup setup_{};
};

TEST_F(SimStream, OwnerStartsQueriesStopsAndReleases) {
    capture("", QAL_CAPTURE_EXCLUSIVE);
    StreamBufferState state;
    EXPECT_LT(query(state), 0); // not started: nothing can come
    run(h_, "tst_strm");
    StreamStartArg start{1};
    ASSERT_EQ(QAL_ctrl(service_, 1, QALctrl_STREAM_CBUF_START, &start), 0);
    uint32_t last = 0;
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(query(state), 0) << i;
        EXPECT_EQ(state.state, 1u);
        EXPECT_GT(state.blockCount, last);
        last = state.blockCount;
        expectRecognisable(state);
    }
    EXPECT_EQ(QAL_ctrl(service_, 1, QALctrl_STREAM_CBUF_STOP, nullptr), 0);
    while (query(state) == 0) // what filled before the stop, then nothing
        EXPECT_EQ(state.state, 0u);
    EXPECT_EQ(state.state, 0u);
    freeAndRelease();

    int32_t mode = 1; // free again for the next client
    EXPECT_GT(QAL_capture(h_, 1, &mode, "STREAM0", 0), 0);
}

TEST_F(SimStream, ObserverSeesBlocksFillWithoutStartingThem) {
    capture("stream_mode = 2\n", QAL_CAPTURE_SHARED);
    StreamStartArg start{1};
    EXPECT_LT(QAL_ctrl(service_, 1, QALctrl_STREAM_CBUF_START, &start), 0);
    EXPECT_LT(QAL_ctrl(service_, 1, QALctrl_STREAM_CBUF_STOP, nullptr), 0);
    StreamBufferState state;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(query(state), 0);
        expectRecognisable(state);
    }
    freeAndRelease();
}

TEST_F(SimStream, RefusedCaptureAndFailingQueries) {
    int32_t h = open("stream_capture = refused\n");
    int32_t mode = 1;
    EXPECT_LT(QAL_capture(h, 1, &mode, "STREAM0", 5000), 0);
    QAL_close(h);

    capture("stream_state_fail_from = 3\n", QAL_CAPTURE_EXCLUSIVE);
    EXPECT_LT(QAL_capture(h_, 1, &mode, "STREAM0", 0), 0); // held already
    run(h_, "tst_strm");
    StreamStartArg start{1};
    ASSERT_EQ(QAL_ctrl(service_, 1, QALctrl_STREAM_CBUF_START, &start), 0);
    StreamBufferState state;
    EXPECT_EQ(query(state), 0);
    EXPECT_EQ(query(state), 0);
    EXPECT_LT(query(state), 0);
    EXPECT_LT(query(state), 0);
    freeAndRelease();
}

// A started stream that no firmware feeds: a query with a limit times out
// at once; once tst_strm runs, blocks come.
TEST_F(SimStream, StreamThatNothingFeedsTimesOutAtOnce) {
    capture("", QAL_CAPTURE_EXCLUSIVE);
    StreamStartArg start{1};
    ASSERT_EQ(QAL_ctrl(service_, 1, QALctrl_STREAM_CBUF_START, &start), 0);
    StreamBufferState state;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(query(state, 100000), -6);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(50));
    EXPECT_EQ(state.state, 1u); // running, but empty
    run(h_, "tst_strm");
    EXPECT_EQ(query(state, 100000), 0);
    expectRecognisable(state);
    freeAndRelease();
}

// Closing a board with a running stream and its producers stops and joins
// them all; the service handle goes with the board.
TEST_F(SimStream, CloseEndsARunningStream) {
    for (const char *keys : {"", "stream_mode = 2\n"}) {
        capture(keys, keys[0] ? QAL_CAPTURE_SHARED : QAL_CAPTURE_EXCLUSIVE);
        run(h_, "tst_strm");
        StreamStartArg start{1};
        QAL_ctrl(service_, 1, QALctrl_STREAM_CBUF_START, &start);
        StreamBufferState state;
        ASSERT_EQ(query(state), 0);
        EXPECT_EQ(QAL_close(h_), 0);
        EXPECT_LT(query(state), 0);
        EXPECT_LT(QAL_release(service_, 1), 0);
    }
}

// The stream's data: word i of a block is the count of words before it
// plus i, modulo 2^32, whatever the block's length and where the count
// stands; and nothing past the block is written.
TEST(StreamWordCount, EachWordIsItsPlaceInTheStream) {
    const uint64_t befores[] = {0, 1, 4, 0xFFFFFFFDull, 0xFFFFFFFFull, 0x100000000ull + 5, 0x123456789ull};
    for (uint64_t before : befores)
        for (size_t count : {0, 1, 3, 4, 5, 7, 8, 9, 31, 1024, 1027}) {
            SCOPED_TRACE(testing::Message() << "before " << before << ", count " << count);
            std::vector<uint32_t> words(count + 2, 0xA5A5A5A5);
            streamWordCount(words.data(), count, before);
            for (size_t i = 0; i < count; ++i)
                ASSERT_EQ(words[i], uint32_t(before + i)) << "word " << i;
            EXPECT_EQ(words[count], 0xA5A5A5A5u);
            EXPECT_EQ(words[count + 1], 0xA5A5A5A5u);
        }
}

} // namespace
