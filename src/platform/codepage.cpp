// codepage.cpp - Windows-1251 to the console's code pages: 866, UTF-8,
// KOI8-R and ISO-8859-5.
//
// The 866 table follows what the Windows console conversion gives: every
// Cyrillic letter and the few signs 866 shares with 1251 (Ё ё Є є Ї ї Ў ў
// ° · № ¤ and the no-break space) map to their 866 bytes; typographic signs
// fall back to their plain ASCII look-alike; the rest becomes "?". The
// KOI8-R and ISO-8859-5 tables keep those stand-ins for what they lack, so
// a text reads the same on every terminal.
#include "platform/codepage.h"

#include <array>
#include <cctype>
#include <cstdint>

namespace {

// The plain stand-in of each 1251 byte 0x80..0xBF, for a console whose
// code page lacks that sign: typographic signs by their ASCII look-alike,
// the rest "?". Every Cyrillic code page has the no-break space, Ё and ё
// (0xA0, 0xA8, 0xB8).
constexpr unsigned char kStandIns[64] = {
    0x3F, 0x3F, 0x2C, 0x3F, 0x22, 0x2E, 0x2B, 0x2B, 0x45, 0x25, 0x3F, 0x3C, 0x3F, 0x3F, 0x3F, 0x3F, // 0x80
    0x3F, 0x27, 0x27, 0x22, 0x22, 0x2A, 0x2D, 0x2D, 0x3F, 0x54, 0x3F, 0x3E, 0x3F, 0x3F, 0x3F, 0x3F, // 0x90
    0x20, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x7C, 0x53, 0x45, 0x63, 0x3F, 0x3C, 0x2D, 0x2D, 0x52, 0x3F, // 0xA0
    0x3F, 0x2B, 0x3F, 0x3F, 0x3F, 0x75, 0x50, 0x2E, 0x65, 0x4E, 0x3F, 0x3E, 0x3F, 0x3F, 0x3F, 0x3F, // 0xB0
};

// A sign of 1251 (0x80..0xBF) a code page has, and its byte there.
struct Sign {
    unsigned char cp1251, byte;
};

// 866 has the signs it shares with 1251 (Ё ё Є є Ї ї Ў ў ° · № ¤, the
// bullet and the no-break space); its А..п stand at 0x80, р..я at 0xE0.
constexpr Sign kCp866Signs[] = {
    {0x95, 0xF9}, {0xA0, 0xFF}, {0xA1, 0xF6}, {0xA2, 0xF7}, {0xA4, 0xFD}, {0xA8, 0xF0}, {0xAA, 0xF2}, {0xAF, 0xF4},
    {0xB0, 0xF8}, {0xB7, 0xFA}, {0xB8, 0xF1}, {0xB9, 0xFC}, {0xBA, 0xF3}, {0xBF, 0xF5},
};
constexpr unsigned char cp866Letter(unsigned i) { return static_cast<unsigned char>(i < 48 ? 0x80 + i : 0xE0 + (i - 48)); }

// KOI8-R has А..я in its own order, Ё ё, ° · ©, the no-break space and
// the bullet operator.
constexpr Sign kKoi8RSigns[] = {
    {0x95, 0x95}, {0xA0, 0x9A}, {0xA8, 0xB3}, {0xA9, 0xBF}, {0xB0, 0x9C}, {0xB7, 0x9E}, {0xB8, 0xA3},
};
constexpr unsigned char kKoi8RLetters[64] = {
    0xE1, 0xE2, 0xF7, 0xE7, 0xE4, 0xE5, 0xF6, 0xFA, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xF0,
    0xF2, 0xF3, 0xF4, 0xF5, 0xE6, 0xE8, 0xE3, 0xFE, 0xFB, 0xFD, 0xFF, 0xF9, 0xF8, 0xFC, 0xE0, 0xF1,
    0xC1, 0xC2, 0xD7, 0xC7, 0xC4, 0xC5, 0xD6, 0xDA, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0,
    0xD2, 0xD3, 0xD4, 0xD5, 0xC6, 0xC8, 0xC3, 0xDE, 0xDB, 0xDD, 0xDF, 0xD9, 0xD8, 0xDC, 0xC0, 0xD1,
};
constexpr unsigned char koi8RLetter(unsigned i) { return kKoi8RLetters[i]; }

// ISO-8859-5 has every letter of 1251 but Ґ ґ, and of its signs only №,
// §, the no-break space and the soft hyphen; its А..я stand at 0xB0.
constexpr Sign kIso88595Signs[] = {
    {0x80, 0xA2}, {0x81, 0xA3}, {0x83, 0xF3}, {0x8A, 0xA9}, {0x8C, 0xAA}, {0x8D, 0xAC}, {0x8E, 0xAB}, {0x8F, 0xAF},
    {0x90, 0xF2}, {0x9A, 0xF9}, {0x9C, 0xFA}, {0x9D, 0xFC}, {0x9E, 0xFB}, {0x9F, 0xFF}, {0xA0, 0xA0}, {0xA1, 0xAE},
    {0xA2, 0xFE}, {0xA3, 0xA8}, {0xA7, 0xFD}, {0xA8, 0xA1}, {0xAA, 0xA4}, {0xAD, 0xAD}, {0xAF, 0xA7}, {0xB2, 0xA6},
    {0xB3, 0xF6}, {0xB8, 0xF1}, {0xB9, 0xF0}, {0xBA, 0xF4}, {0xBC, 0xF8}, {0xBD, 0xA5}, {0xBE, 0xF5}, {0xBF, 0xF7},
};
constexpr unsigned char iso88595Letter(unsigned i) { return static_cast<unsigned char>(0xB0 + i); }

// A code page's bytes for 1251 bytes 0x80..0xFF: the stand-ins, what it
// has of the signs, and its letters А..я (1251 0xC0..0xFF).
using HighTable = std::array<unsigned char, 128>;
template <std::size_t N> constexpr HighTable highTable(const Sign (&signs)[N], unsigned char (*letter)(unsigned)) {
    HighTable table{};
    for (unsigned i = 0; i < 64; ++i) {
        table[i] = kStandIns[i];
        table[64 + i] = letter(i);
    }
    for (const Sign &sign : signs)
        table[sign.cp1251 - 0x80] = sign.byte;
    return table;
}

constexpr HighTable kCp866High = highTable(kCp866Signs, cp866Letter);
constexpr HighTable kKoi8RHigh = highTable(kKoi8RSigns, koi8RLetter);
constexpr HighTable kIso88595High = highTable(kIso88595Signs, iso88595Letter);

// Unicode code points of 1251 bytes 0x80..0xBF; 0xC0..0xFF are А..я in
// order (U+0410..U+044F). 0x98 is unassigned and shows as "?".
const std::uint16_t kUnicodeHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x003F, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // 0xB8
};

// A codeset name reduced to its letters and digits, upper case: "utf8",
// "UTF-8" and "UTF_8" all read "UTF8".
std::string codesetKey(const char *codeset) {
    std::string key;
    for (const char *p = codeset; *p; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p)))
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return key;
}

std::string mapBytes(const char *text, std::size_t length, const unsigned char *high) {
    std::string out(text, length);
    for (char &c : out) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x80)
            c = static_cast<char>(high[byte - 0x80]);
    }
    return out;
}

} // namespace

ConsoleCodePage terminalCodePage(const char *codeset) {
    static const struct {
        const char *key;
        ConsoleCodePage codePage;
    } kCyrillic[] = {
        {"KOI8R", ConsoleCodePage::kKoi8R},        {"CP1251", ConsoleCodePage::kCp1251},
        {"WINDOWS1251", ConsoleCodePage::kCp1251}, {"IBM866", ConsoleCodePage::kCp866},
        {"CP866", ConsoleCodePage::kCp866},        {"ISO88595", ConsoleCodePage::kIso88595},
    };
    std::string key = codesetKey(codeset ? codeset : "");
    for (const auto &entry : kCyrillic)
        if (key == entry.key)
            return entry.codePage;
    return ConsoleCodePage::kUtf8; // UTF-8 itself, C/POSIX and every codeset without Cyrillic
}

unsigned char cp1251ToCp866(unsigned char c) { return c < 0x80 ? c : kCp866High[c - 0x80]; }

unsigned char cp1251ToKoi8R(unsigned char c) { return c < 0x80 ? c : kKoi8RHigh[c - 0x80]; }

unsigned char cp1251ToIso88595(unsigned char c) { return c < 0x80 ? c : kIso88595High[c - 0x80]; }

std::string cp1251ToUtf8(const char *text, std::size_t length) {
    std::string out;
    out.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = c < 0x80 ? c : c < 0xC0 ? kUnicodeHigh[c - 0x80] : 0x0410u + (c - 0xC0);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string cp1251ToConsole(const char *text, std::size_t length, ConsoleCodePage codePage) {
    switch (codePage) {
    case ConsoleCodePage::kUtf8:
        return cp1251ToUtf8(text, length);
    case ConsoleCodePage::kKoi8R:
        return mapBytes(text, length, kKoi8RHigh.data());
    case ConsoleCodePage::kIso88595:
        return mapBytes(text, length, kIso88595High.data());
    case ConsoleCodePage::kCp1251:
        return std::string(text, length);
    case ConsoleCodePage::kCp866:
        break;
    }
    return mapBytes(text, length, kCp866High.data());
}
