/*
 * ini.cpp - reader for the board file's INI dialect (see ini.h).
 */
#include "ini.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string trim(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string lower(std::string s) {
    for (char &c : s)
        c = char(std::tolower((unsigned char)c));
    return s;
}

/* Cuts a trailing comment: ';' or '#' that follows a blank. A ';' glued to
 * a word stays part of the value. */
std::string stripComment(const std::string &s) {
    for (size_t i = 1; i < s.size(); ++i)
        if ((s[i] == ';' || s[i] == '#') && isBlank(s[i - 1]))
            return s.substr(0, i);
    return s;
}

/* "Board   1" and "board 1" name the same section. */
std::string sectionName(const std::string &raw) {
    std::string out;
    for (char c : trim(raw)) {
        if (isBlank(c)) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += char(std::tolower((unsigned char)c));
        }
    }
    return out;
}

IniSection &addSection(IniFile &file, const std::string &name, int line) {
    file.sections.emplace_back();
    file.sections.back().name = name;
    file.sections.back().line = line;
    return file.sections.back();
}

/* Keeps the first complaint of a section; later ones would only repeat
 * the cause. */
void fail(IniSection &section, const std::string &path, int line, const std::string &why) {
    if (section.errorLine)
        return;
    section.errorLine = line;
    section.error = iniError(path, line, why);
}

} // namespace

/* Formats a complaint the way compilers do, so editors can jump to it. */
std::string iniError(const std::string &path, int line, const std::string &why) {
    return path + ":" + std::to_string(line) + ": " + why;
}

/* Walks the text line by line into sections in file order. */
void parseIni(const std::string &text, const std::string &path, IniFile &out) {
    out.sections.clear();
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;

    for (int lineNo = 1; pos < text.size(); ++lineNo) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;

        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        line = trim(stripComment(line));

        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string name, why;
            if (close == std::string::npos) {
                why = "expected ']' after the section name";
            } else if (close + 1 != line.size()) {
                why = "unexpected text after ']'";
            } else if ((name = sectionName(line.substr(1, close - 1))).empty()) {
                why = "empty section name";
            } else {
                auto same = std::find_if(out.sections.begin(), out.sections.end(),
                                         [&](const IniSection &s) { return s.name == name; });
                if (same != out.sections.end())
                    why = "section [" + name + "] already began on line " + std::to_string(same->line);
            }
            IniSection &section = addSection(out, name, lineNo);
            if (!why.empty())
                fail(section, path, lineNo, why);
            continue;
        }

        if (out.sections.empty())
            addSection(out, "", 0);
        IniSection &section = out.sections.back();
        size_t eq = line.find('=');
        std::string key = eq == std::string::npos ? "" : lower(trim(line.substr(0, eq)));
        if (key.empty()) {
            fail(section, path, lineNo, "expected 'key = value'");
            continue;
        }
        if (section.line == 0) {
            fail(section, path, lineNo, "'" + key + "' stands before any [section]");
            continue;
        }
        auto same = std::find_if(section.entries.begin(), section.entries.end(),
                                 [&](const IniEntry &e) { return e.key == key; });
        if (same != section.entries.end()) {
            fail(section, path, lineNo,
                 "'" + key + "' repeats line " + std::to_string(same->line) + " in [" + section.name + "]");
            continue;
        }
        section.entries.push_back({key, trim(line.substr(eq + 1)), lineNo});
    }
}

std::string unreadableError(const std::string &path, const std::string &why) {
    return path + ": cannot be read (" + why + ")";
}

/* The file's type and size come first, so that a directory is named as
 * one on every host (a Windows fopen calls it a permission problem) and
 * a huge file costs nothing; then C stdio reads it in chunks, so a file
 * that grew meanwhile still stops at the limit. */
FileRead readTextFile(const std::string &path, std::size_t limit, std::string &text, std::string &error) {
    namespace fs = std::filesystem;
    text.clear();
    error.clear();
    std::error_code code;
    fs::file_status st = fs::status(fs::path(path), code);
    if (st.type() == fs::file_type::not_found)
        return FileRead::Missing;
    std::uintmax_t size = 0;
    if (!code && st.type() == fs::file_type::regular)
        size = fs::file_size(fs::path(path), code);
    std::string why;
    if (code)
        why = code.message();
    else if (st.type() == fs::file_type::directory)
        why = std::make_error_code(std::errc::is_a_directory).message();
    else if (st.type() != fs::file_type::regular)
        why = "not a regular file";
    if (!why.empty()) {
        error = unreadableError(path, why);
        return FileRead::Unreadable;
    }
    if (size > limit)
        return FileRead::TooLong;

    std::unique_ptr<std::FILE, int (*)(std::FILE *)> in(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!in) {
        error = unreadableError(path, std::generic_category().message(errno));
        return FileRead::Unreadable;
    }
    text.reserve(std::size_t(size));
    char chunk[8192];
    for (std::size_t n = sizeof chunk; n == sizeof chunk;) {
        n = std::fread(chunk, 1, sizeof chunk, in.get());
        int readError = errno;
        if (n > limit - text.size()) {
            text.clear();
            return FileRead::TooLong;
        }
        text.append(chunk, n);
        if (n < sizeof chunk && std::ferror(in.get())) {
            text.clear();
            error = unreadableError(path, std::generic_category().message(readError));
            return FileRead::Unreadable;
        }
    }
    return FileRead::Ok;
}

FileRead readIni(const std::string &path, IniFile &out, std::string &error) {
    out.sections.clear();
    std::string text;
    FileRead result = readTextFile(path, std::string::npos, text, error);
    if (result == FileRead::Ok)
        parseIni(text, path, out);
    return result;
}
