// html.h - text made safe for the pages: HTML text and attributes
// (report/escape.h), JSON inside a <script> block, numbers as the charts
// draw them.
#ifndef ZORVANTIK_REPORT_HTML_H
#define ZORVANTIK_REPORT_HTML_H

#include "report/escape.h"

#include <string>

// JSON text for <script type="application/json">: every "<" becomes
// \u003c, which stays valid JSON with the same value and can never close
// the block or open a comment.
std::string scriptJson(const std::string &json);

// A coordinate or length for SVG: one decimal, no locale.
std::string svgNumber(double value);

// A path for an href: "/" separators, and the characters a URL reserves
// percent-encoded.
std::string hrefPath(const std::string &path);

#endif // ZORVANTIK_REPORT_HTML_H
