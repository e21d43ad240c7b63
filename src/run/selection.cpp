// selection.cpp - reads the test selection file.
//
// A test runs only when the file has a section for its key:
//
//     [HOST START]
//     CHECK=1
//     [HOST END]
//
// The reading rules are deliberately those of the files in use at the
// bench, odd corners included: the line right after a start marker is taken
// from its first column and never as a comment or an end marker, and a
// CHECK= line counts wherever it stands between the key's start marker and
// its end marker, even inside another key's section.
#include "run/selection.h"

#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kLineMax = 119;  // longer lines are read as several lines
constexpr int kValueFirst = 6; // digits are looked for in positions 6..31
constexpr int kValueLast = 31; // of the text that begins with "CHECK="

const char *firstLetter(const char *line) {
    for (const char *p = line; *p; ++p)
        if (std::isalpha(static_cast<unsigned char>(*p)) && static_cast<unsigned char>(*p) < 0x80)
            return p;
    return line;
}

bool startsWithMarker(const char *text, const char *key, int keyLength, const char *marker) {
    return std::strncmp(text, key, static_cast<std::size_t>(keyLength)) == 0 &&
           std::strncmp(text + keyLength, marker, std::strlen(marker)) == 0;
}

// The value of a CHECK= text: -1 when it holds no digit in positions 6..31,
// else 1 when the number that starts at the first digit is nonzero, 0 when
// it is zero. A number too long for any integer still counts as nonzero.
int checkValue(const char *text) {
    std::size_t length = std::strlen(text);
    for (std::size_t i = kValueFirst; i <= kValueLast && i < length; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            continue;
        for (std::size_t j = i; j < length && std::isdigit(static_cast<unsigned char>(text[j])); ++j)
            if (text[j] != '0')
                return 1;
        return 0;
    }
    return -1;
}

// The warning, the count and the skip of a selection file that cannot be
// opened, or that opens but cannot be read (a directory of that name, a
// read error): read as empty, it would skip every test without a word.
int unreadable(const std::string &name) {
    report("\n### ПРЕДУПРЕЖДЕНИЕ: Не могу открыть файл '%s'", name.c_str());
    countError();
    return -1;
}

} // namespace

std::string selectionFileName(std::int32_t boardLid) {
    if (boardLid >= 2 && boardLid <= 8)
        return "check" + std::to_string(boardLid) + ".cfg";
    return "check1.cfg";
}

int isTestSkipped(const char *key, int keyLength) {
    std::string name = selectionFileName(runState.boardLid);
    std::FILE *file = std::fopen(name.c_str(), "r");
    if (!file)
        return unreadable(name);

    bool started = false;
    char line[kLineMax + 1];
    char next[kLineMax + 1];
    while (std::fgets(line, sizeof line, file)) {
        if (line[0] == ';')
            continue;
        const char *text = firstLetter(line);
        if (startsWithMarker(text, key, keyLength, " START]")) {
            started = true;
            if (!std::fgets(next, sizeof next, file))
                break;
            text = next;
        }
        if (startsWithMarker(text, key, keyLength, " END]")) {
            std::fclose(file);
            return started ? 0 : -1;
        }
        if (started && std::strncmp(text, "CHECK=", 6) == 0) {
            int value = checkValue(text);
            if (value >= 0) {
                std::fclose(file);
                return value ? 0 : -1;
            }
        }
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return unreadable(name);
    return started ? 0 : -1;
}
