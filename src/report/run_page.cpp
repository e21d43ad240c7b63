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
#include "report/run_page.h"
#include "report/templates.h"

#include <kainjow/mustache.hpp>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

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
    static const char *const known[] = {"passed", "failed", "skipped", "interrupted", "fatal", "aborted", "partial"};
    for (const char *k : known)
        if (status == k)
            return k;
    if (status == "not applicable")
        return "notapplicable";
    return status == "not run" ? "notrun" : "other";
}

// A status that says some or all of a step did not run.
bool untested(const std::string &status) {
    return status == "partial" || status == "skipped" || status == "not applicable" || status == "not run";
}

// The layout a record gives its schema: 3 holds faults as data, coverage
// and the printed verdict; 1 and 2 only the console's lines.
int schemaOf(const Json &record) {
    const Json &s = field(record, "schema");
    return s.is_number() ? static_cast<int>(s.get<double>()) : 0;
}

bool readWord(const Json &j, const char *key, std::uint32_t &value) {
    const Json &v = field(j, key);
    if (!v.is_number_integer() && !v.is_number_unsigned())
        return false;
    long long n = v.get<long long>();
    if (n < 0 || n > 0xFFFFFFFFLL)
        return false;
    value = static_cast<std::uint32_t>(n);
    return true;
}

std::string hexWord(std::uint32_t value) {
    char t[16];
    std::snprintf(t, sizeof t, "0x%08X", static_cast<unsigned>(value));
    return t;
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

// The memory mismatches a step holds, by processor: its listed findings
// and, in a record of schema 3, its memory faults with their places as
// the record gives them; in older records its error lines that name an
// address, as the dynamic-memory test printed them.
std::map<std::string, std::vector<Mismatch>> stepMismatches(const Json &step, int schema) {
    std::map<std::string, std::vector<Mismatch>> all;
    std::string own = str(step, "processor");
    auto place = [&](const Json &from, Mismatch &m) {
        decodeAddress(m);
        if (schema < 3)
            return;
        std::string memory = str(from, "memory");
        std::uint32_t n = 0;
        if (memory == "internal" && readWord(from, "bank", n) && n < 3) {
            m.bank = static_cast<int>(n);
            m.chip = -1;
            m.offset = m.where >= n * 0x80000u ? m.where - n * 0x80000u : m.where;
        } else if (memory == "dynamic" && readWord(from, "chip", n) && n < 4) {
            m.chip = static_cast<int>(n);
            m.bank = -1;
            std::uint32_t offset = 0;
            if (readWord(from, "offset", offset))
                m.offset = offset;
        }
    };
    for (const Json &f : field(step, "findings")) {
        if (!f.contains("where"))
            continue;
        Mismatch m{};
        std::size_t a = 0, b = 0, c = 0;
        if (parseHex(str(f, "where"), a, m.where) && parseHex(str(f, "written"), b, m.written) &&
            parseHex(str(f, "read"), c, m.read)) {
            m.shown = findingText(f);
            place(f, m);
            std::string cpu = str(f, "processor", own);
            // The host's exchange findings are addresses of the host's
            // windows, not of a processor's memory.
            if (!cpu.empty() && (schema < 3 || !str(f, "memory").empty() || !own.empty()))
                all[cpu].push_back(m);
        }
    }
    if (schema >= 3) {
        for (const Json &f : field(step, "faults")) {
            if (str(f, "kind") != "memory")
                continue;
            Mismatch m{};
            if (!readWord(f, "address", m.where) || !readWord(f, "written", m.written) || !readWord(f, "read", m.read))
                continue;
            m.shown = "адрес " + hexWord(m.where) + ": записано " + hexWord(m.written) + ", прочитано " + hexWord(m.read);
            place(f, m);
            std::string cpu = str(f, "processor", own);
            all[cpu.empty() ? "?" : cpu].push_back(m);
        }
        return all;
    }
    if (own.empty())
        return all;
    for (const Json &line : field(step, "errorLines")) {
        Mismatch m{};
        if (line.is_string() && mismatchFromLine(line.get<std::string>(), m)) {
            decodeAddress(m);
            all[own].push_back(m);
        }
    }
    return all;
}

struct Pair {
    int a, la, b, lb; // processor and link at each end
    const char *links; // as the test prints the pair
    std::uint32_t mask, present;
};
// The pairs of the internal links test, in its order, and when each runs:
// (processor mask & mask) == present. The last two stand in for P2 and
// P3 when those are missing.
const Pair kPairs[] = {
    {0, 1, 1, 0, "P1 линк 1 — P2 линк 0", 0x03, 0x03}, {0, 2, 2, 0, "P1 линк 2 — P3 линк 0", 0x05, 0x05},
    {1, 2, 2, 2, "P2 линк 2 — P3 линк 2", 0x07, 0x07}, {1, 3, 3, 0, "P2 линк 3 — P4 линк 0", 0x0B, 0x0B},
    {1, 1, 5, 0, "P2 линк 1 — P6 линк 0", 0x23, 0x23}, {3, 1, 5, 2, "P4 линк 1 — P6 линк 2", 0x2B, 0x2B},
    {2, 3, 4, 0, "P3 линк 3 — P5 линк 0", 0x15, 0x15}, {2, 1, 6, 0, "P3 линк 1 — P7 линк 0", 0x45, 0x45},
    {4, 1, 6, 2, "P5 линк 1 — P7 линк 2", 0x55, 0x55}, {0, 1, 5, 0, "P1 линк 1 — P6 линк 0", 0x23, 0x21},
    {0, 2, 6, 0, "P1 линк 2 — P7 линк 0", 0x45, 0x41},
};
const Pair kCable = {5, 1, 6, 1, "P6 линк 1 — P7 линк 1 (кабель)", 0, 0};

// "P3" -> 2; -1 for anything else.
int cpuIndex(const std::string &name) {
    if (name.size() != 2 || name[0] != 'P' || name[1] < '1' || name[1] > '7')
        return -1;
    return name[1] - '1';
}

bool linkEnd(const Json &end, int &cpu, int &link) {
    std::uint32_t l = 0;
    cpu = cpuIndex(str(end, "processor"));
    if (cpu < 0 || !readWord(end, "link", l))
        return false;
    link = static_cast<int>(l);
    return true;
}

// How many of a step's link faults name the pair, either way round.
int pairFaults(const Json *step, const Pair &p) {
    int count = 0;
    if (!step)
        return 0;
    for (const Json &f : field(*step, "faults")) {
        int ca, la, cb, lb;
        if (str(f, "kind") != "link" || !linkEnd(field(f, "from"), ca, la) || !linkEnd(field(f, "to"), cb, lb))
            continue;
        count += (ca == p.a && la == p.la && cb == p.b && lb == p.lb) || (ca == p.b && la == p.lb && cb == p.a && lb == p.la);
    }
    return count;
}

bool hasLinkFaults(const Json *step) {
    if (step)
        for (const Json &f : field(*step, "faults"))
            if (str(f, "kind") == "link")
                return true;
    return false;
}

// The worst of a processor's steps colours its box: what did not run is
// worse than what passed, so a box is green only when all of it passed.
int severity(const std::string &status) {
    if (status == "failed")
        return 6;
    if (status == "interrupted")
        return 5;
    if (status == "partial")
        return 4;
    if (status == "not run")
        return 3;
    if (status == "skipped" || status == "not applicable")
        return 2;
    if (status == "passed")
        return 1;
    return 0;
}

const Json *findStep(const Json &steps, const char *key) {
    for (const Json &s : steps)
        if (str(s, "key") == key && field(s, "processor").is_null())
            return &s;
    return nullptr;
}

// The status a pair of links shows: in a record of schema 3 a failed
// test paints only the pairs its faults name (all of them when it named
// none); older records hold the test's status alone.
// Whether every link fault of the step names one of the pairs drawn.
bool allFaultsDrawn(const Json *step, const std::vector<const Pair *> &drawn) {
    if (!step)
        return true;
    for (const Json &f : field(*step, "faults")) {
        if (str(f, "kind") != "link")
            continue;
        Json one = Json::object();
        one["faults"] = Json::array({f});
        bool found = false;
        for (const Pair *p : drawn)
            found = found || pairFaults(&one, *p) > 0;
        if (!found)
            return false;
    }
    return true;
}

std::string pairStatus(const Json *step, const Pair &p, int schema, int &faults, bool placed = true) {
    faults = 0;
    if (!step)
        return "";
    std::string st = str(*step, "status");
    if (schema < 3 || st != "failed" || !hasLinkFaults(step) || !placed)
        return st;
    faults = pairFaults(step, p);
    return faults > 0 ? "failed" : "passed";
}

std::string linkTip(const Pair &p, const Json *step, const std::string &status, int faults, const char *test) {
    std::string tip = std::string(p.links) + ": " + test + " — ";
    if (!step)
        return tip + "не было в прогоне";
    tip += statusLabel(status);
    if (faults > 0)
        tip += ", " + counted(faults, "ошибка", "ошибки", "ошибок") + " на этой паре";
    else
        tip += ", ошибок в тесте " + integer(num(*step, "errors"));
    std::string reason = str(*step, "reason");
    if (!reason.empty() && untested(status))
        tip += " (" + reason + ")";
    return tip;
}

// The host side's parts and the step that tests each.
struct HostPart {
    const char *part, *name, *label, *step, *notTested;
};
const HostPart kHostParts[] = {
    {"hostPort", "порт", "порт хоста", "HOST", ""},
    {"dpram", "DPRAM", "DPRAM", "HOST", ""},
    {"fifo", "FIFO", "FIFO", "HOST", "fifo"},
    {"interrupts", "IRQ", "прерывания", "INTERRUPTS", ""},
    {"dma", "DMA", "поток DMA", "HSTREAM", "stream"},
};

std::vector<BoardHostPart> hostPicture(const Json &steps, int schema) {
    std::vector<BoardHostPart> parts;
    for (const HostPart &h : kHostParts) {
        const Json *step = findStep(steps, h.step);
        BoardHostPart part{h.name, "", std::string(h.label) + ": " + stepLabel(h.step) + " — не было в прогоне"};
        if (step) {
            std::string st = str(*step, "status");
            int faults = 0, findings = 0;
            std::string first;
            bool untestedPart = false;
            for (const Json &f : field(*step, "faults"))
                if (str(f, "kind") == "host" && str(f, "part") == h.part && faults++ == 0)
                    first = str(f, "text");
            for (const Json &f : field(*step, "findings"))
                findings += str(f, "part") == h.part;
            for (const Json &n : field(*step, "notTested"))
                untestedPart = untestedPart || str(n, "part") == h.notTested;
            // Schema 3 says which part failed; a failure it does not place
            // (and any in older records) marks the whole step's parts.
            bool placed = false;
            for (const Json &f : field(*step, "faults"))
                placed = placed || (str(f, "kind") == "host" && !str(f, "part").empty());
            for (const Json &f : field(*step, "findings"))
                placed = placed || !str(f, "part").empty();
            if (faults + findings > 0)
                part.status = "failed";
            else if (untestedPart)
                part.status = "partial";
            else if (st == "failed" && schema >= 3 && placed)
                part.status = "passed";
            else
                part.status = st;
            part.title = std::string(h.label) + ": " + stepLabel(h.step) + " — " + statusLabel(part.status);
            if (faults > 0)
                part.title += ", " + counted(faults, "ошибка", "ошибки", "ошибок") + ": " + first;
            if (findings > 0)
                part.title += ", " + counted(findings, "находка", "находки", "находок");
            if (untestedPart || untested(st))
                part.title += " (не проверено" + (str(*step, "reason").empty() ? "" : ": " + str(*step, "reason")) + ")";
        }
        parts.push_back(part);
    }
    return parts;
}

std::string boardPicture(const Json &record) {
    const Json &board = field(record, "board");
    const Json &steps = field(record, "steps");
    int schema = schemaOf(record);
    std::uint32_t mask = 0;
    for (const Json &p : field(board, "processors"))
        if (p.is_string() && cpuIndex(p.get<std::string>()) >= 0)
            mask |= 1u << cpuIndex(p.get<std::string>());
    // Faults the cluster test (and any other board-wide step) places on a
    // processor mark that processor.
    std::map<std::string, int> processorFaults;
    for (const Json &s : steps)
        for (const Json &f : field(s, "faults"))
            if (str(f, "kind") == "processor" || (str(f, "kind") == "memory" && field(s, "processor").is_null()))
                processorFaults[str(f, "processor")]++;
    std::vector<BoardCpu> cpus;
    for (int i = 0; i < 7; ++i) {
        std::string name = "P" + std::to_string(i + 1);
        BoardCpu c{name, ((mask >> i) & 1) != 0, "", "", ""};
        std::string tip = name;
        bool anyPassed = false, anyUntested = false;
        for (const Json &s : steps)
            if (str(s, "processor") == name) {
                std::string st = str(s, "status");
                anyPassed = anyPassed || st == "passed";
                anyUntested = anyUntested || untested(st);
                if (severity(st) > severity(c.status))
                    c.status = st;
                tip += "\n" + stepLabel(str(s, "key")) + ": " + statusLabel(st);
                std::string reason = str(s, "reason");
                if (!reason.empty() && untested(st))
                    tip += " (" + reason + ")";
            }
        auto placed = processorFaults.find(name);
        if (placed != processorFaults.end()) {
            c.status = "failed";
            tip += "\nошибки, отнесённые к процессору: " + std::to_string(placed->second);
        }
        // Some of it passed, some did not run: tested in part.
        if (anyPassed && anyUntested && (c.status == "skipped" || c.status == "not applicable" || c.status == "not run"))
            c.status = "partial";
        c.note = !c.present ? "нет" : c.status.empty() ? "" : c.status == "partial" ? "частично" : statusLabel(c.status);
        c.title = c.present ? tip : name + ": процессор не установлен";
        cpus.push_back(c);
    }
    std::vector<BoardLink> links;
    const Json *internal = findStep(steps, "INTLINKS");
    std::vector<const Pair *> drawn;
    for (const Pair &p : kPairs)
        if ((mask & p.mask) == p.present)
            drawn.push_back(&p);
    // A fault on a pair the picture does not hold cannot be placed: then
    // the test's status colours all its pairs, as for older records.
    bool placed = allFaultsDrawn(internal, drawn);
    for (const Pair *p : drawn) {
        int faults = 0;
        std::string st = pairStatus(internal, *p, schema, faults, placed);
        links.push_back({p->a, p->b, false, st, linkTip(*p, internal, st, faults, "тест внутренних линков")});
    }
    const Json *external = findStep(steps, "EXTLINKS");
    bool frontLinks = str(board, "x5") == "LINK" && str(board, "x6") == "LINK" &&
                      ((mask & 0x67) == 0x67 || (mask & 0x67) == 0x61);
    if (frontLinks || (external && str(*external, "status") != "not applicable" && hasLinkFaults(external))) {
        int faults = 0;
        std::string st = pairStatus(external, kCable, schema, faults, allFaultsDrawn(external, {&kCable}));
        links.push_back({5, 6, true, st, linkTip(kCable, external, st, faults, "тест внешних линков")});
    }
    return boardChart(cpus, links, hostPicture(steps, schema));
}

// The verdict line the program printed: "passed", "failed", or "" when it
// printed none. Records before schema 3 did not keep it: a complete run
// printed the success line exactly when it counted no error.
std::string printedVerdict(const Json &record) {
    if (schemaOf(record) >= 3)
        return str(record, "verdict");
    std::string outcome = str(record, "outcome");
    if (outcome != "passed" && outcome != "failed")
        return "";
    return num(record, "errorCount", 0) == 0 ? "passed" : "failed";
}

// A continuous run (-C) ends with a break; older records called one that
// found something interrupted, and the page stamps it failed as schema 3 does.
bool continuousRun(const Json &record) {
    for (const Json &s : field(record, "steps"))
        if (field(s, "passes").is_object())
            return true;
    return field(field(record, "options"), "continuous").is_boolean() &&
           field(field(record, "options"), "continuous").get<bool>();
}

std::string stampOutcome(const Json &record) {
    std::string outcome = str(record, "outcome");
    if (outcome == "interrupted" && num(record, "findingCount", 0) > 0 && continuousRun(record))
        return "failed";
    return outcome;
}

// Which tests that count nothing made the run's findings, in words.
std::string findingTests(const Json &record) {
    bool patterns = false, exchange = false, stream = false;
    for (const Json &s : field(record, "steps"))
        for (const Json &f : field(s, "findings")) {
            std::string t = str(f, "test");
            patterns = patterns || t == "pattern test";
            stream = stream || t == "stream";
            exchange = exchange || t == "word exchange" || t == "array exchange" || t == "DPRAM exchange";
        }
    std::vector<std::string> names;
    if (patterns)
        names.push_back("тесты памяти шаблонами");
    if (exchange)
        names.push_back("тесты обмена с хостом");
    if (stream)
        names.push_back("тест потока DMA");
    if (names.empty())
        return "тесты, которые не считают ошибок,";
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i)
        out += (i == 0 ? "" : i + 1 == names.size() ? " и " : ", ") + names[i];
    return out;
}

std::string verdictNoteOf(const Json &record) {
    std::string verdict = printedVerdict(record), outcome = stampOutcome(record);
    long long errors = static_cast<long long>(num(record, "errorCount", 0));
    long long findings = static_cast<long long>(num(record, "findingCount", 0));
    std::string mismatches = counted(findings, "несовпадение", "несовпадения", "несовпадений");
    if (verdict == "passed" && outcome == "failed")
        return "Программа напечатала строку успеха, потому что её итог считает только ошибки, а " + findingTests(record) +
               " нашли " + mismatches + ", которые итог не считает; поэтому прогон не пройден.";
    if (verdict.empty() && outcome == "failed")
        return "Непрерывный прогон не печатает итога, а его проходы нашли " + mismatches +
               (errors > 0 ? " и " + counted(errors, "ошибку", "ошибки", "ошибок") : "") +
               "; поэтому прогон не пройден.";
    if (verdict == "failed" && outcome == "passed")
        return "Программа насчитала " + counted(errors, "ошибку", "ошибки", "ошибок") +
               ", а запись считает прогон пройденным: верна строка итога программы.";
    if (verdict == "passed" && outcome != "passed" && !outcome.empty())
        return "Программа напечатала строку успеха, но запись говорит, что прогон не закончен как пройденный.";
    return "";
}

std::string verdictLine(const Json &record) {
    std::string outcome = str(record, "outcome");
    std::string verdict = printedVerdict(record);
    std::string errors = integer(num(record, "errorCount", 0));
    std::string findings = integer(num(record, "findingCount", 0));
    if (verdict == "passed" || verdict == "failed") {
        std::string line = verdict == "passed" ? "+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++"
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
    if (outcome == "interrupted" || outcome == "failed")
        return "Прогон прерван (ошибок до прерывания: " + errors + ", находок: " + findings + ")";
    return outcome;
}

const char *partLabel(const std::string &part) {
    if (part == "internalMemory")
        return "внутренняя память";
    if (part == "dynamicMemory")
        return "динамическая память";
    if (part == "fifo")
        return "обмен через FIFO";
    if (part == "stream")
        return "поток DMA";
    return nullptr;
}

// What of a step did not run, in words: "динамическая память (Тест
// динамической памяти пропущен)".
std::vector<std::string> notTestedText(const Json &step) {
    std::vector<std::string> out;
    for (const Json &n : field(step, "notTested")) {
        std::string part = str(n, "part"), reason = str(n, "reason");
        const char *label = partLabel(part);
        out.push_back((label ? label : part) + (reason.empty() ? "" : " (" + reason + ")"));
    }
    return out;
}

struct Coverage {
    bool complete = true;
    std::string line;
    std::vector<std::string> missing; // a line per step not tested whole
};

// The coverage line: from the record's `coverage` where it has one, else
// counted from the steps' statuses (older records had no partial step).
std::string coverageLineOf(const Json &record, bool &complete) {
    struct Count {
        const char *key, *status, *words;
        long long n;
    } counts[] = {
        {"partial", "partial", "частично", 0},         {"skipped", "skipped", "пропущены", 0},
        {"notApplicable", "not applicable", "неприменимы", 0}, {"notRun", "not run", "не начаты", 0},
        {"interrupted", "interrupted", "прерваны", 0},
    };
    const Json &coverage = field(record, "coverage");
    long long withParts = 0, total = 0;
    for (const Json &s : field(record, "steps")) {
        ++total;
        std::string st = str(s, "status");
        if (!field(s, "notTested").empty() && st != "partial")
            ++withParts;
        if (!coverage.is_object())
            for (Count &c : counts)
                c.n += st == c.status;
    }
    if (coverage.is_object())
        for (Count &c : counts)
            c.n = static_cast<long long>(num(coverage, c.key, 0));
    std::string list;
    for (const Count &c : counts)
        if (c.n > 0)
            list += std::string(list.empty() ? "" : "; ") + c.words + ": " + counted(c.n, "шаг", "шага", "шагов");
    if (withParts > 0)
        list += std::string(list.empty() ? "" : "; ") + "не пройдены и проверены не целиком: " +
                counted(withParts, "шаг", "шага", "шагов");
    bool recorded = field(coverage, "complete").is_boolean();
    complete = recorded ? field(coverage, "complete").get<bool>() : list.empty();
    if (complete && list.empty())
        return "Покрытие полное: каждый шаг выполнен целиком (шагов: " + std::to_string(total) + ").";
    return "Покрытие неполное, проверено не всё: " + (list.empty() ? std::string("см. шаги") : list) + ".";
}

Coverage coverageOf(const Json &record) {
    Coverage c;
    c.line = coverageLineOf(record, c.complete);
    for (const Json &s : field(record, "steps")) {
        std::string st = str(s, "status");
        std::vector<std::string> parts = notTestedText(s);
        if (!untested(st) && st != "interrupted" && parts.empty())
            continue;
        std::string name = stepLabel(str(s, "key")) + (str(s, "processor").empty() ? "" : " " + str(s, "processor"));
        std::string why = str(s, "reason");
        std::string line = name + " — " + statusLabel(st);
        if (!parts.empty()) {
            line += ", не проверено: ";
            for (std::size_t i = 0; i < parts.size(); ++i)
                line += (i ? "; " : "") + parts[i];
        } else if (!why.empty()) {
            line += ": " + why;
        }
        c.missing.push_back(line);
    }
    if (schemaOf(record) < 3)
        c.line += " Запись старого формата не отмечает шаги, выполненные частично.";
    return c;
}

const char *originLabel(const std::string &origin) {
    if (origin == "virtual")
        return "виртуальный модуль";
    if (origin == "replay")
        return "воспроизведение трассы";
    if (origin == "adapter")
        return "модуль стенда (адаптер)";
    return nullptr;
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

// A fact that is a number in the record: "—" when it is not.
std::string numberFact(const Json &j, const char *key) {
    const Json &v = field(j, key);
    if (v.is_string())
        return v.get<std::string>();
    return v.is_number() ? integer(v.get<double>()) : "";
}

// The board's configuration as the record holds it: PCI, IRQ, the front
// connectors, submodules, DPRAM and dynamic memory.
void configurationFacts(mu::data &facts, const Json &record) {
    const Json &board = field(record, "board");
    const Json &pci = field(board, "pci");
    if (pci.is_object()) {
        fact(facts, "PCI", "шина " + numberFact(pci, "bus") + ", устройство " + numberFact(pci, "device"));
        fact(facts, "Контроллер PCI", "память " + str(pci, "controllerMemory", "—") + ", порты " +
                                          str(pci, "controllerIo", "—"));
        fact(facts, "Адреса модуля", "память " + str(pci, "deviceMemory", "—") + ", порты " + str(pci, "deviceIo", "—"));
    }
    if (field(board, "irq").is_number())
        fact(facts, "IRQ", numberFact(board, "irq"));
    if (board.is_object() && (board.contains("x5") || board.contains("x6")))
        fact(facts, "Разъёмы X5 / X6", str(board, "x5", "—") + " / " + str(board, "x6", "—"));
    std::string submodules;
    for (const Json &m : field(board, "submodules"))
        if (m.is_string())
            submodules += (submodules.empty() ? "" : ", ") + m.get<std::string>();
    if (field(board, "submodules").is_array())
        fact(facts, "Субмодули", submodules.empty() ? "нет" : submodules);
    const Json &configuration = field(record, "configuration");
    if (!configuration.is_object())
        return;
    if (field(configuration, "dpram").is_boolean())
        fact(facts, "DPRAM", field(configuration, "dpram").get<bool>() ? "есть" : "нет");
    const Json &dram = field(configuration, "dynamicMemory");
    if (!dram.is_object()) {
        fact(facts, "Динамическая память", "не определена");
        return;
    }
    std::vector<std::string> chips;
    for (const Json &c : field(dram, "chips"))
        chips.push_back(numberFact(c, "words"));
    bool same = !chips.empty();
    for (const std::string &c : chips)
        same = same && c == chips.front();
    std::string line;
    if (same)
        line = counted(static_cast<long long>(chips.size()), "микросхема", "микросхемы", "микросхем") + " по " +
               chips.front() + " слов";
    else
        for (std::size_t i = 0; i < chips.size(); ++i)
            line += (i ? ", " : "микросхемы: ") + std::to_string(i) + " — " + chips[i] + " слов";
    fact(facts, "Динамическая память", line.empty() ? "—" : line);
    if (!str(dram, "sdrcon").empty())
        fact(facts, "SDRCON", str(dram, "sdrcon"));
    if (!str(dram, "speedShown").empty())
        fact(facts, "Скорость динамической памяти", str(dram, "speedShown") + " Мбайт/с");
}

// The words of each chip of dynamic memory, as the configuration check found.
std::vector<double> chipWords(const Json &record) {
    std::vector<double> words;
    for (const Json &c : field(field(field(record, "configuration"), "dynamicMemory"), "chips"))
        words.push_back(num(c, "words", 0));
    return words;
}

// The record's JSON text as a tree; a discarded value when it is not an object.
Json parseRecord(const std::string &text) {
    Json record = Json::parse(text, nullptr, false);
    return record.is_object() ? record : Json(Json::value_t::discarded);
}

} // namespace

std::string verdictNote(const std::string &recordJson) {
    Json record = parseRecord(recordJson);
    return record.is_discarded() ? "" : verdictNoteOf(record);
}

std::string stampOutcome(const std::string &recordJson) {
    Json record = parseRecord(recordJson);
    return record.is_discarded() ? "" : stampOutcome(record);
}

std::string coverageLine(const std::string &recordJson, bool &complete) {
    Json record = parseRecord(recordJson);
    complete = false;
    return record.is_discarded() ? "" : coverageLineOf(record, complete);
}

namespace {

constexpr std::size_t kMostSteps = 1000;

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
    // A run takes a few dozen steps (continuous mode keeps one for all its
    // passes); a record of thousands is made up, and drawing each would
    // take memory out of all proportion to the file.
    if (steps.size() > kMostSteps) {
        why = "not a result record: " + integer(static_cast<double>(steps.size())) + " steps, a run takes at most " +
              integer(kMostSteps);
        return false;
    }
    std::string outcome = str(record, "outcome");
    std::string serial = str(board, "serialShown");
    std::string model = str(board, "model", "ZORVANTIK");

    mu::data page;
    page.set("style", kPageStyle);
    std::string stamped = stampOutcome(record);
    page.set("outcome", outcome);
    page.set("outcomeClass", statusClass(stamped) == "other" ? "other" : statusClass(stamped));
    page.set("stamp", outcomeStamp(stamped));
    page.set("verdict", verdictLine(record));
    std::string note = verdictNoteOf(record);
    if (!note.empty())
        page.set("verdictNote", note);
    Coverage coverage = coverageOf(record);
    page.set("coverage", coverage.line);
    page.set("coverageClass", coverage.complete ? "complete" : "incomplete");
    page.set("hasMissing", !coverage.missing.empty());
    page.set("missing", stringList(coverage.missing));
    page.set("heading", board.is_object() ? "Модуль " + model + " № " + serial
                                           : "Модуль не опознан (номер " + integer(num(record, "boardNumber")) + ")");
    page.set("pageTitle", outcomeStamp(stamped) + " — " + (board.is_object() ? model + " " + serial : "модуль не опознан") +
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
    if (const char *origin = originLabel(str(record, "origin")))
        fact(facts, "Ответы модуля", origin);
    fact(facts, "Начало", timeLabel(str(record, "start")));
    if (!str(record, "end").empty())
        fact(facts, "Конец", timeLabel(str(record, "end")));
    fact(facts, "Длительность", durationLabel(num(record, "durationMs")));
    fact(facts, "Программа", str(program, "name") + " " + str(program, "version"));
    fact(facts, "Номер модуля (-B)", integer(num(record, "boardNumber")));
    fact(facts, "Ошибок / находок",
         integer(num(record, "errorCount", 0)) + " / " + integer(num(record, "findingCount", 0)));
    page.set("facts", facts);
    mu::data configuration{mu::data::type::list};
    configurationFacts(configuration, record);
    page.set("hasConfiguration", !configuration.is_empty_list());
    page.set("configuration", configuration);
    if (!str(record, "runId").empty())
        page.set("runId", str(record, "runId"));

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
    mu::data speedRows{mu::data::type::list}, fftRows{mu::data::type::list};
    int schemaNumber = schemaOf(record);
    std::vector<double> chips = chipWords(record);
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
        std::vector<std::string> notTested = notTestedText(s);
        std::string reason = str(s, "reason");
        if (notTested.empty() && !reason.empty() && untested(st))
            notTested.push_back(reason);
        row.set("hasNotTested", !notTested.empty());
        row.set("notTested", stringList(notTested));
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
                mu::data r;
                r.set("name", measurementLabel(name));
                r.set("value", shown.empty() ? "—" : shown);
                r.set("unit", unitLabel(unit));
                speedRows.push_back(r);
            }
            if (key == "FFTTIME" && name == "cycles") {
                std::string time;
                for (const Json &t : field(s, "measurements"))
                    if (str(t, "name") == "time")
                        time = ", " + str(t, "shown") + " " + unitLabel(str(t, "unit"));
                fft.push_back({processor, value, shown,
                               "БПФ " + processor + ": " + shown + " тактов" + time + " — " + statusLabel(st),
                               st == "passed" ? "#00897b" : statusColour(st)});
                mu::data r;
                r.set("name", processor);
                r.set("value", shown);
                r.set("unit", "тактов" + time);
                r.set("status", statusLabel(st));
                fftRows.push_back(r);
            }
        }
        // A processor that ran the FFT and gave no count (it never answered)
        // keeps its row, empty.
        bool hasCycles = false;
        for (const Json &m : field(s, "measurements"))
            hasCycles = hasCycles || str(m, "name") == "cycles";
        if (key == "FFTTIME" && !hasCycles && (st == "failed" || st == "interrupted"))
            fft.push_back({processor, 0, "нет результата",
                           "БПФ " + processor + ": нет результата — " + statusLabel(st), statusColour(st)});
        for (const auto &group : stepMismatches(s, schemaNumber)) {
            const std::vector<Mismatch> &mismatches = group.second;
            if (mismatches.empty())
                continue;
            SuspectedCause cause = suspectCause(mismatches);
            mu::data m;
            m.set("title", stepLabel(key) + " " + group.first + " — " +
                               counted(static_cast<long long>(mismatches.size()), "несовпадение", "несовпадения",
                                       "несовпадений"));
            m.set("cause", cause.words);
            m.set("map", memoryMapChart(mismatches, chips));
            m.set("bits", bitChart(mismatches));
            memory.push_back(m);
        }
    }
    page.set("steps", rows);
    if (!speeds.empty()) {
        page.set("speeds", speedChart(speeds, "Мбайт/с"));
        page.set("speedRows", speedRows);
    }
    if (board.is_object())
        page.set("board", boardPicture(record));
    page.set("memory", memory);
    if (!fft.empty()) {
        page.set("fft", fftChart(fft));
        page.set("fftRows", fftRows);
    }
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
