// escape.h - text made safe inside markup: the pages' HTML and the JUnit
// report's XML, escaped by one set of rules.
//
// Both replace with U+FFFD each byte that begins no well-formed UTF-8
// sequence (overlong forms, surrogates and code points above U+10FFFF
// included), U+FFFE and U+FFFF, and the control characters but tab, line
// feed and carriage return; both escape the five special characters.
#ifndef ZORVANTIK_REPORT_ESCAPE_H
#define ZORVANTIK_REPORT_ESCAPE_H

#include <string>

// For HTML text and quoted attributes: the apostrophe as "&#39;", DEL
// replaced too, line breaks and tabs as they are.
std::string htmlEscape(const std::string &text);

// For XML 1.0: the apostrophe as "&apos;", a carriage return as "&#13;";
// in an attribute line feeds and tabs too as references (where a parser
// would fold them into blanks).
std::string xmlText(const std::string &text, bool attribute = true);

#endif // ZORVANTIK_REPORT_ESCAPE_H
