// The test selection file: which tests a run performs.
#include "run/runstate.h"
#include "run/selection.h"
#include "support/station.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class Selection : public ::testing::Test {
protected:
    void SetUp() override { freshRunState(); }
    void TearDown() override { resetRunState(); }

    // Writes `file` as check1.cfg and asks for `key`.
    int ask(const std::string &file, const char *key) {
        station_.write("check1.cfg", file);
        return askOnly(key);
    }
    int askOnly(const char *key) {
        ScopedDir in(station_.path());
        return isTestSkipped(key, static_cast<int>(std::strlen(key)));
    }

    TempStation station_{false};
};

constexpr int kRun = 0;
constexpr int kSkip = -1;

TEST_F(Selection, WorkedExampleOfBoardOne) {
    station_.write("check1.cfg", "; selection for board 1\n"
                                 "[HOST START]\nCHECK=1\n[HOST END]\n"
                                 "[HSTREAM START]\nCHECK=0\n[HSTREAM END]\n"
                                 "[INTLINKS START]\n[INTLINKS END]\n");
    EXPECT_EQ(askOnly("HOST"), kRun);
    EXPECT_EQ(askOnly("HSTREAM"), kSkip);
    EXPECT_EQ(askOnly("INTLINKS"), kRun); // its end marker right after the start is not seen
    for (const char *key : {"INTERRUPTS", "CLASTER", "FFTTIME", "EXTLINKS", "SDRAM"})
        EXPECT_EQ(askOnly(key), kSkip) << key;
    EXPECT_EQ(runState.errorCount, 0);
}

// What a selection file says about HOST, one file a row.
struct HostCase {
    const char *why;
    std::string file;
    int expected;
};

TEST_F(Selection, HowTheFileIsReadForOneTest) {
    const std::string at31 = "CHECK=" + std::string(25, ' ') + "0\n";
    const std::string at32 = "CHECK=" + std::string(26, ' ') + "0\n";
    const HostCase cases[] = {
        // The start marker is found after characters that are not letters only.
        {"blanks before the marker", "   [HOST START]\nCHECK=1\n", kRun},
        {"no bracket, other words after", "--> HOST START] trailing words\nCHECK=1\n", kRun},
        {"a letter before the marker", "x[HOST START]\nCHECK=1\n", kSkip},
        {"the key in small letters", "[host START]\nCHECK=1\n", kSkip},
        {"START in small letters", "[HOST start]\nCHECK=1\n", kSkip},
        // A key that is the prefix of another is not confused with it.
        {"a longer key", "[HOSTX START]\nCHECK=1\n", kSkip},
        {"another key", "[HSTREAM START]\nCHECK=1\n", kSkip},
        // The value decides by zero or not.
        {"00", "[HOST START]\nCHECK=00\n", kSkip},
        {"10", "[HOST START]\nCHECK=10\n", kRun},
        {"the sign is passed over", "[HOST START]\nCHECK=-1\n", kRun},
        {"blanks are passed over", "[HOST START]\nCHECK=   0\n", kSkip},
        {"reads 0, stops at x", "[HOST START]\nCHECK=0x5\n", kSkip},
        {"a number too large", "[HOST START]\nCHECK=99999999999999999999\n", kRun},
        {"a CR LF file", "[HOST START]\nCHECK=0\r\n[HOST END]\r\n", kSkip},
        // No digit in place: the search goes on to the next value line.
        {"no digit", "[HOST START]\nCHECK=off\nCHECK=0\n[HOST END]\n", kSkip},
        {"a digit at 31, the last place looked at", "[HOST START]\n" + at31 + "[HOST END]\n", kSkip},
        {"a digit at 32 is not seen", "[HOST START]\n" + at32 + "[HOST END]\n", kRun},
        // The line after the start marker is taken from its first column.
        {"indented right after the marker: no value line", "[HOST START]\n  CHECK=0\n[HOST END]\n", kRun},
        {"indented further down: read from its first letter", "[HOST START]\n\n  CHECK=0\n[HOST END]\n", kSkip},
        {"a comment right after the marker is no comment and no value", "[HOST START]\n;CHECK=0\n[HOST END]\n",
         kRun},
        // A value line counts only after its start marker.
        {"value before the marker", "CHECK=0\n[HOST START]\n\n[HOST END]\n", kRun},
        {"only an end marker", "CHECK=1\n[HOST END]\n", kSkip},
        {"found in another key's section before HOST's end",
         "[HOST START]\n\n[HSTREAM START]\nCHECK=0\n[HSTREAM END]\n[HOST END]\n", kSkip},
        {"another key's section after HOST's end", "[HOST START]\n\n[HOST END]\n[HSTREAM START]\nCHECK=0\n", kRun},
        // Comment lines are ignored.
        {"a commented marker", "; [HOST START]\nCHECK=1\n", kSkip},
        {"a commented value", "[HOST START]\n\n;CHECK=0\n[HOST END]\n", kRun},
        // Long lines are read in pieces of 119 characters.
        {"the marker begins a new piece", std::string(119, 'x') + "[HOST START]\nCHECK=1\n", kRun},
        {"within one piece, behind letters", std::string(100, 'x') + "[HOST START]\nCHECK=1\n", kSkip},
    };
    for (const HostCase &c : cases)
        EXPECT_EQ(ask(c.file, "HOST"), c.expected) << c.why;
}

TEST_F(Selection, FileNameFollowsTheBoardNumber) {
    EXPECT_EQ(selectionFileName(0), "check1.cfg");
    EXPECT_EQ(selectionFileName(1), "check1.cfg");
    EXPECT_EQ(selectionFileName(2), "check2.cfg");
    EXPECT_EQ(selectionFileName(5), "check5.cfg");
    EXPECT_EQ(selectionFileName(8), "check8.cfg");
    EXPECT_EQ(selectionFileName(9), "check1.cfg");
    EXPECT_EQ(selectionFileName(-1), "check1.cfg");

    station_.write("check5.cfg", "[HOST START]\nCHECK=1\n");
    runState.boardLid = 5;
    EXPECT_EQ(askOnly("HOST"), kRun);
    runState.boardLid = 9;
    EXPECT_EQ(askOnly("HOST"), kSkip); // check1.cfg does not exist
}

TEST_F(Selection, MissingFileWarnsAndCountsAtEveryQuestion) {
    EXPECT_EQ(askOnly("HOST"), kSkip);
    EXPECT_EQ(askOnly("SDRAM"), kSkip);
    EXPECT_EQ(runState.errorCount, 2);
    std::string warning = "\n### ПРЕДУПРЕЖДЕНИЕ: Не могу открыть файл 'check1.cfg'";
    EXPECT_EQ(station_.read("screen1.log"), asLog(warning + warning));
    EXPECT_EQ(station_.read("protoc1.log"), asLog(warning + warning));
}

} // namespace
