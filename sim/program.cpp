/*
 * program.cpp - reads DSP program files (see program.h).
 */
#include "program.h"

#include "board_config.h"
#include "firmware.h"
#include "ini.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

/* The first line without a byte-order mark, line end or trailing blanks;
 * `rest` is everything after its line end. */
std::string firstLine(const std::string &text, std::string &rest) {
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    rest = end == std::string::npos ? "" : text.substr(end + 1);
    while (!line.empty() && isBlank(line.back()))
        line.pop_back();
    return line;
}

/* The body of a one-node file: `firmware` and its parameters. */
bool readBody(const IniSection &body, const std::string &name, int32_t node, Placement &out, std::string &error) {
    out = Placement{node, nullptr, {}};
    int firmwareLine = 0;
    for (const IniEntry &e : body.entries) {
        if (e.key != "firmware")
            continue;
        out.firmware = findFirmware(e.value);
        firmwareLine = e.line;
        if (!out.firmware) {
            error = iniError(name, e.line, "unknown firmware '" + e.value + "'");
            return false;
        }
    }
    if (!out.firmware) {
        error = iniError(name, body.line, "no 'firmware = name' line");
        return false;
    }
    for (const IniEntry &e : body.entries) {
        if (e.line == firmwareLine)
            continue;
        if (!firmwareTakes(*out.firmware, e.key)) {
            error =
                iniError(name, e.line, "firmware '" + std::string(out.firmware->name) + "' takes no '" + e.key + "'");
            return false;
        }
        uint32_t value;
        if (!parseNumber(e.value, 0xFFFFFFFFu, value)) {
            error = iniError(name, e.line, "'" + e.key + "' wants a number, got '" + e.value + "'");
            return false;
        }
        out.params[e.key] = value;
    }
    return true;
}

/* A one-node file after its header. The header's line becomes the
 * section header of the body, so the INI reader counts lines as the file
 * does. */
bool readProgram(const std::string &rest, const std::string &name, int32_t node, std::vector<Placement> &out,
                 std::string &error) {
    IniFile ini;
    parseIni("[program]\n" + rest, name, ini);
    const IniSection &body = ini.sections[0];
    if (ini.sections.size() > 1 && !body.errorLine) {
        error = iniError(name, ini.sections[1].line, "a program file has no sections");
        return false;
    }
    if (body.errorLine) {
        error = body.error;
        return false;
    }
    Placement placement;
    if (!readBody(body, name, node, placement, error))
        return false;
    out.push_back(placement);
    return true;
}

/* A set after its header: a [P<n>] section per processor. */
bool readSet(const std::string &rest, const std::string &name, std::vector<Placement> &out, std::string &error) {
    IniFile ini;
    parseIni("\n" + rest, name, ini);
    for (const IniSection &s : ini.sections) {
        uint32_t cpu = 0;
        bool named = s.name.size() == 2 && s.name[0] == 'p' && parseNumber(s.name.substr(1), 7, cpu) && cpu >= 1;
        if (s.errorLine) {
            error = s.error;
            return false;
        }
        if (!named) {
            error = iniError(name, s.line, "a set has sections [P1] to [P7], not [" + s.name + "]");
            return false;
        }
        Placement placement;
        if (!readBody(s, name, int32_t(cpu - 1), placement, error))
            return false;
        out.push_back(placement);
    }
    if (out.empty()) {
        error = iniError(name, 1, "a set names no processor");
        return false;
    }
    return true;
}

} // namespace

bool parseProgram(const std::string &text, const std::string &name, int32_t node, std::vector<Placement> &out,
                  bool &isSet, std::string &error) {
    out.clear();
    std::string rest;
    std::string header = firstLine(text, rest);
    isSet = header == kProgramSetHeader;
    if (header != kProgramHeader && !isSet) {
        error = iniError(name, 1,
                         "expected '" + std::string(kProgramHeader) + "' or '" + kProgramSetHeader + "', got '" +
                             header + "'");
        return false;
    }
    bool ok = isSet ? readSet(rest, name, out, error) : readProgram(rest, name, node, out, error);
    if (!ok)
        out.clear();
    return ok;
}
