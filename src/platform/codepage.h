// codepage.h - conversion of the program's Windows-1251 texts for the
// console.
//
// The console shows code page 866, as a Windows console does, and piped or
// redirected output is always 866. A Linux terminal seldom shows 866, so at
// a terminal the texts go out in the code page its locale uses when that
// one has the Cyrillic letters (UTF-8, KOI8-R, Windows-1251, 866,
// ISO-8859-5), and in UTF-8 when the locale is C/POSIX or has no Cyrillic:
// a terminal of today shows UTF-8 whatever the locale says.
#ifndef ZORVANTIK_CODEPAGE_H
#define ZORVANTIK_CODEPAGE_H

#include <cstddef>
#include <string>

// The code pages the console can be written in.
enum class ConsoleCodePage {
    kCp866,    // OEM code page 866: the Windows console, pipes and files
    kUtf8,     // UTF-8
    kKoi8R,    // KOI8-R
    kCp1251,   // Windows-1251: the texts as they are stored
    kIso88595, // ISO-8859-5
};

// The code page for a terminal whose locale names its character set
// `codeset` (nl_langinfo(CODESET): "UTF-8", "KOI8-R", "CP1251", "IBM866",
// "ISO-8859-5", "ANSI_X3.4-1968" for C/POSIX, ...). Case, "-" and "_" do
// not matter, so other systems' spellings ("utf8", "ISO8859-5", "CP866")
// are understood too. Anything without Cyrillic, or unknown, gives UTF-8.
ConsoleCodePage terminalCodePage(const char *codeset);

// Code page 866 byte for a Windows-1251 byte. Characters that 866 does not
// have become their nearest plain form ("-" for dashes, '"' for quotes) or
// "?" where there is none.
unsigned char cp1251ToCp866(unsigned char c);

// KOI8-R and ISO-8859-5 bytes for a Windows-1251 byte. A character the
// target lacks becomes the same plain stand-in as in 866 ("-", '"', "c"
// for the copyright sign), a few signs their own look-alike (the bullet
// KOI8-R's bullet operator, "N" for "№" in KOI8-R, "." and "*" for the
// middle dot and the bullet in ISO-8859-5), and the rest "?".
unsigned char cp1251ToKoi8R(unsigned char c);
unsigned char cp1251ToIso88595(unsigned char c);

// The Windows-1251 text as UTF-8. Unassigned 1251 bytes (0x98) become "?".
std::string cp1251ToUtf8(const char *text, std::size_t length);

// The Windows-1251 text in `codePage`.
std::string cp1251ToConsole(const char *text, std::size_t length, ConsoleCodePage codePage);

#endif // ZORVANTIK_CODEPAGE_H
