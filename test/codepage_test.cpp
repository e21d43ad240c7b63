// The console conversion of the program's Windows-1251 texts, held against
// the C library's own code page tables.
#include "platform/codepage.h"
#include "support/station.h"

#include <gtest/gtest.h>

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
