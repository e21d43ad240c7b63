// The host-side pattern tests against the virtual board: blocks, spinner,
// listing limits, the patterns themselves.
#include "board/qal.h"
#include "run/runstate.h"
#include "support/station.h"
#include "checks/memory/memory_tests.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

class Patterns : public ::testing::Test {
protected:
    void SetUp() override {
        freshRunState();
        runState.buf0 = buffers_[0].data();
        runState.buf1 = buffers_[1].data();
        runState.buf2 = buffers_[2].data();
        // Mismatch prompts read the end of input: a key that goes on.
        int null = ::open("/dev/null", O_RDONLY);
        dup2(null, 0);
        close(null);
    }
    void TearDown() override {
        if (board_ > 0)
            QAL_close(board_);
        resetRunState();
    }
    void open(const std::string &board) {
        station_.write("virtual-board.ini", "[board 1]\n" + board);
        board_ = QAL_open(1, 0, 0);
        ASSERT_GT(board_, 0);
    }
    std::string run(int (*test)(std::int32_t, int, std::uint32_t, std::uint32_t), std::uint32_t address,
                    std::uint32_t words, int *result = nullptr) {
        ::testing::internal::CaptureStdout();
        int rc = test(board_, 0, address, words);
        if (result)
            *result = rc;
        return consoleText(::testing::internal::GetCapturedStdout());
    }
    std::string screen() const { return logText(station_.read("screen1.log")); }

    std::vector<std::uint32_t> buffers_[3] = {std::vector<std::uint32_t>(kTestBufferWords),
                                              std::vector<std::uint32_t>(kTestBufferWords),
                                              std::vector<std::uint32_t>(kTestBufferWords)};
    TempStation station_{false};
    ScopedDir in_{station_.path()};
    std::int32_t board_ = 0;
};

const std::string kRunning1Header = "\t    Тест бегущей 1 . . .                              ";

TEST_F(Patterns, RandomWordsFollowTheBoardsGenerator) {
    std::uint32_t words[3];
    randomPattern(words, 3);
    EXPECT_EQ(words[0], 0x4B7F80C0u);
    EXPECT_EQ(words[1], 0x3F5FA540u);
    std::uint32_t again[3];
    randomPattern(again, 3);
    EXPECT_EQ(again[2], words[2]);
}

TEST_F(Patterns, RangeIsCutIntoWholeBlocks) {
    open("");
    EXPECT_EQ(run(patternTestRunning1, 0x80000, 65536), kRunning1Header + spinner(16) + spinner(16));
    EXPECT_EQ(run(patternTestRunning1, 0x80000, 4096), kRunning1Header + spinner(1) + spinner(1));
    EXPECT_EQ(run(patternTestRunning1, 0x80000, 100), kRunning1Header + spinner(1) + spinner(1));
    // 5000 words: one block of 4096; the rest is not touched.
    QAL_poke(board_, 0, 0x80000 + 4096, 0x13572468);
    EXPECT_EQ(run(patternTestRunning1, 0x80000, 5000), kRunning1Header + spinner(1) + spinner(1));
    EXPECT_EQ(QAL_peek(board_, 0, 0x80000 + 4096), 0x13572468u);
    // A block that passed holds the complement afterwards.
    EXPECT_EQ(QAL_peek(board_, 0, 0x80000), 0xFFFFFFFEu);
    EXPECT_EQ(screen(),
              "\n" + kRunning1Header + "\n" + kRunning1Header + "\n" + kRunning1Header + "\n" + kRunning1Header);
}

// The listing of one failing block, with stuck bits at the given indices.
std::string stuckAt(const std::vector<int> &indices) {
    std::string key = "ram_stuck_bit = ";
    for (std::size_t i = 0; i < indices.size(); ++i) {
        char item[40];
        std::snprintf(item, sizeof item, "%sP1:0x%X:31:1", i ? ", " : "", 0x80000 + indices[i]);
        key += item;
    }
    return key + "\n";
}

std::string line(int index) {
    char text[96];
    std::uint32_t written = 1u << (index % 32);
    std::snprintf(text, sizeof text, "\n%08X: Записано %08X != прочитано %08X", 0x80000 + index, written,
                  written | 0x80000000u);
    return text;
}

const std::string kPrompt = "\n\tНажмите на клавишу для продолжения данного теста ... ( <ESC> - пропуск теста)";

TEST_F(Patterns, ListingEndsAfterAnIndexThatIsAMultipleOf16) {
    struct Case {
        std::vector<int> stuck;
        std::vector<int> listed;
    } cases[] = {
        {{3, 5, 20}, {3, 5, 20}},
        {{16, 17}, {16}},
        {{0, 1, 2}, {0}},
    };
    for (const Case &c : cases) {
        TearDown();
        SetUp();
        open(stuckAt(c.stuck));
        std::string expected = kRunning1Header + spinner(1) + spinner(1) + "\n### ОШИБКА:";
        for (int i : c.listed)
            expected += line(i);
        int result = 1;
        EXPECT_EQ(run(patternTestRunning1, 0x80000, 4096, &result), expected + kPrompt);
        EXPECT_EQ(result, 0); // the end of input goes on like any key
        EXPECT_NE(screen().find(expected.substr(kRunning1Header.size() + 4)), std::string::npos);
    }
}

TEST_F(Patterns, ListingOfIndices1To40StopsAt16) {
    std::vector<int> stuck;
    for (int i = 1; i <= 40; ++i)
        stuck.push_back(i);
    open(stuckAt(stuck));
    std::string expected = "\n### ОШИБКА:";
    for (int i = 1; i <= 16; ++i)
        expected += line(i);
    EXPECT_NE(run(patternTestRunning1, 0x80000, 4096).find(expected + kPrompt), std::string::npos);
}

TEST_F(Patterns, FillHeaderShowsTheValueAndTheComplementStays) {
    open("");
    std::string console = run([](std::int32_t h, int node, std::uint32_t a,
                                 std::uint32_t n) { return patternTestFill(h, node, a, n, 0x55555555); },
                              0x100000, 4096);
    EXPECT_EQ(console, "\t   Тест заполнением 0x55555555 . . .                        " + spinner(1) + spinner(1));
    EXPECT_EQ(QAL_peek(board_, 0, 0x100000 + 77), 0xAAAAAAAAu);
}

TEST_F(Patterns, RandomTestWritesTheGeneratorsWordsEveryTime) {
    open("");
    std::vector<std::uint32_t> first(4096), second(4096);
    run(patternTestRandom, 0x100000, 4096);
    QAL_readRAM(board_, 0, 0x100000, first.data(), 4096, 4);
    run(patternTestRandom, 0x100000, 4096);
    QAL_readRAM(board_, 0, 0x100000, second.data(), 4096, 4);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first[0], ~0x4B7F80C0u); // the complement of the pattern is left behind
}

} // namespace
