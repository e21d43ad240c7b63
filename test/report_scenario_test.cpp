// The page every run leaves beside its record (result1.html), from whole
// runs of the real program: a healthy board, a board with faults, and
// runs that end early.
#include "support/html_page.h"
#include "support/scenario.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>

namespace {

using Json = nlohmann::json;

const std::string kFull = "[HOST START]\nCHECK=1\n[HOST END]\n[HSTREAM START]\nCHECK=1\n[HSTREAM END]\n"
                          "[INTERRUPTS START]\nCHECK=1\n[INTERRUPTS END]\n[INTLINKS START]\nCHECK=1\n[INTLINKS END]\n"
                          "[SDRAM START]\nCHECK=1\n[SDRAM END]\n[CLASTER START]\nCHECK=1\n[CLASTER END]\n"
                          "[FFTTIME START]\nCHECK=1\n[FFTTIME END]\n[EXTLINKS START]\nCHECK=1\n[EXTLINKS END]\n";

class ReportScenario : public ScenarioTest {
protected:
    // The page beside the record, which it embeds whole.
    HtmlPage page() {
        EXPECT_FALSE(station_.exists("result1.html.tmp"));
        HtmlPage p = parseHtmlPage(station_.read("result1.html"));
        EXPECT_TRUE(p.parsed);
        EXPECT_EQ(p.scripts, std::vector<std::string>{"record application/json"});
        record_ = Json::parse(station_.read("result1.json"));
        EXPECT_EQ(Json::parse(p.embedded, nullptr, false), record_);
        EXPECT_TRUE(p.untitledMarks.empty());
        return p;
    }
    Json record_;
};

// A full run of a healthy board: every speed and FFT count in a tooltip as
// printed, every processor on the board picture.
TEST_F(ReportScenario, HealthyRunShowsEveryFigure) {
    ASSERT_EQ(runStation(kFull, "serial = 1077\n", "x").status, 0);
    HtmlPage p = page();
    EXPECT_NE(p.text.find("ПРОЙДЕН"), std::string::npos);
    EXPECT_NE(p.text.find("01077"), std::string::npos);
    int figures = 0;
    for (const Json &s : record_["steps"])
        for (const Json &m : s["measurements"])
            if (m["unit"] == "MB/s" || m["name"] == "cycles") {
                EXPECT_TRUE(titled(p, m["shown"].get<std::string>())) << m;
                ++figures;
            }
    EXPECT_EQ(figures, 11 + 7);
    for (int cpu = 1; cpu <= 7; ++cpu)
        EXPECT_TRUE(titled(p, "P" + std::to_string(cpu) + "\nПамять: пройден\nБПФ: пройден")) << cpu;
    EXPECT_TRUE(titled(p, "P6 линк 1 — P7 линк 1 (кабель): тест внешних линков — пройден"));
}

// A broken link, a stuck bit of P1's memory and a DSP that stops
// answering: the failed steps, their findings and error lines, the memory
// map and the bit that is stuck.
TEST_F(ReportScenario, FaultsShowWhereTheyAre) {
    runStation(selecting({"INTLINKS", "FFTTIME"}),
               "p1_sdram_chips = 0, 0, 0, 0\nlink_fault = P3.2:stuck:5:1\nram_stuck_bit = P1:0x80003:9:1\n"
               "dsp_silent = P5:cfft:1\n");
    HtmlPage p = page();
    EXPECT_EQ(record_["outcome"], "failed");
    EXPECT_NE(p.text.find("НЕ ПРОЙДЕН"), std::string::npos);
    int failed = 0, lines = 0, withFindings = 0;
    for (const Json &s : record_["steps"]) {
        if (s["status"] != "failed")
            continue;
        ++failed;
        for (const Json &line : s["errorLines"]) {
            EXPECT_NE(p.text.find(line.get<std::string>()), std::string::npos) << line;
            ++lines;
        }
        if (s["findings"].size() > 0) {
            EXPECT_NE(p.text.find("тест шаблонами " + s["findings"][0]["where"].get<std::string>()), std::string::npos);
            ++withFindings;
        }
    }
    // INTLINKS, memory P1 (the stuck bit) and FFT P5; only the memory
    // step has findings.
    EXPECT_EQ(failed, 3);
    EXPECT_GE(lines, failed);
    EXPECT_EQ(withFindings, 1);
    EXPECT_TRUE(titled(p, "P2 линк 2 — P3 линк 2: тест внутренних линков — не пройден"));
    // Without dynamic memory, P5's memory step did not apply; its FFT failed.
    EXPECT_EQ(record_["steps"][11]["status"], "not applicable");
    EXPECT_TRUE(titled(p, "P5\nПамять: ") && titled(p, "БПФ: не пройден"));
    EXPECT_TRUE(titled(p, "бит 9: читается 1 вместо 0"));
    EXPECT_TRUE(titled(p, "БПФ P5: нет результата — не пройден"));
    EXPECT_TRUE(titled(p, "тест шаблонами 0x00080003"));
}

// However the run ends early, the page is there, stamped with its end.
TEST_F(ReportScenario, FatalStopAndBreakLeaveAPage) {
    runStation(selecting({"HOST"}), "present = no\n");
    HtmlPage fatal = page();
    EXPECT_NE(fatal.text.find("АВАРИЙНЫЙ ОСТАНОВ"), std::string::npos);
    EXPECT_NE(fatal.text.find("### ОШИБКА: Не могу открыть модуль."), std::string::npos);

    station_.write("check1.cfg", selecting({"EXTLINKS"}));
    station_.write("virtual-board.ini", "[board 1]\np1_sdram_chips = 0, 0, 0, 0\n");
    Process program(station_.path(), {});
    ASSERT_TRUE(program.waitForOutput(toCp866("\nи нажмите любую клавишу . . .")));
    program.signal(SIGINT);
    EXPECT_EQ(program.finish(20, false).status, 255);
    HtmlPage interrupted = page();
    EXPECT_EQ(record_["outcome"], "interrupted");
    EXPECT_NE(interrupted.text.find("ПРЕРВАН"), std::string::npos);
}

} // namespace
