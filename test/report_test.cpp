// Pages made from records (zt_report): a run's page from records written
// here, and the fleet over a folder of records, repeated boards and bad
// files among them, read back with libxml2's HTML parser.
#include "report/charts.h"
#include "report/html.h"
#include "report/report.h"
#include "support/html_page.h"
#include "support/process.h"
#include "support/station.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>

namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

const std::string kMarkup = "</script><script>alert(\"x,1\")</script><!-- <b>x</b> &amp;";

// A record as the program writes it, with the fields the pages read.
Json record(const std::string &serial, const std::string &start, const std::string &outcome,
            const std::vector<std::string> &failed = {}, double hostPortWrite = 60) {
    Json steps = Json::array();
    auto step = [&](const std::string &key, const char *cpu, Json measurements = Json::array()) {
        bool fails = false;
        for (const std::string &f : failed)
            fails = fails || f == (cpu ? key + " " + cpu : key);
        steps.push_back({{"key", key},
                         {"processor", cpu ? Json(cpu) : Json(nullptr)},
                         {"name", key},
                         {"status", fails ? "failed" : "passed"},
                         {"errors", fails ? 1 : 0},
                         {"findings", Json::array()},
                         {"durationMs", 5},
                         {"measurements", measurements},
                         {"errorLines", fails ? Json::array({"### ОШИБКА: " + key}) : Json::array()}});
    };
    char shown[32];
    std::snprintf(shown, sizeof shown, "%f", hostPortWrite);
    step("HOST", nullptr, Json::array({{{"name", "hostPortWrite"}, {"value", hostPortWrite}, {"unit", "MB/s"},
                                        {"shown", shown}}}));
    step("INTLINKS", nullptr);
    step("memory", "P1");
    step("memory", "P3");
    step("FFTTIME", "P3",
         Json::array({{{"name", "cycles"}, {"value", 10432}, {"unit", "cycles"}, {"shown", "10432"}}}));
    return {{"schema", kReportSchema},
            {"program", {{"name", "zorvantik-test"}, {"version", "1.0.0"}}},
            {"boardNumber", 1},
            {"start", start},
            {"durationMs", 1000},
            {"outcome", outcome},
            {"errorCount", static_cast<int>(failed.size())},
            {"findingCount", 0},
            {"board", serial.empty() ? Json(nullptr)
                                     : Json({{"model", "ZORVANTIK"}, {"version", "1.0"}, {"serialShown", serial},
                                             {"fpgaVersion", "1.4.2"}, {"processors", {"P1", "P3"}},
                                             {"x5", "LINK"}, {"x6", "LINK"}})},
            {"steps", steps},
            {"errorLines", Json::array()}};
}

// A record's page holds the record and only the record as script, shows
// its text as text, and gives every chart mark a tooltip.
TEST(ReportPage, RecordsOfEveryShapeMakeSafePages) {
    Json marked = record("01042", "2026-12-08T10:00:00+00:00", "failed", {"INTLINKS"});
    // Layout 2: its memory map and link pairs come from the error lines.
    marked["schema"] = 2;
    marked["steps"][1]["errorLines"] = Json::array({kMarkup});
    marked["board"]["serialShown"] = kMarkup;
    marked["steps"][2]["findings"] = Json::array(
        {{{"test", "pattern test"}, {"where", "0x00080003"}, {"written", "0xFFFFFFFE"}, {"read", "0xFFFFFFFF"}}});
    marked["steps"][3]["errorLines"] =
        Json::array({"### ОШИБКА:  адрес 0x00001234: записано 0x00000000 != прочитано 0x00000080"});
    Json extreme = record("01042", "2026-12-08T10:00:00+00:00", "passed", {}, 1e300);
    extreme["errorCount"] = 1e300;
    extreme["durationMs"] = -5;
    Json fatal = record("", "2026-12-08T10:00:00+00:00", "fatal");
    fatal["fatal"] = {{"stop", 3}, {"message", "### ОШИБКА: Не могу открыть модуль."}};
    struct Case {
        const char *name;
        Json record;
        const char *stamp;
        std::vector<std::string> texts, titles;
    } cases[] = {
        {"markup", marked, "НЕ ПРОЙДЕН", {kMarkup, "тест шаблонами 0x00080003", "Внутренние линки"},
         {"бит 0: читается 1 вместо 0 — 1", "бит 7: читается 1 вместо 0 — 1", "P1 линк 2 — P3 линк 0",
          "60.000000 Мбайт/с", "БПФ P3: 10432 тактов"}},
        {"fatal", fatal, "АВАРИЙНЫЙ ОСТАНОВ", {"### ОШИБКА: Не могу открыть модуль.", "Модуль не опознан"}, {}},
        {"extreme", extreme, "ПРОЙДЕН", {}, {"Запись через порт хоста (hostPortWrite): 1000000"}},
        {"interrupted", record("01042", "2026-12-08T10:00:00+00:00", "interrupted"), "ПРЕРВАН", {"Прогон прерван"}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string json = c.record.dump(2), html, why;
        ASSERT_TRUE(renderRunPage(json, html, why)) << why;
        HtmlPage page = parseHtmlPage(html);
        ASSERT_TRUE(page.parsed);
        EXPECT_TRUE(page.utf8);
        EXPECT_EQ(page.scripts, std::vector<std::string>{"record application/json"});
        EXPECT_EQ(Json::parse(page.embedded), c.record);
        EXPECT_EQ(page.embedded.find('<'), std::string::npos);
        EXPECT_TRUE(page.handlers.empty());
        EXPECT_TRUE(page.references.empty());
        EXPECT_TRUE(page.untitledMarks.empty()) << page.untitledMarks.size();
        EXPECT_NE(page.text.find(c.stamp), std::string::npos);
        for (const std::string &t : c.texts)
            EXPECT_NE(page.text.find(t), std::string::npos) << t;
        for (const std::string &t : c.titles)
            EXPECT_TRUE(titled(page, t)) << t;
    }
    std::string html, why;
    for (const char *bad : {"", "{\"schema\": 1", "[1, 2]", "{\"a\": 1}"})
        EXPECT_FALSE(renderRunPage(bad, html, why)) << bad;
    Json newer = record("01042", "2026-12-08T10:00:00+00:00", "passed");
    newer["schema"] = kReportSchema + 1;
    EXPECT_FALSE(renderRunPage(newer.dump(), html, why));
    EXPECT_NE(why.find("not one this program knows"), std::string::npos) << why;
    // A made-up record of more steps than any run takes is refused, not drawn.
    Json swollen = record("01042", "2026-12-08T10:00:00+00:00", "passed");
    for (std::size_t limit : {std::size_t(1000), std::size_t(1001)}) {
        while (swollen["steps"].size() < limit)
            swollen["steps"].push_back(swollen["steps"][0]);
        EXPECT_EQ(renderRunPage(swollen.dump(), html, why), limit == 1000) << limit << ": " << why;
    }
    EXPECT_EQ(why, "not a result record: 1001 steps, a run takes at most 1000");
}

// The documented outlier rule, and the escapes the pages rely on.
TEST(ReportCharts, OutlierRuleAndEscapes) {
    struct Row {
        std::vector<double> values;
        double value;
        bool outlier;
    } rows[] = {
        {{10, 10, 10, 10}, 10, false},          // no spread: only another value stands out
        {{10, 10, 10, 10}, 10.5, true},
        {{9, 10, 11, 10, 10}, 10.1, true},      // three of five at the median: MAD 0 again
        {{8, 9, 10, 11, 12}, 15.1, false},      // median 10, MAD 1: the limit is 5.19
        {{8, 9, 10, 11, 12}, 15.2, true},
        {{8, 9, 10, 11, 12}, 4.7, true},
    };
    for (const Row &r : rows) {
        std::vector<double> v = r.values;
        double m = median(v);
        EXPECT_EQ(isOutlier(r.value, m, medianAbsoluteDeviation(v, m)), r.outlier) << r.value;
    }
    EXPECT_EQ(htmlEscape("<a href='x'>&\"\x01"), "&lt;a href=&#39;x&#39;&gt;&amp;&quot;\xEF\xBF\xBD");
    EXPECT_EQ(scriptJson("{\"a\": \"</script><!--\"}"), "{\"a\": \"\\u003c/script>\\u003c!--\"}");
    EXPECT_EQ(hrefPath("runs 1\\a:b#1/result1.html"), "runs%201/a%3Ab%231/result1.html");
}

class ReportFleet : public ::testing::Test {
protected:
    void write(const std::string &name, const std::string &text) {
        fs::create_directories(fs::path(dir_.file(name)).parent_path());
        dir_.write(name, text);
    }
    TempStation dir_{false};
};

// Three boards over six runs, and every kind of file that is not a
// record: the summary's figures, the lines on stderr, the CSV and the page.
TEST_F(ReportFleet, SummaryOverRepeatedBoardsAndBadFiles) {
    // 01001: three runs, the first by time passed; the last two start at
    // the same instant, and the one with the greater runId (a/result1.json)
    // is the last: failed. 01002: passed, then failed. 01003: failed once.
    // A fatal stop: a run without a board.
    Json tiedLast = record("01001", "2026-12-08T09:00:00+00:00", "failed", {"memory P3"});
    tiedLast["runId"] = "b0000000-0000-4000-8000-000000000000";
    Json tiedFirst = record("01001", "2026-12-08T12:00:00+03:00", "passed", {}, 62);
    tiedFirst["runId"] = "a0000000-0000-4000-8000-000000000000";
    write("a/result1.json", tiedLast.dump(2));
    write("a/b/result2.json", tiedFirst.dump(2));
    write("c/x.json", record("01001", "2026-12-08T08:30:00+00:00", "passed", {}, 61).dump(2)); // the last by time
    write("c/y.json", record("01002", "2026-12-07T09:00:00+00:00", "passed", {}, 59).dump(2));
    write("c/z.json", record("01002", "2026-12-08T09:00:00+00:00", "failed", {"INTLINKS", "memory P3"}, 900).dump());
    write("d/q.json", record("01003", "2026-12-08T09:00:00+00:00", "failed", {"INTLINKS"}).dump());
    write("d/fatal.json", record("", "2026-12-08T09:00:00+00:00", "fatal").dump());
    write("d/page.html", "not looked at");
    // A record whose text holds markup, as its serial too.
    Json marked = record(kMarkup, "2026-12-08T09:00:00+00:00", "passed");
    write("e/marked.json", marked.dump());
    write("e/marked.html", "its page");
    // Bad files.
    std::string whole = record("01009", "2026-12-08T09:00:00+00:00", "passed").dump(2);
    Json newer = record("01009", "2026-12-08T09:00:00+00:00", "passed");
    newer["schema"] = kReportSchema + 1;
    struct Bad {
        const char *file, *text, *why;
    } bad[] = {
        {"bad/cut.json", "", "truncated"},
        {"bad/empty.json", "", "empty file"},
        {"bad/text.json", "result: passed", "not JSON"},
        {"bad/other.json", "{\"name\": \"package\", \"version\": 2}", "not a result record"},
        {"bad/newer.json", "", "record layout"},
        {"bad/dir.json", nullptr, "is a directory"},
        {"bad/gone.json", nullptr, "cannot be read"},
    };
    write("bad/cut.json", whole.substr(0, whole.size() / 2));
    write("bad/empty.json", "");
    write("bad/text.json", "result: passed");
    write("bad/other.json", bad[3].text);
    write("bad/newer.json", newer.dump());
    fs::create_directories(dir_.file("bad/dir.json/inner"));
    write("bad/dir.json/inner/r.json", record("01004", "2026-12-08T09:00:00+00:00", "passed").dump());
    fs::create_symlink(dir_.file("nowhere.json"), dir_.file("bad/gone.json"));

    Fleet fleet;
    std::ostringstream csv, err;
    fleetCollect({dir_.path(), dir_.file("missing.json")}, fleet, &csv, err);

    Json summary = Json::parse(fleetSummaryJson(fleet));
    EXPECT_EQ(summary["runs"], 8);
    EXPECT_EQ(summary["boards"], 4);
    EXPECT_EQ(summary["outcomes"], Json({{"passed", 4}, {"failed", 3}, {"interrupted", 0}, {"fatal", 1}, {"aborted", 0}}));
    EXPECT_EQ(summary["skipped"], 8);
    // First runs: 01001 c/x.json passed, 01002 passed, 01003 failed, the marked board passed.
    EXPECT_DOUBLE_EQ(summary["firstPassYield"].get<double>(), 3.0 / 4);
    // Last runs: only the marked board's passed.
    EXPECT_DOUBLE_EQ(summary["finalYield"].get<double>(), 1.0 / 4);
    EXPECT_EQ(summary["pareto"], Json::parse(R"([{"key": "INTLINKS", "processor": null, "boards": 2},
                                                  {"key": "memory", "processor": "P3", "boards": 2}])"));

    std::string lines = err.str();
    EXPECT_EQ(count(lines, "\n"), 8u) << lines;
    for (const Bad &b : bad)
        EXPECT_NE(lines.find(std::string(b.file).substr(4) + ": " + b.why), std::string::npos) << b.file << "\n"
                                                                                                 << lines;
    EXPECT_NE(lines.find("missing.json: cannot be read"), std::string::npos) << lines;

    // The CSV: a header and a row per run, in path order.
    std::istringstream rows(csv.str());
    std::vector<std::string> all;
    for (std::string row; std::getline(rows, row);)
        all.push_back(row);
    ASSERT_EQ(all.size(), 9u);
    EXPECT_EQ(all[0].substr(0, 97),
              "file,serial,start,outcome,errorCount,findingCount,failedSteps,runId,origin,coverage,HOST.hostPort");
    EXPECT_EQ(all[3].substr(0, all[3].find(',')), dir_.file("c/x.json"));
    EXPECT_NE(all[5].find(",01002,2026-12-08T09:00:00+00:00,failed,2,0,INTLINKS; memory P3,,,,900,"),
              std::string::npos)
        << all[5];
    EXPECT_NE(all[8].find(",\"</script><script>alert(\"\"x,1\"\")</script><!-- <b>x</b> &amp;\","), std::string::npos)
        << all[8];

    // The page: the summary as embedded, the marked serial as text, a link
    // to the page beside a record.
    std::string html = renderFleetPage(fleet, dir_.path(), "test");
    HtmlPage page = parseHtmlPage(html);
    ASSERT_TRUE(page.parsed);
    EXPECT_EQ(page.scripts, std::vector<std::string>{"summary application/json"});
    EXPECT_EQ(Json::parse(page.embedded), summary);
    EXPECT_TRUE(page.handlers.empty());
    EXPECT_TRUE(page.untitledMarks.empty());
    EXPECT_NE(page.text.find(kMarkup), std::string::npos);
    EXPECT_EQ(page.hrefs, std::vector<std::string>{"e/marked.html"});
    EXPECT_TRUE(titled(page, "Внутренние линки (INTLINKS): не прошли модулей 2"));
    EXPECT_TRUE(titled(page, "01002: 900.000000 Мбайт/с — выброс"));
}

// A board's list of runs: each run links to its own page, and carries its
// own mark of coverage, whatever the board's last run has.
TEST_F(ReportFleet, EachRunInABoardsListIsItsOwn) {
    Json first = record("01042", "2026-12-08T09:00:00+00:00", "failed", {"INTLINKS"});
    Json last = record("01042", "2026-12-08T10:00:00+00:00", "passed");
    last["coverage"] = {{"complete", false}};
    write("b/1.json", first.dump(2));
    write("b/2.json", last.dump(2));
    write("b/2.html", "<html></html>");
    Fleet fleet;
    std::ostringstream err;
    fleetCollect({dir_.file("b")}, fleet, nullptr, err);
    ASSERT_EQ(fleet.runs, 2) << err.str();
    std::string html = renderFleetPage(fleet, dir_.path(), "test");
    std::size_t from = html.find("<tr class=\"s-passed\">"), to = html.find("</tr>", from);
    ASSERT_NE(to, std::string::npos) << html;
    EXPECT_EQ(html.substr(from, to - from),
              "<tr class=\"s-passed\"><td class=\"key\">01042</td><td class=\"num\"><details><summary>2</summary>"
              "<ul class=\"runs\"><li>2026-12-08 09:00:00 +00:00 <span class=\"badge b-failed\">НЕ ПРОЙДЕН</span></li>"
              "<li><a href=\"b/2.html\">2026-12-08 10:00:00 +00:00</a> <span class=\"badge b-passed\">ПРОЙДЕН</span> "
              "<span class=\"cover\">неполный охват</span></li></ul></details></td><td><span class=\"badge "
              "b-passed\">ПРОЙДЕН</span> <span class=\"cover\">неполный охват</span></td><td class=\"num\">0</td>"
              "<td class=\"num\">0</td><td title=\"\"></td><td class=\"when\" "
              "title=\"2026-12-08T10:00:00+00:00\"><a href=\"b/2.html\">2026-12-08 10:00:00 +00:00</a></td>");
}

// The command: a page and a CSV from a folder; nothing to read is an error.
TEST_F(ReportFleet, CommandWritesThePageOrSaysWhyNot) {
    write("runs/result1.json", record("01042", "2026-12-08T09:00:00+00:00", "passed").dump(2));
    write("runs/bad.json", "{");
    RunResult r = runReportCommand(dir_.path(), {"--csv", "fleet.csv", "runs"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "zorvantik-report: skipped runs/bad.json: truncated: " +
                         r.err.substr(r.err.find("truncated: ") + 11));
    EXPECT_TRUE(parseHtmlPage(dir_.read("report.html")).parsed);
    EXPECT_EQ(count(dir_.read("fleet.csv"), "\r\n"), 2u);
    EXPECT_FALSE(dir_.exists("report.html.tmp"));

    r = runReportCommand(dir_.path(), {"--page", "runs/result1.json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(parseHtmlPage(dir_.read("runs/result1.html")).text.find("ПРОЙДЕН"), std::string::npos);

    fs::create_directories(dir_.file("none"));
    r = runReportCommand(dir_.path(), {"-o", "none.html", "none"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorvantik-report: no result record found\n");
    EXPECT_FALSE(dir_.exists("none.html"));
}

} // namespace
