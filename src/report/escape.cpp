// escape.cpp - one set of escaping rules for HTML and XML.
#include "report/escape.h"

#include <cstddef>
#include <cstdint>

namespace {

enum class Markup { kHtml, kXmlText, kXmlAttribute };

std::string escape(const std::string &s, Markup markup) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    const bool html = markup == Markup::kHtml, attribute = markup == Markup::kXmlAttribute;
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    const auto *bytes = reinterpret_cast<const unsigned char *>(s.data());
    const std::size_t size = s.size();
    for (std::size_t i = 0; i < size;) {
        unsigned char c = bytes[i];
        if (c < 0x80) {
            ++i;
            switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += html ? "&#39;" : "&apos;";
                break;
            case '\n':
                out += attribute ? "&#10;" : "\n";
                break;
            case '\r':
                out += html ? "\r" : "&#13;";
                break;
            case '\t':
                out += attribute ? "&#9;" : "\t";
                break;
            default:
                if (c < 0x20 || (html && c == 0x7F))
                    out += kReplacement;
                else
                    out += static_cast<char>(c);
            }
            continue;
        }
        // A multi-byte sequence: its length and the smallest code point it
        // may hold.
        std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        std::uint32_t code = length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
        bool ok = length != 0 && i + length <= size;
        for (std::size_t k = 1; ok && k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                code = code << 6 | (bytes[i + k] & 0x3F);
        }
        static const std::uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
                   code == 0xFFFE || code == 0xFFFF))
            ok = false;
        if (!ok) {
            out += kReplacement;
            ++i; // the next byte may begin a sequence of its own
            continue;
        }
        out.append(s, i, length);
        i += length;
    }
    return out;
}

} // namespace

std::string htmlEscape(const std::string &text) { return escape(text, Markup::kHtml); }

std::string xmlText(const std::string &text, bool attribute) {
    return escape(text, attribute ? Markup::kXmlAttribute : Markup::kXmlText);
}
