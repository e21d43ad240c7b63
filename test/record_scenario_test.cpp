// The result record of whole runs: the JSON record and the JUnit report
// that every run leaves beside its logs, read back with real parsers and
// held against what the console showed.
#include "support/junit.h"
#include "support/scenario.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>

namespace {

using Json = nlohmann::json;

// The JUnit report as a consumer reads it: the suite's attributes and
// properties, and each testcase with what it holds.
struct Junit {
    std::map<std::string, std::string> suite, properties;
    struct Case {
        std::string classname, name, outcome, message, text; // outcome: passed, failure, error, skipped
    };
    std::vector<Case> cases;
    bool parsed = false;
};

std::string attribute(xmlNode *node, const char *name) {
    xmlChar *value = xmlGetProp(node, reinterpret_cast<const xmlChar *>(name));
    std::string text = value ? reinterpret_cast<const char *>(value) : "";
    xmlFree(value);
    return text;
}

bool named(xmlNode *node, const char *name) {
    return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, reinterpret_cast<const xmlChar *>(name)) == 0;
}

// Parsed only when it is well formed and valid.
Junit parseJunit(const std::string &xml) {
    Junit j;
    xmlDoc *doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "result.xml", "UTF-8", XML_PARSE_NONET);
    if (!doc)
        return j;
    if (!validatesAsJunit(doc)) {
        xmlFreeDoc(doc);
        return j;
    }
    xmlNode *root = xmlDocGetRootElement(doc);
    xmlNode *suite = nullptr;
    for (xmlNode *n = root ? root->children : nullptr; n; n = n->next)
        if (named(n, "testsuite"))
            suite = n;
    if (suite && named(root, "testsuites")) {
        j.parsed = true;
        for (const char *a : {"name", "tests", "failures", "errors", "skipped", "time", "timestamp", "hostname"})
            j.suite[a] = attribute(suite, a);
        for (xmlNode *n = suite->children; n; n = n->next) {
            if (named(n, "properties"))
                for (xmlNode *p = n->children; p; p = p->next)
                    if (named(p, "property"))
                        j.properties[attribute(p, "name")] = attribute(p, "value");
            if (!named(n, "testcase"))
                continue;
            Junit::Case c{attribute(n, "classname"), attribute(n, "name"), "passed", "", ""};
            for (xmlNode *e = n->children; e; e = e->next)
                for (const char *kind : {"failure", "error", "skipped"})
                    if (named(e, kind)) {
                        c.outcome = kind;
                        c.message = attribute(e, "message");
                        xmlChar *text = xmlNodeGetContent(e);
                        c.text = text ? reinterpret_cast<const char *>(text) : "";
                        xmlFree(text);
                    }
            j.cases.push_back(c);
        }
    }
    xmlFreeDoc(doc);
    return j;
}

class Record : public ScenarioTest {
protected:
    RunResult run(const std::string &cfg, const std::string &board, const std::string &keys = "",
                  const std::vector<std::string> &args = {}) {
        RunResult r = runStation(cfg, board, keys, args);
        load();
        return r;
    }
    void load(const std::string &base = "result1") {
        std::string text = station_.read(base + ".json");
        json_ = Json::parse(text, nullptr, false);
        ASSERT_FALSE(json_.is_discarded()) << text;
        junit_ = parseJunit(station_.read(base + ".xml"));
        ASSERT_TRUE(junit_.parsed) << station_.read(base + ".xml");
        EXPECT_FALSE(station_.exists(base + ".json.tmp"));
        EXPECT_FALSE(station_.exists(base + ".xml.tmp"));
    }
    const Json &step(const std::string &key, const Json &processor = nullptr) const {
        for (const Json &s : json_["steps"])
            if (s["key"] == key && s["processor"] == processor)
                return s;
        static const Json none;
        ADD_FAILURE() << "no step " << key;
        return none;
    }
    std::vector<std::string> statuses() const {
        std::vector<std::string> all;
        for (const Json &s : json_["steps"])
            all.push_back(s["key"].get<std::string>() + (s["processor"].is_null() ? "" : " " + s["processor"].get<std::string>()) +
                          ": " + s["status"].get<std::string>());
        return all;
    }
    const Junit::Case *testcase(const std::string &classname, const std::string &name) const {
        for (const Junit::Case &c : junit_.cases)
            if (c.classname == classname && c.name == name)
                return &c;
        ADD_FAILURE() << "no testcase " << classname << " " << name;
        return nullptr;
    }
    // The outcome of a testcase, "" (and a failure) when there is none.
    std::string outcomeOf(const std::string &classname, const std::string &name) const {
        const Junit::Case *c = testcase(classname, name);
        return c ? c->outcome : "";
    }
    // The suite's counts agree with its testcases.
    void expectJunitCounts() const {
        int failures = 0, errors = 0, skipped = 0;
        for (const Junit::Case &c : junit_.cases) {
            failures += c.outcome == "failure";
            errors += c.outcome == "error";
            skipped += c.outcome == "skipped";
        }
        EXPECT_EQ(junit_.suite.at("tests"), std::to_string(junit_.cases.size()));
        EXPECT_EQ(junit_.suite.at("failures"), std::to_string(failures));
        EXPECT_EQ(junit_.suite.at("errors"), std::to_string(errors));
        EXPECT_EQ(junit_.suite.at("skipped"), std::to_string(skipped));
        EXPECT_EQ(junit_.cases.size(), json_["steps"].size());
    }

    Json json_;
    Junit junit_;
};

const std::string kFull = "[HOST START]\nCHECK=1\n[HOST END]\n[HSTREAM START]\nCHECK=1\n[HSTREAM END]\n"
                          "[INTERRUPTS START]\nCHECK=1\n[INTERRUPTS END]\n[INTLINKS START]\nCHECK=1\n[INTLINKS END]\n"
                          "[SDRAM START]\nCHECK=1\n[SDRAM END]\n[CLASTER START]\nCHECK=1\n[CLASTER END]\n"
                          "[FFTTIME START]\nCHECK=1\n[FFTTIME END]\n[EXTLINKS START]\nCHECK=1\n[EXTLINKS END]\n";

// Every figure the console printed before " MB/c", in order.
std::vector<std::string> consoleRates(const std::string &console) {
    std::vector<std::string> rates;
    for (std::size_t end = console.find(" MB/c"); end != std::string::npos; end = console.find(" MB/c", end + 1)) {
        std::size_t start = console.find_last_of(' ', end - 1) + 1;
        rates.push_back(console.substr(start, end - start));
    }
    return rates;
}

// Whether `text` has the shape of `pattern`, where 9 stands for any digit
// and every other character for itself.
bool shaped(const std::string &text, const std::string &pattern) {
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (pattern[i] == '9'   ? !std::isdigit(static_cast<unsigned char>(text[i]))
            : pattern[i] == '#' ? !std::isxdigit(static_cast<unsigned char>(text[i])) || std::isupper(static_cast<unsigned char>(text[i]))
                                : text[i] != pattern[i])
            return false;
    return true;
}

TEST_F(Record, HealthyRunMatchesWhatTheConsoleShowed) {
    RunResult r = run(kFull, "cpu_clock = 250\n", "x");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(json_["schema"], 3);
    std::string runId = json_["runId"];
    EXPECT_TRUE(shaped(runId, "########-####-4###-####-############")) << runId;
    EXPECT_EQ(json_["origin"], "virtual");
    EXPECT_EQ(json_["verdict"], "passed");
    EXPECT_EQ(json_["program"]["name"], "zorvantik-test");
    EXPECT_FALSE(json_["program"]["version"].get<std::string>().empty());
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(json_["host"], host); // the bench, as the JUnit report names it
    EXPECT_EQ(json_["outcome"], "passed");
    EXPECT_EQ(json_["errorCount"], 0);
    EXPECT_EQ(json_["findingCount"], 0);
    std::string start = json_["start"];
    EXPECT_TRUE(shaped(start, "9999-99-99T99:99:99+99:99") || shaped(start, "9999-99-99T99:99:99-99:99")) << start;
    EXPECT_GE(json_["durationMs"].get<long>(), 0);

    // The board as the description printed it.
    const Json &b = json_["board"];
    EXPECT_TRUE(consoleHas("Т Е С Т   М О Д У Л Я   " + b["title"].get<std::string>() + "  "));
    EXPECT_EQ(b["version"], "1.0");
    EXPECT_TRUE(consoleHas("Серийный номер - " + b["serialShown"].get<std::string>() + " "));
    EXPECT_TRUE(consoleHas("Версия ПЛИС HOST - " + b["fpgaVersion"].get<std::string>() + " "));
    EXPECT_TRUE(consoleHas("Шина = " + std::to_string(b["pci"]["bus"].get<int>()) +
                           ", Устройство = " + std::to_string(b["pci"]["device"].get<int>())));
    EXPECT_TRUE(consoleHas("память = " + b["pci"]["controllerMemory"].get<std::string>() +
                           ", в/в = " + b["pci"]["controllerIo"].get<std::string>()));
    EXPECT_TRUE(consoleHas("Номер прерывания = " + std::to_string(b["irq"].get<int>())));
    EXPECT_TRUE(consoleHas("Всего процессоров = " + std::to_string(b["processors"].size()) +
                           ", Частота процессоров = " + std::to_string(b["clockMHz"].get<int>()) + " MHz"));
    EXPECT_EQ(b["presenceMask"], "0x007F");
    EXPECT_EQ(b["x5"], "LINK");

    // The configuration check's findings and speed.
    const Json &c = json_["configuration"];
    EXPECT_EQ(c["dpram"], true);
    EXPECT_EQ(c["sdramSize"], 0x100000);
    EXPECT_EQ(c["dynamicMemory"]["sdrcon"], "0x3A49");
    EXPECT_TRUE(consoleHas("Быстродействие = " + c["dynamicMemory"]["speedShown"].get<std::string>() + " Mбайт/сек"));

    // The ten exchange rates and the stream's, as printed.
    std::vector<std::string> shown;
    for (const char *key : {"HOST", "HSTREAM"})
        for (const Json &m : step(key)["measurements"]) {
            shown.push_back(m["shown"]);
            EXPECT_EQ(m["unit"], "MB/s");
            if (m["shown"] != "inf") {
                EXPECT_NEAR(m["value"].get<double>(), std::stod(m["shown"].get<std::string>()), 1e-6);
            }
        }
    EXPECT_EQ(shown, consoleRates(console_));
    EXPECT_EQ(shown.size(), 11u);

    // FFT figures of each processor, as printed.
    for (int cpu = 1; cpu <= 7; ++cpu) {
        const Json &fft = step("FFTTIME", "P" + std::to_string(cpu));
        ASSERT_EQ(fft["measurements"].size(), 2u);
        EXPECT_TRUE(consoleHas("\nТест выполнен (" + fft["measurements"][0]["shown"].get<std::string>() +
                               " тактов пpоцессоpа - " + fft["measurements"][1]["shown"].get<std::string>() + " мкс"));
    }

    // Every step, in run order, passed.
    std::vector<std::string> expected = {"identification: passed", "configuration: passed", "HOST: passed",
                                         "HSTREAM: passed", "INTERRUPTS: passed", "INTLINKS: passed"};
    for (int cpu = 1; cpu <= 7; ++cpu)
        expected.push_back("memory P" + std::to_string(cpu) + ": passed");
    expected.push_back("CLASTER: passed");
    for (int cpu = 1; cpu <= 7; ++cpu)
        expected.push_back("FFTTIME P" + std::to_string(cpu) + ": passed");
    expected.push_back("EXTLINKS: passed");
    EXPECT_EQ(statuses(), expected);
    EXPECT_EQ(json_["coverage"], Json({{"complete", true}, {"passed", 22}, {"failed", 0}, {"partial", 0}, {"skipped", 0},
                                       {"notApplicable", 0}, {"notRun", 0}, {"interrupted", 0}}));
    for (const Json &s : json_["steps"]) {
        EXPECT_TRUE(s["reason"].is_null()) << s["key"];
        EXPECT_EQ(s["notTested"], Json::array()) << s["key"];
        EXPECT_EQ(s["faults"], Json::array()) << s["key"];
        EXPECT_EQ(s["faultCount"], 0) << s["key"];
    }

    // The JUnit report says the same.
    expectJunitCounts();
    EXPECT_EQ(junit_.properties.at("runId"), runId);
    EXPECT_EQ(junit_.properties.at("origin"), "virtual");
    EXPECT_EQ(junit_.properties.at("verdict"), "passed");
    EXPECT_EQ(junit_.properties.at("coverage"), "complete");
    EXPECT_EQ(junit_.suite.at("failures"), "0");
    EXPECT_EQ(junit_.properties.at("serial"), "01042");
    EXPECT_EQ(junit_.properties.at("model"), "ZORVANTIK");
    EXPECT_EQ(junit_.properties.at("version"), "1.0");
    EXPECT_EQ(junit_.properties.at("fpgaVersion"), "1.4.2");
    EXPECT_TRUE(shaped(junit_.suite.at("timestamp"), "9999-99-99T99:99:99")) << junit_.suite.at("timestamp");
    EXPECT_EQ(outcomeOf("FFTTIME", "FFT P3"), "passed");
}

// Counted errors fail the step and the run; the verdict line is the
// program's own, unchanged.
TEST_F(Record, LinkErrorsFailTheStepWithTheirLines) {
    run(selecting({"INTLINKS"}), "cpu_mask = 0x03\np1_sdram_chips = 0, 0, 0, 0\nlink_fault = P1.1:stuck:0:1\n");
    EXPECT_EQ(json_["outcome"], "failed");
    int errors = json_["errorCount"];
    EXPECT_GT(errors, 0);
    EXPECT_TRUE(endsWith(console_, "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - " + std::to_string(errors) + " "));
    const Json &links = step("INTLINKS");
    EXPECT_EQ(links["status"], "failed");
    EXPECT_EQ(links["errors"], errors);
    ASSERT_EQ(links["errorLines"].size(), static_cast<std::size_t>(errors));
    EXPECT_EQ(links["errorLines"][0], "### ОШИБКА: записано FFFFFFFE != прочитано FFFFFFFF");
    const Junit::Case *c = testcase("INTLINKS", "Internal links");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->outcome, "failure");
    EXPECT_NE(c->text.find("### ОШИБКА: записано FFFFFFFE != прочитано FFFFFFFF"), std::string::npos) << c->text;
    expectJunitCounts();
}

// The host port tests count nothing, so the verdict passes the board;
// the record keeps what they found and fails the run.
TEST_F(Record, HostPortMismatchesAreFindingsOfAPassingVerdict) {
    run(selecting({"HOST"}), "p1_sdram_chips = 0, 0, 0, 0\nram_stuck_bit = P1:0x80000:0:1\n");
    EXPECT_TRUE(endsWith(console_, "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++"));
    EXPECT_EQ(json_["outcome"], "failed");
    EXPECT_EQ(json_["errorCount"], 0);
    const Json &host = step("HOST");
    EXPECT_EQ(host["status"], "failed");
    EXPECT_EQ(host["errors"], 0);
    ASSERT_EQ(host["findings"].size(), 2u); // the word exchange and array word 0
    EXPECT_EQ(host["findings"][0], Json({{"test", "word exchange"}, {"part", "hostPort"}, {"where", "0x00080000"},
                                         {"written", "0x12345678"}, {"read", "0x12345679"}}));
    EXPECT_EQ(host["findings"][1], Json({{"test", "array exchange"}, {"part", "hostPort"}, {"where", "0x00000000"},
                                         {"written", "0x00000000"}, {"read", "0x00000001"}}));
    EXPECT_EQ(json_["verdict"], "passed"); // the verdict counts errors only
    // The host-side pattern tests of P1's memory find the bit as well.
    const Json &memory = step("memory", "P1");
    EXPECT_EQ(memory["status"], "failed");
    ASSERT_EQ(memory["findings"].size(), 2u); // running 0 and the 0xAAAAAAAA fill
    EXPECT_EQ(memory["findings"][0],
              Json({{"test", "pattern test"}, {"where", "0x00080000"}, {"written", "0xFFFFFFFE"}, {"read", "0xFFFFFFFF"},
                    {"processor", "P1"}, {"memory", "internal"}, {"bank", 1}}));
    EXPECT_EQ(json_["findingCount"], 4);
    const Junit::Case *c = testcase("HOST", "Host data exchange");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->outcome, "failure");
    EXPECT_NE(c->text.find("### ОШИБКА интерфейса:"), std::string::npos);
}

TEST_F(Record, SkippedAndMissingSelections) {
    run(selecting({"FFTTIME"}), "cpu_mask = 0x03\np1_sdram_chips = 0, 0, 0, 0\n");
    EXPECT_EQ(json_["outcome"], "passed");
    EXPECT_EQ(step("HOST")["status"], "skipped");
    EXPECT_EQ(step("FFTTIME", "P2")["status"], "passed");
    EXPECT_EQ(outcomeOf("HOST", "Host data exchange"), "skipped");
    expectJunitCounts();

    station_.remove("check1.cfg");
    runWithKeyFile(station_.path(), {}, "", &keysRead_);
    load();
    EXPECT_EQ(json_["outcome"], "failed");
    EXPECT_EQ(json_["errorCount"], 7 + 0); // no dynamic memory, so no SDRAM question
    for (const char *key : {"HOST", "HSTREAM", "INTERRUPTS", "INTLINKS", "CLASTER", "FFTTIME", "EXTLINKS"}) {
        EXPECT_EQ(step(key)["status"], "skipped") << key;
        EXPECT_EQ(step(key)["errors"], 1) << key;
        EXPECT_EQ(step(key)["errorLines"][0], "### ПРЕДУПРЕЖДЕНИЕ: Не могу открыть файл 'check1.cfg'") << key;
    }
}

TEST_F(Record, FatalStopNamesItsStopAndLeavesTheRestNotRun) {
    RunResult r = run(selecting({"HOST"}), "present = no\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(json_["outcome"], "fatal");
    EXPECT_EQ(json_["fatal"], Json({{"stop", 3}, {"message", "### ОШИБКА: Не могу открыть модуль."}}));
    EXPECT_TRUE(json_["board"].is_null());
    for (const Json &s : json_["steps"])
        EXPECT_EQ(s["status"], "not run") << s["key"];
    EXPECT_EQ(json_["steps"].size(), 10u); // the processors were never known
    expectJunitCounts();
    EXPECT_EQ(junit_.suite.at("skipped"), "10");
}

TEST_F(Record, FatalExitInsideATestNamesTheProgram) {
    station_.remove("dsp_app/drvwrite.ldr");
    RunResult r = run(kFull, "cpu_mask = 0x01\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(json_["outcome"], "aborted");
    EXPECT_EQ(json_["aborted"]["program"], "drvwrite.ldr");
    EXPECT_EQ(step("HOST")["status"], "failed");
    EXPECT_EQ(step("HOST")["errorLines"].back(), "### ОШИБКА: Не могу загрузить файл drvwrite.ldr");
    EXPECT_EQ(step("HOST")["measurements"].size(), 9u);
    EXPECT_EQ(step("HSTREAM")["status"], "not run");
    EXPECT_EQ(step("FFTTIME", "P1")["status"], "not run");
    expectJunitCounts();
}

// Ctrl-C while the external links test waits for the operator's cable:
// the run is interrupted, and both files are whole.
TEST_F(Record, InterruptInTheMiddleOfATest) {
    station_.write("check1.cfg", kFull);
    station_.write("virtual-board.ini", "[board 1]\ncpu_mask = 0x61\np1_sdram_chips = 0, 0, 0, 0\n");
    Process program(station_.path(), {});
    ASSERT_TRUE(program.waitForOutput(toCp866("\nи нажмите любую клавишу . . .")));
    program.signal(SIGINT);
    RunResult r = program.finish(20, false);
    EXPECT_EQ(r.status, 255);
    load();
    EXPECT_EQ(json_["outcome"], "interrupted");
    EXPECT_EQ(step("EXTLINKS")["status"], "interrupted");
    EXPECT_EQ(step("FFTTIME", "P6")["status"], "passed");
    EXPECT_EQ(outcomeOf("EXTLINKS", "External links"), "error");
    expectJunitCounts();
}

TEST_F(Record, SecondRunReplacesBothFiles) {
    run(selecting({"INTLINKS"}), "cpu_mask = 0x03\np1_sdram_chips = 0, 0, 0, 0\nlink_fault = P1.1:dead\n");
    EXPECT_EQ(json_["outcome"], "failed");
    run(selecting({"INTLINKS"}), "cpu_mask = 0x03\np1_sdram_chips = 0, 0, 0, 0\n");
    EXPECT_EQ(json_["outcome"], "passed");
    EXPECT_EQ(junit_.suite.at("failures"), "0");
}

TEST_F(Record, NamesFollowTheBoardNumber) {
    station_.write("virtual-board.ini", "[board 3]\np1_sdram_chips = 0, 0, 0, 0\n");
    station_.write("check3.cfg", "");
    station_.write("check1.cfg", "");
    runWithKeyFile(station_.path(), {"-B3"}, "", &keysRead_);
    load("result3");
    EXPECT_EQ(json_["boardNumber"], 3);
    EXPECT_EQ(json_["logs"]["protocol"], "protoc3.log");
    runWithKeyFile(station_.path(), {"-B12", "-V"}, "", &keysRead_);
    load("result");
    EXPECT_EQ(json_["options"]["arguments"], Json({"-B12", "-V"}));
    EXPECT_EQ(json_["options"]["trace"], true);
    EXPECT_FALSE(station_.exists("result1.json"));
}

// A record that cannot be written is a warning on stderr and changes
// nothing else of the run.
TEST_F(Record, RecordThatCannotBeWrittenIsAWarningOnly) {
    RunResult before = runStation(selecting({}), "p1_sdram_chips = 0, 0, 0, 0\n");
    std::filesystem::remove(station_.file("result1.json"));
    std::filesystem::create_directory(station_.file("result1.json"));
    RunResult after = runStation(selecting({}), "p1_sdram_chips = 0, 0, 0, 0\n");
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.out, before.out);
    EXPECT_EQ(consoleText(after.err), "### ПРЕДУПРЕЖДЕНИЕ: Не могу записать файл 'result1.json' (Is a directory)\n");
    EXPECT_FALSE(station_.exists("result1.json.tmp"));
    EXPECT_TRUE(parseJunit(station_.read("result1.xml")).parsed); // the other one is written all the same
}

// Board faults and selection files, each with what the record must hold:
// the status of the steps named, the coverage, and the faults' places.
// A step is named "KEY" or "KEY Pn"; every other step of the row must be
// one of `others`.
TEST_F(Record, StatusesCoverageAndFaultPlacesOfBoardFaultsAndSelections) {
    struct Row {
        const char *name;
        std::string cfg, board, keys;
        std::map<std::string, std::string> statuses;
        std::vector<std::string> others;
        const char *verdict, *outcome;
        std::function<void()> check;
    };
    const std::string small = "p1_sdram_chips = 0x10000, 0x10000, 0x10000, 0x10000\nsdram_chip_size = 0x10000\n";
    const std::string none = "p1_sdram_chips = 0, 0, 0, 0\n";
    const std::vector<Row> rows = {
        {"FFT only: P1's internal memory runs, the dynamic memory of none",
         selecting({"FFTTIME"}), small, "",
         {{"memory P1", "partial"}, {"memory P2", "skipped"}, {"memory P7", "skipped"}, {"FFTTIME P4", "passed"},
          {"HOST", "skipped"}, {"CLASTER", "skipped"}},
         {"passed", "skipped"}, "passed", "passed",
         [this] {
             const Json &p1 = step("memory", "P1");
             EXPECT_EQ(p1["reason"], "Тест динамической памяти пропущен");
             EXPECT_EQ(p1["notTested"], Json::parse(R"([{"part":"dynamicMemory","reason":"Тест динамической памяти пропущен"}])"));
             EXPECT_EQ(step("memory", "P2")["notTested"].size(), 1u);
             EXPECT_EQ(step("HOST")["reason"], "ТЕСТ HOST-ИНТЕРФЕЙСА ПРОПУЩЕН");
             const Json &c = json_["coverage"];
             EXPECT_EQ(c, Json({{"complete", false}, {"passed", 9}, {"failed", 0}, {"partial", 1}, {"skipped", 12},
                                {"notApplicable", 0}, {"notRun", 0}, {"interrupted", 0}}));
             EXPECT_EQ(junit_.properties.at("coverage"), "incomplete");
             const Junit::Case *p2 = testcase("memory", "Memory P2");
             ASSERT_NE(p2, nullptr);
             EXPECT_EQ(p2->outcome, "skipped");
             EXPECT_EQ(p2->message, "skipped: Тест динамической памяти пропущен");
         }},
        {"no P2: the front panel has no pair to test", selecting({"EXTLINKS"}),
         "cpu_mask = 0x7D\n" + none, " ",
         {{"EXTLINKS", "not applicable"}, {"memory P1", "partial"}, {"memory P3", "not applicable"}},
         {"passed", "skipped", "not applicable"}, "passed", "passed",
         [this] {
             EXPECT_EQ(step("EXTLINKS")["reason"], "НЕТ НУЖНЫХ МЕЖПРОЦЕССОРНЫХ СВЯЗЕЙ");
             EXPECT_EQ(step("EXTLINKS")["notTested"], Json::array());
             EXPECT_EQ(step("memory", "P3")["reason"], "no dynamic memory");
             EXPECT_EQ(json_["coverage"]["notApplicable"], 6); // P3..P7's memory and the front panel
             const Junit::Case *c = testcase("EXTLINKS", "External links");
             ASSERT_NE(c, nullptr);
             EXPECT_EQ(c->message, "not applicable: НЕТ НУЖНЫХ МЕЖПРОЦЕССОРНЫХ СВЯЗЕЙ");
         }},
        {"a stuck bit on P2's link 3: only its pair", selecting({"INTLINKS"}),
         none + "link_fault = P2.3:stuck:5:1\n", "", {{"INTLINKS", "failed"}},
         {"passed", "skipped", "partial", "not applicable"}, "failed", "failed",
         [this] {
             const Json &links = step("INTLINKS");
             EXPECT_GT(links["errors"].get<int>(), 0);
             EXPECT_EQ(links["faultCount"], links["errors"]);
             const Json pair = {{"processor", "P2"}, {"link", 3}}, other = {{"processor", "P4"}, {"link", 0}};
             for (const Json &f : links["faults"]) {
                 EXPECT_EQ(f["kind"], "link");
                 EXPECT_EQ(f["from"], pair);
                 EXPECT_EQ(f["to"], other);
                 EXPECT_TRUE(f["written"].is_number_unsigned() && f["read"].is_number_unsigned()) << f;
                 EXPECT_EQ(f["read"].get<std::uint32_t>(), f["written"].get<std::uint32_t>() | 0x20) << f;
             }
             char line[80];
             std::snprintf(line, sizeof line, "### ОШИБКА: записано %08X != прочитано %08X",
                           links["faults"][0]["written"].get<unsigned>(), links["faults"][0]["read"].get<unsigned>());
             EXPECT_EQ(links["errorLines"][0], line); // the error lines stay as printed
         }},
        {"a stuck bit in P1's internal memory: findings the verdict does not count", selecting({}),
         none + "ram_stuck_bit = P1:0x80003:9:1\n", "", {{"memory P1", "failed"}},
         {"skipped", "passed", "not applicable"}, "passed", "failed",
         [this] {
             EXPECT_TRUE(endsWith(console_, "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++"));
             EXPECT_EQ(json_["errorCount"], 0);
             const Json &p1 = step("memory", "P1");
             EXPECT_EQ(p1["faults"], Json::array());
             ASSERT_FALSE(p1["findings"].empty());
             for (const Json &f : p1["findings"]) {
                 EXPECT_EQ(f["where"], "0x00080003");
                 EXPECT_EQ(f["processor"], "P1");
                 EXPECT_EQ(f["memory"], "internal");
                 EXPECT_EQ(f["bank"], 1);
                 EXPECT_FALSE(f.contains("chip"));
             }
             EXPECT_EQ(junit_.properties.at("verdict"), "passed");
             EXPECT_EQ(junit_.properties.at("outcome"), "failed");
         }},
        {"the operator leaves a pattern test with Esc: the rest of its blocks untested", selecting({}),
         none + "ram_stuck_bit = P1:0x80003:9:1\n", "\x1b", {{"memory P1", "failed"}},
         {"skipped", "passed", "not applicable"}, "passed", "failed",
         [this] {
             EXPECT_EQ(step("memory", "P1")["notTested"],
                       Json::parse(R"([{"part":"internalMemory","reason":"the operator left a pattern test with Esc"},)"
                                   R"({"part":"dynamicMemory","reason":"no dynamic memory"}])"));
             EXPECT_FALSE(json_["coverage"]["complete"]);
         }},
        {"a stuck bit in P3's dynamic memory: chip and offset", selecting({"SDRAM"}),
         small + "sdram_stuck_bit = P3:chip2:0x1234:7:1\n", "", {{"memory P3", "failed"}, {"memory P2", "passed"}},
         {"passed", "skipped"}, "failed", "failed",
         [this] {
             const Json &p3 = step("memory", "P3");
             ASSERT_FALSE(p3["faults"].empty());
             EXPECT_EQ(p3["faultCount"], p3["errors"]);
             for (const Json &f : p3["faults"]) {
                 EXPECT_EQ(f["kind"], "memory");
                 EXPECT_EQ(f["processor"], "P3");
                 EXPECT_EQ(f["memory"], "dynamic");
                 EXPECT_EQ(f["chip"], 2);
                 EXPECT_EQ(f["offset"], 0x1234);
                 EXPECT_EQ(f["address"], 0x12001234);
                 EXPECT_EQ(f["read"].get<std::uint32_t>(), f["written"].get<std::uint32_t>() | 0x80) << f;
             }
         }},
        {"silent DSPs: the processors that failed", selecting({"FFTTIME"}),
         none + "fft_silent = P5\ndsp_silent = P2:cfft:1\n", "",
         {{"FFTTIME P5", "failed"}, {"FFTTIME P2", "failed"}, {"FFTTIME P3", "passed"}},
         {"passed", "skipped", "partial", "not applicable"}, "failed", "failed",
         [this] {
             for (const char *cpu : {"P2", "P5"})
                 EXPECT_EQ(step("FFTTIME", cpu)["faults"],
                           Json::parse(std::string(R"([{"kind":"processor","processor":")") + cpu +
                                       R"(","test":"fft","text":"### ОШИБКА: Нет ответа от программы"}])"));
         }},
        {"the host's interrupts never reach the DSP", selecting({"INTERRUPTS"}), none + "interrupts = to_dsp_dead\n", "",
         {{"INTERRUPTS", "failed"}}, {"passed", "skipped", "partial", "not applicable"}, "failed", "failed",
         [this] {
             EXPECT_EQ(step("INTERRUPTS")["faults"],
                       Json::parse(R"([{"kind":"host","part":"interrupts","text":"### ОШИБКА: Не получено прерывание 1 из 256."}])"));
         }},
        {"the DMA stream refused: it did not run, and says so", selecting({"HSTREAM"}),
         none + "stream_capture = refused\n", "", {{"HSTREAM", "partial"}},
         {"passed", "skipped", "partial", "not applicable"}, "passed", "passed",
         [this] {
             EXPECT_EQ(step("HSTREAM")["notTested"],
                       Json::parse(R"([{"part":"stream","reason":"the DMA stream service could not be captured"}])"));
             EXPECT_EQ(step("HSTREAM")["reason"], "the DMA stream service could not be captured");
         }},
        {"a cluster of one: the cluster test does not apply", selecting({"CLASTER"}), "cpu_mask = 0x03\n" + small, "",
         {{"CLASTER", "not applicable"}, {"memory P2", "skipped"}}, {"passed", "skipped", "partial"}, "passed",
         "passed",
         [this] {
             EXPECT_EQ(step("CLASTER")["reason"], "Тест пропущен: в кластере менее 2-х процессоров");
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        run(row.cfg, row.board, row.keys);
        EXPECT_EQ(json_["verdict"], row.verdict);
        EXPECT_EQ(json_["outcome"], row.outcome);
        std::map<std::string, int> counted;
        for (const Json &s : json_["steps"]) {
            std::string name = s["key"].get<std::string>() + (s["processor"].is_null() ? "" : " " + s["processor"].get<std::string>());
            std::string status = s["status"];
            ++counted[status == "not applicable" ? "notApplicable" : status == "not run" ? "notRun" : status];
            auto named = row.statuses.find(name);
            const bool expected = named != row.statuses.end();
            EXPECT_TRUE(expected ? status == named->second
                                 : std::find(row.others.begin(), row.others.end(), status) != row.others.end())
                << name << ": " << status;
            // A step that did not run whole says why; one that did, does not.
            bool whole = status == "passed" || status == "failed";
            EXPECT_EQ(s["reason"].is_null(), whole) << name;
            // A step that ran whole and found nothing, or never began,
            // lists no parts not tested; one that ran in part always does
            // (a failed, skipped or inapplicable step may: its memory).
            if (status == "partial") {
                EXPECT_FALSE(s["notTested"].empty()) << name;
            } else if (status == "passed" || status == "not run") {
                EXPECT_TRUE(s["notTested"].empty()) << name << ": " << status;
            }
        }
        for (const auto &[status, n] : counted)
            EXPECT_EQ(json_["coverage"][status], n) << status;
        for (const auto &named : row.statuses)
            EXPECT_GT(std::count_if(json_["steps"].begin(), json_["steps"].end(),
                                    [&](const Json &s) {
                                        return s["key"].get<std::string>() +
                                                   (s["processor"].is_null() ? "" : " " + s["processor"].get<std::string>()) ==
                                               named.first;
                                    }),
                      0)
                << named.first;
        EXPECT_EQ(junit_.properties.at("origin"), "virtual");
        expectJunitCounts();
        row.check();
    }
}

// Runs the program in the station under a host name of its own (a UTS
// namespace: root, or a user namespace, is needed), stdin and stdout
// empty. False when the environment cannot give the name.
bool runUnderHostName(const std::string &dir, const std::string &host, const std::vector<std::string> &args) {
    pid_t pid = fork();
    if (pid == 0) {
        int nothing = open("/dev/null", O_RDWR);
        if (chdir(dir.c_str()) != 0 || unshare(CLONE_NEWUTS) != 0 || sethostname(host.data(), host.size()) != 0 ||
            nothing < 0)
            _exit(77);
        dup2(nothing, 0);
        dup2(nothing, 1);
        dup2(nothing, 2);
        std::vector<char *> argv = {const_cast<char *>(ZT_PROGRAM_PATH)};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(ZT_PROGRAM_PATH, argv.data());
        _exit(78);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Bytes that are not UTF-8, control characters and markup in the bench's
// host name and in the arguments: the JSON parses strictly, the JUnit
// report is well-formed and valid, and the bad bytes read as U+FFFD.
TEST_F(Record, HostileBytesInTheHostNameAndArguments) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Row {
        std::string host, arg;  // as given
        std::string xmlHost;    // the host name as the XML reads it back
        std::string jsonHost;   // and the JSON (U+FFFE is a character there)
    };
    const std::vector<Row> rows = {
        {"bench\xFF" "7", "\xFF\xFE", "bench" + fffd + "7", "bench" + fffd + "7"},
        {"b\x01\x1F<&\"'>", "\x01\x1B[31mred", "b" + fffd + fffd + "<&\"'>", "b\x01\x1F<&\"'>"},
        {"b\xC0\xAF\xED\xA0\x80", "\xF4\x90\x80\x80", "b" + fffd + fffd + fffd + fffd + fffd,
         "b" + fffd + fffd + fffd + fffd + fffd},
        {"\xEF\xBF\xBE\xD0\x9F", "]]><x/>&amp;", fffd + fffd + fffd + "П", "\xEF\xBF\xBE\xD0\x9F"},
    };
    station_.write("check1.cfg", "");
    station_.write("virtual-board.ini", "[board 1]\np1_sdram_chips = 0, 0, 0, 0\n");
    for (const Row &row : rows) {
        SCOPED_TRACE(Json(row.xmlHost).dump());
        if (!runUnderHostName(station_.path(), row.host, {row.arg, "-B1"}))
            GTEST_SKIP() << "no host name of our own here (a UTS namespace needs root)";
        load(); // strict JSON, well-formed and valid XML
        EXPECT_EQ(json_["host"], row.jsonHost);
        EXPECT_EQ(junit_.suite.at("hostname"), row.xmlHost);
        ASSERT_EQ(json_["options"]["arguments"].size(), 2u);
        EXPECT_EQ(json_["options"]["arguments"][1], "-B1");
        EXPECT_EQ(json_["outcome"], "passed"); // nothing selected, nothing found
    }
}

// A bench's board library says nothing of where its answers come from:
// the virtual board's own library with its one extra export renamed in
// the library's symbol table stands in for one. The program still links
// and runs with it, and so does the recorder over it, and the record says
// "adapter"; the recorder over the virtual board says what that is.
TEST_F(Record, OriginOfAnAdapterWithoutTheVirtualBoardsExport) {
    namespace fs = std::filesystem;
    fs::create_directories(station_.file("lib"));
    fs::create_directories(station_.file("bench"));
    std::ifstream in(ZT_QAL_PATH, std::ios::binary);
    std::string library((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string name = "ZT_boardOrigin", other = "ZT_boardOrigix";
    int renamed = 0;
    for (std::size_t at = library.find(name + '\0'); at != std::string::npos; at = library.find(name + '\0', at)) {
        library.replace(at, other.size(), other);
        ++renamed;
    }
    ASSERT_GT(renamed, 0);
    const std::string bench = station_.file("bench/libqal.so");
    station_.write("bench/libqal.so", library);
    const std::string soname = fs::path(ZT_QAL_PATH).filename().string();

    struct Row {
        const char *name;
        std::string lib;      // the program's board library, by its name
        const char *adapter;  // the recorder's adapter, or nullptr without the recorder
        const char *origin;
    };
    const Row rows[] = {
        {"a bench's library", bench, nullptr, "adapter"},
        {"the recorder over a bench's library", ZT_RECORDER_PATH, "bench/libqal.so", "adapter"},
        {"the recorder over the virtual board", ZT_RECORDER_PATH, ZT_QAL_PATH, "virtual"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(station_.file("lib/" + soname));
        fs::create_symlink(row.lib, station_.file("lib/" + soname));
        if (row.adapter)
            station_.write("qal-record.ini", std::string("[record]\nadapter = ") + row.adapter + "\ntrace = run.qtr\n");
        setenv("LD_LIBRARY_PATH", station_.file("lib").c_str(), 1);
        RunResult r = run(selecting({"INTLINKS"}), "p1_sdram_chips = 0, 0, 0, 0\n");
        unsetenv("LD_LIBRARY_PATH");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(json_["origin"], row.origin);
        EXPECT_EQ(junit_.properties.at("origin"), row.origin);
        EXPECT_EQ(json_["outcome"], "passed");
    }
}

} // namespace
