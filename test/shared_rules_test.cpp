// The rules the record and the pages share, pinned in-process: the order
// of the fleet's failed steps, medians and quantiles, the continuous
// mode's median of a long series, and the escapes of the pages and of
// the JUnit report.
#include "report/escape.h"
#include "report/report.h"
#include "report/stats.h"
#include "run/record.h"
#include "run/runstate.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

// Boards that failed different steps different numbers of times, with
// ties between keys and between a board-wide step and a processor's.
TEST(SharedRules, ParetoPutsMostBoardsFirstThenKeyThenProcessor) {
    Fleet fleet;
    const struct {
        const char *serial;
        Keys first, last;
    } kBoards[] = {
        {"S1", {{"HOST", ""}}, {{"memory", "P3"}, {"HOST", ""}}},
        {"S2", {{"HOST", ""}}, {{"memory", "P3"}, {"INTLINKS", ""}, {"CLASTER", "P2"}}},
        {"S3", {}, {{"HOST", ""}, {"memory", "P3"}, {"HOST", ""}}}, // a step failed twice counts once
        {"S4", {{"FFTTIME", "P1"}}, {{"CLASTER", ""}, {"memory", "P3"}}},
        {"S5", {{"FFTTIME", "P1"}}, {}},
    };
    for (const auto &b : kBoards) {
        fleet.boards[b.serial].first.failedKeys = b.first;
        fleet.boards[b.serial].last.failedKeys = b.last;
    }
    const struct {
        bool firstRuns;
        std::vector<std::string> order; // key/processor (boards)
    } kCases[] = {
        {false, {"memory/P3 4", "HOST/ 2", "CLASTER/ 1", "CLASTER/P2 1", "INTLINKS/ 1"}},
        {true, {"FFTTIME/P1 2", "HOST/ 2"}},
    };
    for (const auto &c : kCases) {
        std::vector<std::string> got;
        for (const ParetoEntry &e : pareto(fleet, c.firstRuns))
            got.push_back(e.key + "/" + e.processor + " " + std::to_string(e.boards));
        EXPECT_EQ(got, c.order) << (c.firstRuns ? "first runs" : "last runs");
    }
}

TEST(SharedRules, MedianAndQuantilesOfOddAndEvenCounts) {
    const struct {
        std::vector<double> values;
        double median, q10, q25, q75;
    } kRows[] = {
        {{}, 0, 0, 0, 0},
        {{5}, 5, 5, 5, 5},
        {{3, 1, 2}, 2, 1.2, 1.5, 2.5},
        {{4, 1, 3, 2}, 2.5, 1.3, 1.75, 3.25},
        {{-1, 1}, 0, -0.8, -0.5, 0.5},
        {{10, 50, 20, 40, 30}, 30, 14, 20, 40},
        {{7, 7, 1, 9, 7, 2}, 7, 1.5, 3.25, 7},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(::testing::PrintToString(row.values));
        EXPECT_DOUBLE_EQ(median(row.values), row.median);
        std::vector<double> sorted = row.values;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_DOUBLE_EQ(quantile(sorted, 0.5), row.median);
        EXPECT_DOUBLE_EQ(quantile(sorted, 0.10), row.q10);
        EXPECT_DOUBLE_EQ(quantile(sorted, 0.25), row.q25);
        EXPECT_DOUBLE_EQ(quantile(sorted, 0.75), row.q75);
        if (!sorted.empty()) {
            EXPECT_DOUBLE_EQ(quantile(sorted, 0), sorted.front());
            EXPECT_DOUBLE_EQ(quantile(sorted, 1), sorted.back());
        }
    }
}

// A continuous run's measurement over `count` passes, value(i) at pass i:
// the spread the record keeps of it.
template <class Value>
nlohmann::json spreadOf(long count, Value value) {
    resetRecord();
    resetRunState();
    recordStepBegin("HOST", kNoCpu);
    recordRepeat();
    for (long i = 0; i < count; ++i) {
        recordMeasurement("rate", value(i), "MB/s", "x");
        recordPass();
    }
    recordStepEnd();
    nlohmann::json spread = nlohmann::json::parse(recordJson())["steps"][0]["passes"]["measurements"][0];
    resetRecord();
    return spread;
}

// Up to the sample's size the median is exact, for odd and even counts;
// beyond it, the sample is spread over the whole series: a rising (or
// falling) series of 200000 passes has its median near the middle, not
// among the first or the last values a lopsided sample would keep.
TEST(SharedRules, ContinuousModeMedianOverAShortAndALongSeries) {
    const struct {
        long count;
        double step; // value(i) = i * step, passes taken in a scrambled order
        double median, tolerance;
    } kRows[] = {
        {1, 1, 0, 0}, {2, 1, 0.5, 0}, {7, 2, 6, 0}, {1000, 1, 499.5, 0}, {1001, 1, 500, 0},
    };
    for (const auto &row : kRows) {
        // Scrambled so that the first values are not the least.
        auto value = [&](long i) { return static_cast<double>((i * 7919) % row.count) * row.step; };
        nlohmann::json spread = spreadOf(row.count, value);
        EXPECT_EQ(spread["count"], row.count);
        EXPECT_DOUBLE_EQ(spread["median"].get<double>(), row.median) << row.count;
    }
    const long kLong = 200000;
    nlohmann::json rising = spreadOf(kLong, [](long i) { return static_cast<double>(i); });
    EXPECT_EQ(rising["count"], kLong);
    EXPECT_EQ(rising["min"], 0);
    EXPECT_EQ(rising["max"], kLong - 1);
    EXPECT_NEAR(rising["median"].get<double>(), kLong / 2.0, kLong * 0.03);
    nlohmann::json falling = spreadOf(kLong, [](long i) { return static_cast<double>(kLong - 1 - i); });
    EXPECT_NEAR(falling["median"].get<double>(), kLong / 2.0, kLong * 0.03);
}

TEST(SharedRules, HtmlEscapesMarkupQuotesAndWhatAPageCannotHold) {
    const std::string fffd = "\xEF\xBF\xBD";
    const struct {
        std::string in, out;
    } kRows[] = {
        {"plain", "plain"},
        {"a<b>&c", "a&lt;b&gt;&amp;c"},
        {"\"q\" 'a'", "&quot;q&quot; &#39;a&#39;"},
        {"&amp;", "&amp;amp;"},
        {"l1\nl2\tx\ry", "l1\nl2\tx\ry"},
        {std::string("a\0b\x1F\x7F", 5), "a" + fffd + "b" + fffd + fffd},
        {"\xD0\x9F\xD1\x80", "\xD0\x9F\xD1\x80"},
        {"\xFF<", fffd + "&lt;"},
    };
    for (const auto &row : kRows)
        EXPECT_EQ(htmlEscape(row.in), row.out) << row.in;
}

// The JUnit report as written: a skipped step's reason in an attribute,
// a failed step's error lines as content.
TEST(SharedRules, JunitEscapesMarkupAndQuotes) {
    resetRecord();
    resetRunState();
    recordStepBegin("HOST", kNoCpu);
    recordStepSkipped("a<b & \"c\" 'd'");
    recordStepEnd();
    recordStepBegin("INTLINKS", kNoCpu);
    const std::string line = "\n### x<y & \"z\" 'w'\n";
    recordConsoleText(line.data(), line.size());
    countError();
    recordStepEnd();
    const std::string xml = recordJunit();
    resetRecord();
    resetRunState();
    EXPECT_NE(xml.find("<skipped message=\"skipped: a&lt;b &amp; &quot;c&quot; &apos;d&apos;\"/>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("x&lt;y &amp; &quot;z&quot; &apos;w&apos;</failure>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("a<b"), std::string::npos);
    EXPECT_EQ(xml.find("x<y"), std::string::npos);
    EXPECT_EQ(xml.find("& \""), std::string::npos);
}

} // namespace
