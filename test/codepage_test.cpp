// The console conversion of the program's Windows-1251 texts, held against
// the C library's own code page tables (iconv).
#include "platform/codepage.h"
#include "support/station.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

std::string byteString(unsigned char c) { return std::string(1, static_cast<char>(c)); }

TEST(Cp866Table, AsciiPassesUnchanged) {
    for (int c = 0; c < 0x80; ++c)
        EXPECT_EQ(cp1251ToCp866(static_cast<unsigned char>(c)), c);
}

TEST(Cp866Table, EveryCharacterThat866HasMapsToItsByte) {
    int mapped = 0;
    for (int c = 0x80; c <= 0xFF; ++c) {
        std::string utf8;
        try {
            utf8 = fromCodePage(byteString(static_cast<unsigned char>(c)), "CP1251");
        } catch (...) {
            continue; // 0x98 is unassigned
        }
        std::string expected;
        try {
            expected = toCp866(utf8);
        } catch (...) {
            // 866 lacks it: a plain stand-in, never a byte of another
            // letter. The bullet shows as 866's bullet operator.
            if (c == 0x95) {
                EXPECT_EQ(cp1251ToCp866(0x95), toCp866("\u2219")[0] & 0xFF);
                continue;
            }
            EXPECT_LT(cp1251ToCp866(static_cast<unsigned char>(c)), 0x80) << "byte 0x" << std::hex << c;
            continue;
        }
        ++mapped;
        EXPECT_EQ(cp1251ToCp866(static_cast<unsigned char>(c)), static_cast<unsigned char>(expected[0]))
            << "byte 0x" << std::hex << c << " (" << utf8 << ")";
    }
    EXPECT_EQ(mapped, 64 + 13); // А..я, and Ё ё Є є Ї ї Ў ў ° · № ¤ and the no-break space
}

TEST(Cp866Table, MixedLatinAndCyrillicWordKeepsEachLetter) {
    // "Пpоцессоp" has Latin p's; they must stay Latin on the console.
    std::string text = toCp1251("Пpоцессоp");
    std::string shown;
    for (char c : text)
        shown += static_cast<char>(cp1251ToCp866(static_cast<unsigned char>(c)));
    EXPECT_EQ(shown, toCp866("Пpоцессоp"));
    EXPECT_NE(shown, toCp866("Процессор"));
}

// The tables for terminals whose locale is KOI8-R or ISO-8859-5. Every
// character the target has maps to its byte; what it lacks becomes an
// ASCII stand-in, the same one the 866 table uses where that has one.
void checkAgainstLibrary(unsigned char (*table)(unsigned char), const char *codePage, int expectedMapped,
                         unsigned char bullet) {
    int mapped = 0;
    for (int c = 0; c < 0x100; ++c) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c < 0x80) {
            EXPECT_EQ(table(byte), byte);
            continue;
        }
        std::string utf8;
        try {
            utf8 = fromCodePage(byteString(byte), "CP1251");
        } catch (...) {
            EXPECT_EQ(table(byte), '?') << "unassigned 0x98";
            continue;
        }
        std::string expected;
        try {
            expected = toCodePage(utf8, codePage);
        } catch (...) {
            if (c == 0x95) {
                EXPECT_EQ(table(byte), bullet) << codePage << ": the bullet";
                continue;
            }
            EXPECT_LT(table(byte), 0x80) << codePage << ": byte 0x" << std::hex << c << " (" << utf8 << ")";
            if (cp1251ToCp866(byte) < 0x80) {
                EXPECT_EQ(table(byte), cp1251ToCp866(byte)) << codePage << ": byte 0x" << std::hex << c;
            }
            continue;
        }
        ++mapped;
        EXPECT_EQ(table(byte), static_cast<unsigned char>(expected[0]))
            << codePage << ": byte 0x" << std::hex << c << " (" << utf8 << ")";
    }
    EXPECT_EQ(mapped, expectedMapped) << codePage;
}

TEST(CyrillicTerminalTables, Koi8RMatchesTheLibraryConversion) {
    // А..я, Ё ё, the no-break space, ° · ©; the bullet as KOI8-R's bullet operator.
    checkAgainstLibrary(cp1251ToKoi8R, "KOI8-R", 64 + 6, static_cast<unsigned char>(toCodePage("\u2219", "KOI8-R")[0]));
}

TEST(CyrillicTerminalTables, Iso88595MatchesTheLibraryConversion) {
    // А..я, the other 28 letters of 1251 (all but Ґ ґ), the no-break
    // space, the soft hyphen, № and §; the bullet as "*".
    checkAgainstLibrary(cp1251ToIso88595, "ISO-8859-5", 64 + 28 + 4, '*');
}

TEST(CyrillicTerminalTables, WholeTextsConvertInEveryConsoleCodePage) {
    const std::string message = "\n Пpоцессоp P1 линк 1 <---> Пpоцессоp P2 линк 0:  Ошибок нет. Ёё";
    const std::string text = toCp1251(message);
    struct {
        ConsoleCodePage codePage;
        const char *name;
    } cases[] = {{ConsoleCodePage::kCp866, "CP866"},
                 {ConsoleCodePage::kUtf8, "UTF-8"},
                 {ConsoleCodePage::kKoi8R, "KOI8-R"},
                 {ConsoleCodePage::kCp1251, "CP1251"},
                 {ConsoleCodePage::kIso88595, "ISO-8859-5"}};
    for (const auto &c : cases)
        EXPECT_EQ(cp1251ToConsole(text.data(), text.size(), c.codePage), toCodePage(message, c.name)) << c.name;
}

TEST(Utf8Console, EveryByteMatchesTheLibraryConversion) {
    for (int c = 0; c <= 0xFF; ++c) {
        std::string in = byteString(static_cast<unsigned char>(c));
        std::string expected = c == 0x98 ? "?" : fromCodePage(in, "CP1251");
        EXPECT_EQ(cp1251ToUtf8(in.data(), 1), expected) << "byte 0x" << std::hex << c;
    }
}

TEST(Utf8Console, WholeMessageConverts) {
    std::string text = toCp1251("\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++");
    EXPECT_EQ(cp1251ToUtf8(text.data(), text.size()), "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++");
}

} // namespace
