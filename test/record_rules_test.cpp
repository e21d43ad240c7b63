// The result record's rules, in process: where a memory address lies,
// which status a step gets, and that the two documents stay valid UTF-8
// JSON and well-formed XML whatever bytes reach them.
#include "report/escape.h"
#include "run/record.h"
#include "run/runstate.h"
#include "support/junit.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

TEST(RecordRules, MemoryAddressesDecodeToBankOrChip) {
    struct Row {
        std::uint32_t address;
        const char *memory; // nullptr: outside both maps
        int bank, chip;
        std::uint32_t offset;
    };
    const Row rows[] = {
        {0x00000000, "internal", 0, -1, 0},          {0x0000FFFF, "internal", 0, -1, 0xFFFF},
        {0x00010000, nullptr, -1, -1, 0},             {0x0007FFFF, nullptr, -1, -1, 0},
        {0x00080003, "internal", 1, -1, 3},          {0x0008FFFF, "internal", 1, -1, 0xFFFF},
        {0x00090000, nullptr, -1, -1, 0},             {0x00100000, "internal", 2, -1, 0},
        {0x0010FFFF, "internal", 2, -1, 0xFFFF},     {0x00110000, nullptr, -1, -1, 0},
        {0x0FFFFFFF, nullptr, -1, -1, 0},             {0x10000000, "dynamic", -1, 0, 0},
        {0x10FFFFFF, "dynamic", -1, 0, 0xFFFFFF},    {0x12001234, "dynamic", -1, 2, 0x1234},
        {0x13FFFFFF, "dynamic", -1, 3, 0xFFFFFF},    {0x14000000, nullptr, -1, -1, 0},
        {0x80000010, nullptr, -1, -1, 0},             {0xFFFFFFFF, nullptr, -1, -1, 0},
    };
    for (const Row &row : rows) {
        MemoryPlace place = decodeMemoryAddress(row.address);
        SCOPED_TRACE(row.address);
        EXPECT_EQ(place.memory ? std::string(place.memory) : "none", row.memory ? row.memory : "none");
        EXPECT_EQ(place.bank, row.bank);
        EXPECT_EQ(place.chip, row.chip);
        EXPECT_EQ(place.offset, row.offset); // 0 outside both maps
    }
}

TEST(RecordRules, StatusOfAStepFromWhatRanAndWhatItFound) {
    struct Row {
        StepFacts facts; // skipped, notApplicable, ended, repeated, runEnded, found, notTested
        const char *status;
    };
    const Row rows[] = {
        {{false, false, true, false, true, false, false}, "passed"},
        {{false, false, true, false, true, true, false}, "failed"},
        {{false, false, true, false, true, false, true}, "partial"},
        {{false, false, true, false, true, true, true}, "failed"}, // failed wins over partial
        {{true, false, true, false, true, false, false}, "skipped"},
        {{true, false, true, false, true, true, true}, "skipped"}, // the selection file's warning counts
        {{false, true, true, false, true, false, false}, "not applicable"},
        {{false, true, true, false, true, false, true}, "not applicable"},
        {{false, true, true, false, true, true, false}, "failed"},
        {{false, false, false, false, false, false, false}, "interrupted"},
        {{false, false, false, false, false, true, true}, "interrupted"},
        {{false, false, false, false, true, false, false}, "failed"}, // a fatal end inside it
        {{false, false, false, true, false, false, false}, "interrupted"}, // continuous, clean passes
        {{false, false, false, true, false, true, false}, "failed"},      // continuous, passes found something
    };
    for (const Row &row : rows)
        EXPECT_STREQ(decideStepStatus(row.facts), row.status)
            << row.facts.skipped << row.facts.notApplicable << row.facts.ended << row.facts.repeated
            << row.facts.runEnded << row.facts.found << row.facts.notTested;
}

TEST(RecordRules, XmlTextEscapesAndReplacesWhatXmlCannotHold) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Row {
        std::string in, attribute, content;
    };
    const std::vector<Row> rows = {
        {"plain", "plain", "plain"},
        {"a<b>&\"'", "a&lt;b&gt;&amp;&quot;&apos;", "a&lt;b&gt;&amp;&quot;&apos;"},
        {"l1\nl2\tx\ry", "l1&#10;l2&#9;x&#13;y", "l1\nl2\tx&#13;y"},
        {std::string("a\0b", 3), "a" + fffd + "b", "a" + fffd + "b"},
        {"\x01\x1F\x7F", fffd + fffd + "\x7F", fffd + fffd + "\x7F"},
        {"\xD0\x9F\xD1\x80", "\xD0\x9F\xD1\x80", "\xD0\x9F\xD1\x80"},     // "Пр"
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},     // U+1F600
        {"\xFF", fffd, fffd},                                             // never in UTF-8
        {"\xC0\xAF", fffd + fffd, fffd + fffd},                           // overlong '/'
        {"\xE0\x80\xAF", fffd + fffd + fffd, fffd + fffd + fffd},         // overlong, 3 bytes
        {"\xED\xA0\x80", fffd + fffd + fffd, fffd + fffd + fffd},         // a surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd, fffd + fffd + fffd + fffd}, // above U+10FFFF
        {"\xEF\xBF\xBE\xEF\xBF\xBF", fffd + fffd + fffd + fffd + fffd + fffd, fffd + fffd + fffd + fffd + fffd + fffd},
        {"\xD0", fffd, fffd},                                             // cut short at the end
        {"\xD0<", fffd + "&lt;", fffd + "&lt;"},                          // cut short by markup
        {"\xE2\x82", fffd + fffd, fffd + fffd},
        {"\xEF\xBF\xBD", "\xEF\xBF\xBD", "\xEF\xBF\xBD"},                 // U+FFFD itself stays
    };
    for (const Row &row : rows) {
        EXPECT_EQ(xmlText(row.in, true), row.attribute) << row.in;
        EXPECT_EQ(xmlText(row.in, false), row.content) << row.in;
    }
}

TEST(RecordRules, ReasonIsTheConsoleLineWithoutItsMarks) {
    // "\n -----   НЕТ НУЖНЫХ МЕЖПРОЦЕССОРНЫХ СВЯЗЕЙ ----- " in Windows-1251.
    EXPECT_EQ(reasonText("\n -----   \xCD\xC5\xD2 \xD1\xC2\xDF\xC7\xC5\xC9 ----- "), "НЕТ СВЯЗЕЙ");
    EXPECT_EQ(reasonText("\n!\xD2\xC5\xD1\xD2 HOST-\xC8\xCD\xD2\xC5\xD0\xD4\xC5\xC9\xD1\xC0 \xCF\xD0\xCE\xCF\xD3\xD9\xC5\xCD"),
              "ТЕСТ HOST-ИНТЕРФЕЙСА ПРОПУЩЕН");
    EXPECT_EQ(reasonText("\n \xD2\xE5\xF1\xF2 (\xED\xE5\xF2)."), "Тест (нет).");
    EXPECT_EQ(reasonText("no dynamic memory"), "no dynamic memory");
    EXPECT_EQ(reasonText("\n ### "), "");
    EXPECT_EQ(reasonText(nullptr), "");
}

// Whether `xml` is well formed and holds to test/junit.xsd.
bool wellFormedAndValid(const std::string &xml) {
    xmlDoc *doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "result.xml", "UTF-8", XML_PARSE_NONET);
    if (!doc)
        return false;
    bool ok = validatesAsJunit(doc);
    xmlFreeDoc(doc);
    return ok;
}

// Hostile bytes in the arguments, in an error line the console showed, in
// a finding's text and in the reason of a step that did not apply: both
// documents stay readable by strict parsers, and what was good stays.
TEST(RecordRules, HostileBytesLeaveBothDocumentsValid) {
    const std::vector<std::string> hostile = {
        "\xFF\xFE",          std::string("nul\0in", 6), "\x01\x02\x1B[31m", "\xC0\xAF",
        "\xED\xA0\x80",      "\xF4\x90\x80\x80",        "\xEF\xBF\xBE",     "]]></failure><x>&amp;",
        "\"'<>&\r\n\t",      "\x98\x81\xAD",            "",
    };
    for (const std::string &bytes : hostile) {
        SCOPED_TRACE(Json(bytes).dump(-1, ' ', true, Json::error_handler_t::replace));
        resetRecord();
        runState.boardLid = 1;
        std::string arg = "x" + bytes;
        char program[] = "zorvantik-test";
        std::vector<char *> argv = {program, arg.data()};
        recordStart(static_cast<int>(argv.size()), argv.data());
        recordStepBegin("HOST", kNoCpu);
        std::string line = "\n### " + bytes + "\n";
        recordConsoleText(line.data(), line.size());
        recordFinding("stream", ("f" + bytes).c_str());
        countError();
        recordHostFault("dma", ("### " + bytes).c_str());
        recordStepEnd();
        recordStepBegin("EXTLINKS", kNoCpu);
        recordNotApplicable(("r" + bytes).c_str());
        recordStepEnd();

        Json json = Json::parse(recordJson(), nullptr, false); // strict: bad UTF-8 fails the parse
        ASSERT_FALSE(json.is_discarded());
        EXPECT_EQ(json["options"]["arguments"].size(), 1u);
        EXPECT_EQ(json["steps"][0]["status"], "failed");
        EXPECT_EQ(json["steps"][0]["faults"][0]["part"], "dma");
        EXPECT_EQ(json["steps"][1]["status"], "not applicable");
        std::string xml = recordJunit();
        EXPECT_TRUE(wellFormedAndValid(xml)) << xml;
    }
    resetRecord();
}

TEST(RecordRules, StepKeepsItsFirstAndLastFaults) {
    resetRecord();
    recordStepBegin("INTLINKS", kNoCpu);
    for (std::uint32_t i = 0; i < 250; ++i) {
        countError();
        recordLinkFault(1, 3, 3, 0, true, i, i + 1, "");
    }
    recordStepEnd();
    Json json = Json::parse(recordJson());
    const Json &step = json["steps"][0];
    EXPECT_EQ(step["faultCount"], 250);
    ASSERT_EQ(step["faults"].size(), 100u);
    EXPECT_EQ(step["faults"][0]["written"], 0);
    EXPECT_EQ(step["faults"][49]["written"], 49);
    EXPECT_EQ(step["faults"][50]["written"], 200);
    EXPECT_EQ(step["faults"][99]["written"], 249);
    EXPECT_EQ(step["faults"][0], Json({{"kind", "link"},
                                       {"from", {{"processor", "P2"}, {"link", 3}}},
                                       {"to", {{"processor", "P4"}, {"link", 0}}},
                                       {"written", 0},
                                       {"read", 1}}));
    resetRecord();
}

} // namespace
