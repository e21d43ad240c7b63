// fleet.cpp - many records at once: a streaming read of each record that
// keeps only what the summary needs, the summary itself, the CSV and the
// fleet page.
//
// Memory grows with the number of boards (each keeps its first and last
// run), never with the number of records: a record's text is read into
// one reused buffer and parsed without building a tree, and its CSV row
// is written as soon as it is read.
#include "report/report.h"

#include "report/charts.h"
#include "report/html.h"
#include "report/labels.h"
#include "report/record_file.h"
#include "report/templates.h"

#include <kainjow/mustache.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
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

// "KEY|P3|name" -> the measure's index.
const std::unordered_map<std::string, std::size_t> &measureIndex() {
    static const std::unordered_map<std::string, std::size_t> index = [] {
        std::unordered_map<std::string, std::size_t> m;
        const std::vector<FleetMeasure> &all = fleetMeasures();
        for (std::size_t i = 0; i < all.size(); ++i)
            m[all[i].key + "|" + all[i].processor + "|" + all[i].name] = i;
        return m;
    }();
    return index;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = static_cast<unsigned>(y - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

// "2026-12-08T14:09:36+01:00" as seconds since 1970 UTC.
bool instant(const std::string &iso, long long &seconds) {
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
    bool boolean(bool) { return scalar(Value{}); }
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
        if (box == Box::Step && stepStatus_ == "failed") {
            run_.failedSteps.push_back(stepCpu_.empty() ? stepKey_ : stepKey_ + " " + stepCpu_);
            run_.failedKeys.emplace_back(stepKey_, stepCpu_);
        }
        if (box == Box::Measurement) {
            auto it = measureIndex().find(stepKey_ + "|" + stepCpu_ + "|" + measureName_);
            if (it != measureIndex().end()) {
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
                                          : Key::None;
            break;
        case Box::Board:
            f.key = k == "serialShown" ? Key::Serial : Key::None;
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
    enum class Box { Record, Board, Steps, Step, Measurements, Measurement, Other };
    enum class Key { None, Schema, Outcome, Start, ErrorCount, FindingCount, Board, Serial, Steps, StepKey,
                     Processor, Status, Measurements, Name, Value, Shown };
    struct Frame {
        Box box;
        Key key;
    };
    struct Value {
        bool number = false;
        double n = 0;
        const std::string *s = nullptr;
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

// A CSV field: quoted when it holds a separator, a quote or a line break.
std::string csvField(const std::string &s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
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

struct ParetoEntry {
    std::string key, processor;
    long long boards;
};
std::vector<ParetoEntry> pareto(const Fleet &fleet) {
    std::map<std::pair<std::string, std::string>, long long> counts;
    for (const auto &b : fleet.boards) {
        std::vector<std::pair<std::string, std::string>> seen = b.second.last.failedKeys;
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

    void skip(const std::string &file, const std::string &why) {
        ++fleet.skipped;
        err << "zorvantik-report: skipped " << file << ": " << why << "\n";
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
        fleetAdd(fleet, run, name, fs::is_regular_file(page, ec) ? page.string() : "");
        if (csv)
            *csv << fleetCsvRow(name, run);
    }

    // A folder's entries in name order, so that runs and rows come in the
    // same order on every machine.
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
                file(e.path());
        }
    }
};

} // namespace

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
    if (!instant(run.start, run.startSeconds))
        run.startSeconds = 0;
    return true;
}

void fleetAdd(Fleet &fleet, const FleetRun &run, const std::string &file, const std::string &page) {
    ++fleet.runs;
    ++fleet.outcomes[run.outcome];
    if (run.start.size() >= 10) {
        auto &day = fleet.days[run.start.substr(0, 10)];
        (run.outcome == "passed" ? day.first : day.second)++;
    }
    if (run.serial.empty())
        return; // never identified: a run, but no board to count it for
    auto found = fleet.boards.find(run.serial);
    if (found == fleet.boards.end()) {
        FleetBoard &b = fleet.boards[run.serial];
        b.runs = 1;
        b.firstSeconds = run.startSeconds;
        b.firstOutcome = run.outcome;
        b.last = run;
        b.lastFile = file;
        b.lastPage = page;
        return;
    }
    FleetBoard &b = found->second;
    ++b.runs;
    // Ties keep the run read first as the first, and the one read last as
    // the last.
    if (run.startSeconds < b.firstSeconds) {
        b.firstSeconds = run.startSeconds;
        b.firstOutcome = run.outcome;
    }
    if (run.startSeconds >= b.last.startSeconds) {
        b.last = run;
        b.lastFile = file;
        b.lastPage = page;
    }
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
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string fleetCsvHeader() {
    std::string h = "file,serial,start,outcome,errorCount,findingCount,failedSteps";
    for (const FleetMeasure &m : fleetMeasures())
        h += "," + m.column;
    return h + "\r\n";
}

std::string fleetCsvRow(const std::string &file, const FleetRun &run) {
    std::string row = csvField(file) + "," + csvField(run.serial) + "," + csvField(run.start) + "," +
                      csvField(run.outcome) + "," + std::to_string(run.errorCount) + "," +
                      std::to_string(run.findingCount) + "," + csvField(join(run.failedSteps, "; "));
    for (double v : run.values)
        row += "," + number(v);
    return row + "\r\n";
}

void fleetCollect(const std::vector<std::string> &paths, Fleet &fleet, std::ostream *csv, std::ostream &err) {
    Collector c{fleet, csv, err, std::string()};
    c.text.reserve(1 << 16);
    if (csv)
        *csv << fleetCsvHeader();
    for (const std::string &p : paths) {
        std::error_code ec;
        fs::path path(p);
        if (fs::is_directory(path, ec))
            c.folder(path);
        else
            c.file(path);
    }
}

std::string renderFleetPage(const Fleet &fleet, const std::string &pageDir, const std::string &sources) {
    mu::data page;
    page.set("style", kPageStyle);
    page.set("sources", sources);
    page.set("program", std::string("zorvantik-report"));
    page.set("runs", std::to_string(fleet.runs));
    page.set("boards", std::to_string(fleet.boards.size()));
    page.set("skipped", std::to_string(fleet.skipped));
    BoardCounts counts = passedBoards(fleet);
    long long boards = static_cast<long long>(fleet.boards.size());
    page.set("firstPassYield", percent(counts.firstPassed, boards));
    page.set("finalYield", percent(counts.lastPassed, boards));

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

    std::vector<ChartBar> bars;
    for (const ParetoEntry &e : pareto(fleet)) {
        std::string label = stepLabel(e.key) + (e.processor.empty() ? "" : " " + e.processor);
        bars.push_back({label, double(e.boards), std::to_string(e.boards),
                        label + " (" + e.key + (e.processor.empty() ? "" : " " + e.processor) +
                            "): не прошли модулей " + std::to_string(e.boards),
                        statusColour("failed")});
    }
    if (!bars.empty())
        page.set("pareto", paretoChart(bars));

    // A chart per unit, a row per measurement some board's last run holds.
    struct Group {
        const char *unit, *title;
    };
    const Group groups[] = {{"MB/s", "Скорости обмена, Мбайт/с"},
                            {"cycles", "БПФ, такты процессора"},
                            {"us", "БПФ, мкс"},
                            {"words", "Динамическая память: размеры микросхем, слов"}};
    mu::data distributions{mu::data::type::list};
    const std::vector<FleetMeasure> &measures = fleetMeasures();
    for (const Group &g : groups) {
        std::vector<Distribution> rows;
        for (std::size_t i = 0; i < measures.size(); ++i) {
            if (measures[i].unit != g.unit)
                continue;
            Distribution d;
            d.label = measurementLabel(measures[i].name) + (measures[i].processor.empty() ? "" : " " + measures[i].processor);
            for (const auto &b : fleet.boards)
                if (std::isfinite(b.second.last.values[i]))
                    d.points.push_back({b.second.last.values[i], b.first + ": " + b.second.last.shown[i] + " " +
                                                                     unitLabel(measures[i].unit)});
            if (!d.points.empty())
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

    // The table's rows, rendered one at a time from their own template.
    mu::mustache rowTemplate{kFleetRowTemplate};
    rowTemplate.set_custom_escape(htmlEscape);
    std::string rows;
    std::error_code ec;
    fs::path base = fs::absolute(pageDir.empty() ? fs::path(".") : fs::path(pageDir), ec).lexically_normal();
    for (const auto &b : fleet.boards) {
        const FleetBoard &board = b.second;
        mu::data row;
        row.set("serial", b.first);
        row.set("runs", std::to_string(board.runs));
        row.set("outcome", outcomeStamp(board.last.outcome));
        std::string cls = board.last.outcome;
        row.set("outcomeClass", cls == "passed" || cls == "failed" || cls == "interrupted" || cls == "fatal" ||
                                        cls == "aborted"
                                    ? cls
                                    : "other");
        row.set("errors", std::to_string(board.last.errorCount));
        row.set("findings", std::to_string(board.last.findingCount));
        row.set("failed", join(board.last.failedSteps, ", "));
        std::string start = board.last.start;
        if (start.size() >= 19 && start[10] == 'T')
            start = start.substr(0, 10) + " " + start.substr(11, 8);
        row.set("start", start);
        row.set("startFull", board.last.start);
        if (!board.lastPage.empty()) {
            fs::path target = fs::absolute(board.lastPage, ec).lexically_normal();
            fs::path relative = target.lexically_relative(base);
            row.set("href", relative.empty() ? fileUrl(target) : hrefPath(relative.generic_string()));
        }
        rows += rowTemplate.render(row);
    }
    page.set("rows", rows);
    page.set("summary", scriptJson(fleetSummaryJson(fleet)));

    mu::mustache tmpl{kFleetPageTemplate};
    tmpl.set_custom_escape(htmlEscape);
    return tmpl.render(page);
}
