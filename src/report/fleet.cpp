// fleet.cpp - many records at once: a streaming read of each record that
// keeps only what the summary needs, the summary itself, the CSV and the
// fleet page.
//
// Memory grows with the number of boards (each keeps its first and last
// run), never with the number of records: a record's text is read into
// one reused buffer and parsed without building a tree, and its CSV row
// is written as soon as it is read.
#include "report/report.h"

#include "report/calendar.h"
#include "report/charts.h"
#include "report/html.h"
#include "report/labels.h"
#include "report/record_file.h"
#include "report/templates.h"

#include <kainjow/mustache.hpp>
#include <nlohmann/json.hpp>
// XXH3 (Debian's libxxhash-dev), compiled in from its header: the
// command needs no library for it at run time.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <unordered_map>

namespace fs = std::filesystem;
namespace mu = kainjow::mustache;

namespace {

using Json = nlohmann::json;

// The measurements a run records, in the order a run takes them.
std::vector<FleetMeasure> makeMeasures() {
    std::vector<FleetMeasure> all;
    for (const char *name : {"hostPortWrite", "hostPortRead", "dpramWrite", "dpramRead", "fifoBusRead", "fifoBusWrite",
                             "fifoLinkRead", "fifoLinkWrite", "putMsg", "getMsg"})
        all.push_back({"HOST", "", name, "MB/s", std::string("HOST.") + name});
    all.push_back({"HSTREAM", "", "streamRate", "MB/s", "HSTREAM.streamRate"});
    for (const char *name : {"cycles", "time"})
        for (int cpu = 1; cpu <= 7; ++cpu) {
            std::string p = "P" + std::to_string(cpu);
            all.push_back({"FFTTIME", p, name, std::string(name) == "cycles" ? "cycles" : "us",
                           "FFTTIME." + p + "." + name});
        }
    for (int cpu = 1; cpu <= 7; ++cpu)
        for (const char *name : {"chip1", "chip2", "chip3", "chip4"}) {
            std::string p = "P" + std::to_string(cpu);
            all.push_back({"memory", p, name, "words", "memory." + p + "." + name});
        }
    return all;
}

// The SAX handler: follows where in the record it is and keeps the few
// fields the fleet reads.
class RecordReader {
public:
    explicit RecordReader(FleetRun &run) : run_(run) {
        run_ = FleetRun();
        run_.values.assign(fleetMeasures().size(), NAN);
        run_.shown.assign(fleetMeasures().size(), std::string());
    }

    bool null() { return scalar(Value{}); }
    bool boolean(bool v) { return scalar(Value{false, 0, nullptr, true, v}); }
    bool number_integer(Json::number_integer_t v) { return scalar(Value{true, double(v), nullptr}); }
    bool number_unsigned(Json::number_unsigned_t v) { return scalar(Value{true, double(v), nullptr}); }
    bool number_float(Json::number_float_t v, const Json::string_t &) { return scalar(Value{true, v, nullptr}); }
    bool string(Json::string_t &v) { return scalar(Value{false, 0, &v}); }
    bool binary(Json::binary_t &) { return scalar(Value{}); }

    bool start_object(std::size_t) {
        Box box = Box::Other;
        if (stack_.empty())
            box = Box::Record, rootObject_ = true;
        else if (top().box == Box::Record && top().key == Key::Board)
            box = Box::Board;
        else if (top().box == Box::Record && top().key == Key::Coverage)
            box = Box::Coverage;
        else if (top().box == Box::Steps)
            box = Box::Step;
        else if (top().box == Box::Measurements)
            box = Box::Measurement;
        if (box == Box::Step) {
            stepKey_.clear();
            stepCpu_.clear();
            stepStatus_.clear();
        }
        if (box == Box::Measurement) {
            measureName_.clear();
            measureShown_.clear();
            measureValue_ = NAN;
        }
        stack_.push_back({box, Key::None});
        return true;
    }
    bool end_object() {
        Box box = top().box;
        stack_.pop_back();
        if (box == Box::Step)
            run_.steps.push_back({stepKey_, stepCpu_, stepStatus_});
        if (box == Box::Step && stepStatus_ == "failed") {
            run_.failedSteps.push_back(stepCpu_.empty() ? stepKey_ : stepKey_ + " " + stepCpu_);
            run_.failedKeys.emplace_back(stepKey_, stepCpu_);
        }
        if (box == Box::Measurement) {
            auto it = fleetMeasureIndex().find(stepKey_ + "|" + stepCpu_ + "|" + measureName_);
            if (it != fleetMeasureIndex().end()) {
                run_.values[it->second] = measureValue_;
                run_.shown[it->second] = measureShown_;
            }
        }
        return true;
    }
    bool start_array(std::size_t) {
        Box box = Box::Other;
        if (stack_.empty())
            box = Box::Other;
        else if (top().box == Box::Record && top().key == Key::Steps)
            box = Box::Steps, sawSteps_ = true;
        else if (top().box == Box::Step && top().key == Key::Measurements)
            box = Box::Measurements;
        stack_.push_back({box, Key::None});
        return true;
    }
    bool end_array() {
        stack_.pop_back();
        return true;
    }
    bool key(Json::string_t &k) {
        Frame &f = top();
        f.key = Key::None;
        switch (f.box) {
        case Box::Record:
            f.key = k == "schema"         ? Key::Schema
                    : k == "outcome"      ? Key::Outcome
                    : k == "start"        ? Key::Start
                    : k == "errorCount"   ? Key::ErrorCount
                    : k == "findingCount" ? Key::FindingCount
                    : k == "board"        ? Key::Board
                    : k == "steps"        ? Key::Steps
                    : k == "runId"        ? Key::RunId
                    : k == "origin"       ? Key::Origin
                    : k == "coverage"     ? Key::Coverage
                                          : Key::None;
            break;
        case Box::Board:
            f.key = k == "serialShown" ? Key::Serial : Key::None;
            break;
        case Box::Coverage:
            f.key = k == "complete" ? Key::Complete : Key::None;
            break;
        case Box::Step:
            f.key = k == "key"            ? Key::StepKey
                    : k == "processor"    ? Key::Processor
                    : k == "status"       ? Key::Status
                    : k == "measurements" ? Key::Measurements
                                          : Key::None;
            break;
        case Box::Measurement:
            f.key = k == "name" ? Key::Name : k == "value" ? Key::Value : k == "shown" ? Key::Shown : Key::None;
            break;
        default:
            break;
        }
        return true;
    }
    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &e) {
        error_ = e.what();
        errorAt_ = position;
        return false;
    }

    bool isRecord() const { return rootObject_ && hasSchema_ && hasOutcome_ && sawSteps_; }
    double schema() const { return schema_; }
    const std::string &error() const { return error_; }
    std::size_t errorAt() const { return errorAt_; }

private:
    enum class Box { Record, Board, Coverage, Steps, Step, Measurements, Measurement, Other };
    enum class Key { None, Schema, Outcome, Start, ErrorCount, FindingCount, Board, Serial, Steps, StepKey,
                     Processor, Status, Measurements, Name, Value, Shown, RunId, Origin, Coverage, Complete };
    struct Frame {
        Box box;
        Key key;
    };
    struct Value {
        bool number = false;
        double n = 0;
        const std::string *s = nullptr;
        bool boolean = false, truth = false;
    };

    Frame &top() { return stack_.back(); }
    // A count as a whole number; a record cannot make it overflow.
    static long long count(double n) { return std::isfinite(n) && std::fabs(n) < 1e15 ? static_cast<long long>(n) : 0; }

    bool scalar(const Value &v) {
        if (stack_.empty()) // a bare value: not a record
            return true;
        Frame &f = top();
        switch (f.key) {
        case Key::Schema:
            if (f.box == Box::Record && v.number)
                hasSchema_ = true, schema_ = v.n;
            break;
        case Key::Outcome:
            if (v.s)
                hasOutcome_ = true, run_.outcome = *v.s;
            break;
        case Key::Start:
            if (v.s)
                run_.start = *v.s;
            break;
        case Key::ErrorCount:
            if (v.number)
                run_.errorCount = count(v.n);
            break;
        case Key::FindingCount:
            if (v.number)
                run_.findingCount = count(v.n);
            break;
        case Key::Serial:
            if (v.s)
                run_.serial = *v.s;
            break;
        case Key::RunId:
            if (v.s && f.box == Box::Record)
                run_.runId = *v.s;
            break;
        case Key::Origin:
            if (v.s && f.box == Box::Record)
                run_.origin = *v.s;
            break;
        case Key::Complete:
            if (v.boolean)
                run_.coverageComplete = v.truth ? 1 : 0;
            break;
        case Key::StepKey:
            if (v.s)
                stepKey_ = *v.s;
            break;
        case Key::Processor:
            if (v.s)
                stepCpu_ = *v.s;
            break;
        case Key::Status:
            if (v.s)
                stepStatus_ = *v.s;
            break;
        case Key::Name:
            if (v.s)
                measureName_ = *v.s;
            break;
        case Key::Value:
            if (v.number)
                measureValue_ = v.n;
            break;
        case Key::Shown:
            if (v.s)
                measureShown_ = *v.s;
            break;
        default:
            break;
        }
        return true;
    }

    FleetRun &run_;
    std::vector<Frame> stack_;
    bool rootObject_ = false, hasSchema_ = false, hasOutcome_ = false, sawSteps_ = false;
    double schema_ = 0;
    std::string stepKey_, stepCpu_, stepStatus_, measureName_, measureShown_;
    double measureValue_ = NAN;
    std::string error_;
    std::size_t errorAt_ = 0;
};

std::string percent(long long part, long long whole) {
    if (whole == 0)
        return "—";
    char t[32];
    std::snprintf(t, sizeof t, "%.1f %%", 100.0 * part / whole);
    for (char &c : t)
        if (c == '.')
            c = ',';
    return t;
}

std::string number(double v) {
    if (!std::isfinite(v))
        return "";
    char t[64];
    auto r = std::to_chars(t, t + sizeof t, v);
    return std::string(t, r.ptr);
}

// A CSV field (csvCell).
std::string csvField(const std::string &s) { return csvCell(s); }

// A decimal number as a spreadsheet reads one: an optional sign, digits
// with at most one point, an optional exponent.
bool isNumber(const std::string &s) {
    std::size_t i = 0, n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    bool point = false;
    for (; i < n; ++i) {
        if (s[i] >= '0' && s[i] <= '9')
            ++digits;
        else if (s[i] == '.' && !point)
            point = true;
        else
            break;
    }
    if (digits == 0)
        return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            ++i;
        std::size_t exponent = 0;
        for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i)
            ++exponent;
        if (exponent == 0)
            return false;
    }
    return i == n;
}

std::string join(const std::vector<std::string> &items, const char *separator) {
    std::string out;
    for (const std::string &s : items)
        out += (out.empty() ? "" : separator) + s;
    return out;
}

struct BoardCounts {
    long long firstPassed = 0, lastPassed = 0;
};
BoardCounts passedBoards(const Fleet &fleet) {
    BoardCounts c;
    for (const auto &b : fleet.boards) {
        c.firstPassed += b.second.firstOutcome == "passed";
        c.lastPassed += b.second.last.outcome == "passed";
    }
    return c;
}

} // namespace

std::vector<ParetoEntry> pareto(const Fleet &fleet, bool firstRuns) {
    std::map<std::pair<std::string, std::string>, long long> counts;
    for (const auto &b : fleet.boards) {
        std::vector<std::pair<std::string, std::string>> seen =
            firstRuns ? b.second.first.failedKeys : b.second.last.failedKeys;
        std::sort(seen.begin(), seen.end());
        seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        for (const auto &k : seen)
            ++counts[k];
    }
    std::vector<ParetoEntry> all;
    for (const auto &c : counts)
        all.push_back({c.first.first, c.first.second, c.second});
    // Most boards first, then by key, then by processor (board-wide first).
    std::stable_sort(all.begin(), all.end(),
                     [](const ParetoEntry &a, const ParetoEntry &b) { return a.boards > b.boards; });
    return all;
}

namespace {

const char *const kOutcomes[] = {"passed", "failed", "interrupted", "fatal", "aborted"};

// An absolute path as a file: URL ("file:///C:/..." on Windows).
std::string fileUrl(const fs::path &absolute) {
    std::string p = absolute.generic_string();
    if (p.size() >= 2 && p[1] == ':')
        return "file:///" + p.substr(0, 2) + hrefPath(p.substr(2));
    return "file://" + hrefPath(p);
}

bool endsWithJson(const fs::path &p) {
    std::string name = p.filename().string();
    return name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0;
}

struct Collector {
    Fleet &fleet;
    std::ostream *csv;
    std::ostream &err;
    std::string text;
    std::vector<fs::path> files; // the records found, read in byte order of their paths

    void skip(const std::string &file, const std::string &why) {
        fleetSkip(fleet, file);
        err << "zorvantik-report: skipped " << asciiEscape(file) << ": " << asciiEscape(why) << "\n";
    }

    void file(const fs::path &path) {
        std::string name = path.string(), why;
        if (!readRecordFile(name, text, why))
            return skip(name, why);
        FleetRun run;
        if (!readFleetRun(text, run, why))
            return skip(name, why);
        fs::path page = path;
        page.replace_extension(".html");
        std::error_code ec;
        if (fleetAdd(fleet, run, name, fs::is_regular_file(page, ec) ? page.string() : "") && csv)
            *csv << fleetCsvRow(name, run);
    }

    // A folder's records, searched recursively; what is not a record
    // file is told when found.
    void folder(const fs::path &dir) {
        std::error_code ec;
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            entries.push_back(*it);
        if (ec)
            return skip(dir.string(), "folder cannot be read (" + ec.message() + ")");
        std::sort(entries.begin(), entries.end(),
                  [](const fs::directory_entry &a, const fs::directory_entry &b) { return a.path() < b.path(); });
        for (const fs::directory_entry &e : entries) {
            bool directory = e.is_directory(ec);
            if (directory && endsWithJson(e.path()))
                skip(e.path().string(), "is a directory");
            else if (directory && !e.is_symlink(ec))
                folder(e.path());
            else if (endsWithJson(e.path()))
                files.push_back(e.path());
        }
    }

    // Every file in byte order of its path as given, so that of a run's
    // copies the same one is read first on every machine.
    void readAll() {
        std::sort(files.begin(), files.end(),
                  [](const fs::path &a, const fs::path &b) { return a.string() < b.string(); });
        files.erase(std::unique(files.begin(), files.end()), files.end());
        for (const fs::path &f : files)
            file(f);
    }
};

} // namespace

// "KEY|P3|name" -> the measure's index.
const std::unordered_map<std::string, std::size_t> &fleetMeasureIndex() {
    static const std::unordered_map<std::string, std::size_t> index = [] {
        std::unordered_map<std::string, std::size_t> m;
        const std::vector<FleetMeasure> &all = fleetMeasures();
        for (std::size_t i = 0; i < all.size(); ++i)
            m[all[i].key + "|" + all[i].processor + "|" + all[i].name] = i;
        return m;
    }();
    return index;
}

bool recordInstant(const std::string &iso, long long &seconds) {
    int y, mo, d, h, mi, s, oh = 0, om = 0;
    char sign = '+';
    int n = std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &y, &mo, &d, &h, &mi, &s, &sign, &oh, &om);
    if (n != 6 && n != 9)
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31)
        return false;
    long long offset = (oh * 60LL + om) * 60 * (sign == '-' ? -1 : 1);
    seconds = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600LL + mi * 60LL +
              s - (n == 9 ? offset : 0);
    return true;
}

const std::vector<FleetMeasure> &fleetMeasures() {
    static const std::vector<FleetMeasure> all = makeMeasures();
    return all;
}

bool readFleetRun(const std::string &text, FleetRun &run, std::string &why) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        why = "empty file";
        return false;
    }
    RecordReader reader(run);
    // (The parser stops at a NUL byte as at the end of the text.)
    if (!Json::sax_parse(text, &reader) || text.find('\0') != std::string::npos) {
        why = recordSyntaxFault(text, reader.error(), reader.errorAt());
        return false;
    }
    if (!reader.isRecord()) {
        why = "not a result record (no schema, outcome and steps)";
        return false;
    }
    if (reader.schema() >= kReportSchema + 1 || reader.schema() < 1) {
        why = "record layout " + number(std::floor(reader.schema())) + " is not one this program knows (up to " +
              std::to_string(kReportSchema) + ")";
        return false;
    }
    if (!recordInstant(run.start, run.startSeconds))
        run.startSeconds = 0;
    if (run.runId.empty())
        run.digest = recordDigest(text);
    return true;
}

std::string recordDigest(const std::string &bytes) {
    XXH128_hash_t h = XXH3_128bits(bytes.data(), bytes.size());
    char t[40];
    std::snprintf(t, sizeof t, "%016llx%016llx", static_cast<unsigned long long>(h.high64),
                  static_cast<unsigned long long>(h.low64));
    return t;
}

std::string fleetRunKey(const FleetRun &run) { return run.runId.empty() ? "digest:" + run.digest : run.runId; }

bool fleetRunBefore(const FleetRun &a, const FleetRun &b) {
    if (a.startSeconds != b.startSeconds)
        return a.startSeconds < b.startSeconds;
    return fleetRunKey(a) < fleetRunKey(b);
}

void fleetSkip(Fleet &fleet, const std::string &file) {
    ++fleet.skipped;
    fleet.skippedFiles.push_back(file);
}

std::string csvCell(const std::string &text) {
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (c != '\0')
            s += c;
    if (!s.empty() && (s[0] == '=' || s[0] == '+' || s[0] == '-' || s[0] == '@') && !isNumber(s))
        s.insert(s.begin(), '\'');
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string asciiEscape(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char t[8];
            std::snprintf(t, sizeof t, "\\x%02X", c);
            out += t;
        }
    }
    return out;
}

bool fleetAdd(Fleet &fleet, const FleetRun &run, const std::string &file, const std::string &page) {
    std::string key = fleetRunKey(run);
    if (fleet.benchOnly && (run.origin == "virtual" || run.origin == "replay")) {
        fleet.leftOut += fleet.leftOutKeys.insert(key).second; // each run once, however many copies
        return false;
    }
    auto known = fleet.seen.find(key);
    if (known != fleet.seen.end()) {
        // A copy of a run already counted: the copy linked to is the one
        // whose path is least in byte order, whichever came first.
        ++fleet.duplicates;
        auto keep = [&](std::string &kept, std::string &keptPage) {
            if (file < kept) {
                kept = file;
                keptPage = page;
            }
        };
        if (known->second.empty()) {
            for (FleetBoardRun &r : fleet.unidentifiedRuns)
                if (r.key == key)
                    keep(r.file, r.page);
            return false;
        }
        FleetBoard &b = fleet.boards[known->second];
        for (FleetBoardRun &r : b.history)
            if (r.key == key) {
                std::string before = r.file;
                keep(r.file, r.page);
                if (fleetRunKey(b.last) == key && b.lastFile == before) {
                    b.lastFile = r.file;
                    b.lastPage = r.page;
                }
            }
        return false;
    }
    fleet.seen.emplace(key, run.serial);
    ++fleet.runs;
    ++fleet.outcomes[run.outcome];
    if (run.start.size() >= 10) {
        std::string date = run.start.substr(0, 10);
        auto &day = fleet.days[date];
        (run.outcome == "passed" ? day.first : day.second)++;
        std::vector<std::vector<double>> &values = fleet.dayValues[date];
        values.resize(run.values.size());
        for (std::size_t i = 0; i < run.values.size(); ++i)
            if (std::isfinite(run.values[i]) && fleetMeasures()[i].unit == "MB/s")
                values[i].push_back(run.values[i]);
    }
    for (const FleetStep &step : run.steps) {
        if (step.status != "passed" && step.status != "failed" && step.status != "partial")
            continue; // a step that did not run tells nothing of its processor
        FleetCell &cell = fleet.cells[{step.key, step.processor}];
        ++cell.ran;
        cell.failed += step.status == "failed";
    }
    FleetBoardRun entry{key, run.start, run.outcome, run.startSeconds, run.coverageComplete, file, page};
    if (run.serial.empty()) {
        // Never identified: a run, but no board to count it for.
        ++fleet.unidentified;
        fleet.unidentifiedRuns.push_back(entry);
        return true;
    }
    auto found = fleet.boards.find(run.serial);
    if (found == fleet.boards.end()) {
        FleetBoard &b = fleet.boards[run.serial];
        b.runs = 1;
        b.everPassed = run.outcome == "passed";
        b.firstSeconds = run.startSeconds;
        b.firstOutcome = run.outcome;
        b.first = run;
        b.last = run;
        b.lastFile = file;
        b.lastPage = page;
        b.history.push_back(entry);
        return true;
    }
    FleetBoard &b = found->second;
    ++b.runs;
    b.everPassed = b.everPassed || run.outcome == "passed";
    b.history.push_back(entry);
    // Runs that start in the same second are ordered by their key, so the
    // first and the last do not hang on the order the files were read in.
    if (fleetRunBefore(run, b.first)) {
        b.first = run;
        b.firstSeconds = run.startSeconds;
        b.firstOutcome = run.outcome;
    }
    if (fleetRunBefore(b.last, run)) {
        b.last = run;
        b.lastFile = file;
        b.lastPage = page;
    }
    return true;
}

std::string fleetSummaryJson(const Fleet &fleet) {
    nlohmann::ordered_json j;
    j["runs"] = fleet.runs;
    j["boards"] = fleet.boards.size();
    nlohmann::ordered_json outcomes = nlohmann::ordered_json::object();
    for (const char *o : kOutcomes)
        outcomes[o] = 0;
    for (const auto &o : fleet.outcomes)
        outcomes[o.first] = o.second;
    j["outcomes"] = outcomes;
    j["skipped"] = fleet.skipped;
    BoardCounts c = passedBoards(fleet);
    long long boards = static_cast<long long>(fleet.boards.size());
    j["firstPassYield"] = boards ? nlohmann::ordered_json(double(c.firstPassed) / boards) : nullptr;
    j["finalYield"] = boards ? nlohmann::ordered_json(double(c.lastPassed) / boards) : nullptr;
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (const ParetoEntry &e : pareto(fleet))
        entries.push_back({{"key", e.key},
                           {"processor", e.processor.empty() ? nlohmann::ordered_json(nullptr)
                                                             : nlohmann::ordered_json(e.processor)},
                           {"boards", e.boards}});
    j["pareto"] = entries;
    nlohmann::ordered_json firstEntries = nlohmann::ordered_json::array();
    for (const ParetoEntry &e : pareto(fleet, true))
        firstEntries.push_back({{"key", e.key},
                                {"processor", e.processor.empty() ? nlohmann::ordered_json(nullptr)
                                                                  : nlohmann::ordered_json(e.processor)},
                                {"boards", e.boards}});
    j["paretoFirstRun"] = firstEntries;
    nlohmann::ordered_json never = nlohmann::ordered_json::array();
    for (const auto &b : fleet.boards) // a map: byte order of the serials
        if (!b.second.everPassed)
            never.push_back(b.first);
    j["neverPassed"] = never;
    j["unidentified"] = fleet.unidentified;
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string fleetCsvHeader() {
    std::string h = "file,serial,start,outcome,errorCount,findingCount,failedSteps,runId,origin,coverage";
    for (const FleetMeasure &m : fleetMeasures())
        h += "," + m.column;
    return h + "\r\n";
}

std::string fleetCsvRow(const std::string &file, const FleetRun &run) {
    std::string row = csvField(file) + "," + csvField(run.serial) + "," + csvField(run.start) + "," +
                      csvField(run.outcome) + "," + std::to_string(run.errorCount) + "," +
                      std::to_string(run.findingCount) + "," + csvField(join(run.failedSteps, "; ")) + "," +
                      csvField(run.runId) + "," + csvField(run.origin) + "," +
                      (run.coverageComplete < 0 ? "" : run.coverageComplete ? "complete" : "incomplete");
    for (double v : run.values)
        row += "," + number(v);
    return row + "\r\n";
}

void fleetCollect(const std::vector<std::string> &paths, Fleet &fleet, std::ostream *csv, std::ostream &err) {
    Collector c{fleet, csv, err, std::string(), {}};
    c.text.reserve(1 << 16);
    if (csv)
        *csv << fleetCsvHeader();
    for (const std::string &p : paths) {
        std::error_code ec;
        fs::path path(p);
        if (fs::is_directory(path, ec))
            c.folder(path);
        else
            c.files.push_back(path);
    }
    c.readAll();
}

namespace {

// A file name as page text: each byte that does not belong to a UTF-8
// sequence becomes U+FFFD (a name on disk may hold any bytes).
std::string validUtf8(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0, n = text.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = len > 0 && i + len <= n && !(c == 0xC0 || c == 0xC1 || c > 0xF4);
        for (std::size_t k = 1; ok && k < len; ++k)
            ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (ok && len == 3) { // no overlong forms, no surrogates
            unsigned char d = static_cast<unsigned char>(text[i + 1]);
            ok = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);
        }
        if (ok && len == 4) {
            unsigned char d = static_cast<unsigned char>(text[i + 1]);
            ok = !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
        }
        if (ok) {
            out.append(text, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// "2026-12-08 14:09:36 +01:00": the record's time as people read it, the
// bench's UTC offset kept (benches may lie in different zones).
std::string shownTime(const std::string &start) {
    if (start.size() < 19 || start[10] != 'T')
        return start;
    std::string rest = start.substr(19);
    if (!rest.empty() && rest[0] == '.') { // fractions of a second
        std::size_t end = rest.find_first_not_of("0123456789", 1);
        rest = end == std::string::npos ? "" : rest.substr(end);
    }
    return start.substr(0, 10) + " " + start.substr(11, 8) + (rest.empty() ? "" : " " + rest);
}

const char *outcomeClass(const std::string &o) {
    for (const char *known : kOutcomes)
        if (o == known)
            return known;
    return "other";
}

std::string stepsShown(const std::vector<std::pair<std::string, std::string>> &keys) {
    std::vector<std::string> shown;
    for (const auto &k : keys)
        shown.push_back(stepLabel(k.first) + (k.second.empty() ? "" : " " + k.second));
    return join(shown, ", ");
}

// The order the steps take in a run, for the rows of the map.
int stepOrder(const std::string &key) {
    static const char *const order[] = {"identification", "configuration", "HOST",    "HSTREAM",  "INTERRUPTS",
                                        "INTLINKS",       "memory",        "CLASTER", "FFTTIME", "EXTLINKS"};
    for (int i = 0; i < 10; ++i)
        if (key == order[i])
            return i;
    return 10;
}

// Hrefs relative to the page's folder, or file: URLs where none can be made.
struct Linker {
    fs::path base;
    std::string operator()(const std::string &page) const {
        if (page.empty())
            return "";
        std::error_code ec;
        fs::path target = fs::absolute(page, ec).lexically_normal();
        fs::path relative = target.lexically_relative(base);
        return relative.empty() ? fileUrl(target) : hrefPath(relative.generic_string());
    }
};

mu::data runItem(const FleetBoardRun &r, const Linker &link) {
    mu::data item;
    item.set("start", shownTime(r.start));
    item.set("outcome", outcomeStamp(r.outcome));
    item.set("outcomeClass", outcomeClass(r.outcome));
    if (r.coverageComplete == 0)
        item.set("partial", true);
    std::string href = link(r.page);
    if (!href.empty())
        item.set("href", href);
    item.set("file", validUtf8(r.file));
    return item;
}

// The badge of an outcome, and the mark of a run that did not cover
// every step.
void appendOutcome(std::string &html, const std::string &outcome, int coverageComplete) {
    html.append("<span class=\"badge b-").append(outcomeClass(outcome)).append("\">");
    html.append(htmlEscape(outcomeStamp(outcome))).append("</span>");
    if (coverageComplete == 0)
        html.append(" <span class=\"cover\">неполный охват</span>");
}

// A start, linked to its run's page when there is one.
void appendStart(std::string &html, const std::string &start, const std::string &href) {
    if (href.empty()) {
        html.append(htmlEscape(shownTime(start)));
        return;
    }
    html.append("<a href=\"").append(htmlEscape(href)).append("\">").append(htmlEscape(shownTime(start))).append("</a>");
}

// One board's row of the fleet table: its last run, and the list of all
// its runs, first to last, when it has more than one. Each run of the list
// links to its own page and carries its own mark of coverage.
void boardRow(const std::string &serial, const FleetBoard &board, const Linker &link, std::string &html) {
    html.assign("      <tr class=\"s-").append(outcomeClass(board.last.outcome)).append("\"><td class=\"key\">");
    html.append(htmlEscape(serial)).append("</td><td class=\"num\">");
    std::string runs = std::to_string(board.runs);
    if (board.history.size() > 1) {
        std::vector<const FleetBoardRun *> history;
        for (const FleetBoardRun &r : board.history)
            history.push_back(&r);
        std::sort(history.begin(), history.end(), [](const FleetBoardRun *x, const FleetBoardRun *y) {
            return x->startSeconds != y->startSeconds ? x->startSeconds < y->startSeconds : x->key < y->key;
        });
        html.append("<details><summary>").append(runs).append("</summary><ul class=\"runs\">");
        for (const FleetBoardRun *r : history) {
            html.append("<li>");
            appendStart(html, r->start, link(r->page));
            html.append(" ");
            appendOutcome(html, r->outcome, r->coverageComplete);
            html.append("</li>");
        }
        html.append("</ul></details>");
    } else {
        html.append(runs);
    }
    html.append("</td><td>");
    appendOutcome(html, board.last.outcome, board.last.coverageComplete);
    html.append("</td><td class=\"num\">").append(std::to_string(board.last.errorCount));
    html.append("</td><td class=\"num\">").append(std::to_string(board.last.findingCount));
    html.append("</td><td title=\"").append(htmlEscape(join(board.last.failedSteps, ", "))).append("\">");
    html.append(htmlEscape(stepsShown(board.last.failedKeys)));
    html.append("</td><td class=\"when\" title=\"").append(htmlEscape(board.last.start)).append("\">");
    appendStart(html, board.last.start, link(board.lastPage));
    html.append("</td></tr>\n");
}

void paretoBars(const std::vector<ParetoEntry> &entries, std::vector<ChartBar> &bars) {
    for (const ParetoEntry &e : entries) {
        std::string label = stepLabel(e.key) + (e.processor.empty() ? "" : " " + e.processor);
        bars.push_back({label, double(e.boards), std::to_string(e.boards),
                        label + " (" + e.key + (e.processor.empty() ? "" : " " + e.processor) +
                            "): не прошли модулей " + std::to_string(e.boards),
                        statusColour("failed")});
    }
}

// Where the table's rows go in the rendered page: a comment no escaped
// text can hold, replaced by the rows as they are rendered.
const char *const kRowsMark = "<!--zorvantik-report:rows-->";

} // namespace

std::string renderFleetPage(const Fleet &fleet, const std::string &pageDir, const std::string &sources) {
    std::ostringstream out;
    renderFleetPage(fleet, pageDir, sources, out);
    return out.str();
}

void renderFleetPage(const Fleet &fleet, const std::string &pageDir, const std::string &sources, std::ostream &out) {
    mu::data page;
    page.set("style", std::string(kPageStyle) + kFleetStyle);
    page.set("sources", validUtf8(sources));
    page.set("program", std::string("zorvantik-report"));
    page.set("runs", std::to_string(fleet.runs));
    page.set("boards", std::to_string(fleet.boards.size()));
    page.set("skipped", std::to_string(fleet.skipped));
    page.set("unidentified", std::to_string(fleet.unidentified));
    page.set("duplicates", std::to_string(fleet.duplicates));
    if (fleet.benchOnly)
        page.set("leftOut", std::to_string(fleet.leftOut));
    BoardCounts counts = passedBoards(fleet);
    long long boards = static_cast<long long>(fleet.boards.size());
    page.set("firstPassYield", percent(counts.firstPassed, boards));
    page.set("finalYield", percent(counts.lastPassed, boards));
    std::error_code ec;
    Linker link{fs::absolute(pageDir.empty() ? fs::path(".") : fs::path(pageDir), ec).lexically_normal()};

    std::vector<ChartBar> outcomes;
    for (const char *o : kOutcomes) {
        auto it = fleet.outcomes.find(o);
        long long n = it == fleet.outcomes.end() ? 0 : it->second;
        outcomes.push_back({outcomeStamp(o), double(n), std::to_string(n),
                            outcomeStamp(o) + " (" + o + "): прогонов " + std::to_string(n) + " из " +
                                std::to_string(fleet.runs),
                            statusColour(o)});
    }
    for (const auto &o : fleet.outcomes)
        if (outcomeStamp(o.first) == o.first)
            outcomes.push_back({o.first, double(o.second), std::to_string(o.second),
                                o.first + ": прогонов " + std::to_string(o.second), statusColour(o.first)});
    page.set("outcomes", outcomeChart(outcomes));

    std::vector<DayRuns> days;
    for (const auto &d : fleet.days)
        days.push_back({d.first, static_cast<int>(d.second.first), static_cast<int>(d.second.second)});
    if (days.size() > 1)
        page.set("history", historyChart(days));

    std::vector<ChartBar> bars, firstBars;
    paretoBars(pareto(fleet), bars);
    paretoBars(pareto(fleet, true), firstBars);
    if (!bars.empty())
        page.set("pareto", paretoChart(bars));
    if (!firstBars.empty())
        page.set("paretoFirst", paretoChart(firstBars));

    // The step x processor map over every run: failed of ran, per cell.
    std::vector<std::string> cpus;
    std::vector<std::string> keys;
    for (const auto &c : fleet.cells) {
        if (std::find(keys.begin(), keys.end(), c.first.first) == keys.end())
            keys.push_back(c.first.first);
        if (std::find(cpus.begin(), cpus.end(), c.first.second) == cpus.end())
            cpus.push_back(c.first.second);
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const std::string &a, const std::string &b) { return stepOrder(a) < stepOrder(b); });
    std::sort(cpus.begin(), cpus.end()); // "" (the board) first, then P1..P7
    bool anyFailed = false;
    if (!keys.empty()) {
        mu::data heads{mu::data::type::list};
        for (const std::string &c : cpus)
            heads.push_back(mu::data(c.empty() ? std::string("модуль") : c));
        page.set("mapHeads", heads);
        mu::data mapRows{mu::data::type::list};
        for (const std::string &k : keys) {
            mu::data row;
            row.set("label", stepLabel(k));
            row.set("key", k);
            mu::data cells{mu::data::type::list};
            for (const std::string &c : cpus) {
                mu::data cell;
                auto it = fleet.cells.find({k, c});
                if (it == fleet.cells.end() || it->second.ran == 0) {
                    cell.set("text", std::string("·"));
                    cell.set("cls", std::string("m-none"));
                    cell.set("title", stepLabel(k) + (c.empty() ? "" : " " + c) + ": не проверялся");
                } else {
                    const FleetCell &v = it->second;
                    anyFailed = anyFailed || v.failed > 0;
                    double share = double(v.failed) / v.ran;
                    cell.set("text", std::to_string(v.failed) + " / " + std::to_string(v.ran));
                    cell.set("cls", std::string(v.failed == 0 ? "m-0" : share < 0.1 ? "m-1" : share < 0.3 ? "m-2" : "m-3"));
                    cell.set("title", stepLabel(k) + (c.empty() ? "" : " " + c) + ": не пройден в " +
                                          std::to_string(v.failed) + " прогонах из " + std::to_string(v.ran));
                }
                cells.push_back(cell);
            }
            row.set("cells", cells);
            mapRows.push_back(row);
        }
        page.set("mapRows", mapRows);
        page.set("map", true);
    }
    page.set("mapFailed", anyFailed);

    // Each rate's median per day, on the days whose runs measured it.
    const std::vector<FleetMeasure> &measures = fleetMeasures();
    std::vector<std::string> dates;
    for (const auto &d : fleet.dayValues)
        dates.push_back(d.first);
    std::vector<TrendRow> trends;
    for (std::size_t i = 0; i < measures.size(); ++i) {
        if (measures[i].unit != "MB/s")
            continue;
        TrendRow row;
        row.label = measurementLabel(measures[i].name);
        std::size_t day = 0;
        for (const auto &d : fleet.dayValues) {
            if (i < d.second.size() && !d.second[i].empty()) {
                std::vector<double> values = d.second[i];
                double m = median(values);
                row.points.push_back({day, m, d.first + ": медиана " + humanNumber(m, 2) + " " +
                                                  unitLabel(measures[i].unit) + ", прогонов " +
                                                  std::to_string(values.size())});
            }
            ++day;
        }
        if (!row.points.empty())
            trends.push_back(std::move(row));
    }
    if (!trends.empty() && dates.size() > 1)
        page.set("trend", trendChart(dates, trends, unitLabel("MB/s")));

    // A chart per unit, a row per measurement some board's last run holds.
    struct Group {
        const char *unit, *title;
    };
    const Group groups[] = {{"MB/s", "Скорости обмена, Мбайт/с"},
                            {"cycles", "БПФ, такты процессора"},
                            {"us", "БПФ, мкс"},
                            {"words", "Динамическая память: размеры микросхем, слов"}};
    // The boards are walked once, each measurement's points gathered; a
    // point's title is made only when the chart draws it.
    std::vector<std::vector<Distribution::Point>> points(measures.size());
    std::vector<std::vector<const std::pair<const std::string, FleetBoard> *>> pointBoards(measures.size());
    for (const auto &b : fleet.boards)
        for (std::size_t i = 0; i < measures.size() && i < b.second.last.values.size(); ++i)
            if (std::isfinite(b.second.last.values[i])) {
                points[i].push_back({b.second.last.values[i], std::string()});
                pointBoards[i].push_back(&b);
            }
    mu::data distributions{mu::data::type::list};
    for (const Group &g : groups) {
        std::vector<Distribution> rows;
        for (std::size_t i = 0; i < measures.size(); ++i) {
            if (measures[i].unit != g.unit || points[i].empty())
                continue;
            Distribution d;
            d.label = measurementLabel(measures[i].name) + (measures[i].processor.empty() ? "" : " " + measures[i].processor);
            d.points = std::move(points[i]);
            d.titleOf = [&, i](std::size_t k) {
                const auto &b = *pointBoards[i][k];
                return b.first + ": " + b.second.last.shown[i] + " " + unitLabel(measures[i].unit);
            };
            rows.push_back(std::move(d));
        }
        if (rows.empty())
            continue;
        mu::data section;
        section.set("title", g.title);
        section.set("chart", distributionChart(rows, unitLabel(g.unit)));
        // The chips' sizes rarely differ and take many rows: folded away.
        if (std::string(g.unit) == "words")
            section.set("folded", "Показать " + std::to_string(rows.size()) + " строк");
        distributions.push_back(section);
    }
    page.set("distributions", distributions);

    // The boards that never passed, each with its last run's page.
    mu::data never{mu::data::type::list};
    for (const auto &b : fleet.boards) {
        if (b.second.everPassed)
            continue;
        mu::data item;
        item.set("serial", b.first);
        item.set("runs", std::to_string(b.second.runs));
        std::string href = link(b.second.lastPage);
        if (!href.empty())
            item.set("href", href);
        never.push_back(item);
    }
    page.set("hasNever", !never.is_empty_list());
    page.set("never", never);

    page.set("rows", std::string(kRowsMark));

    mu::data unidentified{mu::data::type::list};
    for (const FleetBoardRun &r : fleet.unidentifiedRuns)
        unidentified.push_back(runItem(r, link));
    page.set("hasUnidentified", !fleet.unidentifiedRuns.empty());
    page.set("unidentifiedRuns", unidentified);

    mu::data skipped{mu::data::type::list};
    for (const std::string &f : fleet.skippedFiles)
        skipped.push_back(mu::data(validUtf8(f)));
    page.set("hasSkipped", !fleet.skippedFiles.empty());
    page.set("skippedFiles", skipped);

    page.set("summary", scriptJson(fleetSummaryJson(fleet)));

    page.set("pageTitle", "Сводка по модулям ZORVANTIK");

    mu::mustache tmpl{kFleetPageTemplate};
    tmpl.set_custom_escape(htmlEscape);
    std::string html = tmpl.render(page);
    std::size_t mark = html.find(kRowsMark);
    out.write(html.data(), static_cast<std::streamsize>(mark));

    // The table's rows, written one at a time as they are made: a fleet of
    // many boards is never held twice.
    std::string row;
    for (const auto &b : fleet.boards) {
        boardRow(b.first, b.second, link, row);
        out << row;
    }
    mark += std::strlen(kRowsMark);
    out.write(html.data() + mark, static_cast<std::streamsize>(html.size() - mark));
}
