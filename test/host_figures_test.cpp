// The figures the host interface tests print: dynamic-memory speed,
// transfer and stream rates, and the mismatch listing's limits.
#include "checks/board/config_check.h"
#include "support/station.h"
#include "checks/host/host_tests.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

// The figure as "%f" and as "%4f" print it.
std::string fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

std::string fixed4(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%4f", value);
    return text;
}

TEST(DramSpeed, UsesTheSinglePrecisionPeriodAt300MHz) {
    EXPECT_EQ(fixed4(dramSpeed(2000000, 300)), "1201.201229");
    EXPECT_EQ(fixed4(dramSpeed(2000000, 250)), "1000.000000");
    EXPECT_EQ(fixed4(dramSpeed(2000000, 200)), "1000.000000");
    EXPECT_EQ(fixed4(dramSpeed(2000000, 0)), "1000.000000");
}

TEST(DramSpeed, CycleCountIsUnsignedAndZeroGivesInfinity) {
    EXPECT_EQ(fixed4(dramSpeed(0, 250)), " inf");
    EXPECT_GT(dramSpeed(0x80000000u, 250), 0.0);
}

TEST(TransferRate, MegabytesPerElapsedMillisecond) {
    EXPECT_EQ(fixed(transferRate(4000.0, 1000)), "4.000000");
    EXPECT_EQ(fixed(transferRate(16000.0, 1000)), "16.000000");
    EXPECT_EQ(fixed(transferRate(16000.0, 0)), "inf");
}

TEST(StreamRate, BlocksBetweenFirstAndLastQueryOverTheTime) {
    EXPECT_EQ(fixed(streamRate(7, 107, 0x100000, 500, 1500)), "100.000000");
    EXPECT_EQ(fixed(streamRate(0, 0, 0x100000, 500, 1500)), "0.000000");
    EXPECT_EQ(fixed(streamRate(5, 5, 0x100000, 500, 500)), "0.000000"); // not 0 / 0
    EXPECT_EQ(fixed(streamRate(5, 6, 0x100000, 500, 500)), "inf");
}

class Listing : public ::testing::Test {
protected:
    void SetUp() override {
        freshRunState();
        ::testing::internal::CaptureStdout();
    }
    // Lists `words` words whose read side differs at `bad`; returns the
    // console text.
    std::string list(int words, const std::vector<int> &bad) {
        std::vector<std::uint32_t> written(words), read(words);
        for (int i = 0; i < words; ++i)
            written[i] = read[i] = static_cast<std::uint32_t>(i);
        for (int i : bad)
            read[i] = 0xEDCBA987;
        listMismatches("array exchange", written.data(), read.data(), words);
        return ::testing::internal::GetCapturedStdout();
    }
    static std::string line(int i) {
        char text[64];
        std::snprintf(text, sizeof text, "\n%d. записано %08X != прочитано EDCBA987", i, i);
        return toCp866(text);
    }

    TempStation station_{false};
    ScopedDir in_{station_.path()};
};

TEST_F(Listing, StopsAfterTheFirstIndexAbove16) { EXPECT_EQ(list(4096, {3, 20, 30}), line(3) + line(20)); }

TEST_F(Listing, SixteenAndSeventeenAreBothListed) { EXPECT_EQ(list(4096, {16, 17, 18}), line(16) + line(17)); }

TEST_F(Listing, EveryWordWrongGivesEighteenLines) {
    std::vector<int> all;
    for (int i = 0; i < 4096; ++i)
        all.push_back(i);
    std::string expected;
    for (int i = 0; i <= 17; ++i)
        expected += line(i);
    EXPECT_EQ(list(4096, all), expected);
    EXPECT_EQ(station_.read("protoc1.log").size(), asLog(fromCodePage(expected, "CP866")).size());
}

} // namespace
