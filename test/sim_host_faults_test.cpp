// Faults of the host machine under the virtual board, through its C API:
// files that are there but are no files (a directory in their place), a
// program file far too long, a program set refused part way. None of them
// may end the process; each is one failed call with one line on stderr.
#include "qal.h"

#include "support/sim_board.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

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

} // namespace
