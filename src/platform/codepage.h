// codepage.h - conversion of the program's Windows-1251 texts for the
// console: to the OEM code page 866 (what a Windows console shows) and to
// UTF-8 (for a UTF-8 terminal).
#ifndef ZORVANTIK_CODEPAGE_H
#define ZORVANTIK_CODEPAGE_H

#include <cstddef>
#include <string>

// Code page 866 byte for a Windows-1251 byte. Characters that 866 does not
// have become their nearest plain form ("-" for dashes, '"' for quotes) or
// "?" where there is none.
unsigned char cp1251ToCp866(unsigned char c);

// The Windows-1251 text as UTF-8. Unassigned 1251 bytes (0x98) become "?".
std::string cp1251ToUtf8(const char *text, std::size_t length);

#endif // ZORVANTIK_CODEPAGE_H
