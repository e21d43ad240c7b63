// The virtual board through its C API, as the program sees it.
#include "qal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFpga = 0x80000010;
constexpr uint32_t kNone = 0xFFFFFFFF;

// Each test runs in a fresh directory of its own, where it may write a
// board file; every board is closed and the trace is off afterwards.
class SimQal : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = fs::current_path();
        dir_ = fs::temp_directory_path() /
               ("sim_qal_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir_);
        fs::current_path(dir_);
        QAL_displayMode(0);
    }
    void TearDown() override {
        QAL_displayMode(0);
        QAL_cleanup();
        fs::current_path(saved_);
        fs::remove_all(dir_);
    }
    void boardFile(const std::string &text) { std::ofstream(dir_ / "virtual-board.ini", std::ios::binary) << text; }
    int32_t open(int32_t number = 1) {
        int32_t h = QAL_open(number, 0, 0);
        EXPECT_GT(h, 0) << "board " << number;
        return h;
    }
    // The identification area as the program reads it: 128 bytes into a
    // larger buffer whose tail the library must not touch.
    std::vector<uint8_t> idArea(int32_t h) {
        std::vector<uint8_t> area(256, 0xEE);
        EXPECT_EQ(QAL_puRead(h, 1, 0, area.data(), 128), 0);
        EXPECT_EQ(area[128], 0xEE);
        area.resize(128);
        return area;
    }

private:
    fs::path saved_, dir_;
};

uint32_t le16(const std::vector<uint8_t> &a, size_t at) { return a[at] | a[at + 1] << 8; }

TEST_F(SimQal, HandlesAreStableWhileOpenAndNeverReused) {
    int32_t h1 = open(1);
    EXPECT_EQ(QAL_open(1, 0, 0), h1);
    int32_t h2 = open(2);
    EXPECT_NE(h2, h1);

    EXPECT_EQ(QAL_close(h1), 0);
    EXPECT_LT(QAL_close(h1), 0);
    EXPECT_LT(QAL_close(0), 0);
    EXPECT_LT(QAL_close(-7), 0);
    BoardInfo info{};
    info.size = QAL_BOARD_INFO_SIZE;
    EXPECT_LT(QAL_getInfo(h1, &info), 0);
    EXPECT_EQ(QAL_peek(h1, 0, kFpga), kNone);

    int32_t h3 = open(1);
    EXPECT_NE(h3, h1);
    EXPECT_NE(h3, h2);
    int32_t h4 = open(-1); // every number has a board, healthy by default
    EXPECT_NE(h4, h3);

    EXPECT_EQ(QAL_cleanup(), 0);
    for (int32_t h : {h2, h3, h4})
        EXPECT_LT(QAL_close(h), 0);
}

TEST_F(SimQal, NoBoardFileGivesAHealthyBoard) {
    EXPECT_EQ(QAL_init(0, 0), 0);
    int32_t h = open(5);
    BoardInfo info{};
    info.size = QAL_BOARD_INFO_SIZE;
    ASSERT_EQ(QAL_getInfo(h, &info), 0);
    EXPECT_EQ(info.boardType, 0x53660010u);
    EXPECT_EQ(QAL_peek(h, 0, kFpga), 0x01040200u);
    std::vector<uint8_t> a = idArea(h);
    EXPECT_EQ(le16(a, 22), 0x5366u);
    EXPECT_EQ(le16(a, 22 + 5), 250u);
    EXPECT_EQ(le16(a, 22 + 20), 0x7Fu);
    EXPECT_EQ(a[22 + 24] | a[22 + 25], 0);
    for (int node = 0; node < 7; ++node) {
        EXPECT_EQ(QAL_poke(h, node, 0x80000, 0x100u + node), 0) << node;
        EXPECT_EQ(QAL_peek(h, node, 0x80000), 0x100u + node) << node;
    }
}

TEST_F(SimQal, AbsentBoardAndFailingInitComeFromTheBoardFile) {
    boardFile("[board 2]\npresent = no\n[library]\ninit = fail\n");
    EXPECT_EQ(QAL_open(2, 0, 0), 0);
    open(1);
    EXPECT_LT(QAL_init(0, 0), 0);
}

// QAL_init reads only [library]; QAL_open checks the whole file. Either
// refuses a malformed file in one line on stderr.
TEST_F(SimQal, MalformedBoardFileFailsWithOneLineOnStderr) {
    boardFile("[board 1]\r\nserial = 1\r\ncpu_mak = 3\r\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(QAL_init(0, 0), 0);
    EXPECT_EQ(QAL_open(1, 0, 0), 0);
    EXPECT_EQ(QAL_open(2, 0, 0), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "virtual-board.ini:3: unknown key 'cpu_mak' in [board 1]\n"
                                                        "virtual-board.ini:3: unknown key 'cpu_mak' in [board 1]\n");

    boardFile("[library]\ninit = maybe\n");
    ::testing::internal::CaptureStderr();
    EXPECT_LT(QAL_init(0, 0), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "virtual-board.ini:2: 'init' wants ok or fail, got 'maybe'\n");
}

TEST_F(SimQal, GetInfoFillsTheWholeBlock) {
    boardFile("[board 3]\nmodel = 0x1234\nversion = 0x0123\nserial = 77\npci_bus = 4\n"
              "pci_device = 13\npci_ctrl_mem = 0xF1000000\npci_ctrl_io = 0xC001\n"
              "device_io = 0xB001\ndevice_mem = 0xE2000000\nirq = 9\n");
    int32_t h = open(3);
    BoardInfo expected;
    std::memset(&expected, 0, sizeof expected);
    expected.size = QAL_BOARD_INFO_SIZE;
    expected.boardType = 0x12340123;
    expected.serialNumber = 77;
    expected.pciBus = 4;
    expected.pciDevice = 13;
    expected.pciCtrlMemAddr = 0xF1000000;
    expected.pciCtrlIoAddr = 0xC001;
    expected.devIoAddr = 0xB001;
    expected.devMemAddr = 0xE2000000;
    expected.irq = 9;

    BoardInfo info;
    std::memset(&info, 0xAB, sizeof info);
    info.size = QAL_BOARD_INFO_SIZE;
    ASSERT_EQ(QAL_getInfo(h, &info), 0);
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);

    std::memset(&info, 0xAB, sizeof info);
    info.size = QAL_BOARD_INFO_SIZE - 1;
    EXPECT_LT(QAL_getInfo(h, &info), 0);
    EXPECT_EQ(info.boardType, 0xABABABABu);
    EXPECT_LT(QAL_getInfo(h, nullptr), 0);
}

TEST_F(SimQal, PeekAndPokeReachEveryBankOfEveryProcessorSeparately) {
    int32_t h = open();
    for (uint32_t base : {0x00000u, 0x80000u, 0x100000u}) {
        EXPECT_EQ(QAL_poke(h, 0, base, base ^ 0x5A5A5A5A), 0);
        EXPECT_EQ(QAL_poke(h, 0, base + 0xFFFF, ~base), 0);
    }
    EXPECT_EQ(QAL_poke(h, 6, 0x80000, 0x66666666), 0);
    for (uint32_t base : {0x00000u, 0x80000u, 0x100000u}) {
        EXPECT_EQ(QAL_peek(h, 0, base), base ^ 0x5A5A5A5A) << std::hex << base;
        EXPECT_EQ(QAL_peek(h, 0, base + 0xFFFF), ~base) << std::hex << base;
    }
    EXPECT_EQ(QAL_peek(h, 6, 0x80000), 0x66666666u);
}

TEST_F(SimQal, UnmappedAddressesReadAllOnesAndIgnoreWrites) {
    int32_t h = open();
    ASSERT_EQ(QAL_poke(h, 0, 0x00000, 0x11111111), 0);
    for (uint32_t address : {0x10000u, 0x7FFFFu, 0x90000u, 0x110000u, 0x80000000u, kNone}) {
        EXPECT_LT(QAL_poke(h, 0, address, 0x22222222), 0) << std::hex << address;
        EXPECT_EQ(QAL_peek(h, 0, address), kNone) << std::hex << address;
    }
    EXPECT_EQ(QAL_peek(h, 0, 0x00000), 0x11111111u);
}

TEST_F(SimQal, FpgaVersionWordIsReadOnlyOnNodeZero) {
    boardFile("[board 1]\nfpga_version = 3.2.1\ncpu_mask = 0x40\n");
    int32_t h = open();
    EXPECT_EQ(QAL_peek(h, 0, kFpga), 0x03020100u); // the FPGA answers without P1
    EXPECT_EQ(QAL_poke(h, 0, kFpga, 0), 0);
    EXPECT_EQ(QAL_peek(h, 0, kFpga), 0x03020100u);
    EXPECT_EQ(QAL_peek(h, 6, kFpga), kNone);
}

TEST_F(SimQal, AbsentProcessorsAnswerWithSafeValues) {
    boardFile("[board 1]\ncpu_mask = 0x21\n");
    int32_t h = open();
    uint32_t word = 0x12345678;
    for (int32_t node : {1, 2, 3, 4, 6, 7, -1}) {
        EXPECT_LT(QAL_poke(h, node, 0x80000, 1), 0) << node;
        EXPECT_EQ(QAL_peek(h, node, 0x80000), kNone) << node;
        EXPECT_LT(QAL_readRAM(h, node, 0x80000, &word, 1, 4), 0) << node;
    }
    EXPECT_EQ(word, 0x12345678u);
    EXPECT_EQ(QAL_poke(h, 5, 0x80000, 5), 0);
    EXPECT_EQ(QAL_peek(h, 5, 0x80000), 5u);
}

TEST_F(SimQal, RamBlocksMoveWordsByByteOrWordCount) {
    int32_t h = open();
    std::vector<uint32_t> out(4096), in(4096);
    for (uint32_t i = 0; i < out.size(); ++i)
        out[i] = i * 0x9E3779B9u;

    ASSERT_EQ(QAL_writeRAM(h, 0, 0x80000, out.data(), 16384, 1), 0);
    ASSERT_EQ(QAL_readRAM(h, 0, 0x80000, in.data(), 16384, 1), 0);
    EXPECT_EQ(in, out);
    EXPECT_EQ(QAL_peek(h, 0, 0x80001), out[1]); // addresses count words

    // The last 4096 words of bank 2, from and into unaligned host buffers.
    std::vector<uint8_t> raw(16384 + 1);
    std::memcpy(raw.data() + 1, out.data(), 16384);
    ASSERT_EQ(QAL_writeRAM(h, 3, 0x10F000, raw.data() + 1, 4096, 4), 0);
    std::fill(raw.begin(), raw.end(), 0);
    ASSERT_EQ(QAL_readRAM(h, 3, 0x10F000, raw.data() + 1, 4096, 4), 0);
    EXPECT_EQ(std::memcmp(raw.data() + 1, out.data(), 16384), 0);
    EXPECT_EQ(QAL_peek(h, 3, 0x10FFFF), out[4095]);

    in.assign(4, 7);
    EXPECT_LT(QAL_readRAM(h, 0, 0x80000, in.data(), 6, 1), 0);
    EXPECT_LT(QAL_readRAM(h, 0, 0x80000, in.data(), 2, 2), 0);
    EXPECT_LT(QAL_readRAM(h, 0, 0x80000, nullptr, 4, 4), 0);
    EXPECT_LT(QAL_writeRAM(h, 0, 0x80000, nullptr, 4, 4), 0);
    EXPECT_EQ(in, std::vector<uint32_t>(4, 7));
    EXPECT_EQ(QAL_readRAM(h, 0, 0x80000, nullptr, 0, 4), 0);
}

TEST_F(SimQal, RamBlockLeavingABankMovesOnlyItsMappedPart) {
    int32_t h = open();
    std::vector<uint32_t> out = {1, 2, 3, 4, 5, 6, 7, 8}, in(8, 0);
    EXPECT_LT(QAL_writeRAM(h, 1, 0xFFFC, out.data(), 8, 4), 0);
    EXPECT_LT(QAL_readRAM(h, 1, 0xFFFC, in.data(), 8, 4), 0);
    EXPECT_EQ(in, (std::vector<uint32_t>{1, 2, 3, 4, kNone, kNone, kNone, kNone}));
    EXPECT_LT(QAL_readRAM(h, 1, 0xFFFFFFFC, in.data(), 8, 4), 0); // no wrap to 0
    EXPECT_EQ(in, std::vector<uint32_t>(8, kNone));
}

// Stuck bits show in every read of their words, through either way of
// reading, and only there.
TEST_F(SimQal, StuckBitsShowThroughPeekAndReadRam) {
    boardFile("[board 1]\nram_stuck_bit = P1:0x80003:0:1, P1:0x80000-0x80FFF:31:1, P2:0x10:4:0\n");
    int32_t h = open();
    std::vector<uint32_t> zeros(4097, 0), in(4097);
    ASSERT_EQ(QAL_writeRAM(h, 0, 0x80000, zeros.data(), 4097, 4), 0);
    EXPECT_EQ(QAL_peek(h, 0, 0x80003), 0x80000001u);
    ASSERT_EQ(QAL_readRAM(h, 0, 0x80000, in.data(), 4097 * 4, 1), 0);
    for (uint32_t i = 0; i < 4096; ++i)
        ASSERT_EQ(in[i], i == 3 ? 0x80000001u : 0x80000000u) << i;
    EXPECT_EQ(in[4096], 0u); // 0x81000 lies beyond the range

    ASSERT_EQ(QAL_poke(h, 1, 0x10, kNone), 0);
    ASSERT_EQ(QAL_poke(h, 0, 0x10, kNone), 0);
    EXPECT_EQ(QAL_peek(h, 1, 0x10), 0xFFFFFFEFu);
    EXPECT_EQ(QAL_peek(h, 0, 0x10), kNone);
}

// The host's DPRAM check writes and reads words 0..127 one by one: all but
// the status register (word 8) read back.
TEST_F(SimQal, DpramMailboxStatusRegisterAndSharedMemory) {
    int32_t h = open();
    for (uint32_t j = 0; j < 128; ++j)
        ASSERT_EQ(QAL_writeDPRAM(h, 0, j * 4, &j, 4), 0);
    for (uint32_t j = 0; j < 128; ++j) {
        uint32_t word = 0xDEAD;
        ASSERT_EQ(QAL_readDPRAM(h, 0, j * 4, &word, 4), 0);
        if (j == 8)
            EXPECT_NE(word, 8u);
        else
            EXPECT_EQ(word, j) << j;
    }

    // Shared memory: 2560 bytes from 0x80; beyond them nothing answers.
    std::vector<uint8_t> block(2560), back(2568, 0);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7 + 1);
    ASSERT_EQ(QAL_writeDPRAM(h, 0, 0x80, block.data(), 2560), 0);
    EXPECT_LT(QAL_readDPRAM(h, 0, 0x80, back.data(), 2568), 0);
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 2560), block);
    EXPECT_EQ(std::vector<uint8_t>(back.begin() + 2560, back.end()), std::vector<uint8_t>(8, 0xFF));
    EXPECT_LT(QAL_writeDPRAM(h, 0, 0xFFFFFFFC, block.data(), 8), 0);
    uint32_t word = 0;
    EXPECT_LT(QAL_readDPRAM(h, 0, 0xFFFFFFFC, &word, 4), 0);
    EXPECT_EQ(word, kNone);
    EXPECT_LT(QAL_readDPRAM(h, 1, 0x80, &word, 4), 0); // the DPRAM is P1's
    EXPECT_LT(QAL_readDPRAM(h, 0, 0x80, nullptr, 4), 0);
}

TEST_F(SimQal, WithoutDpramReadsAreAllOnesAndWritesVanish) {
    boardFile("[board 1]\ndpram = no\n");
    int32_t h = open();
    uint32_t pattern[2] = {0x12345678, 0xEDCBA987}, back[2] = {0, 0};
    EXPECT_LT(QAL_writeDPRAM(h, 0, 128, pattern, 8), 0);
    EXPECT_LT(QAL_readDPRAM(h, 0, 128, back, 8), 0);
    EXPECT_EQ(back[0], kNone);
    EXPECT_EQ(back[1], kNone);
    EXPECT_LT(QAL_readDPRAM(h, 0, 0, back, 4), 0);
    EXPECT_EQ(back[0], kNone);
}

// Without a firmware nobody takes or sends messages: the queue fills, and
// gets time out with nothing received.
TEST_F(SimQal, MessageQueuesAreBoundedAndTimeOut) {
    int32_t h = open();
    uint32_t word = 7, size = 4;
    int puts = 0;
    while (puts < 100 && QAL_putMsg(h, 0, &word, &size, 0) == 0)
        ++puts;
    EXPECT_EQ(puts, 16);
    EXPECT_LT(QAL_putMsg(h, 0, &word, &size, 20), 0);

    size = 4;
    EXPECT_LT(QAL_getMsg(h, 0, &word, &size, 20), 0);
    EXPECT_EQ(size, 0u);
    size = 65537;
    std::vector<uint8_t> big(65537);
    EXPECT_LT(QAL_putMsg(h, 1, big.data(), &size, 0), 0);
    EXPECT_LT(QAL_putMsg(h, 0, &word, nullptr, 0), 0);
    size = 4;
    EXPECT_LT(QAL_getMsg(h, 7, &word, &size, 0), 0);
    EXPECT_EQ(size, 0u);
}

// Where the board's own entry starts for each size of the 0x0610 entry:
// a size other than 18 carries one data byte more than it says.
TEST_F(SimQal, IdAreaPlacesTheBoardEntryAfterThePrefixEntry) {
    const std::pair<uint32_t, size_t> cases[] = {{18, 22}, {17, 22}, {20, 25}, {0, 5}};
    for (const auto &c : cases) {
        boardFile("[board 1]\nid_prefix_size = " + std::to_string(c.first) +
                  "\ncpu_clock = 0x1234\ncpu_mask = 0x55\nsubmodules = 2\n"
                  "x5 = synx\nx6 = 3\n");
        int32_t h = open();
        std::vector<uint8_t> a = idArea(h);
        size_t e = c.second;
        EXPECT_EQ(le16(a, 0), 0x0610u);
        EXPECT_EQ(le16(a, 2), c.first);
        EXPECT_EQ(le16(a, e), 0x5366u) << "prefix size " << c.first;
        EXPECT_GE(le16(a, e + 2), 22u);
        EXPECT_EQ(a[e + 4], 2u);
        EXPECT_EQ(le16(a, e + 5), 0x1234u);
        EXPECT_EQ(le16(a, e + 20), 0x55u);
        EXPECT_EQ(a[e + 24], 1u);
        EXPECT_EQ(a[e + 25], 3u);
        size_t end = e + 4 + le16(a, e + 2);
        EXPECT_EQ(le16(a, end), 0x00FFu);
        EXPECT_EQ(le16(a, end + 2), 0u);
        for (size_t i = end + 4; i < 128; ++i)
            EXPECT_EQ(a[i], 0xFF) << i;
        QAL_close(h);
    }
}

TEST_F(SimQal, IdAreaFaultsAndReadsOutsideIt) {
    boardFile("[board 1]\nid_tag = 0x1234\n[board 2]\nid_prefix_size = 200\n");
    int32_t h1 = open(1);
    EXPECT_EQ(le16(idArea(h1), 22), 0x1234u);

    int32_t h2 = open(2);
    std::vector<uint8_t> a = idArea(h2);
    EXPECT_EQ(le16(a, 2), 200u);
    uint8_t far[8];
    EXPECT_EQ(QAL_puRead(h2, 1, 205, far, 8), 0); // where the entry would be
    for (uint8_t b : far)
        EXPECT_EQ(b, 0xFF);

    uint8_t tail[16];
    ASSERT_EQ(QAL_puRead(h1, 1, 120, tail, 16), 0);
    EXPECT_EQ(std::memcmp(tail, idArea(h1).data() + 120, 8), 0);
    for (int i = 8; i < 16; ++i)
        EXPECT_EQ(tail[i], 0xFF) << i;
    ASSERT_EQ(QAL_puRead(h1, 1, 0xFFFFFFF8u, tail, 16), 0);
    for (uint8_t b : tail)
        EXPECT_EQ(b, 0xFF);

    EXPECT_LT(QAL_puRead(h1, 0, 0, tail, 16), 0);
    EXPECT_LT(QAL_puRead(h1, 2, 0, tail, 16), 0);
    EXPECT_LT(QAL_puRead(h1, 1, 0, nullptr, 16), 0);
}

TEST_F(SimQal, TraceWritesOneLinePerCallWhileOn) {
    ::testing::internal::CaptureStderr();
    QAL_displayMode(QAL_DISPLAY_TRACE);
    int32_t h = QAL_open(1, 0, 0);
    QAL_peek(h, 0, kFpga);
    BoardInfo info{};
    info.size = QAL_BOARD_INFO_SIZE;
    QAL_getInfo(h, &info);
    QAL_readRAM(h, 0, 0x80000, nullptr, 4, 4);
    QAL_displayMode(0);
    QAL_peek(h, 0, kFpga);
    std::string hs = std::to_string(h);
    std::string expected = "QAL_displayMode(0x8F) = 0\n";
    expected += "QAL_open(1, 0, 0) = " + hs + "\n";
    expected += "QAL_peek(" + hs + ", 0, 0x80000010) = 0x01040200\n";
    expected += "QAL_getInfo(" + hs + ", info) = 0\n";
    expected += "QAL_readRAM(" + hs + ", 0, 0x00080000, NULL, 4, 4) = -3\n";
    expected += "QAL_displayMode(0x0) = 0\n";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);
}

TEST_F(SimQal, TraceLinesOfTwoThreadsNeverInterleave) {
    int32_t h = open();
    const int kCalls = 2000;
    ::testing::internal::CaptureStderr();
    QAL_displayMode(QAL_DISPLAY_TRACE);
    auto caller = [h](int32_t node) {
        for (int i = 0; i < kCalls; ++i)
            QAL_peek(h, node, 0x80000);
    };
    std::thread other(caller, 1);
    caller(0);
    other.join();
    QAL_displayMode(0);
    std::istringstream out(::testing::internal::GetCapturedStderr());
    const std::string hs = std::to_string(h);
    const std::set<std::string> allowed = {"QAL_peek(" + hs + ", 0, 0x00080000) = 0x00000000",
                                           "QAL_peek(" + hs + ", 1, 0x00080000) = 0x00000000",
                                           "QAL_displayMode(0x8F) = 0", "QAL_displayMode(0x0) = 0"};
    int lines = 0;
    for (std::string line; std::getline(out, line); ++lines)
        ASSERT_EQ(allowed.count(line), 1u) << line;
    EXPECT_EQ(lines, 2 * kCalls + 2);
}

// The Ctrl-C thread closes the board while the main thread is inside
// board calls: those calls end with a failure, nothing is freed under them.
TEST_F(SimQal, CloseOrCleanupFromAnotherThreadDuringCalls) {
    for (bool cleanup : {false, true}) {
        int32_t h = open();
        std::atomic<int> calls{0};
        std::thread ctrlC([&] {
            while (calls < 200)
                std::this_thread::yield();
            cleanup ? QAL_cleanup() : QAL_close(h);
        });
        std::vector<uint32_t> buf(4096, 1);
        int32_t status = 0;
        while (status >= 0) {
            status = calls % 2 ? QAL_readRAM(h, 0, 0x80000, buf.data(), 4096, 4)
                               : QAL_writeRAM(h, 0, 0x80000, buf.data(), 4096, 4);
            ++calls;
        }
        ctrlC.join();
        EXPECT_GE(calls, 200);
        EXPECT_EQ(QAL_peek(h, 0, 0x80000), kNone);
        EXPECT_LT(QAL_close(h), 0);
    }
}

// A thread finds its board through its last lookup: it must never answer
// for another handle, nor outlive a close or an open made elsewhere.
TEST_F(SimQal, EachCallReachesTheBoardOfItsOwnHandle) {
    int32_t a = open(1), b = open(2);
    uint32_t word = 0;
    for (uint32_t i = 0; i < 8; ++i) { // the two boards in turn, each its own DPRAM
        uint32_t mine = i % 2 ? 0xB000 + i : 0xA000 + i;
        ASSERT_EQ(QAL_writeDPRAM(i % 2 ? b : a, 0, 0x80, &mine, 4), 0);
        ASSERT_EQ(QAL_readDPRAM(i % 2 ? b : a, 0, 0x80, &word, 4), 0);
        EXPECT_EQ(word, mine) << i;
    }
    ASSERT_EQ(QAL_readDPRAM(a, 0, 0x80, &word, 4), 0);
    EXPECT_EQ(word, 0xA006u);

    // Closed and opened again on another thread, while this one still has
    // the old board as its last lookup: the old handle fails, the new one
    // reaches a new board.
    int32_t again = 0;
    std::thread([&] {
        QAL_close(a);
        again = QAL_open(1, 0, 0);
    }).join();
    ASSERT_GT(again, 0);
    EXPECT_NE(again, a);
    EXPECT_LT(QAL_readDPRAM(a, 0, 0x80, &word, 4), 0);
    ASSERT_EQ(QAL_readDPRAM(again, 0, 0x80, &word, 4), 0);
    EXPECT_EQ(word, 0u);
    ASSERT_EQ(QAL_readDPRAM(b, 0, 0x80, &word, 4), 0);
    EXPECT_EQ(word, 0xB007u);

    // Two threads at the DPRAM while a third closes the board: a read
    // sees one whole write, never a mix of two, and no call succeeds once
    // the close has returned.
    std::atomic<bool> closed{false};
    std::atomic<int> afterClose{0}, torn{0};
    auto writer = [&](uint8_t fill) {
        std::vector<uint8_t> out(2560, fill), in(2560);
        for (int i = 0; i < 20000; ++i) {
            bool after = closed;
            if (QAL_writeDPRAM(b, 0, 0x80, out.data(), 2560) == 0 && after)
                ++afterClose;
            if (QAL_readDPRAM(b, 0, 0x80, in.data(), 2560) == 0 &&
                std::count(in.begin(), in.end(), in[0]) != long(in.size()))
                ++torn;
        }
    };
    std::thread w1(writer, 0x11), w2(writer, 0x22);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    QAL_close(b);
    closed = true;
    w1.join();
    w2.join();
    EXPECT_EQ(afterClose, 0);
    EXPECT_EQ(torn, 0);
}

} // namespace
