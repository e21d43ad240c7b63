// record_scan.cpp - the quick read of a record for loading: one strict
// JSON parse into a flat tree of spans over the text (no string copied
// until it is stored), then the rows.
//
// It reads what the fleet's reader reads exactly as that reader does (the
// last of repeated fields, a step's key as it stood when its measurement
// closed, every steps array) and gives up on anything unusual: a text it
// does not take goes the slow way, through the fleet's own reader, which
// also words the reason a file is skipped.
#include "db/load.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zdb {
namespace {

struct Node {
    enum Type : std::uint8_t { Null, False, True, Number, String, Array, Object } type;
    bool escaped = false; // a string holding backslashes
    std::uint32_t end = 0; // the index after this node's subtree
    std::uint32_t off = 0, len = 0;
};

class Scanner {
public:
    Scanner(const std::string &text, std::vector<Node> &nodes) : s_(text.data()), n_(text.size()), nodes_(nodes) {}

    bool parse() {
        nodes_.clear();
        space();
        if (!value(0))
            return false;
        space();
        return p_ == n_;
    }

private:
    void space() {
        while (p_ < n_ && (s_[p_] == ' ' || s_[p_] == '\n' || s_[p_] == '\r' || s_[p_] == '\t'))
            ++p_;
    }
    bool literal(const char *word, Node::Type type) {
        std::size_t l = std::strlen(word);
        if (n_ - p_ < l || std::memcmp(s_ + p_, word, l) != 0)
            return false;
        nodes_.push_back({type, false, 0, static_cast<std::uint32_t>(p_), static_cast<std::uint32_t>(l)});
        p_ += l;
        nodes_.back().end = static_cast<std::uint32_t>(nodes_.size());
        return true;
    }
    bool digits() {
        std::size_t from = p_;
        while (p_ < n_ && s_[p_] >= '0' && s_[p_] <= '9')
            ++p_;
        return p_ > from;
    }
    bool number() {
        std::size_t from = p_;
        if (s_[p_] == '-')
            ++p_;
        if (p_ < n_ && s_[p_] == '0')
            ++p_;
        else if (!(p_ < n_ && s_[p_] >= '1' && s_[p_] <= '9') || !digits())
            return false;
        if (p_ < n_ && s_[p_] == '.') {
            ++p_;
            if (!digits())
                return false;
        }
        if (p_ < n_ && (s_[p_] == 'e' || s_[p_] == 'E')) {
            ++p_;
            if (p_ < n_ && (s_[p_] == '+' || s_[p_] == '-'))
                ++p_;
            if (!digits())
                return false;
        }
        nodes_.push_back({Node::Number, false, static_cast<std::uint32_t>(nodes_.size() + 1),
                          static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(p_ - from)});
        return true;
    }
    static int hex(char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    }
    bool unit(std::size_t at, unsigned &u) const {
        if (n_ - at < 4)
            return false;
        u = 0;
        for (int i = 0; i < 4; ++i) {
            int h = hex(s_[at + i]);
            if (h < 0)
                return false;
            u = u * 16 + static_cast<unsigned>(h);
        }
        return true;
    }
    // A string: control characters refused, escapes checked (surrogates in
    // pairs), UTF-8 well formed.
    bool string() {
        std::size_t from = ++p_;
        bool escaped = false;
        while (p_ < n_) {
            unsigned char c = static_cast<unsigned char>(s_[p_]);
            if (c == '"') {
                nodes_.push_back({Node::String, escaped, static_cast<std::uint32_t>(nodes_.size() + 1),
                                  static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(p_ - from)});
                ++p_;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c == '\\') {
                escaped = true;
                if (++p_ >= n_)
                    return false;
                char e = s_[p_];
                if (e == 'u') {
                    unsigned u;
                    if (!unit(p_ + 1, u))
                        return false;
                    p_ += 5;
                    if (u >= 0xDC00 && u <= 0xDFFF)
                        return false;
                    if (u >= 0xD800 && u <= 0xDBFF) {
                        unsigned low;
                        if (n_ - p_ < 6 || s_[p_] != '\\' || s_[p_ + 1] != 'u' || !unit(p_ + 2, low) || low < 0xDC00 ||
                            low > 0xDFFF)
                            return false;
                        p_ += 6;
                    }
                    continue;
                }
                if (!std::strchr("\"\\/bfnrt", e) || e == '\0')
                    return false;
                ++p_;
                continue;
            }
            if (c < 0x80) {
                ++p_;
                continue;
            }
            // UTF-8 of RFC 3629: no overlong forms, no surrogates, up to U+10FFFF.
            int more;
            unsigned char lo = 0x80, hi = 0xBF;
            if (c >= 0xC2 && c <= 0xDF)
                more = 1;
            else if (c >= 0xE0 && c <= 0xEF) {
                more = 2;
                if (c == 0xE0)
                    lo = 0xA0;
                if (c == 0xED)
                    hi = 0x9F;
            } else if (c >= 0xF0 && c <= 0xF4) {
                more = 3;
                if (c == 0xF0)
                    lo = 0x90;
                if (c == 0xF4)
                    hi = 0x8F;
            } else
                return false;
            if (n_ - p_ <= static_cast<std::size_t>(more))
                return false;
            for (int i = 1; i <= more; ++i) {
                unsigned char b = static_cast<unsigned char>(s_[p_ + i]);
                if (b < (i == 1 ? lo : 0x80) || b > (i == 1 ? hi : 0xBF))
                    return false;
            }
            p_ += more + 1;
        }
        return false;
    }
    bool value(int depth) {
        if (p_ >= n_ || depth > 200)
            return false;
        char c = s_[p_];
        if (c == '"')
            return string();
        if (c == '-' || (c >= '0' && c <= '9'))
            return number();
        if (c == 't')
            return literal("true", Node::True);
        if (c == 'f')
            return literal("false", Node::False);
        if (c == 'n')
            return literal("null", Node::Null);
        if (c != '{' && c != '[')
            return false;
        bool object = c == '{';
        std::size_t self = nodes_.size();
        nodes_.push_back({object ? Node::Object : Node::Array, false, 0, static_cast<std::uint32_t>(p_), 0});
        ++p_;
        space();
        if (p_ < n_ && s_[p_] == (object ? '}' : ']')) {
            ++p_;
        } else {
            for (;;) {
                if (object) {
                    if (p_ >= n_ || s_[p_] != '"' || !string())
                        return false;
                    space();
                    if (p_ >= n_ || s_[p_] != ':')
                        return false;
                    ++p_;
                    space();
                }
                if (!value(depth + 1))
                    return false;
                space();
                if (p_ >= n_)
                    return false;
                if (s_[p_] == ',') {
                    ++p_;
                    space();
                    continue;
                }
                if (s_[p_] != (object ? '}' : ']'))
                    return false;
                ++p_;
                break;
            }
        }
        nodes_[self].end = static_cast<std::uint32_t>(nodes_.size());
        return true;
    }

    const char *s_;
    std::size_t n_, p_ = 0;
    std::vector<Node> &nodes_;
};

// Reading the tree.
class Tree {
public:
    Tree(const std::string &text, const std::vector<Node> &nodes) : t_(text), n_(nodes) {}
    const Node &at(std::uint32_t i) const { return n_[i]; }
    bool keyIs(std::uint32_t k, const char *name) const {
        const Node &n = n_[k];
        std::size_t l = std::strlen(name);
        return !n.escaped && n.len == l && std::memcmp(t_.data() + n.off, name, l) == 0 ? true
               : n.escaped ? text(k) == name
                           : false;
    }
    std::string text(std::uint32_t i) const {
        const Node &n = n_[i];
        if (!n.escaped)
            return t_.substr(n.off, n.len);
        std::string out;
        for (std::size_t p = n.off, end = n.off + n.len; p < end; ++p) {
            char c = t_[p];
            if (c != '\\') {
                out += c;
                continue;
            }
            char e = t_[++p];
            switch (e) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned u = std::strtoul(t_.substr(p + 1, 4).c_str(), nullptr, 16);
                p += 4;
                if (u >= 0xD800 && u <= 0xDBFF) {
                    unsigned low = std::strtoul(t_.substr(p + 3, 4).c_str(), nullptr, 16);
                    p += 6;
                    u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                }
                if (u < 0x80)
                    out += static_cast<char>(u);
                else if (u < 0x800)
                    out += static_cast<char>(0xC0 | (u >> 6)), out += static_cast<char>(0x80 | (u & 0x3F));
                else if (u < 0x10000)
                    out += static_cast<char>(0xE0 | (u >> 12)), out += static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
                        out += static_cast<char>(0x80 | (u & 0x3F));
                else
                    out += static_cast<char>(0xF0 | (u >> 18)), out += static_cast<char>(0x80 | ((u >> 12) & 0x3F)),
                        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F)), out += static_cast<char>(0x80 | (u & 0x3F));
                break;
            }
            default: out += e;
            }
        }
        return out;
    }
    double number(std::uint32_t i) const { return std::strtod(t_.c_str() + n_[i].off, nullptr); }
    // The last member `name` of object `o` whose value has `type` (~0u: none).
    std::uint32_t last(std::uint32_t o, const char *name, Node::Type type) const {
        std::uint32_t found = ~0u;
        if (o == ~0u || n_[o].type != Node::Object)
            return found;
        for (std::uint32_t k = o + 1; k < n_[o].end; k = n_[k + 1].end)
            if (n_[k + 1].type == type && keyIs(k, name))
                found = k + 1;
        return found;
    }
    Value str(std::uint32_t o, const char *name) const {
        std::uint32_t v = last(o, name, Node::String);
        return v == ~0u ? Value::null() : Value::text(text(v));
    }
    Value whole(std::uint32_t o, const char *name) const {
        std::uint32_t v = last(o, name, Node::Number);
        if (v == ~0u)
            return Value::null();
        double d = number(v);
        return std::isfinite(d) && std::fabs(d) < 9e18 ? Value::of(static_cast<long long>(d)) : Value::null();
    }

private:
    const std::string &t_;
    const std::vector<Node> &n_;
};

// The fleet's count of a number: whole, and 0 beyond any real count.
long long count(double n) { return std::isfinite(n) && std::fabs(n) < 1e15 ? static_cast<long long>(n) : 0; }

} // namespace

bool scanRecordRows(const std::string &text, const std::string &file, const std::string &page, RunRows &rows,
                    FleetRun &run) {
    thread_local std::vector<Node> nodes;
    if (text.size() >= 0xFFFFFFF0u || !Scanner(text, nodes).parse() || nodes.empty() ||
        nodes[0].type != Node::Object)
        return false;
    Tree t(text, nodes);
    const std::uint32_t root = 0;
    std::uint32_t schemaNode = t.last(root, "schema", Node::Number), outcome = t.last(root, "outcome", Node::String);
    if (schemaNode == ~0u || outcome == ~0u)
        return false;
    double schema = t.number(schemaNode);
    if (!(schema >= 1 && schema < kReportSchema + 1))
        return false;

    run = FleetRun();
    run.outcome = t.text(outcome);
    std::uint32_t v;
    if ((v = t.last(root, "start", Node::String)) != ~0u)
        run.start = t.text(v);
    if ((v = t.last(root, "errorCount", Node::Number)) != ~0u)
        run.errorCount = count(t.number(v));
    if ((v = t.last(root, "findingCount", Node::Number)) != ~0u)
        run.findingCount = count(t.number(v));
    if (!recordInstant(run.start, run.startSeconds))
        run.startSeconds = 0;

    rows.children.resize(5);
    for (ChildRows &c : rows.children)
        c.cells.clear();
    std::vector<Value> &steps = rows.children[0].cells, &measures = rows.children[1].cells,
                       &findings = rows.children[2].cells, &lines = rows.children[3].cells,
                       &faults = rows.children[4].cells;
    long long stepNo = 0, lineNo = 0;
    bool sawSteps = false;
    auto errorLines = [&](std::uint32_t list, const Value &no) {
        if (list == ~0u)
            return;
        for (std::uint32_t i = list + 1; i < t.at(list).end; i = t.at(i).end)
            if (t.at(i).type == Node::String)
                lines.insert(lines.end(), {Value::of(lineNo++), no, Value::text(t.text(i))});
    };
    // The record's members in order: boards and steps arrays as the fleet
    // meets them.
    for (std::uint32_t k = root + 1; k < nodes[root].end; k = nodes[k + 1].end) {
        std::uint32_t val = k + 1;
        if (nodes[val].type == Node::Object && t.keyIs(k, "board")) {
            for (std::uint32_t b = val + 1; b < nodes[val].end; b = nodes[b + 1].end)
                if (nodes[b + 1].type == Node::String && t.keyIs(b, "serialShown"))
                    run.serial = t.text(b + 1);
            continue;
        }
        if (nodes[val].type != Node::Array || !t.keyIs(k, "steps"))
            continue;
        sawSteps = true;
        for (std::uint32_t s = val + 1; s < nodes[val].end; s = nodes[s].end) {
            if (nodes[s].type != Node::Object)
                continue;
            Value no = Value::of(stepNo++);
            std::string key, cpu, status;
            std::uint32_t stepAt = static_cast<std::uint32_t>(steps.size());
            steps.resize(steps.size() + 9);
            for (std::uint32_t m = s + 1; m < nodes[s].end; m = nodes[m + 1].end) {
                std::uint32_t mv = m + 1;
                Node::Type type = nodes[mv].type;
                if (type == Node::String && t.keyIs(m, "key"))
                    key = t.text(mv);
                else if (type == Node::String && t.keyIs(m, "processor"))
                    cpu = t.text(mv);
                else if (type == Node::String && t.keyIs(m, "status"))
                    status = t.text(mv);
                else if (type == Node::Array && t.keyIs(m, "measurements")) {
                    long long mNo = 0;
                    for (std::uint32_t e = mv + 1; e < nodes[mv].end; e = nodes[e].end) {
                        if (nodes[e].type != Node::Object)
                            continue;
                        std::uint32_t name = t.last(e, "name", Node::String), value = t.last(e, "value", Node::Number);
                        measures.insert(measures.end(),
                                        {no, Value::of(mNo++), Value::text(key),
                                         cpu.empty() ? Value::null() : Value::text(cpu),
                                         Value::text(name == ~0u ? std::string() : t.text(name)),
                                         value == ~0u ? Value::null() : Value::real(t.number(value)), t.str(e, "unit"),
                                         t.str(e, "shown")});
                    }
                } else if (type == Node::Array && t.keyIs(m, "findings")) {
                    long long fNo = 0;
                    for (std::uint32_t f = mv + 1; f < nodes[mv].end; f = nodes[f].end)
                        findings.insert(findings.end(),
                                        {no, Value::of(fNo++), t.str(f, "test"), t.str(f, "where"), t.str(f, "written"),
                                         t.str(f, "read"), t.str(f, "text"), t.whole(f, "pass"), t.str(f, "processor"),
                                         t.str(f, "memory"), t.whole(f, "bank"), t.whole(f, "chip"),
                                         t.whole(f, "offset")});
                } else if (type == Node::Array && t.keyIs(m, "faults")) {
                    long long faultNo = 0;
                    for (std::uint32_t f = mv + 1; f < nodes[mv].end; f = nodes[f].end) {
                        std::uint32_t from = t.last(f, "from", Node::Object), to = t.last(f, "to", Node::Object);
                        Value kind = t.str(f, "kind");
                        faults.insert(faults.end(),
                                      {no, Value::of(faultNo++), kind.kind == Value::Null ? Value::text("") : kind,
                                       t.str(f, "processor"), t.str(f, "memory"), t.whole(f, "bank"), t.whole(f, "chip"),
                                       t.whole(f, "offset"), t.whole(f, "address"), t.whole(f, "written"),
                                       t.whole(f, "read"), t.str(from, "processor"), t.whole(from, "link"),
                                       t.str(to, "processor"), t.whole(to, "link"), t.str(f, "test"), t.str(f, "part"),
                                       t.str(f, "text")});
                    }
                } else if (type == Node::Array && t.keyIs(m, "errorLines"))
                    errorLines(mv, no);
            }
            std::uint32_t found = t.last(s, "findings", Node::Array);
            Value *row = &steps[stepAt];
            row[0] = no;
            row[1] = Value::text(key);
            row[2] = cpu.empty() ? Value::null() : Value::text(cpu);
            row[3] = t.str(s, "name");
            row[4] = Value::text(status);
            row[5] = t.str(s, "reason");
            row[6] = t.whole(s, "errors");
            long long findingCount = 0;
            if (found != ~0u)
                for (std::uint32_t f = found + 1; f < t.at(found).end; f = t.at(f).end)
                    ++findingCount;
            row[7] = found == ~0u ? Value::null() : Value::of(findingCount);
            row[8] = t.whole(s, "durationMs");
            if (status == "failed") {
                run.failedSteps.push_back(cpu.empty() ? key : key + " " + cpu);
                run.failedKeys.emplace_back(key, cpu);
            }
        }
    }
    if (!sawSteps)
        return false;
    errorLines(t.last(root, "errorLines", Node::Array), Value::null());

    std::uint32_t runIdNode = t.last(root, "runId", Node::String);
    std::string runId = runIdNode == ~0u ? std::string() : t.text(runIdNode);
    rows.key = recordKey(text, runId);
    std::uint32_t program = t.last(root, "program", Node::Object), coverage = t.last(root, "coverage", Node::Object);
    std::uint32_t complete = ~0u;
    if (coverage != ~0u) {
        std::uint32_t yes = t.last(coverage, "complete", Node::True), no = t.last(coverage, "complete", Node::False);
        complete = yes == ~0u ? no : no == ~0u ? yes : std::max(yes, no);
    }
    std::uint32_t lastBoard = t.last(root, "board", Node::Object);
    rows.run = {
        Value::text(rows.key),
        runId.empty() ? Value::null() : Value::text(runId),
        Value::of(static_cast<long long>(schema)),
        t.str(root, "origin"),
        run.serial.empty() ? Value::null() : Value::text(run.serial),
        t.whole(lastBoard, "serial"),
        t.whole(root, "boardNumber"),
        t.str(root, "host"),
        t.str(program, "version"),
        Value::text(run.start),
        Value(), // start_utc, filled by the caller
        Value::of(run.startSeconds),
        run.start.size() >= 10 ? Value::text(run.start.substr(0, 10)) : Value::null(),
        t.str(root, "end"),
        t.whole(root, "durationMs"),
        Value::text(run.outcome),
        t.str(root, "verdict"),
        Value::of(run.errorCount),
        Value::of(run.findingCount),
        complete == ~0u ? Value::null() : Value::of(t.at(complete).type == Node::True ? 1 : 0),
        Value::text(file),
        page.empty() ? Value::null() : Value::text(page),
        Value(), // loaded_at, filled by the caller
    };
    return true;
}

} // namespace zdb
