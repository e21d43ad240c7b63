// The fleet's figures from hand-made records of every layout: the order
// of the Paretos, each board's first run, the boards that never passed,
// runs without a board, copies of one run, runs that are not a bench's;
// the escapes of the CSV and of stderr, and the numbers of the charts.
#include "report/charts.h"
#include "report/report.h"
#include "support/html_page.h"
#include "support/process.h"
#include "support/station.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// A schema 3 record: `failed` names the steps that failed ("memory P3"),
// `partial` those that ran in part. An empty serial: never identified.
Json record3(const std::string &runId, const std::string &serial, const std::string &start,
             const std::string &outcome, const std::vector<std::string> &failed = {},
             const std::string &origin = "adapter", const std::vector<std::string> &partial = {}) {
    Json steps = Json::array();
    auto has = [](const std::vector<std::string> &list, const std::string &name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    const std::vector<std::pair<std::string, const char *>> all = {
        {"HOST", nullptr}, {"INTLINKS", nullptr}, {"memory", "P1"}, {"memory", "P3"}, {"EXTLINKS", nullptr}};
    for (const auto &s : all) {
        std::string name = s.second ? s.first + " " + s.second : s.first;
        std::string status = has(failed, name) ? "failed" : has(partial, name) ? "partial" : "passed";
        steps.push_back({{"key", s.first},
                         {"processor", s.second ? Json(s.second) : Json(nullptr)},
                         {"status", status},
                         {"reason", nullptr},
                         {"notTested", Json::array()},
                         {"errors", status == "failed" ? 1 : 0},
                         {"measurements",
                          s.first == "HOST" ? Json::array({{{"name", "hostPortWrite"}, {"value", 60}, {"unit", "MB/s"},
                                                            {"shown", "60.0"}}})
                                            : Json::array()}});
    }
    return {{"schema", 3},
            {"runId", runId},
            {"origin", origin.empty() ? Json(nullptr) : Json(origin)},
            {"start", start},
            {"outcome", outcome},
            {"verdict", outcome == "passed" ? Json("passed") : Json("failed")},
            {"coverage", {{"complete", partial.empty()}, {"passed", 0}}},
            {"errorCount", static_cast<int>(failed.size())},
            {"findingCount", 0},
            {"board", serial.empty() ? Json(nullptr) : Json({{"serialShown", serial}})},
            {"steps", steps}};
}

// The same as an older record: no runId, no origin, no coverage.
Json record2(const std::string &serial, const std::string &start, const std::string &outcome,
             const std::vector<std::string> &failed = {}) {
    Json r = record3("", serial, start, outcome, failed);
    r["schema"] = 2;
    r.erase("runId");
    r.erase("origin");
    r.erase("coverage");
    r.erase("verdict");
    return r;
}

struct File {
    std::string name, text;
};

Fleet collect(const std::vector<File> &files, bool benchOnly) {
    Fleet fleet;
    fleet.benchOnly = benchOnly;
    for (const File &f : files) {
        FleetRun run;
        std::string why;
        EXPECT_TRUE(readFleetRun(f.text, run, why)) << f.name << ": " << why;
        fleetAdd(fleet, run, f.name, f.name + ".html");
    }
    return fleet;
}

const char *const kDay = "2026-12-08T";

// Each case: the files (in any order), whether --bench-only is on, and the
// summary's fields it must give, read forwards and backwards alike.
TEST(FleetSummary, NewFieldsAndCopiesInEveryOrder) {
    std::string twice = record2("02001", "2026-12-08T09:00:00+00:00", "failed", {"HOST"}).dump(2);
    struct Case {
        const char *name;
        std::vector<File> files;
        bool benchOnly;
        const char *summary; // the fields to compare, as JSON
    } cases[] = {
        {"pareto, unequal counts: most boards first, not by name",
         {{"a", record3("a", "01001", std::string(kDay) + "09:00:00Z", "failed", {"INTLINKS", "memory P3", "EXTLINKS"}).dump()},
          {"b", record3("b", "01002", std::string(kDay) + "09:00:00Z", "failed", {"INTLINKS", "memory P3"}).dump()},
          {"c", record3("c", "01003", std::string(kDay) + "09:00:00Z", "failed", {"INTLINKS"}).dump()},
          {"d", record3("d", "01004", std::string(kDay) + "09:00:00Z", "failed", {"memory P1"}).dump()}},
         false,
         R"({"runs": 4, "boards": 4, "pareto": [
              {"key": "INTLINKS", "processor": null, "boards": 3},
              {"key": "memory", "processor": "P3", "boards": 2},
              {"key": "EXTLINKS", "processor": null, "boards": 1},
              {"key": "memory", "processor": "P1", "boards": 1}],
            "neverPassed": ["01001", "01002", "01003", "01004"], "unidentified": 0})"},
        {"first run by start instant, a tie by runId",
         // 01001: failed at 09:00+03:00 (06:00 UTC), passed at 08:00 UTC.
         // 01002: two runs in the same second: "b-1" (failed) is the first.
         {{"a2", record3("a-2", "01001", std::string(kDay) + "08:00:00+00:00", "passed").dump()},
          {"a1", record3("a-1", "01001", std::string(kDay) + "09:00:00+03:00", "failed", {"memory P1"}).dump()},
          {"b2", record3("b-2", "01002", std::string(kDay) + "10:00:00Z", "passed").dump()},
          {"b1", record3("b-1", "01002", std::string(kDay) + "10:00:00Z", "failed", {"HOST", "memory P1"}).dump()}},
         false,
         R"({"runs": 4, "boards": 2, "firstPassYield": 0.0, "finalYield": 1.0, "pareto": [],
            "paretoFirstRun": [{"key": "memory", "processor": "P1", "boards": 2},
                               {"key": "HOST", "processor": null, "boards": 1}],
            "neverPassed": []})"},
        {"never passed, sorted by bytes; runs of unknown boards",
         {{"x", record3("x", "0A", std::string(kDay) + "09:00:00Z", "failed", {"HOST"}).dump()},
          {"y", record3("y", "01010", std::string(kDay) + "09:00:00Z", "interrupted").dump()},
          {"z", record3("z", "00999", std::string(kDay) + "09:00:00Z", "failed", {"HOST"}).dump()},
          {"w", record3("w", "01010", std::string(kDay) + "11:00:00Z", "passed").dump()},
          {"u1", record3("u-1", "", std::string(kDay) + "09:00:00Z", "fatal").dump()},
          {"u2", record3("u-2", "", std::string(kDay) + "09:05:00Z", "fatal").dump()},
          {"u1 copy", record3("u-1", "", std::string(kDay) + "09:00:00Z", "fatal").dump(4)}},
         false,
         R"({"runs": 6, "boards": 3, "neverPassed": ["00999", "0A"], "unidentified": 2})"},
        {"copies: by runId whatever the bytes, older records by their bytes",
         {{"station/result1.json", record3("r-1", "01042", std::string(kDay) + "09:00:00Z", "failed", {"HOST"}).dump(2)},
          {"station/records/01042/x.json", record3("r-1", "01042", std::string(kDay) + "09:00:00Z", "failed", {"HOST"}).dump()},
          {"old/a.json", twice},
          {"old/b.json", twice},
          {"old/c.json", twice + "\n"}, // another byte: another run
          {"old/d.json", record2("02002", "2026-12-08T09:00:00+00:00", "passed").dump()}},
         false,
         R"({"runs": 4, "boards": 3, "outcomes": {"passed": 1, "failed": 3, "interrupted": 0, "fatal": 0, "aborted": 0},
            "pareto": [{"key": "HOST", "processor": null, "boards": 2}], "neverPassed": ["01042", "02001"]})"},
        {"bench only: virtual and replay left out, no origin kept",
         {{"v", record3("v", "03001", std::string(kDay) + "09:00:00Z", "passed", {}, "virtual").dump()},
          {"r", record3("r", "03002", std::string(kDay) + "09:00:00Z", "failed", {"HOST"}, "replay").dump()},
          {"b", record3("b", "03003", std::string(kDay) + "09:00:00Z", "failed", {"HOST"}, "adapter").dump()},
          {"n", record3("n", "03004", std::string(kDay) + "09:00:00Z", "passed", {}, "").dump()},
          {"o", record2("03005", "2026-12-08T09:00:00+00:00", "passed").dump()}},
         true,
         R"({"runs": 3, "boards": 3, "neverPassed": ["03003"], "unidentified": 0})"},
        {"the same without bench only",
         {{"v", record3("v", "03001", std::string(kDay) + "09:00:00Z", "passed", {}, "virtual").dump()},
          {"r", record3("r", "03002", std::string(kDay) + "09:00:00Z", "failed", {"HOST"}, "replay").dump()}},
         false,
         R"({"runs": 2, "boards": 2, "neverPassed": ["03002"]})"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Json want = Json::parse(c.summary);
        std::vector<File> backwards(c.files.rbegin(), c.files.rend());
        Json forward = Json::parse(fleetSummaryJson(collect(c.files, c.benchOnly)));
        Json backward = Json::parse(fleetSummaryJson(collect(backwards, c.benchOnly)));
        EXPECT_EQ(forward, backward);
        for (const auto &field : want.items())
            EXPECT_EQ(forward[field.key()], field.value()) << field.key();
        for (const char *key : {"paretoFirstRun", "neverPassed", "unidentified"})
            EXPECT_TRUE(forward.contains(key)) << key;
    }
}

// Of a run's copies, the one the page and the CSV name is the least path
// in byte order, whichever was added first; the run's fields come along.
TEST(FleetSummary, CopyLinkedIsTheLeastPath) {
    std::string text = record3("r-1", "01042", "2026-12-08T09:00:00+01:00", "passed", {}, "adapter",
                               {"memory P3"}).dump();
    for (bool reversed : {false, true}) {
        std::vector<std::string> files = {"st/records/01042/20261208T080000Z-B1-r1.json", "st/result1.json",
                                          "st/records-old/r.json"};
        if (reversed)
            std::reverse(files.begin(), files.end());
        Fleet fleet;
        int counted = 0;
        for (const std::string &f : files) {
            FleetRun run;
            std::string why;
            ASSERT_TRUE(readFleetRun(text, run, why)) << why;
            EXPECT_EQ(run.runId, "r-1");
            EXPECT_EQ(run.origin, "adapter");
            EXPECT_EQ(run.coverageComplete, 0);
            EXPECT_EQ(run.digest, "");
            EXPECT_EQ(run.steps.size(), 5u);
            EXPECT_EQ(run.steps[3].status, "partial");
            counted += fleetAdd(fleet, run, f, f + ".html");
        }
        EXPECT_EQ(counted, 1);
        EXPECT_EQ(fleet.duplicates, 2);
        const FleetBoard &b = fleet.boards.at("01042");
        ASSERT_EQ(b.history.size(), 1u);
        EXPECT_EQ(b.history[0].file, "st/records-old/r.json") << reversed;
        EXPECT_EQ(b.lastFile, "st/records-old/r.json") << reversed;
        EXPECT_EQ(b.lastPage, "st/records-old/r.json.html");
    }
    // A demonstration's two copies are one run left out.
    Fleet fleet;
    fleet.benchOnly = true;
    std::string demo = record3("d-1", "07777", "2026-12-08T09:00:00Z", "passed", {}, "virtual").dump();
    for (const char *f : {"a.json", "b.json"}) {
        FleetRun run;
        std::string why;
        ASSERT_TRUE(readFleetRun(demo, run, why)) << why;
        EXPECT_FALSE(fleetAdd(fleet, run, f, ""));
    }
    EXPECT_EQ(fleet.leftOut, 1);
    EXPECT_EQ(fleet.runs, 0);
}

TEST(FleetText, CsvCellsAndStderrLines) {
    struct Row {
        std::string in, out;
    } csv[] = {
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+cmd", "'+cmd"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"=1", "'=1"},
        {"-", "'-"},
        {"-5", "-5"},
        {"+1.5", "+1.5"},
        {"-1e-3", "-1e-3"},
        {"-.5", "-.5"},
        {"-1e", "'-1e"},
        {"01042", "01042"},
        {"a,b", "\"a,b\""},
        {"line\r\nnext", "\"line\r\nnext\""},
        {std::string("a\0b", 3), "ab"},
        {std::string("\0=x", 3), "'=x"},
        {"", ""},
    };
    for (const Row &r : csv)
        EXPECT_EQ(csvCell(r.in), r.out) << r.in;
    Row err[] = {
        {"bad\xFFname.json", "bad\\xFFname.json"},
        {"\xD0\xB7.json", "\\xD0\\xB7.json"},
        {"tab\there\n", "tab\\x09here\\x0A"},
        {"back\\slash", "back\\x5Cslash"},
        {std::string("nul\0", 4), "nul\\x00"},
        {"plain ASCII: ok ~", "plain ASCII: ok ~"},
    };
    for (const Row &r : err)
        EXPECT_EQ(asciiEscape(r.in), r.out) << r.in;
    // XXH3 128's value of nothing, as its authors publish it, and two more.
    EXPECT_EQ(recordDigest(""), "99aa06d3014798d86001c324468d497f");
    EXPECT_EQ(recordDigest("a"), "a96faf705af16834e6c632b61e964e1f");
    EXPECT_EQ(recordDigest("foobar"), "3c9e102628997f44ac87b0b131c6992d");
}

TEST(FleetCharts, TicksNumbersAndMedians) {
    struct Ticks {
        double lo, hi;
        int count;
        bool whole;
        std::vector<double> ticks;
    } ticks[] = {
        {0, 30, 4, true, {0, 10, 20, 30}},
        {0, 29, 4, true, {0, 10, 20, 30}},
        {0, 1, 4, true, {0, 1}},
        {0, 3, 4, true, {0, 1, 2, 3}},
        {0, 7, 5, true, {0, 2, 4, 6, 8}},
        {0, 0, 4, true, {0, 1}},
        {0, 62.4, 5, false, {0, 20, 40, 60, 80}},
        {950000, 1050000, 6, false, {940000, 960000, 980000, 1000000, 1020000, 1040000, 1060000}},
        {59.5, 60.5, 4, false, {59.5, 59.75, 60, 60.25, 60.5}},
    };
    for (const Ticks &t : ticks)
        EXPECT_EQ(niceTicks(t.lo, t.hi, t.count, t.whole), t.ticks) << t.lo << ".." << t.hi;
    const std::string nb = "\u202F";
    struct Shown {
        double value;
        int decimals;
        std::string text;
    } shown[] = {
        {1048576, 2, "1" + nb + "048" + nb + "576"},
        {1e6, 3, "1" + nb + "000" + nb + "000"},
        {10000, 0, "10" + nb + "000"},
        {1234, 2, "1234"},
        {62.5, 2, "62,5"},
        {60.25, 1, "60,2"},
        {-5, 2, "−5"},
        {-0.001, 2, "0"},
        {0, 2, "0"},
        {1e300, 2, "1,00·10^300"},
    };
    for (const Shown &s : shown)
        EXPECT_EQ(humanNumber(s.value, s.decimals), s.text) << s.value;
    struct Median {
        std::vector<double> values;
        double median;
    } medians[] = {{{1, 2, 3, 4}, 2.5}, {{4, 1}, 2.5}, {{5}, 5}, {{100, 1, 3, 1}, 2}, {{60, 62, 58, 61, 59, 63}, 60.5}};
    for (const Median &m : medians) {
        std::vector<double> v = m.values;
        EXPECT_DOUBLE_EQ(median(v), m.median);
    }
    struct Stride {
        double slot, label;
        std::size_t every;
    } strides[] = {{28, 40, 2}, {40, 40, 1}, {50, 40, 1}, {5, 40, 8}, {0, 40, 1}};
    for (const Stride &s : strides)
        EXPECT_EQ(labelStride(s.slot, s.label), s.every) << s.slot;
    // Thirty runs on one of 40 days: a grid of 0, 10, 20, 30, and every
    // third day's label (the columns are 17,75 px, a label 40).
    std::vector<DayRuns> days;
    for (int d = 0; d < 40; ++d)
        days.push_back({"2026-11-" + std::to_string(10 + d), d == 3 ? 20 : 1, d == 3 ? 10 : 0});
    std::string chart = historyChart(days);
    for (const char *tick : {">0</text>", ">10</text>", ">20</text>", ">30</text>"})
        EXPECT_NE(chart.find(tick), std::string::npos) << tick;
    EXPECT_EQ(count(chart, "-10</text>"), 1u); // day 0's label
    EXPECT_EQ(count(chart, "-11</text>"), 0u); // day 1's: left out
    EXPECT_EQ(count(chart, "-12</text>"), 0u);
    EXPECT_EQ(count(chart, "-13</text>"), 1u);
}

// A station folder with its archive, old records, a demonstration on the
// virtual board and a file named in bytes that are not UTF-8: the command
// counts each run once, tells the bad file in ASCII, names it on the page,
// keeps formulas out of the CSV and links every run's page.
TEST(FleetCommand, StationWithArchiveCopiesAndBadNames) {
    TempStation dir(false);
    auto write = [&](const std::string &name, const std::string &text) {
        fs::create_directories(fs::path(dir.file(name)).parent_path());
        dir.write(name, text);
    };
    Json first = record3("11111111-0000-4000-8000-000000000001", "01042", "2026-12-08T09:00:00+01:00", "failed",
                         {"memory P3"});
    Json second = record3("22222222-0000-4000-8000-000000000002", "01042", "2026-12-08T10:00:00+01:00", "passed",
                          {}, "adapter", {"memory P1"});
    Json formula = record3("33333333-0000-4000-8000-000000000003", "=HYPERLINK(\"http://x\")",
                           "2026-12-09T10:00:00+01:00", "failed", {"HOST"});
    Json demo = record3("44444444-0000-4000-8000-000000000004", "07777", "2026-12-09T11:00:00+01:00", "passed", {},
                        "virtual");
    write("st/result1.json", second.dump(2));
    write("st/result1.html", "page");
    write("st/records/01042/20261208T080000Z-B1-1111.json", first.dump(2));
    write("st/records/01042/20261208T080000Z-B1-1111.html", "page");
    write("st/records/01042/20261208T090000Z-B1-2222.json", second.dump(2));
    write("st/records/01042/20261208T090000Z-B1-2222.html", "page");
    write("st/records/x/f.json", formula.dump());
    write("st/records/demo/d.json", demo.dump());
    write("st/bad\xFF.json", "{\"cut");

    RunResult r = runReportCommand(dir.path(), {"--csv", "fleet.csv", "-o", "fleet.html", "--bench-only", "st"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.substr(0, r.err.find(": truncated")), "zorvantik-report: skipped st/bad\\xFF.json");
    EXPECT_TRUE(std::all_of(r.err.begin(), r.err.end(), [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7F); }));

    std::string csv = dir.read("fleet.csv");
    EXPECT_EQ(count(csv, "\r\n"), 4u) << csv; // the header and three runs
    EXPECT_NE(csv.find("\nst/records/01042/20261208T090000Z-B1-2222.json,01042,2026-12-08T10:00:00+01:00,passed,0,0,,"
                       "22222222-0000-4000-8000-000000000002,adapter,incomplete,60,"),
              std::string::npos)
        << csv;
    EXPECT_EQ(csv.find("st/result1.json"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"http://x\"\")\","), std::string::npos) << csv;
    EXPECT_EQ(csv.find("07777"), std::string::npos);

    HtmlPage page = parseHtmlPage(dir.read("fleet.html"));
    ASSERT_TRUE(page.parsed);
    EXPECT_TRUE(page.untitledMarks.empty());
    Json summary = Json::parse(page.embedded);
    EXPECT_EQ(summary["runs"], 3);
    EXPECT_EQ(summary["neverPassed"], Json::array({"=HYPERLINK(\"http://x\")"}));
    std::vector<std::string> hrefs = page.hrefs;
    std::sort(hrefs.begin(), hrefs.end());
    hrefs.erase(std::unique(hrefs.begin(), hrefs.end()), hrefs.end());
    EXPECT_EQ(hrefs, (std::vector<std::string>{"st/records/01042/20261208T080000Z-B1-1111.html",
                                               "st/records/01042/20261208T090000Z-B1-2222.html"}));
    for (const char *text : {"st/bad\xEF\xBF\xBD.json", "неполный охват", "2026-12-08 10:00:00 +01:00",
                             "Память P3", "Не со стенда", "Шаги и процессоры"})
        EXPECT_NE(page.text.find(text), std::string::npos) << text;
    EXPECT_TRUE(titled(page, "Память P3 (memory P3): не прошли модулей 1"));
}

} // namespace
