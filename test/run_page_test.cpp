// A run's page from hand-made records of each layout: the words it says
// (plural agreement, the verdict and the outcome, coverage, the suspected
// cause of memory mismatches) and what its board picture paints, read
// back with libxml2's HTML parser and from the SVG the page holds.
#include "report/charts.h"
#include "report/labels.h"
#include "report/report.h"
#include "report/run_page.h"
#include "support/html_page.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

TEST(RunPageWords, PluralAgreesWithTheNumber) {
    struct Case {
        long long n;
        const char *form;
    } cases[] = {
        {0, "несовпадений"},   {1, "несовпадение"},   {2, "несовпадения"},  {4, "несовпадения"},
        {5, "несовпадений"},   {11, "несовпадений"},  {12, "несовпадений"}, {14, "несовпадений"},
        {21, "несовпадение"},  {22, "несовпадения"},  {25, "несовпадений"}, {101, "несовпадение"},
        {111, "несовпадений"}, {112, "несовпадений"}, {149, "несовпадений"}, {1002, "несовпадения"},
        {-3, "несовпадения"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(plural(c.n, "несовпадение", "несовпадения", "несовпадений"), c.form) << c.n;
    EXPECT_EQ(counted(2, "шаг", "шага", "шагов"), "2 шага");
    EXPECT_EQ(counted(76, "несовпадение", "несовпадения", "несовпадений"), "76 несовпадений");
}

Mismatch at(std::uint32_t where, std::uint32_t written, std::uint32_t read) {
    Mismatch m;
    m.where = where;
    m.written = written;
    m.read = read;
    decodeAddress(m);
    return m;
}

TEST(RunPageWords, SuspectedCauseOfMismatches) {
    using K = SuspectedCause;
    struct Case {
        const char *name;
        std::vector<Mismatch> set;
        K::Kind kind;
        std::vector<std::pair<int, int>> bits;
        int addressBit;
        const char *words;
    } cases[] = {
        {"none", {}, K::none, {}, -1, "несовпадений нет"},
        // Bit 0 of bank 1 reads 1 wherever it was written 0.
        {"data line at 1",
         {at(0x80000, 0xFFFFFFFE, 0xFFFFFFFF), at(0x80001, 0x00000002, 0x00000003), at(0x80002, 0x4, 0x5)},
         K::dataLine, {{0, 1}}, -1, "залип разряд данных D0 в 1"},
        {"data line at 0",
         {at(0x10001000, 0x80, 0x00), at(0x10001001, 0xFFFFFFFF, 0xFFFFFF7F), at(0x12000004, 0x81, 0x01)},
         K::dataLine, {{7, 0}}, -1, "залип разряд данных D7 в 0"},
        {"two data lines",
         {at(0x100, 0x00000000, 0x80000001), at(0x200, 0x7FFFFFFE, 0xFFFFFFFF)},
         K::dataLine, {{31, 1}, {0, 1}}, -1, "D31 в 1, D0 в 1"},
        // A bit that differs everywhere but reads both ways is no stuck line.
        {"bit both ways", {at(0x100, 0x0, 0x1), at(0x300, 0x1, 0x0), at(0x777, 0x10, 0x11)}, K::unclear, {}, -1,
         "причина не ясна"},
        // Bank offset 0x1000 reads what the test wrote at 0x0000: line 12.
        {"address line, first word", {at(0x00001000, 0x00000001, 0xFFFFFFFE)}, K::addressLine, {}, 12,
         "адресную линию A12"},
        // As the virtual board shows line 12 not decoded: P1's pattern
        // tests fail at the blocks from 0x1000 on, every other one ...
        {"address line, internal memory",
         {at(0x00001000, 0xFFFFFFFE, 0x00000001), at(0x00003000, 0xFFFFFFFE, 0x00000001),
          at(0x00005000, 0x00000001, 0xFFFFFFFE), at(0x0000F000, 0x55555555, 0xAAAAAAAA)},
         K::addressLine, {}, 12, "адресную линию A12"},
        // ... and the dynamic memory test of chip 0 below them.
        {"address line, dynamic memory",
         {at(0x10000000, 0xFFFFFFFE, 0xFFFFFFEF), at(0x10000800, 0xFFFFFFFB, 0xFFFFFFBF),
          at(0x10002000, 0xFFFFFEFF, 0xFFFFEFFF), at(0x10002800, 0xFFFFFBFF, 0xFFFFBFFF),
          at(0x10004000, 0xFFFEFFFF, 0xFFEFFFFF)},
         K::addressLine, {}, 12, "A12"},
        // Words off the blocks' starts agree on some bit by chance: no line.
        {"scattered words agreeing on a bit", {at(0x1003, 0x1, 0x2), at(0x5007, 0x4, 0x8), at(0x9001, 0x10, 0x20)},
         K::unclear, {}, -1, "причина не ясна"},
        // The same offset with one lone bit wrong is a word, not an address.
        {"one word at a power of two", {at(0x00001000, 0x00000001, 0x00000003)}, K::oneWord, {}, -1,
         "одно слово по адресу 0x00001000"},
        {"one word, read twice", {at(0x00081234, 0x0, 0xFFFF), at(0x00081234, 0x5555, 0xFFFF)}, K::oneWord, {}, -1,
         "0x00081234"},
        {"scattered", {at(0x00081234, 0x0, 0x3), at(0x00090000, 0x1, 0x4), at(0x12004321, 0x8, 0x0)}, K::unclear, {},
         -1, "разбросаны по 3 адресам"},
        // Offsets from 0x1000 that skip the first word of the span are no address line.
        {"span without its first word", {at(0x00001001, 0x1, 0x2), at(0x00001100, 0x4, 0x8)}, K::unclear, {}, -1,
         "причина не ясна"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SuspectedCause cause = suspectCause(c.set);
        EXPECT_EQ(cause.kind, c.kind);
        EXPECT_EQ(cause.dataBits, c.bits);
        EXPECT_EQ(cause.addressBit, c.addressBit);
        EXPECT_NE(cause.words.find(c.words), std::string::npos) << cause.words;
    }
    // The places the maps are drawn by.
    Mismatch bank = at(0x00080003, 0, 1), chip = at(0x12001234, 0, 1), other = at(0x00200000, 0, 1);
    EXPECT_EQ(bank.bank, 1);
    EXPECT_EQ(bank.offset, 3u);
    EXPECT_EQ(chip.chip, 2);
    EXPECT_EQ(chip.offset, 0x1234u);
    EXPECT_EQ(other.bank + other.chip, -2);
}

// The steps of a board with all seven processors, every one passed; the
// cases change what they need.
Json step(const std::string &key, const char *cpu, const std::string &status = "passed") {
    return {{"key", key},
            {"processor", cpu ? Json(cpu) : Json(nullptr)},
            {"name", key},
            {"status", status},
            {"reason", nullptr},
            {"notTested", Json::array()},
            {"errors", 0},
            {"faults", Json::array()},
            {"faultCount", 0},
            {"findings", Json::array()},
            {"durationMs", 5},
            {"measurements", Json::array()},
            {"errorLines", Json::array()}};
}

Json record3() {
    Json steps = Json::array();
    for (const char *k : {"identification", "configuration", "HOST", "HSTREAM", "INTERRUPTS", "INTLINKS"})
        steps.push_back(step(k, nullptr));
    for (const char *p : {"P1", "P2", "P3", "P4", "P5", "P6", "P7"})
        steps.push_back(step("memory", p));
    steps.push_back(step("CLASTER", nullptr));
    for (const char *p : {"P1", "P2", "P3", "P4", "P5", "P6", "P7"})
        steps.push_back(step("FFTTIME", p));
    steps.push_back(step("EXTLINKS", nullptr));
    return {{"schema", 3},
            {"runId", "1f0e4c2a-7b3d-4e55-9a10-3c2b8d6e4f01"},
            {"origin", "virtual"},
            {"program", {{"name", "zorvantik-test"}, {"version", "1.1.0"}}},
            {"host", "vm"},
            {"boardNumber", 1},
            {"options", {{"arguments", Json::array()}, {"boardNumber", 1}, {"continuous", false}, {"trace", false}}},
            {"start", "2026-12-08T10:00:00+03:00"},
            {"end", "2026-12-08T10:00:09+03:00"},
            {"durationMs", 9000},
            {"verdict", "passed"},
            {"outcome", "passed"},
            {"errorCount", 0},
            {"findingCount", 0},
            {"board",
             {{"model", "ZORVANTIK"}, {"modelCode", "0x5366"}, {"version", "1.0"}, {"serialShown", "01077"},
              {"fpgaVersion", "1.4.2"},
              {"pci", {{"bus", 2}, {"device", 9}, {"controllerMemory", "0xFEAFF000"}, {"controllerIo", "0x0000E000"},
                       {"deviceMemory", "0xFE000000"}, {"deviceIo", "0x0000D000"}}},
              {"irq", 11}, {"processors", {"P1", "P2", "P3", "P4", "P5", "P6", "P7"}}, {"clockMHz", 250},
              {"submodules", Json::array()}, {"x5", "LINK"}, {"x6", "LINK"}}},
            {"configuration",
             {{"dpram", true},
              {"dynamicMemory", {{"chips", Json::array({{{"words", 1048576}}, {{"words", 1048576}},
                                                        {{"words", 1048576}}, {{"words", 1048576}}})},
                                 {"sdrcon", "0x3A49"}, {"speedShown", "100.000000"}}},
              {"sdramSize", 1048576}}},
            {"coverage", {{"complete", true}, {"passed", 22}, {"failed", 0}, {"partial", 0}, {"skipped", 0},
                          {"notApplicable", 0}, {"notRun", 0}, {"interrupted", 0}}},
            {"steps", steps},
            {"errorLines", Json::array()}};
}

Json &stepOf(Json &record, const std::string &key, const char *cpu = nullptr) {
    for (Json &s : record["steps"])
        if (s["key"] == key && (cpu ? s["processor"] == cpu : s["processor"].is_null()))
            return s;
    static Json none;
    ADD_FAILURE() << "no step " << key;
    return none;
}

Json patternFindings(int count) {
    Json findings = Json::array();
    for (int i = 0; i < count; ++i) {
        char where[16], written[16], read[16];
        std::snprintf(where, sizeof where, "0x%08X", 0x80000 + i);
        std::snprintf(written, sizeof written, "0x%08X", 2u * i);
        std::snprintf(read, sizeof read, "0x%08X", 2u * i + 1);
        findings.push_back({{"test", "pattern test"}, {"where", where}, {"written", written}, {"read", read},
                            {"processor", "P1"}, {"memory", "internal"}, {"bank", 1}});
    }
    return findings;
}

TEST(RunPageWords, VerdictAndOutcomeToldApart) {
    Json stuck = record3();
    stuck["outcome"] = "failed";
    stuck["findingCount"] = 149;
    stepOf(stuck, "memory", "P1")["status"] = "failed";
    stepOf(stuck, "memory", "P1")["findings"] = patternFindings(149);

    Json continuous = record3();
    continuous["verdict"] = nullptr;
    continuous["outcome"] = "failed";
    continuous["findingCount"] = 76;
    continuous["options"]["continuous"] = true;

    // Schema 2 had neither the verdict nor the continuous run's failure.
    Json older = record3();
    older["schema"] = 2;
    older.erase("verdict");
    older.erase("coverage");
    older["outcome"] = "interrupted";
    older["findingCount"] = 2;
    stepOf(older, "HOST")["passes"] = {{"count", 9}, {"withFindings", 1}, {"findings", 2}};
    Json olderStuck = older;
    olderStuck["outcome"] = "failed";
    olderStuck["findingCount"] = 1;
    stepOf(olderStuck, "HOST").erase("passes");
    stepOf(olderStuck, "HOST")["findings"] = Json::array({{{"test", "word exchange"}, {"where", "0x00080000"},
                                                           {"written", "0x12345678"}, {"read", "0x12345679"}}});
    Json olderBreak = older;
    olderBreak["findingCount"] = 0;

    Json fatal = record3();
    fatal["verdict"] = nullptr;
    fatal["outcome"] = "fatal";
    fatal["errorCount"] = 1;

    Json errors = record3();
    errors["verdict"] = "failed";
    errors["outcome"] = "failed";
    errors["errorCount"] = 50;

    struct Case {
        const char *name;
        Json record;
        const char *stamp, *note; // note "" where the page says nothing
    } cases[] = {
        {"passed", record3(), "passed", ""},
        {"findings under the success line", stuck, "failed",
         "Программа напечатала строку успеха, потому что её итог считает только ошибки, а тесты памяти шаблонами "
         "нашли 149 несовпадений, которые итог не считает; поэтому прогон не пройден."},
        {"continuous run with findings", continuous, "failed",
         "Непрерывный прогон не печатает итога, а его проходы нашли 76 несовпадений; поэтому прогон не пройден."},
        {"schema 2 continuous run", older, "failed",
         "Непрерывный прогон не печатает итога, а его проходы нашли 2 несовпадения; поэтому прогон не пройден."},
        {"schema 2 findings", olderStuck, "failed", "тесты обмена с хостом нашли 1 несовпадение"},
        {"schema 2 break without findings", olderBreak, "interrupted", ""},
        {"fatal", fatal, "fatal", ""},
        {"errors counted", errors, "failed", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string json = c.record.dump();
        EXPECT_EQ(stampOutcome(json), c.stamp);
        std::string note = verdictNote(json);
        if (*c.note == 0)
            EXPECT_EQ(note, "");
        else
            EXPECT_NE(note.find(c.note), std::string::npos) << note;
        std::string html, why;
        ASSERT_TRUE(renderRunPage(json, html, why)) << why;
        HtmlPage page = parseHtmlPage(html);
        ASSERT_TRUE(page.parsed);
        EXPECT_EQ(page.text.find(c.note) != std::string::npos, true);
        EXPECT_EQ(html.find("id=\"verdict-note\"") != std::string::npos, *c.note != 0);
    }
    EXPECT_EQ(verdictNote("not a record"), "");
}

// The board picture's link lines and processor boxes as drawn: colour by
// tooltip's first words.
std::map<std::string, std::string> linkColours(const std::string &html) {
    std::map<std::string, std::string> colours;
    std::regex mark(R"re(<(?:line|path) [^>]*stroke="(#[0-9a-f]+)" stroke-width="5"[^>]*><title>([^<:]*):)re");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), mark); it != std::sregex_iterator(); ++it)
        colours[(*it)[2]] = (*it)[1];
    return colours;
}

std::map<std::string, std::string> boxColours(const std::string &html) {
    std::map<std::string, std::string> colours;
    std::regex box(R"re(<rect [^>]*fill="#ffffff" rx="[58]" stroke="(#[0-9a-f]+)" stroke-width="3"[^>]*><title>([^<\n:]*))re");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), box); it != std::sregex_iterator(); ++it)
        colours[(*it)[2]] = (*it)[1];
    return colours;
}

const std::string kGreen = "#2e7d32", kRed = "#c62828";

TEST(RunPagePicture, OnlyTheFailingPairAndPartAreRed) {
    Json r = record3();
    r["verdict"] = "failed";
    r["outcome"] = "failed";
    r["errorCount"] = 52;
    Json &links = stepOf(r, "INTLINKS");
    links["status"] = "failed";
    links["errors"] = 50;
    for (int i = 0; i < 50; ++i)
        links["faults"].push_back({{"kind", "link"},
                                   {"from", {{"processor", "P2"}, {"link", 3}}},
                                   {"to", {{"processor", "P4"}, {"link", 0}}},
                                   {"written", 1u << (i % 32)},
                                   {"read", (1u << (i % 32)) | 0x20}});
    links["errorLines"] = Json::array({"### ОШИБКА: записано 00000001 != прочитано 00000021"});
    Json &irq = stepOf(r, "INTERRUPTS");
    irq["status"] = "failed";
    irq["errors"] = 1;
    irq["faults"].push_back({{"kind", "host"}, {"part", "interrupts"}, {"text", "### ОШИБКА: нет прерывания"}});
    Json &cluster = stepOf(r, "CLASTER");
    cluster["status"] = "failed";
    cluster["errors"] = 1;
    cluster["faults"].push_back({{"kind", "memory"}, {"processor", "P5"}, {"memory", "dynamic"}, {"chip", 2},
                                 {"offset", 0x1234}, {"address", 0x12001234}, {"written", 1}, {"read", 3}});

    std::string html, why;
    ASSERT_TRUE(renderRunPage(r.dump(), html, why)) << why;
    std::map<std::string, std::string> pairs = linkColours(html);
    ASSERT_EQ(pairs.size(), 10u); // nine pairs of seven processors and the cable
    for (const auto &p : pairs)
        EXPECT_EQ(p.second, p.first == "P2 линк 3 — P4 линк 0" ? kRed : kGreen) << p.first;
    std::map<std::string, std::string> boxes = boxColours(html);
    for (const char *part : {"порт хоста", "DPRAM", "FIFO", "поток DMA"})
        EXPECT_EQ(boxes[part], kGreen) << part;
    EXPECT_EQ(boxes["прерывания"], kRed);
    for (const char *cpu : {"P1", "P2", "P3", "P4", "P6", "P7"})
        EXPECT_EQ(boxes[cpu], kGreen) << cpu;
    EXPECT_EQ(boxes["P5"], kRed); // the cluster's fault on P5's chip 2
    HtmlPage page = parseHtmlPage(html);
    EXPECT_TRUE(titled(page, "P2 линк 3 — P4 линк 0: тест внутренних линков — не пройден, 50 ошибок на этой паре"));
    // A fault on a pair the picture does not draw (no P4 fitted) cannot be
    // placed: every pair of the test shows its failure.
    Json noP4 = r;
    noP4["board"]["processors"] = {"P1", "P2", "P3", "P5", "P6", "P7"};
    std::string unplaced, unplacedWhy;
    ASSERT_TRUE(renderRunPage(noP4.dump(), unplaced, unplacedWhy)) << unplacedWhy;
    std::map<std::string, std::string> all = linkColours(unplaced);
    EXPECT_EQ(all.size(), 8u);
    for (const auto &p : all)
        EXPECT_EQ(p.second, p.first.find("кабель") != std::string::npos ? kGreen : kRed) << p.first;
    EXPECT_TRUE(titled(page, "прерывания: Прерывания — не пройден, 1 ошибка: ### ОШИБКА: нет прерывания"));
    EXPECT_NE(page.text.find("Память кластера P5 — 1 несовпадение"), std::string::npos);
    EXPECT_NE(page.text.find("динамическая память, микросхема 2 · 1 ошибка"), std::string::npos);
    EXPECT_TRUE(page.untitledMarks.empty());
    // Marks keep their titles for screen readers: no chart is one image.
    EXPECT_EQ(html.find("role=\"img\""), std::string::npos);
    EXPECT_NE(html.find("role=\"group\""), std::string::npos);
}

TEST(RunPagePicture, WhatDidNotRunIsNeverGreen) {
    Json r = record3();
    // The selection ran the FFT only: P1's memory in part, the rest skipped;
    // the board has no front-panel links.
    r["board"]["x5"] = "SYNX";
    for (const char *key : {"HOST", "HSTREAM", "INTERRUPTS", "INTLINKS", "CLASTER"}) {
        stepOf(r, key)["status"] = "skipped";
        stepOf(r, key)["reason"] = "ТЕСТ ПРОПУЩЕН";
    }
    Json &p1 = stepOf(r, "memory", "P1");
    p1["status"] = "partial";
    p1["reason"] = "Тест динамической памяти пропущен";
    p1["notTested"] = Json::array({{{"part", "dynamicMemory"}, {"reason", "Тест динамической памяти пропущен"}}});
    for (const char *cpu : {"P2", "P3", "P4", "P5", "P6", "P7"}) {
        stepOf(r, "memory", cpu)["status"] = "skipped";
        stepOf(r, "memory", cpu)["reason"] = "Тест динамической памяти пропущен";
    }
    stepOf(r, "FFTTIME", "P7")["status"] = "not run";
    stepOf(r, "EXTLINKS")["status"] = "not applicable";
    stepOf(r, "EXTLINKS")["reason"] = "НЕТ НУЖНЫХ МЕЖПРОЦЕССОРНЫХ СВЯЗЕЙ";
    r["coverage"] = {{"complete", false}, {"passed", 8},        {"failed", 0}, {"partial", 1},
                     {"skipped", 11},     {"notApplicable", 1}, {"notRun", 1}, {"interrupted", 0}};

    std::string json = r.dump(), html, why;
    bool complete = true;
    EXPECT_EQ(coverageLine(json, complete),
              "Покрытие неполное, проверено не всё: частично: 1 шаг; пропущены: 11 шагов; неприменимы: 1 шаг; "
              "не начаты: 1 шаг.");
    EXPECT_FALSE(complete);
    ASSERT_TRUE(renderRunPage(json, html, why)) << why;
    std::map<std::string, std::string> boxes = boxColours(html);
    ASSERT_EQ(boxes.size(), 12u); // five parts of the host, seven processors
    for (const auto &b : boxes)
        EXPECT_NE(b.second, kGreen) << b.first;
    EXPECT_EQ(boxes["P1"], "#5c6bc0"); // its FFT passed, its memory in part
    EXPECT_EQ(boxes["P2"], "#5c6bc0"); // memory skipped, FFT passed
    EXPECT_EQ(boxes["P7"], "#cfd8dc"); // memory skipped, FFT not reached: nothing of it ran
    for (const auto &p : linkColours(html))
        EXPECT_NE(p.second, kGreen) << p.first;
    HtmlPage page = parseHtmlPage(html);
    for (const char *text : {"Память P2 — пропущен: Тест динамической памяти пропущен",
                             "Память P1 — частично, не проверено: динамическая память (Тест динамической памяти пропущен)",
                             "Внешние линки — неприменим: НЕТ НУЖНЫХ МЕЖПРОЦЕССОРНЫХ СВЯЗЕЙ", "БПФ P7 — не начат"})
        EXPECT_NE(page.text.find(text), std::string::npos) << text;
    for (const char *badge : {"b-partial", "b-skipped", "b-notapplicable", "b-notrun"})
        EXPECT_NE(html.find(badge), std::string::npos) << badge;
    EXPECT_TRUE(titled(page, "P1\nПамять: частично (Тест динамической памяти пропущен)\nБПФ: пройден"));

    // A complete run says so.
    EXPECT_EQ(coverageLine(record3().dump(), complete), "Покрытие полное: каждый шаг выполнен целиком (шагов: 22).");
    EXPECT_TRUE(complete);
}

TEST(RunPagePicture, RecordOfSchemaTwoStillRenders) {
    // As the program wrote it before: no faults, coverage or verdict; the
    // dynamic-memory test's place only in its error lines.
    Json r = record3();
    r["schema"] = 2;
    for (const char *k : {"runId", "origin", "verdict", "coverage"})
        r.erase(k);
    for (Json &s : r["steps"])
        for (const char *k : {"reason", "notTested", "faults", "faultCount"})
            s.erase(k);
    r["outcome"] = "failed";
    r["errorCount"] = 51;
    Json &links = stepOf(r, "INTLINKS");
    links["status"] = "failed";
    links["errors"] = 50;
    Json &p3 = stepOf(r, "memory", "P3");
    p3["status"] = "failed";
    p3["errors"] = 1;
    p3["errorLines"] =
        Json::array({"### ОШИБКА: \u00a0адрес 0x12001003: записано 0xFFFFFF7F != прочитано 0xFFFFFFFF"});
    stepOf(r, "memory", "P4")["status"] = "skipped";

    std::string json = r.dump(), html, why;
    ASSERT_TRUE(renderRunPage(json, html, why)) << why;
    HtmlPage page = parseHtmlPage(html);
    ASSERT_TRUE(page.parsed);
    EXPECT_TRUE(page.untitledMarks.empty());
    EXPECT_NE(page.text.find("----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 51"), std::string::npos);
    EXPECT_NE(page.text.find("НЕ ПРОЙДЕН"), std::string::npos);
    // The record holds the links test's status alone: every pair shows it.
    std::map<std::string, std::string> pairs = linkColours(html);
    EXPECT_EQ(pairs.size(), 10u);
    for (const auto &p : pairs)
        EXPECT_EQ(p.second, p.first.find("кабель") != std::string::npos ? kGreen : kRed) << p.first;
    EXPECT_NE(page.text.find("Память P3 — 1 несовпадение"), std::string::npos);
    EXPECT_NE(page.text.find("динамическая память, микросхема 2 · 1 ошибка"), std::string::npos);
    EXPECT_NE(page.text.find("одно слово по адресу 0x12001003"), std::string::npos);
    bool complete = true;
    EXPECT_NE(coverageLine(json, complete).find("пропущены: 1 шаг"), std::string::npos);
    EXPECT_FALSE(complete);
    EXPECT_NE(page.text.find("Запись старого формата не отмечает шаги, выполненные частично."), std::string::npos);
    // The configuration the record holds, and times with their offset.
    for (const char *text : {"шина 2, устройство 9", "память 0xFEAFF000, порты 0x0000E000", "LINK / LINK",
                             "4 микросхемы по 1048576 слов", "2026-12-08 10:00:00 (UTC+03:00)"})
        EXPECT_NE(page.text.find(text), std::string::npos) << text;
}

TEST(RunPagePicture, BitHistogramKeepsSmallCountsInSight) {
    std::vector<Mismatch> set;
    for (int i = 0; i < 133; ++i)
        set.push_back(at(0x80000 + i, 0, 1));     // bit 0, 133 times
    set.push_back(at(0x90000, 0, 1u << 20));      // bit 20 once
    std::string svg = bitChart(set);
    std::regex bar(R"re(<rect x="[0-9.]+" y="[0-9.]+" width="[0-9.]+" height="([0-9.]+)" fill="#c62828"><title>бит 20:)re");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(svg, m, bar));
    EXPECT_GE(std::stod(m[1]), 3.0);
    EXPECT_NE(svg.find(">133</text>"), std::string::npos);
    EXPECT_NE(svg.find(">1</text>"), std::string::npos);
}

} // namespace
