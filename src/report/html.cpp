// html.cpp - escaping for the pages.
#include "report/html.h"

#include <cmath>
#include <cstdio>

std::string scriptJson(const std::string &json) {
    std::string out;
    out.reserve(json.size() + 64);
    for (char c : json) {
        if (c == '<')
            out += "\\u003c";
        else
            out += c;
    }
    return out;
}

std::string svgNumber(double value) {
    if (!std::isfinite(value))
        value = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string s = text;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0)
        s.resize(s.size() - 2);
    return s == "-0" ? "0" : s;
}

std::string hrefPath(const std::string &path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : path) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (ch == '\\')
            out += '/';
        else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 std::string("-._~/").find(ch) != std::string::npos)
            out += ch;
        else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}
