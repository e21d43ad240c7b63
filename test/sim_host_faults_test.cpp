// Faults of the host machine under the virtual board, through its C API:
// files that are there but are no files (a directory in their place), a
// program file far too long, a program set refused part way, and a host
// that runs out of memory. None of them may end the process; each is one
// failed call with one line on stderr.
#include "qal.h"

#include "support/sim_board.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int32_t kNoProgram = -9;
constexpr std::uintmax_t kProgramLimit = 65536;

class SimHostFaults : public SimBoardTest {
protected:
    // `name` in dsp_app/ becomes a directory, as a slip at the bench makes it.
    void directoryFor(const std::string &name) {
        fs::remove(dir() / "dsp_app" / name);
        fs::create_directory(dir() / "dsp_app" / name);
    }
    // A sparse file of `bytes` bytes that starts as a program would.
    void sparseProgram(const std::string &name, std::uintmax_t bytes) {
        program(name, "ZORVANTIK-DSP 1\nfirmware = echo\n");
        fs::resize_file(dir() / "dsp_app" / name, bytes);
    }
};

TEST_F(SimHostFaults, BoardFileThatIsADirectoryFailsInitAndOpenInOneLineEach) {
    fs::create_directory(dir() / "virtual-board.ini");
    ::testing::internal::CaptureStderr();
    EXPECT_LT(QAL_init(0, 0), 0);
    EXPECT_EQ(QAL_open(1, 0, 0), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "virtual-board.ini: cannot be read (Is a directory)\n"
                                                        "virtual-board.ini: cannot be read (Is a directory)\n");

    // Nothing of it sticks: without the directory the built-in board opens.
    fs::remove(dir() / "virtual-board.ini");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(QAL_init(0, 0), 0);
    EXPECT_GT(QAL_open(1, 0, 0), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// Unlike a missing program, which fails quietly, a directory in its place
// is named; either way the node loaded through holds nothing afterwards.
TEST_F(SimHostFaults, ProgramFileThatIsADirectoryIsRefusedInOneLine) {
    int32_t h = open();
    ASSERT_EQ(load(h, 0, "csdram.ldr"), 0);
    ASSERT_EQ(load(h, 2, "cfft_p3.tsx"), 0);
    directoryFor("csdram.ldr");
    directoryFor("cfft_p3.tsx");

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(load(h, 0, "csdram.ldr"), kNoProgram);
    EXPECT_EQ(load(h, 2, "cfft_p3.tsx"), kNoProgram);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "csdram.ldr: cannot be read (Is a directory)\n"
                                                        "cfft_p3.tsx: cannot be read (Is a directory)\n");
    EXPECT_EQ(QAL_start(h, 0), kNoProgram);
    EXPECT_EQ(QAL_start(h, 2), kNoProgram);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(load(h, 0, "no-such.ldr"), kNoProgram);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// The limit is told from the file's size: a sparse gigabyte is refused as
// one byte too many is, with the same line.
TEST_F(SimHostFaults, ProgramFilesOverTheLimitAreRefusedAsTooLong) {
    int32_t h = open();
    sparseProgram("limit.ldr", kProgramLimit);
    sparseProgram("over.ldr", kProgramLimit + 1);
    sparseProgram("huge.ldr", std::uintmax_t(1) << 30);
    // The padding of a file at the limit is a comment, so that file loads.
    std::ofstream(dir() / "dsp_app" / "limit.ldr", std::ios::binary | std::ios::in | std::ios::out)
        .seekp(std::streamoff(std::strlen("ZORVANTIK-DSP 1\nfirmware = echo\n")))
        .put(';');
    ASSERT_EQ(fs::file_size(dir() / "dsp_app" / "limit.ldr"), kProgramLimit);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(load(h, 0, "limit.ldr"), 0);
    EXPECT_EQ(load(h, 0, "over.ldr"), kNoProgram);
    EXPECT_EQ(load(h, 0, "huge.ldr"), kNoProgram);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "over.ldr:1: too long for a program file\n"
                                                        "huge.ldr:1: too long for a program file\n");
    EXPECT_EQ(QAL_start(h, 0), kNoProgram);
}

// A set refused for its second section places nothing of its first: the
// load fails as for a missing file, P1 holds nothing and nothing runs,
// and the other processors keep what they held.
TEST_F(SimHostFaults, SetWithABadLaterSectionPlacesNothing) {
    struct Case {
        const char *file, *text, *complaint;
    } cases[] = {
        {"twice.tsx", "ZORVANTIK-DSP-SET 1\n[P1]\nfirmware = cfft\n[P1]\nfirmware = cfft\n",
         "twice.tsx:4: section [p1] already began on line 2\n"},
        {"unknown.tsx", "ZORVANTIK-DSP-SET 1\n[P1]\nfirmware = cfft\n[P2]\nfirmware = nosuch\n",
         "unknown.tsx:5: unknown firmware 'nosuch'\n"},
        {"stray.tsx", "ZORVANTIK-DSP-SET 1\n[P1]\nfirmware = cfft\n[P2]\nfirmware = cfft\nmembers = 3\n",
         "stray.tsx:6: firmware 'cfft' takes no 'members'\n"},
    };
    int32_t h = open();
    for (const Case &c : cases) {
        program(c.file, c.text);
        ASSERT_EQ(load(h, 0, "cfft_p1.tsx"), 0);
        ASSERT_EQ(load(h, 1, "cfft_p2.tsx"), 0);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(load(h, 0, c.file), kNoProgram) << c.file;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.complaint);
        EXPECT_EQ(QAL_start(h, 0), kNoProgram) << c.file;
        uint32_t word = 0, size = 4;
        EXPECT_LT(QAL_getMsg(h, 0, &word, &size, 200), 0) << c.file;
        EXPECT_EQ(size, 0u) << c.file;
        EXPECT_EQ(QAL_start(h, 1), 0) << c.file;
    }
}

TEST_F(SimHostFaults, OneNodeProgramThatFailsToParseLeavesItsNodeEmpty) {
    int32_t h = open();
    program("late.ldr", "ZORVANTIK-DSP 1\nfirmware = cfft\nfirmware = echo\n");
    ASSERT_EQ(load(h, 3, "cfft_p4.tsx"), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(load(h, 3, "late.ldr"), kNoProgram);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "late.ldr:3: 'firmware' repeats line 2 in [program]\n");
    EXPECT_EQ(QAL_start(h, 3), kNoProgram);
}

// A host short of memory, made so in a child process: its address space
// may grow by `headroom` bytes beyond what it holds now. Sanitizers map
// their own shadow memory and cannot run under such a limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryLimitWorks = false;
#else
constexpr bool kMemoryLimitWorks = true;
#endif

void limitMemory(std::uintmax_t headroom) {
    std::ifstream statm("/proc/self/statm");
    std::uintmax_t pages = 0;
    statm >> pages;
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = rlim_t(pages * std::uintmax_t(sysconf(_SC_PAGESIZE)) + headroom);
    if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) {
        std::fprintf(stderr, "no memory limit\n");
        std::_Exit(2);
    }
}

constexpr std::uintmax_t kHeadroom = 32u << 20;

// Exits the child: 0 when everything expected held, else 1 with the
// first thing that did not on stderr.
[[noreturn]] void expectAll(std::initializer_list<std::pair<bool, const char *>> checks) {
    for (const auto &c : checks) {
        if (!c.first) {
            std::fprintf(stderr, "failed: %s\n", c.second);
            std::_Exit(1);
        }
    }
    std::_Exit(0);
}

using SimHostFaultsDeathTest = SimHostFaults;

// Sixteen blocks of 16 MB do not fit: the set-up fails, the service stays
// as it was, and the board goes on, the largest message included.
TEST_F(SimHostFaultsDeathTest, StreamBlocksBeyondTheHostsMemoryFailOnlyTheCall) {
    if (!kMemoryLimitWorks)
        GTEST_SKIP() << "no address-space limit under a sanitizer";
    int32_t h = open();
    program("echo.ldr", "ZORVANTIK-DSP 1\nfirmware = echo\n");
    auto child = [&] {
        limitMemory(kHeadroom);
        int32_t mode = QAL_CAPTURE_EXCLUSIVE;
        int32_t service = QAL_capture(h, 1, &mode, "STREAM0", 0);
        void *blocks[16] = {};
        StreamBufferSetup big = {1, 1, 16, 16u << 20, blocks, 0};
        StreamBufferSetup small = {1, 1, 2, 4096, blocks, 0};
        int32_t failed = QAL_ctrl(service, 1, QALctrl_STREAM_CBUF_ALLOC, &big);
        int32_t fitted = QAL_ctrl(service, 1, QALctrl_STREAM_CBUF_ALLOC, &small);
        std::vector<uint8_t> out(65536, 0x5A), in(65536);
        uint32_t size = 65536;
        bool echoed = load(h, 0, "echo.ldr") == 0 && QAL_start(h, 0) == 0 &&
                      QAL_putMsg(h, 0, out.data(), &size, 5000) == 0 && QAL_getMsg(h, 0, in.data(), &size, 5000) == 0 &&
                      size == 65536 && in == out;
        expectAll({{service > 0, "capture"},
                   {failed == -1, "the big set-up fails"},
                   {fitted == 0, "a small set-up works after it"},
                   {echoed, "a 64 KB message goes and comes back"},
                   {QAL_ctrl(service, 1, QALctrl_STREAM_CBUF_FREE, &small) == 0, "free"},
                   {QAL_release(service, 1) == 0, "release"},
                   {QAL_close(h) == 0, "close"},
                   {QAL_cleanup() == 0, "cleanup"}});
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "^QAL_ctrl: out of memory\n$");
}

// A firmware thread that finds no memory for P2's dynamic memory on first
// touch ends as a processor that stopped: the host hears nothing more.
// The chip folds offsets, so it must keep its 64 MB of words one by one.
TEST_F(SimHostFaultsDeathTest, FirmwareThatRunsOutOfMemoryStopsItsProcessorOnly) {
    if (!kMemoryLimitWorks)
        GTEST_SKIP() << "no address-space limit under a sanitizer";
    int32_t h = open("sdram_chip_size = 0x1000000\nsdram_address_fault = P2:chip0:bit 23\n");
    ASSERT_EQ(load(h, 1, "sdr_p2.tsx"), 0);
    auto child = [&] {
        limitMemory(kHeadroom);
        bool started = QAL_start(h, 1) == 0;
        uint32_t sizes[4] = {}, size = sizeof sizes, word = 0, more = 4;
        bool told = QAL_getMsg(h, 1, sizes, &size, 5000) == 0 && sizes[0] == 0x1000000;
        bool silent = QAL_getMsg(h, 1, &word, &more, 5000) < 0 && more == 0;
        expectAll({{started, "start"},
                   {told, "the chip sizes come first"},
                   {silent, "then nothing"},
                   {QAL_close(h) == 0, "close"}});
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "^P2: firmware 'sdram' stopped: out of memory\n$");
}

// A board file larger than the host's memory, and a program file far
// larger: the first fails the calls that read it, the second is refused
// from its size without a byte of it read.
TEST_F(SimHostFaultsDeathTest, HugeFilesFailTheirCallsOnAHostShortOfMemory) {
    if (!kMemoryLimitWorks)
        GTEST_SKIP() << "no address-space limit under a sanitizer";
    int32_t h = open();
    sparseProgram("huge.ldr", std::uintmax_t(1) << 30);
    auto loadProgram = [&] {
        limitMemory(kHeadroom);
        expectAll({{load(h, 0, "huge.ldr") == kNoProgram, "the program is refused"}, {QAL_close(h) == 0, "close"}});
    };
    EXPECT_EXIT(loadProgram(), ::testing::ExitedWithCode(0), "^huge.ldr:1: too long for a program file\n$");

    std::ofstream(dir() / "virtual-board.ini") << "[board 1]\n";
    fs::resize_file(dir() / "virtual-board.ini", std::uintmax_t(1) << 30);
    auto readBoardFile = [&] {
        limitMemory(kHeadroom);
        expectAll({{QAL_init(0, 0) == -1, "init fails"},
                   {QAL_open(2, 0, 0) == 0, "open of another board fails"},
                   {QAL_close(h) == 0, "the board open before still closes"},
                   {QAL_cleanup() == 0, "cleanup"}});
    };
    EXPECT_EXIT(readBoardFile(), ::testing::ExitedWithCode(0), "^QAL_init: out of memory\nQAL_open: out of memory\n$");
}

} // namespace
