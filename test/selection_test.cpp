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

TEST_F(Selection, StartMarkerIsFoundAfterNonLettersOnly) {
    EXPECT_EQ(ask("   [HOST START]\nCHECK=1\n", "HOST"), kRun);
    EXPECT_EQ(ask("--> HOST START] trailing words\nCHECK=1\n", "HOST"), kRun);
    EXPECT_EQ(ask("x[HOST START]\nCHECK=1\n", "HOST"), kSkip);
    EXPECT_EQ(ask("[host START]\nCHECK=1\n", "HOST"), kSkip);
    EXPECT_EQ(ask("[HOST start]\nCHECK=1\n", "HOST"), kSkip);
}

TEST_F(Selection, KeyThatIsThePrefixOfAnotherIsNotConfused) {
    EXPECT_EQ(ask("[HOSTX START]\nCHECK=1\n", "HOST"), kSkip);
    EXPECT_EQ(ask("[HSTREAM START]\nCHECK=1\n", "HOST"), kSkip);
}

TEST_F(Selection, ValueDecidesByZeroOrNot) {
    EXPECT_EQ(ask("[HOST START]\nCHECK=00\n", "HOST"), kSkip);
    EXPECT_EQ(ask("[HOST START]\nCHECK=10\n", "HOST"), kRun);
    EXPECT_EQ(ask("[HOST START]\nCHECK=-1\n", "HOST"), kRun);    // the sign is passed over
    EXPECT_EQ(ask("[HOST START]\nCHECK=   0\n", "HOST"), kSkip); // blanks too
    EXPECT_EQ(ask("[HOST START]\nCHECK=0x5\n", "HOST"), kSkip);  // reads 0, stops at x
    EXPECT_EQ(ask("[HOST START]\nCHECK=99999999999999999999\n", "HOST"), kRun);
    EXPECT_EQ(ask("[HOST START]\nCHECK=0\r\n[HOST END]\r\n", "HOST"), kSkip); // CR LF file
}

TEST_F(Selection, ValueLineWithoutDigitInPlaceIsPassedOver) {
    // No digit: the search goes on to the next value line.
    EXPECT_EQ(ask("[HOST START]\nCHECK=off\nCHECK=0\n[HOST END]\n", "HOST"), kSkip);
    // Position 31 is the last one looked at; a digit at 32 is not seen.
    std::string at31 = "CHECK=" + std::string(25, ' ') + "0\n";
    std::string at32 = "CHECK=" + std::string(26, ' ') + "0\n";
    EXPECT_EQ(ask("[HOST START]\n" + at31 + "[HOST END]\n", "HOST"), kSkip);
    EXPECT_EQ(ask("[HOST START]\n" + at32 + "[HOST END]\n", "HOST"), kRun);
}

TEST_F(Selection, LineAfterStartMarkerIsTakenFromItsFirstColumn) {
    // Indented right after the marker: not a value line, so the test runs.
    EXPECT_EQ(ask("[HOST START]\n  CHECK=0\n[HOST END]\n", "HOST"), kRun);
    // Indented further down: the cursor moves to its first letter.
    EXPECT_EQ(ask("[HOST START]\n\n  CHECK=0\n[HOST END]\n", "HOST"), kSkip);
    // A comment right after the marker is not a comment, and is no value either.
    EXPECT_EQ(ask("[HOST START]\n;CHECK=0\n[HOST END]\n", "HOST"), kRun);
}

TEST_F(Selection, ValueLineCountsOnlyAfterItsStartMarker) {
    EXPECT_EQ(ask("CHECK=0\n[HOST START]\n\n[HOST END]\n", "HOST"), kRun);
    EXPECT_EQ(ask("CHECK=1\n[HOST END]\n", "HOST"), kSkip);
    // Found inside another key's section until HOST's own end marker.
    EXPECT_EQ(ask("[HOST START]\n\n[HSTREAM START]\nCHECK=0\n[HSTREAM END]\n[HOST END]\n", "HOST"), kSkip);
    EXPECT_EQ(ask("[HOST START]\n\n[HOST END]\n[HSTREAM START]\nCHECK=0\n", "HOST"), kRun);
}

TEST_F(Selection, CommentLinesAreIgnored) {
    EXPECT_EQ(ask("; [HOST START]\nCHECK=1\n", "HOST"), kSkip);
    EXPECT_EQ(ask("[HOST START]\n\n;CHECK=0\n[HOST END]\n", "HOST"), kRun);
}

TEST_F(Selection, LongLinesAreReadIn119CharacterPieces) {
    // The marker begins a new piece after 119 characters and is found there.
    EXPECT_EQ(ask(std::string(119, 'x') + "[HOST START]\nCHECK=1\n", "HOST"), kRun);
    // Within one piece it stays behind the letters before it.
    EXPECT_EQ(ask(std::string(100, 'x') + "[HOST START]\nCHECK=1\n", "HOST"), kSkip);
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
