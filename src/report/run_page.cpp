// run_page.cpp - the page of one run, made from its JSON record alone.
//
// The record is read with nlohmann-json into a tree; the page's text is a
// mustache template filled with the record's fields (the engine escapes
// each) and the charts' SVG. The record itself goes into the page as it
// was given, with only "<" escaped.
#include "report/report.h"

#include "report/charts.h"
#include "report/html.h"
#include "report/labels.h"
#include "report/templates.h"

#include <kainjow/mustache.hpp>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

using Json = nlohmann::json;
namespace mu = kainjow::mustache;

std::string str(const Json &j, const char *key, const std::string &otherwise = "") {
    if (j.is_object()) {
        auto it = j.find(key);
        if (it != j.end() && it->is_string())
            return it->get<std::string>();
    }
    return otherwise;
}

double num(const Json &j, const char *key, double otherwise = NAN) {
    if (j.is_object()) {
        auto it = j.find(key);
        if (it != j.end() && it->is_number())
            return it->get<double>();
    }
    return otherwise;
}

const Json &field(const Json &j, const char *key) {
    static const Json none;
    if (!j.is_object())
        return none;
    auto it = j.find(key);
    return it == j.end() ? none : *it;
}

std::string integer(double v) {
    if (!std::isfinite(v))
        return "—";
    char t[32];
    std::snprintf(t, sizeof t, "%.0f", v);
    return t;
}

// "not run" has a blank; CSS classes do not.
std::string statusClass(const std::string &status) {
    static const char *const known[] = {"passed", "failed", "skipped", "interrupted", "fatal", "aborted"};
    for (const char *k : known)
        if (status == k)
            return k;
    return status == "not run" ? "notrun" : "other";
}

// "2026-12-08 14:09:36 (+00:00)" from the record's ISO time.
std::string timeLabel(const std::string &iso) {
    if (iso.size() < 19 || iso[10] != 'T')
        return iso.empty() ? "—" : iso;
    std::string out = iso.substr(0, 10) + " " + iso.substr(11, 8);
    if (iso.size() > 19)
        out += " (UTC" + iso.substr(19) + ")";
    return out;
}

// A finding as one line: the test, then where and the two words, or its text.
std::string findingText(const Json &f) {
    std::string test = findingTestLabel(str(f, "test"));
    if (f.contains("where"))
        return test + " " + str(f, "where") + ": записано " + str(f, "written") + ", прочитано " + str(f, "read");
    return test + ": " + str(f, "text");
}

bool parseHex(const std::string &text, std::size_t &at, std::uint32_t &value) {
    while (at < text.size() && text[at] == ' ')
        ++at;
    if (text.compare(at, 2, "0x") == 0)
        at += 2;
    std::size_t begin = at;
    std::uint64_t v = 0;
    while (at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at])) && at - begin < 8) {
        char c = text[at++];
        v = v * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    value = static_cast<std::uint32_t>(v);
    return at > begin;
}

// The dynamic-memory test lists its errors as lines
// "### ОШИБКА:  адрес 0x00001234: записано 0x... != прочитано 0x...".
bool mismatchFromLine(const std::string &line, Mismatch &m) {
    std::size_t at = line.find("адрес");
    std::size_t w = line.find("записано"), r = line.find("прочитано");
    if (at == std::string::npos || w == std::string::npos || r == std::string::npos)
        return false;
    at += std::strlen("адрес");
    std::size_t wAt = w + std::strlen("записано"), rAt = r + std::strlen("прочитано");
    if (!parseHex(line, at, m.where) || !parseHex(line, wAt, m.written) || !parseHex(line, rAt, m.read))
        return false;
    m.shown = line;
    return true;
}

// The memory mismatches a step holds: its listed findings and its error
// lines that name an address.
std::vector<Mismatch> stepMismatches(const Json &step) {
    std::vector<Mismatch> all;
    for (const Json &f : field(step, "findings")) {
        if (!f.contains("where"))
            continue;
        Mismatch m{};
        std::size_t a = 0, b = 0, c = 0;
        if (parseHex(str(f, "where"), a, m.where) && parseHex(str(f, "written"), b, m.written) &&
            parseHex(str(f, "read"), c, m.read)) {
            m.shown = findingText(f);
            all.push_back(m);
        }
    }
    for (const Json &line : field(step, "errorLines")) {
        Mismatch m{};
        if (line.is_string() && mismatchFromLine(line.get<std::string>(), m))
            all.push_back(m);
    }
    return all;
}

struct Pair {
    int a, b;
    const char *links; // as the test prints the pair
    std::uint32_t mask, present;
};
// The pairs of the internal links test, in its order, and when each runs:
// (processor mask & mask) == present. The last two stand in for P2 and
// P3 when those are missing.
const Pair kPairs[] = {
    {0, 1, "P1 линк 1 — P2 линк 0", 0x03, 0x03}, {0, 2, "P1 линк 2 — P3 линк 0", 0x05, 0x05},
    {1, 2, "P2 линк 2 — P3 линк 2", 0x07, 0x07}, {1, 3, "P2 линк 3 — P4 линк 0", 0x0B, 0x0B},
    {1, 5, "P2 линк 1 — P6 линк 0", 0x23, 0x23}, {3, 5, "P4 линк 1 — P6 линк 2", 0x2B, 0x2B},
    {2, 4, "P3 линк 3 — P5 линк 0", 0x15, 0x15}, {2, 6, "P3 линк 1 — P7 линк 0", 0x45, 0x45},
    {4, 6, "P5 линк 1 — P7 линк 2", 0x55, 0x55}, {0, 5, "P1 линк 1 — P6 линк 0", 0x23, 0x21},
    {0, 6, "P1 линк 2 — P7 линк 0", 0x45, 0x41},
};

int severity(const std::string &status) {
    if (status == "failed")
        return 4;
    if (status == "interrupted")
        return 3;
    if (status == "passed")
        return 2;
    if (status == "skipped" || status == "not run")
        return 1;
    return 0;
}

const Json *findStep(const Json &steps, const char *key) {
    for (const Json &s : steps)
        if (str(s, "key") == key && field(s, "processor").is_null())
            return &s;
    return nullptr;
}

std::string boardPicture(const Json &record) {
    const Json &board = field(record, "board");
    const Json &steps = field(record, "steps");
    std::uint32_t mask = 0;
    for (const Json &p : field(board, "processors"))
        if (p.is_string() && p.get<std::string>().size() == 2 && p.get<std::string>()[0] == 'P') {
            int n = p.get<std::string>()[1] - '1';
            if (n >= 0 && n < 7)
                mask |= 1u << n;
        }
    std::vector<BoardCpu> cpus;
    for (int i = 0; i < 7; ++i) {
        std::string name = "P" + std::to_string(i + 1);
        BoardCpu c{name, ((mask >> i) & 1) != 0, "", "", ""};
        std::string tip = name;
        for (const Json &s : steps)
            if (str(s, "processor") == name) {
                std::string st = str(s, "status");
                if (severity(st) > severity(c.status))
                    c.status = st;
                tip += "\n" + stepLabel(str(s, "key")) + ": " + statusLabel(st);
            }
        c.note = !c.present ? "нет" : c.status.empty() ? "" : statusLabel(c.status);
        c.title = c.present ? tip : name + ": процессор не установлен";
        cpus.push_back(c);
    }
    std::vector<BoardLink> links;
    const Json *internal = findStep(steps, "INTLINKS");
    for (const Pair &p : kPairs) {
        if ((mask & p.mask) != p.present)
            continue;
        std::string st = internal ? str(*internal, "status") : "";
        std::string tip = std::string(p.links) + ": тест внутренних линков — " +
                          (internal ? statusLabel(st) + ", ошибок в тесте " + integer(num(*internal, "errors"))
                                    : "не было в прогоне");
        links.push_back({p.a, p.b, false, st, tip});
    }
    const Json *external = findStep(steps, "EXTLINKS");
    bool frontLinks = str(board, "x5") == "LINK" && str(board, "x6") == "LINK" &&
                      ((mask & 0x67) == 0x67 || (mask & 0x67) == 0x61);
    if (frontLinks) {
        std::string st = external ? str(*external, "status") : "";
        links.push_back({5, 6, true, st,
                         "P6 линк 1 — P7 линк 1 (кабель): тест внешних линков — " +
                             (external ? statusLabel(st) + ", ошибок в тесте " + integer(num(*external, "errors"))
                                       : "не было в прогоне")});
    }
    return boardChart(cpus, links);
}

std::string verdictLine(const Json &record) {
    std::string outcome = str(record, "outcome");
    std::string errors = integer(num(record, "errorCount", 0));
    std::string findings = integer(num(record, "findingCount", 0));
    if (outcome == "passed" || outcome == "failed") {
        std::string line = num(record, "errorCount", 0) == 0 ? "+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++"
                                                              : "----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - " + errors;
        if (num(record, "findingCount", 0) > 0)
            line += "   (находок: " + findings + ")";
        return line;
    }
    if (outcome == "fatal")
        return str(field(record, "fatal"), "message", "Аварийный останов");
    if (outcome == "aborted")
        return "Аварийный выход: тесту нужна программа " + str(field(record, "aborted"), "program", "?") +
               " (ошибок: " + errors + ")";
    if (outcome == "interrupted")
        return "Прогон прерван (ошибок до прерывания: " + errors + ", находок: " + findings + ")";
    return outcome;
}

mu::data stringList(const std::vector<std::string> &items) {
    mu::data list{mu::data::type::list};
    for (const std::string &s : items)
        list.push_back(s);
    return list;
}

void fact(mu::data &facts, const std::string &name, const std::string &value) {
    mu::data f;
    f.set("name", name);
    f.set("value", value.empty() ? "—" : value);
    facts.push_back(f);
}

} // namespace

namespace {

bool renderPage(const std::string &recordJson, std::string &html, std::string &why) {
    Json record = Json::parse(recordJson, nullptr, false);
    if (record.is_discarded() || !record.is_object()) {
        why = "not JSON";
        return false;
    }
    const Json &schema = field(record, "schema");
    if (!schema.is_number() || !field(record, "outcome").is_string() || !field(record, "steps").is_array()) {
        why = "not a result record";
        return false;
    }
    if (schema.get<double>() >= kReportSchema + 1 || schema.get<double>() < 1) {
        why = "record layout " + integer(std::floor(schema.get<double>())) + " is not one this program knows";
        return false;
    }
    const Json &board = field(record, "board");
    const Json &steps = field(record, "steps");
    std::string outcome = str(record, "outcome");
    std::string serial = str(board, "serialShown");
    std::string model = str(board, "model", "ZORVANTIK");

    mu::data page;
    page.set("style", kPageStyle);
    page.set("outcome", outcome);
    page.set("outcomeClass", statusClass(outcome) == "other" ? "other" : statusClass(outcome));
    page.set("stamp", outcomeStamp(outcome));
    page.set("verdict", verdictLine(record));
    page.set("heading", board.is_object() ? "Модуль " + model + " № " + serial
                                           : "Модуль не опознан (номер " + integer(num(record, "boardNumber")) + ")");
    page.set("pageTitle", outcomeStamp(outcome) + " — " + (board.is_object() ? model + " " + serial : "модуль не опознан") +
                              " — " + timeLabel(str(record, "start")));
    const Json &program = field(record, "program");
    page.set("program", str(program, "name", "zorvantik-test") + " " + str(program, "version"));

    mu::data facts{mu::data::type::list};
    if (board.is_object()) {
        fact(facts, "Модель", model + " (" + str(board, "modelCode") + ")");
        fact(facts, "Версия", str(board, "version"));
        fact(facts, "Серийный номер", serial);
        fact(facts, "Версия ПЛИС", str(board, "fpgaVersion"));
        std::string cpus;
        for (const Json &p : field(board, "processors"))
            if (p.is_string())
                cpus += (cpus.empty() ? "" : " ") + p.get<std::string>();
        fact(facts, "Процессоры", cpus + (std::isfinite(num(board, "clockMHz")) ? ", " + integer(num(board, "clockMHz")) + " МГц" : ""));
    } else {
        fact(facts, "Модуль", "не опознан");
    }
    fact(facts, "Стенд", str(record, "host", "не записан"));
    fact(facts, "Начало", timeLabel(str(record, "start")));
    fact(facts, "Длительность", durationLabel(num(record, "durationMs")));
    fact(facts, "Программа", str(program, "name") + " " + str(program, "version"));
    fact(facts, "Номер модуля (-B)", integer(num(record, "boardNumber")));
    fact(facts, "Ошибок / находок",
         integer(num(record, "errorCount", 0)) + " / " + integer(num(record, "findingCount", 0)));
    page.set("facts", facts);

    std::vector<std::string> runLines;
    for (const Json &l : field(record, "errorLines"))
        if (l.is_string())
            runLines.push_back(l.get<std::string>());
    page.set("hasRunLines", !runLines.empty());
    page.set("runLines", stringList(runLines));

    // The steps, with their error lines: the first few in sight, the rest
    // folded away.
    const std::size_t kLinesInSight = 6;
    mu::data rows{mu::data::type::list};
    std::vector<ChartBar> speeds, fft;
    mu::data memory{mu::data::type::list};
    for (const Json &s : steps) {
        std::string key = str(s, "key"), processor = str(s, "processor"), st = str(s, "status");
        mu::data row;
        row.set("key", key);
        row.set("name", stepLabel(key));
        row.set("processor", processor);
        row.set("status", statusLabel(st));
        row.set("statusClass", statusClass(st));
        row.set("errors", integer(num(s, "errors", 0)));
        // A step repeated over many passes (continuous mode) keeps the
        // first and last of its findings, and counts them all in "passes".
        const Json &passes = field(s, "passes");
        double allFindings = num(passes, "findings", double(field(s, "findings").size()));
        row.set("findingCount", integer(allFindings));
        if (passes.is_object())
            row.set("name", stepLabel(key) + " (проходов: " + integer(num(passes, "count")) + ", с находками: " +
                                integer(num(passes, "withFindings", 0)) + ")");
        row.set("duration", durationLabel(num(s, "durationMs")));
        std::vector<std::string> findings, lines, more;
        for (const Json &f : field(s, "findings"))
            (findings.size() < kLinesInSight ? findings : more).push_back(findingText(f));
        for (const Json &l : field(s, "errorLines"))
            if (l.is_string())
                (lines.size() + findings.size() < kLinesInSight && more.empty() ? lines : more)
                    .push_back(l.get<std::string>());
        row.set("hasFindings", !findings.empty());
        row.set("findings", stringList(findings));
        row.set("hasLines", !lines.empty());
        row.set("lines", stringList(lines));
        row.set("hasMoreLines", !more.empty());
        row.set("moreCount", std::to_string(more.size()));
        row.set("moreLines", stringList(more));
        rows.push_back(row);

        for (const Json &m : field(s, "measurements")) {
            std::string name = str(m, "name"), unit = str(m, "unit"), shown = str(m, "shown");
            double value = num(m, "value");
            if (unit == "MB/s" && (key == "HOST" || key == "HSTREAM")) {
                std::string tip = measurementLabel(name) + " (" + name + "): " + shown + " " + unitLabel(unit);
                for (const Json &spread : field(passes, "measurements"))
                    if (str(spread, "name") == name)
                        tip += "\nпо " + integer(num(spread, "count")) + " проходам: мин. " +
                               svgNumber(num(spread, "min")) + ", медиана " + svgNumber(num(spread, "median")) +
                               ", макс. " + svgNumber(num(spread, "max"));
                speeds.push_back({measurementLabel(name), value, shown, tip, key == "HSTREAM" ? "#6a1b9a" : "#1565c0"});
            }
            if (key == "FFTTIME" && name == "cycles") {
                std::string time;
                for (const Json &t : field(s, "measurements"))
                    if (str(t, "name") == "time")
                        time = ", " + str(t, "shown") + " " + unitLabel(str(t, "unit"));
                fft.push_back({processor, value, shown,
                               "БПФ " + processor + ": " + shown + " тактов" + time + " — " + statusLabel(st),
                               st == "passed" ? "#00897b" : statusColour(st)});
            }
        }
        // A processor that ran the FFT and gave no count (it never answered)
        // keeps its row, empty.
        bool counted = false;
        for (const Json &m : field(s, "measurements"))
            counted = counted || str(m, "name") == "cycles";
        if (key == "FFTTIME" && !counted && (st == "failed" || st == "interrupted"))
            fft.push_back({processor, 0, "нет результата",
                           "БПФ " + processor + ": нет результата — " + statusLabel(st), statusColour(st)});
        std::vector<Mismatch> mismatches = processor.empty() ? std::vector<Mismatch>{} : stepMismatches(s);
        if (!mismatches.empty()) {
            mu::data m;
            m.set("title", stepLabel(key) + " " + processor + " — " + std::to_string(mismatches.size()) +
                               " несовпадений");
            m.set("map", memoryMapChart(mismatches));
            m.set("bits", bitChart(mismatches));
            memory.push_back(m);
        }
    }
    page.set("steps", rows);
    if (!speeds.empty())
        page.set("speeds", speedChart(speeds, "Мбайт/с"));
    if (board.is_object())
        page.set("board", boardPicture(record));
    page.set("memory", memory);
    if (!fft.empty())
        page.set("fft", fftChart(fft));
    page.set("record", scriptJson(recordJson));

    mu::mustache tmpl{kRunPageTemplate};
    if (!tmpl.is_valid()) {
        why = "page template: " + tmpl.error_message();
        return false;
    }
    tmpl.set_custom_escape(htmlEscape);
    html = tmpl.render(page);
    return true;
}

} // namespace

// The program calls this on whichever thread ends the run, the interrupt
// thread too: nothing may escape it.
bool renderRunPage(const std::string &recordJson, std::string &html, std::string &why) {
    try {
        return renderPage(recordJson, html, why);
    } catch (const std::exception &e) {
        why = e.what();
        return false;
    }
}
