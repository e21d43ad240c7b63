// record.cpp - collects the result record of a run and writes it as a JSON
// record and a JUnit XML report.
//
// The collection is one structure behind one lock: the main thread adds
// to it at the points record.h lists, and whichever thread ends the run
// (the main thread after the verdict, or the interrupt thread) writes it.
// The lock is never held across a board call or console output, so the
// interrupt thread never waits long for it.
#include "run/record.h"

#include "board/processors.h"
#include "platform/codepage.h"
#include "platform/platform.h"
#include "report/escape.h"
#include "report/labels.h"
#include "report/report.h"
#include "report/stats.h"
#include "run/archive.h"
#include "run/run_id.h"
#include "run/runstate.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#ifndef ZT_VERSION
#define ZT_VERSION "unknown"
#endif

namespace {

using Json = nlohmann::ordered_json;

struct Measurement {
    std::string name, unit, shown; // shown: as printed, UTF-8
    double value;
};

struct Finding {
    std::string test;
    std::string text; // UTF-8; empty for a mismatch of words
    bool words;       // a mismatch: where, written, read hold it
    std::uint32_t where, written, read;
    int cpu = kNoCpu; // where is an address of this processor's memory
    long pass = 0;    // the pass of a repeated step it came from; 0 for other steps
};

// A step keeps the first and the last of its faults, and their number.
constexpr std::size_t kFaultsKept = 50;

struct NotTested {
    std::string part, reason; // reason: UTF-8
};

// A repeated step (the host exchange test of continuous mode, which runs
// until the operator breaks off, overnight perhaps) is one step whatever
// the number of its passes: it keeps the findings and error lines of the
// first and of the last passes, and each measurement's spread, so that
// the record's memory and size stay the same however long it runs.
constexpr std::size_t kPassesKept = 10;     // findings (and error lines) kept from the start, and from the end
constexpr std::size_t kSpreadSample = 1001; // values a measurement's median is taken from

// One measurement over the passes: exact count, minimum and maximum; the
// median of all values up to kSpreadSample of them, then of a uniform
// sample of that size (reservoir sampling with a fixed seed, so a run is
// repeatable).
struct Spread {
    std::string name, unit;
    long count = 0;
    double min = 0, max = 0;
    std::vector<double> sample;
};

struct Passes {
    long count = 0;              // passes begun; the last one is cut short by the end of the run
    long withFindings = 0;       // passes that found a mismatch or reported an error line
    long findings = 0;           // findings of all passes, kept or not
    long errorLines = 0;         // error lines of all passes, kept or not
    bool passFound = false;      // the pass under way has found something
    std::vector<Spread> spreads; // in the order the measurements first came
    std::uint64_t random = 0x9E3779B97F4A7C15u; // the sample's generator
};

struct Step {
    std::string key;
    int cpu;
    bool skipped = false;
    bool notApplicable = false;
    std::string reason; // UTF-8: why it was skipped or not applicable
    std::vector<NotTested> notTested;
    bool ended = false;
    int errors = 0;
    std::vector<Json> faults; // the first and last kFaultsKept
    long faultCount = 0;      // all of them
    std::vector<Finding> findings;
    std::vector<Measurement> measurements;
    std::vector<std::string> errorLines; // UTF-8, as shown on the console
    std::uint32_t startMs = 0, endMs = 0;
    bool repeated = false; // a step of many passes: `passes` sums them up
    Passes passes;
};

enum class End { Running, Complete, Fatal, Aborted };

struct Record {
    std::mutex lock;
    bool written = false;   // the files are out: the first end wins
    std::time_t start = 0;  // calendar time of the start
    std::string runId;      // the run's identity, made at the start
    std::uint32_t startMs = 0;
    std::vector<std::string> args;  // the arguments as given
    std::vector<PlannedStep> plan;  // what the run means to take, in order
    std::vector<Step> steps;        // what it took, in order
    bool stepOpen = false;          // steps.back() has begun and not ended
    int errorCount = 0;             // as the verdict counts them
    bool identified = false;        // board holds identification's findings
    Json board = Json::object();    // the board's description
    bool configured = false;        // configuration holds the check's findings
    Json configuration = Json::object();
    End end = End::Running;
    int fatalStop = 0;
    std::string fatalMessage;           // UTF-8
    std::string abortProgram;           // the program a test could not go on without
    std::vector<std::string> runLines;  // error lines outside any step
    Json logFailures = Json::array();   // logs that could not be appended to
    std::string origin;                 // where the board's answers came from; empty: not known yet
    int verdict = -1;                   // the verdict line printed: 1 success, 0 errors, -1 none
};

// Never destroyed: the interrupt thread may write the record while the
// main thread runs the exit-time destructors.
Record &rec() {
    static Record *r = new Record;
    return *r;
}

std::string cpuName(int cpu) { return kCpuNames[cpu]; }

std::string stepName(const std::string &key, int cpu) {
    std::string name = stepRecordName(key);
    return cpu == kNoCpu ? name : name + " " + cpuName(cpu);
}

std::string utf8(const char *cp1251) { return cp1251ToUtf8(cp1251, std::strlen(cp1251)); }

std::string hex(std::uint32_t value, int digits = 8) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

// "2026-12-08T03:42:08+01:00", or without the offset for JUnit's
// timestamp, which consumers read as the bench's local time.
std::string isoTime(std::time_t t, bool offset) {
    std::tm local = platformLocalTimeAt(t);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string out = text;
    if (offset) {
        int minutes = platformUtcOffsetMinutes(t);
        char zone[16];
        std::snprintf(zone, sizeof zone, "%c%02d:%02d", minutes < 0 ? '-' : '+', std::abs(minutes) / 60,
                      std::abs(minutes) % 60);
        out += zone;
    }
    return out;
}

Step *current() {
    Record &r = rec();
    return r.stepOpen ? &r.steps.back() : nullptr;
}

// Adds an item to a repeated step's list of kept ones: the first
// kPassesKept stay, and of the rest only the last kPassesKept.
template <typename T> void keepBounded(std::vector<T> &kept, T item) {
    kept.push_back(std::move(item));
    if (kept.size() > 2 * kPassesKept)
        kept.erase(kept.begin() + kPassesKept);
}

void addFinding(Step &s, Finding f) {
    if (!s.repeated) {
        s.findings.push_back(std::move(f));
        return;
    }
    f.pass = s.passes.count;
    ++s.passes.findings;
    s.passes.passFound = true;
    keepBounded(s.findings, std::move(f));
}

void addErrorLine(Step &s, std::string line) {
    if (!s.repeated) {
        s.errorLines.push_back(std::move(line));
        return;
    }
    ++s.passes.errorLines;
    s.passes.passFound = true;
    keepBounded(s.errorLines, std::move(line));
}

// A figure that is no finite number (a rate over no measurable time)
// stays out of the spread's figures.
void spreadAdd(Passes &p, const Measurement &m) {
    Spread *spread = nullptr;
    for (Spread &each : p.spreads)
        if (each.name == m.name)
            spread = &each;
    if (!spread) {
        p.spreads.push_back(Spread{m.name, m.unit, 0, 0, 0, {}});
        spread = &p.spreads.back();
    }
    if (!std::isfinite(m.value))
        return;
    spread->min = spread->count == 0 ? m.value : std::min(spread->min, m.value);
    spread->max = spread->count == 0 ? m.value : std::max(spread->max, m.value);
    ++spread->count;
    if (spread->sample.size() < kSpreadSample) {
        spread->sample.push_back(m.value);
        return;
    }
    p.random ^= p.random << 13; // xorshift64
    p.random ^= p.random >> 7;
    p.random ^= p.random << 17;
    std::uint64_t slot = p.random % static_cast<std::uint64_t>(spread->count);
    if (slot < kSpreadSample)
        spread->sample[slot] = m.value;
}

// A repeated step holds each measurement's latest value; the spread
// holds them all.
void addMeasurement(Step &s, Measurement m) {
    if (!s.repeated) {
        s.measurements.push_back(std::move(m));
        return;
    }
    spreadAdd(s.passes, m);
    for (Measurement &latest : s.measurements)
        if (latest.name == m.name) {
            latest = std::move(m);
            return;
        }
    s.measurements.push_back(std::move(m));
}

long stepFindings(const Step &s) { return s.repeated ? s.passes.findings : static_cast<long>(s.findings.size()); }

int findingCount(const Record &r) {
    long n = 0;
    for (const Step &s : r.steps)
        n += stepFindings(s);
    return static_cast<int>(n);
}

// A step's status as the run ended.
const char *status(const Record &r, const Step &s) {
    StepFacts facts{};
    facts.skipped = s.skipped;
    facts.notApplicable = s.notApplicable;
    facts.ended = s.ended;
    facts.repeated = s.repeated;
    facts.runEnded = r.end != End::Running;
    facts.found = s.errors > 0 || !s.findings.empty();
    facts.notTested = !s.notTested.empty();
    return decideStepStatus(facts);
}

// A continuous run never completes; its passes that found something make
// it fail however it ends.
bool repeatedFound(const Record &r) {
    for (const Step &s : r.steps)
        if (s.repeated && (s.errors > 0 || !s.findings.empty()))
            return true;
    return false;
}

const char *outcome(const Record &r) {
    switch (r.end) {
    case End::Complete:
        return r.errorCount == 0 && findingCount(r) == 0 ? "passed" : "failed";
    case End::Fatal:
        return "fatal";
    case End::Aborted:
        return "aborted";
    case End::Running:
        break;
    }
    return repeatedFound(r) ? "failed" : "interrupted";
}

// A step skipped as a whole covers its processors; a step planned before
// the processors were known is covered by any of its processors' steps.
bool taken(const Record &r, const PlannedStep &p) {
    for (const Step &s : r.steps)
        if (s.key == p.key && (s.cpu == p.cpu || s.cpu == kNoCpu || p.cpu == kNoCpu))
            return true;
    return false;
}

// A step as the documents show it: taken, or planned and never reached.
struct Row {
    const Step *step;
    std::string status;
    std::uint32_t ms;
};

// The steps taken, then those planned and never reached.
std::vector<Row> rows(const Record &r, std::uint32_t nowMs, std::vector<Step> &unreached) {
    unreached.clear();
    for (const PlannedStep &p : r.plan)
        if (!taken(r, p)) {
            Step s;
            s.key = p.key;
            s.cpu = p.cpu;
            unreached.push_back(s);
        }
    std::vector<Row> all;
    for (const Step &s : r.steps)
        all.push_back({&s, status(r, s), (s.ended ? s.endMs : nowMs) - s.startMs});
    for (const Step &s : unreached)
        all.push_back({&s, "not run", 0});
    return all;
}

Json measurementJson(const Measurement &m) {
    Json j;
    j["name"] = m.name;
    j["value"] = std::isfinite(m.value) ? Json(m.value) : Json(nullptr);
    j["unit"] = m.unit;
    j["shown"] = m.shown;
    return j;
}

// The place of a processor's memory word, as a fault or a finding gives it.
void placeJson(Json &j, int cpu, std::uint32_t address) {
    MemoryPlace place = decodeMemoryAddress(address);
    j["processor"] = cpu == kNoCpu ? Json(nullptr) : Json(cpuName(cpu));
    j["memory"] = place.memory ? Json(place.memory) : Json(nullptr);
    if (place.bank >= 0)
        j["bank"] = place.bank;
    if (place.chip >= 0) {
        j["chip"] = place.chip;
        j["offset"] = place.offset;
    }
}

// The host's part a finding of the exchange tests came from.
const char *findingPart(const std::string &test) {
    if (test == "word exchange" || test == "array exchange")
        return "hostPort";
    if (test == "DPRAM exchange")
        return "dpram";
    if (test == "stream")
        return "dma";
    return nullptr;
}

Json findingJson(const Finding &f) {
    Json j;
    j["test"] = f.test;
    if (const char *part = findingPart(f.test))
        j["part"] = part;
    if (f.words) {
        j["where"] = hex(f.where);
        j["written"] = hex(f.written);
        j["read"] = hex(f.read);
        if (f.cpu != kNoCpu)
            placeJson(j, f.cpu, f.where);
    } else {
        j["text"] = f.text;
    }
    if (f.pass > 0)
        j["pass"] = f.pass;
    return j;
}

Json finiteOrNull(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

Json passesJson(const Passes &p) {
    Json j;
    j["count"] = p.count;
    j["withFindings"] = p.withFindings + (p.passFound ? 1 : 0);
    j["findings"] = p.findings;
    j["errorLines"] = p.errorLines;
    Json spreads = Json::array();
    for (const Spread &s : p.spreads)
        spreads.push_back({{"name", s.name},
                           {"unit", s.unit},
                           {"count", s.count},
                           {"min", s.count ? finiteOrNull(s.min) : Json(nullptr)},
                           {"median", s.count ? finiteOrNull(median(s.sample)) : Json(nullptr)},
                           {"max", s.count ? finiteOrNull(s.max) : Json(nullptr)}});
    j["measurements"] = spreads;
    return j;
}

// The steps by status; complete when all ran whole.
Json coverageJson(const std::vector<Row> &all) {
    static const char *const kStatuses[][2] = {{"passed", "passed"},
                                               {"failed", "failed"},
                                               {"partial", "partial"},
                                               {"skipped", "skipped"},
                                               {"not applicable", "notApplicable"},
                                               {"not run", "notRun"},
                                               {"interrupted", "interrupted"}};
    bool complete = true;
    for (const Row &row : all)
        if ((row.status != "passed" && row.status != "failed") || !row.step->notTested.empty())
            complete = false;
    Json j;
    j["complete"] = complete;
    for (const auto &status : kStatuses) {
        long n = 0;
        for (const Row &row : all)
            n += row.status == status[0];
        j[status[1]] = n;
    }
    return j;
}

// Why a step did not run, in whole (skipped, not applicable) or in part.
Json stepReason(const Step &s, const std::string &status) {
    if ((status == "skipped" || status == "not applicable") && !s.reason.empty())
        return s.reason;
    if (status == "skipped" || status == "not applicable" || status == "partial")
        return s.notTested.empty() ? Json(nullptr) : Json(s.notTested.front().reason);
    return nullptr;
}

Json buildJson(const Record &r, std::time_t endTime, std::uint32_t nowMs) {
    Json j;
    j["schema"] = kRecordSchema;
    j["runId"] = r.runId;
    j["origin"] = r.origin.empty() ? Json(nullptr) : Json(r.origin);
    j["program"] = {{"name", "zorvantik-test"}, {"version", ZT_VERSION}};
    j["host"] = platformHostName(); // the bench, as the JUnit report names it
    j["boardNumber"] = runState.boardLid;
    j["options"] = {{"arguments", r.args},
                    {"boardNumber", runState.boardLid},
                    {"continuous", runState.continuous != 0},
                    {"trace", runState.trace != 0}};
    j["start"] = isoTime(r.start, true);
    j["end"] = isoTime(endTime, true);
    j["durationMs"] = nowMs - r.startMs;
    j["verdict"] = r.verdict < 0 ? Json(nullptr) : Json(r.verdict ? "passed" : "failed");
    j["outcome"] = outcome(r);
    if (r.end == End::Fatal)
        j["fatal"] = {{"stop", r.fatalStop}, {"message", r.fatalMessage}};
    if (r.end == End::Aborted)
        j["aborted"] = {{"program", r.abortProgram}};
    j["errorCount"] = r.errorCount;
    j["findingCount"] = findingCount(r);
    j["logs"] = {{"protocol", runState.protocolLogName},
                 {"screen", runState.screenLogName},
                 {"writeFailures", r.logFailures}};
    j["board"] = r.identified ? r.board : Json(nullptr);
    j["configuration"] = r.configured ? r.configuration : Json(nullptr);
    Json steps = Json::array();
    std::vector<Step> unreached;
    std::vector<Row> all = rows(r, nowMs, unreached);
    j["coverage"] = coverageJson(all);
    for (const Row &row : all) {
        const Step &s = *row.step;
        Json step;
        step["key"] = s.key;
        step["processor"] = s.cpu == kNoCpu ? Json(nullptr) : Json(cpuName(s.cpu));
        step["name"] = stepName(s.key, s.cpu);
        step["status"] = row.status;
        step["reason"] = stepReason(s, row.status);
        Json notTested = Json::array();
        for (const NotTested &n : s.notTested)
            notTested.push_back({{"part", n.part}, {"reason", n.reason}});
        step["notTested"] = notTested;
        step["errors"] = s.errors;
        step["faults"] = s.faults;
        step["faultCount"] = s.faultCount;
        Json findings = Json::array();
        for (const Finding &f : s.findings)
            findings.push_back(findingJson(f));
        step["findings"] = findings;
        step["durationMs"] = row.ms;
        Json measurements = Json::array();
        for (const Measurement &m : s.measurements)
            measurements.push_back(measurementJson(m));
        step["measurements"] = measurements;
        step["errorLines"] = s.errorLines;
        if (s.repeated)
            step["passes"] = passesJson(s.passes);
        steps.push_back(step);
    }
    j["steps"] = steps;
    j["errorLines"] = r.runLines;
    return j;
}

} // namespace

namespace {

std::string seconds(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms / 1000.0);
    return text;
}

std::string joinLines(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

// One testsuite for the run, a testcase per step.
std::string buildJunit(const Record &r, std::uint32_t nowMs) {
    std::vector<Step> unreached;
    std::vector<Row> steps = rows(r, nowMs, unreached);
    int failures = 0, errors = 0, skipped = 0;
    for (const Row &row : steps) {
        failures += row.status == "failed";
        errors += row.status == "interrupted";
        skipped += row.status == "skipped" || row.status == "not applicable" || row.status == "not run";
    }
    bool complete = coverageJson(steps).value("complete", false);
    std::string serial, model = "ZORVANTIK", version, fpga;
    if (r.identified) {
        serial = r.board.value("serialShown", "");
        version = r.board.value("version", "");
        fpga = r.board.value("fpgaVersion", "");
    }
    std::string name = "zorvantik-test board " + std::to_string(runState.boardLid);
    std::string suite = "name=\"" + xmlText(name) + "\" tests=\"" + std::to_string(steps.size()) + "\" failures=\"" +
                        std::to_string(failures) + "\" errors=\"" + std::to_string(errors) + "\" skipped=\"" +
                        std::to_string(skipped) + "\" time=\"" + seconds(nowMs - r.startMs) + "\"";
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    x += "<testsuites " + suite + ">\n";
    x += "  <testsuite " + suite + " timestamp=\"" + isoTime(r.start, false) + "\" hostname=\"" +
         xmlText(platformHostName()) + "\">\n";
    x += "    <properties>\n";
    auto property = [&](const char *key, const std::string &value) {
        x += "      <property name=\"" + std::string(key) + "\" value=\"" + xmlText(value) + "\"/>\n";
    };
    property("runId", r.runId);
    property("origin", r.origin);
    property("verdict", r.verdict < 0 ? "" : r.verdict ? "passed" : "failed");
    property("outcome", outcome(r));
    property("errorCount", std::to_string(r.errorCount));
    property("coverage", complete ? "complete" : "incomplete");
    property("serial", serial);
    property("model", model);
    property("version", version);
    property("fpgaVersion", fpga);
    x += "    </properties>\n";
    for (const Row &row : steps) {
        const Step &s = *row.step;
        const std::string &st = row.status;
        x += "    <testcase classname=\"" + xmlText(s.key) + "\" name=\"" + xmlText(stepName(s.key, s.cpu)) +
             "\" time=\"" + seconds(row.ms) + "\"";
        if (st == "passed" || st == "partial") { // what a partial step left out is in the JSON
            x += "/>\n";
            continue;
        }
        x += ">\n";
        if (st == "skipped" || st == "not applicable" || st == "not run") {
            Json reason = stepReason(s, st);
            std::string message = reason.is_string() ? st + ": " + reason.get<std::string>() : st;
            x += "      <skipped message=\"" + xmlText(message) + "\"/>\n";
        } else if (st == "interrupted") {
            x += "      <error message=\"interrupted\" type=\"interrupted\"/>\n";
        } else {
            std::vector<std::string> lines = s.errorLines;
            for (const Finding &f : s.findings)
                lines.push_back(f.words ? f.test + " " + hex(f.where) + ": " + hex(f.written) + " != " + hex(f.read)
                                        : f.test + ": " + f.text);
            std::string message = std::to_string(s.errors) + " errors, " + std::to_string(stepFindings(s)) +
                                  " findings" + (lines.empty() ? "" : ": " + lines.front());
            x += "      <failure message=\"" + xmlText(message) + "\" type=\"" +
                 (s.errors > 0 ? "errors" : "findings") + "\">" + xmlText(joinLines(lines), false) + "</failure>\n";
        }
        x += "    </testcase>\n";
    }
    x += "  </testsuite>\n</testsuites>\n";
    return x;
}

void warnUnwritten(const std::string &name, const std::string &why) {
    std::string text = "### ПРЕДУПРЕЖДЕНИЕ: Не могу записать файл '" + name + "' (" + why + ")\n";
    platformWarn(text.c_str(), text.size());
}

} // namespace

namespace {

// An error line handed over with a fault: UTF-8, without the line breaks
// and spaces around it.
std::string lineText(const char *cp1251) {
    std::string text = utf8(cp1251);
    std::size_t first = text.find_first_not_of(" \r\n\t");
    if (first == std::string::npos)
        return "";
    std::size_t last = text.find_last_not_of(" \r\n\t");
    return text.substr(first, last - first + 1);
}

// Built outside the lock; kept bounded in the step under way.
void addFault(Json fault) {
    std::lock_guard<std::mutex> hold(rec().lock);
    Step *s = current();
    if (!s)
        return;
    ++s->faultCount;
    s->faults.push_back(std::move(fault));
    if (s->faults.size() > 2 * kFaultsKept)
        s->faults.erase(s->faults.begin() + kFaultsKept);
}

} // namespace

MemoryPlace decodeMemoryAddress(std::uint32_t address) {
    static const std::uint32_t kBankStarts[3] = {0x00000, 0x80000, 0x100000};
    constexpr std::uint32_t kBankWords = 0x10000;
    constexpr std::uint32_t kChipBase = 0x10000000, kChipWords = 0x01000000;
    for (int bank = 0; bank < 3; ++bank)
        if (address - kBankStarts[bank] < kBankWords)
            return {"internal", bank, -1, address - kBankStarts[bank]};
    if (address - kChipBase < 4 * kChipWords)
        return {"dynamic", -1, static_cast<int>((address - kChipBase) / kChipWords), (address - kChipBase) % kChipWords};
    return {nullptr, -1, -1, 0};
}

const char *decideStepStatus(const StepFacts &f) {
    if (f.skipped)
        return "skipped";
    if (!f.ended) // a repeated step's passes that found something stand
        return !f.runEnded && !(f.repeated && f.found) ? "interrupted" : "failed";
    if (f.found)
        return "failed";
    if (f.notApplicable)
        return "not applicable";
    return f.notTested ? "partial" : "passed";
}

std::string reasonText(const char *cp1251) {
    if (!cp1251)
        return "";
    std::string text = utf8(cp1251);
    const char *const marks = " \r\n\t!#-";
    std::size_t first = text.find_first_not_of(marks);
    if (first == std::string::npos)
        return "";
    std::size_t last = text.find_last_not_of(marks);
    return text.substr(first, last - first + 1);
}

std::string recordBaseName(std::int32_t boardLid) {
    std::uint32_t board = static_cast<std::uint32_t>(boardLid);
    if (board <= 1)
        return "result1";
    if (board <= 8)
        return "result" + std::to_string(board);
    return "result";
}

void recordStart(int argc, char **argv) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    r.start = std::time(nullptr);
    r.startMs = platformMillis();
    r.runId = makeRunId();
    for (int i = 1; i < argc; ++i)
        r.args.push_back(argv[i]);
}

std::string recordRunId() {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.runId;
}

void recordPlan(const std::vector<PlannedStep> &plan) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    r.plan = plan;
}

void recordStepBegin(const char *key, int cpu) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.stepOpen) {
        r.steps.back().ended = true;
        r.steps.back().endMs = platformMillis();
    }
    Step s;
    s.key = key;
    s.cpu = cpu;
    s.startMs = platformMillis();
    r.steps.push_back(s);
    r.stepOpen = true;
}

void recordStepSkipped(const char *reason) {
    std::lock_guard<std::mutex> hold(rec().lock);
    if (Step *s = current()) {
        s->skipped = true;
        s->reason = reasonText(reason);
    }
}

void recordNotApplicable(const char *reason) {
    std::lock_guard<std::mutex> hold(rec().lock);
    if (Step *s = current()) {
        s->notApplicable = true;
        s->reason = reasonText(reason);
    }
}

void recordNotTested(const char *part, const char *reason) {
    std::lock_guard<std::mutex> hold(rec().lock);
    Step *s = current();
    if (!s)
        return;
    for (const NotTested &n : s->notTested)
        if (n.part == part)
            return; // the first reason stands
    s->notTested.push_back({part, reasonText(reason)});
}

void recordStepDrop() {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.stepOpen) {
        r.steps.pop_back();
        r.stepOpen = false;
    }
}

void recordStepEnd() {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    if (Step *s = current()) {
        s->ended = true;
        s->endMs = platformMillis();
        r.stepOpen = false;
    }
}

void countError() {
    ++runState.errorCount;
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    ++r.errorCount;
    if (Step *s = current())
        ++s->errors;
}

void recordRepeat() {
    std::lock_guard<std::mutex> hold(rec().lock);
    if (Step *s = current()) {
        s->repeated = true;
        s->passes.count = 1;
    }
}

void recordPass() {
    std::lock_guard<std::mutex> hold(rec().lock);
    Step *s = current();
    if (!s || !s->repeated)
        return;
    if (s->passes.passFound)
        ++s->passes.withFindings;
    s->passes.passFound = false;
    ++s->passes.count;
}

void recordMismatch(const char *test, std::uint32_t where, std::uint32_t written, std::uint32_t read, int cpu) {
    std::lock_guard<std::mutex> hold(rec().lock);
    if (Step *s = current())
        addFinding(*s, {test, "", true, where, written, read, cpu});
}

void recordLinkFault(int fromCpu, int fromLink, int toCpu, int toLink, bool values, std::uint32_t written,
                     std::uint32_t read, const char *text) {
    Json f;
    f["kind"] = "link";
    f["from"] = {{"processor", cpuName(fromCpu)}, {"link", fromLink}};
    f["to"] = toCpu == kNoCpu ? Json(nullptr) : Json({{"processor", cpuName(toCpu)}, {"link", toLink}});
    f["written"] = values ? Json(written) : Json(nullptr);
    f["read"] = values ? Json(read) : Json(nullptr);
    if (!values)
        f["text"] = lineText(text);
    addFault(std::move(f));
}

void recordMemoryFault(int cpu, std::uint32_t address, std::uint32_t written, std::uint32_t read) {
    Json f;
    f["kind"] = "memory";
    placeJson(f, cpu, address);
    f["address"] = address;
    f["written"] = written;
    f["read"] = read;
    addFault(std::move(f));
}

void recordProcessorFault(int cpu, const char *test, const char *text) {
    Json f;
    f["kind"] = "processor";
    f["processor"] = cpu == kNoCpu ? Json(nullptr) : Json(cpuName(cpu));
    f["test"] = test;
    f["text"] = lineText(text);
    addFault(std::move(f));
}

void recordHostFault(const char *part, const char *text) {
    Json f;
    f["kind"] = "host";
    f["part"] = part;
    f["text"] = lineText(text);
    addFault(std::move(f));
}

void recordVerdict(bool passed) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    r.verdict = passed ? 1 : 0;
}

void recordOrigin(const char *origin) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    r.origin = origin;
}

void recordFinding(const char *test, const char *text) {
    std::lock_guard<std::mutex> hold(rec().lock);
    if (Step *s = current())
        addFinding(*s, {test, utf8(text), false, 0, 0, 0});
}

void recordMeasurement(const char *name, double value, const char *unit, const char *shown) {
    std::lock_guard<std::mutex> hold(rec().lock);
    if (Step *s = current())
        addMeasurement(*s, {name, unit, utf8(shown), value});
}

void recordRate(const char *name, double mbps) {
    char shown[64];
    std::snprintf(shown, sizeof shown, "%f", mbps);
    recordMeasurement(name, mbps, "MB/s", shown);
}

void recordBoard(const BoardInfo &info, std::uint32_t fpgaWord, const std::string &title, bool entryFound) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    char text[64];
    Json b;
    b["model"] = "ZORVANTIK";
    b["modelCode"] = hex(info.boardType >> 16, 4);
    std::snprintf(text, sizeof text, "%X.%X", static_cast<unsigned>((info.boardType >> 4) & 0xFFF),
                  static_cast<unsigned>(info.boardType & 0xF));
    b["version"] = text;
    b["title"] = utf8(title.c_str());
    b["serial"] = static_cast<std::int32_t>(info.serialNumber);
    std::snprintf(text, sizeof text, "%05ld", static_cast<long>(static_cast<std::int32_t>(info.serialNumber)));
    b["serialShown"] = text;
    std::snprintf(text, sizeof text, "%u.%u.%u", static_cast<unsigned>(fpgaWord >> 24),
                  static_cast<unsigned>((fpgaWord >> 16) & 0xFF), static_cast<unsigned>((fpgaWord >> 8) & 0xFF));
    b["fpgaVersion"] = text;
    b["pci"] = {{"bus", static_cast<std::int32_t>(info.pciBus)},
                {"device", static_cast<std::int32_t>(info.pciDevice)},
                {"controllerMemory", hex(info.pciCtrlMemAddr)},
                {"controllerIo", hex(info.pciCtrlIoAddr & 0xFFFE)},
                {"deviceMemory", hex(info.devMemAddr)},
                {"deviceIo", hex(info.devIoAddr & 0xFFFE)}};
    b["irq"] = static_cast<std::int32_t>(info.irq);
    b["identificationEntry"] = entryFound;
    b["presenceMask"] = hex(runState.cpuMask, 4);
    Json present = Json::array();
    for (int cpu = 0; cpu < kCpuCount; ++cpu)
        if ((runState.cpuMask >> cpu) & 1)
            present.push_back(cpuName(cpu));
    b["processors"] = present;
    b["clockMHz"] = runState.cpuFreqMHz;
    Json submodules = Json::array();
    if (runState.qdx1Present)
        submodules.push_back("QDX1");
    if (runState.qdx2Present)
        submodules.push_back("QDX2");
    b["submodules"] = submodules;
    b["x5"] = runState.x5Type == 0 ? "LINK" : "SYNX";
    b["x6"] = runState.x6Type == 0 ? "LINK" : "PIOX";
    r.board = b;
    r.identified = true;
}

void recordDpram(bool found) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    r.configuration["dpram"] = found;
    r.configuration["dynamicMemory"] = nullptr;
    r.configuration["sdramSize"] = 0;
    r.configured = true;
}

void recordDram(const std::uint32_t chipWords[4], const bool overhead[4], std::uint32_t sdrcon, double speed) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    Json chips = Json::array();
    for (int i = 0; i < 4; ++i)
        chips.push_back({{"words", chipWords[i]}, {"overhead", overhead[i]}});
    char shown[64];
    std::snprintf(shown, sizeof shown, "%4f", speed);
    Json dram;
    dram["chips"] = chips;
    if (chipWords[0] != 0) {
        dram["sdrcon"] = hex(sdrcon, 4);
        dram["speedMBps"] = std::isfinite(speed) ? Json(speed) : Json(nullptr);
        dram["speedShown"] = shown;
    }
    r.configuration["dynamicMemory"] = dram;
    r.configuration["sdramSize"] = chipWords[0];
    r.configured = true;
}

void recordConsoleText(const char *text, std::size_t length) {
    if (!std::memchr(text, '#', length))
        return; // the common case: progress, figures, headers
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    std::string all(text, length);
    for (std::size_t at = 0; at <= all.size();) {
        std::size_t end = all.find('\n', at);
        std::string line = all.substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::size_t first = line.find_first_not_of('\r');
        if (first != std::string::npos && line.compare(first, 3, "###") == 0) {
            std::string shown = cp1251ToUtf8(line.data() + first, line.size() - first);
            if (Step *s = current())
                addErrorLine(*s, shown);
            else
                r.runLines.push_back(shown);
        }
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
}

void recordLogFailure(const char *file, const char *reason) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    r.logFailures.push_back({{"file", file}, {"reason", reason}});
}

void recordFatalStop(int stop, const char *message) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    r.end = End::Fatal;
    r.fatalStop = stop;
    std::string text = utf8(message);
    std::size_t first = text.find_first_not_of("\r\n");
    r.fatalMessage = first == std::string::npos ? text : text.substr(first);
}

void recordAbort(const char *program) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    r.end = End::Aborted;
    r.abortProgram = program;
}

void recordFinish(bool complete) {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.written)
        return;
    r.written = true;
    if (complete)
        r.end = End::Complete;
    std::string base = recordBaseName(runState.boardLid);
    std::string json, xml, why;
    try {
        std::time_t now = std::time(nullptr);
        std::uint32_t nowMs = platformMillis();
        json = buildJson(r, now, nowMs).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
        xml = buildJunit(r, nowMs);
    } catch (const std::exception &e) {
        warnUnwritten(base + ".json", e.what());
        return;
    }
    if (!platformWriteWhole(stationPath((base + ".json").c_str()), json, why))
        warnUnwritten(base + ".json", why);
    if (!platformWriteWhole(stationPath((base + ".xml").c_str()), xml, why))
        warnUnwritten(base + ".xml", why);
    // The run's page, made from the record's text alone (src/report).
    std::string html;
    if (!renderRunPage(json, html, why) || !platformWriteWhole(stationPath((base + ".html").c_str()), html, why))
        warnUnwritten(base + ".html", why);
    // Then the same files and the logs into the archive (run/archive.h).
    archiveRun(json, xml, html, r.runId);
}

std::string recordJson() {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    return buildJson(r, std::time(nullptr), platformMillis()).dump(2, ' ', false, Json::error_handler_t::replace);
}

std::string recordJunit() {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    return buildJunit(r, platformMillis());
}

void resetRecord() {
    Record &r = rec();
    std::lock_guard<std::mutex> hold(r.lock);
    r.written = false;
    r.start = 0;
    r.startMs = 0;
    r.runId.clear();
    r.args.clear();
    r.plan.clear();
    r.steps.clear();
    r.stepOpen = false;
    r.errorCount = 0;
    r.identified = false;
    r.board = Json::object();
    r.configured = false;
    r.configuration = Json::object();
    r.end = End::Running;
    r.fatalStop = 0;
    r.fatalMessage.clear();
    r.abortProgram.clear();
    r.runLines.clear();
    r.logFailures = Json::array();
    r.origin.clear();
    r.verdict = -1;
}
