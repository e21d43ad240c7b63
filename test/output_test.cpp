// The console and log writers: what each sink receives, in which code page
// and with which line ends.
#include "run/output.h"
#include "run/runstate.h"
#include "support/station.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class Output : public ::testing::Test {
protected:
    void SetUp() override {
        freshRunState();
        ::testing::internal::CaptureStdout();
    }
    void TearDown() override { resetRunState(); }

    std::string console() { return ::testing::internal::GetCapturedStdout(); }

    TempStation station_{false};
    ScopedDir in_{station_.path()};
};

TEST_F(Output, ReportGoesToAllThreeSinksInTheirCodePages) {
    report("\n%s: %d, %s %08lX", toCp1251("Ошибок").c_str(), 3, toCp1251("слово").c_str(), 0xEDCBA987ul);
    std::string text = "\nОшибок: 3, слово EDCBA987";
    EXPECT_EQ(console(), toCp866(text));
    EXPECT_EQ(station_.read("screen1.log"), asLog(text));
    EXPECT_EQ(station_.read("protoc1.log"), asLog(text));
}

TEST_F(Output, EachIdiomWritesOnlyItsSinks) {
    reportScreen("\nA");
    logScreen("\nB");
    logProtocol("\nC");
    conPrintf("\rD");
    EXPECT_EQ(console(), "\nA\rD");
    EXPECT_EQ(station_.read("screen1.log"), "\r\nA\r\nB");
    EXPECT_EQ(station_.read("protoc1.log"), "\r\nC");
}

TEST_F(Output, ConsoleTextIsCutAt255Characters) {
    std::string longText(300, 'x');
    conPrintf("%s|", longText.c_str());
    report("\n%s", longText.c_str());
    EXPECT_EQ(console(), std::string(255, 'x') + "\n" + std::string(254, 'x'));
    // The logs keep the whole message.
    EXPECT_EQ(station_.read("protoc1.log"), "\r\n" + longText);
}

TEST_F(Output, StartLogTruncatesAnEarlierLog) {
    report("\nold run");
    EXPECT_TRUE(startLog("protoc1.log", "\nnew"));
    EXPECT_EQ(station_.read("protoc1.log"), "\r\nnew");
    console();
}

TEST_F(Output, StartLogReportsALogThatCannotBeCreated) {
    EXPECT_FALSE(startLog("missing-dir/protoc1.log", "\n"));
    console();
}

TEST_F(Output, AppendToALogThatVanishedLosesOnlyThatMessage) {
    std::strcpy(runState.screenLogName, "no/screen1.log");
    report("\nstill shown");
    EXPECT_EQ(console(), "\nstill shown");
    EXPECT_EQ(station_.read("protoc1.log"), "\r\nstill shown");
}

} // namespace
