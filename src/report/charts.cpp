// charts.cpp - the SVG pictures of the pages.
//
// Every drawn mark (bar, box, line, point) holds a <title> as its first
// child: browsers show it as a tooltip without any script, and a reader
// of the file finds the figure beside the mark. Sizes are in px of a
// viewBox; the page's CSS lets a chart shrink with the window.
#include "report/charts.h"

#include "report/html.h"
#include "report/labels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

const char *kFont = "font-family=\"inherit\"";

std::string titled(const std::string &text) { return "<title>" + htmlEscape(text) + "</title>"; }

std::string svgOpen(double width, double height, const std::string &label) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" viewBox=\"0 0 " + svgNumber(width) + " " +
           svgNumber(height) + "\" width=\"" + svgNumber(width) + "\" height=\"" + svgNumber(height) +
           "\" role=\"group\" aria-label=\"" + htmlEscape(label) + "\" " + kFont + ">";
}

std::string text(double x, double y, const std::string &content, const char *anchor = "start",
                 const char *cls = "lbl") {
    return "<text x=\"" + svgNumber(x) + "\" y=\"" + svgNumber(y) + "\" text-anchor=\"" + anchor + "\" class=\"" +
           cls + "\">" + htmlEscape(content) + "</text>";
}

std::string rect(double x, double y, double w, double h, const std::string &fill, const std::string &title,
                 const std::string &extra = "") {
    return "<rect x=\"" + svgNumber(x) + "\" y=\"" + svgNumber(y) + "\" width=\"" + svgNumber(std::max(w, 0.0)) +
           "\" height=\"" + svgNumber(std::max(h, 0.0)) + "\" fill=\"" + fill + "\"" + extra + ">" + titled(title) +
           "</rect>";
}

std::string line(double x1, double y1, double x2, double y2, const std::string &stroke, double width,
                 const std::string &title = "", const std::string &extra = "") {
    std::string l = "<line x1=\"" + svgNumber(x1) + "\" y1=\"" + svgNumber(y1) + "\" x2=\"" + svgNumber(x2) +
                    "\" y2=\"" + svgNumber(y2) + "\" stroke=\"" + stroke + "\" stroke-width=\"" + svgNumber(width) +
                    "\"" + extra;
    // A line without a tooltip is a grid line or an axis, not a mark.
    return title.empty() ? l + " class=\"bg\"/>" : l + ">" + titled(title) + "</line>";
}

// A round step for about `count` grid lines up to `top`.
double niceStep(double top, int count) {
    if (!(top > 0))
        return 1;
    double raw = top / count;
    double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double fraction = raw / magnitude;
    double nice = fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 2.5 ? 2.5 : fraction <= 5 ? 5 : 10;
    return nice * magnitude;
}

std::string tickText(double value) { return humanNumber(value, 3); }

// Horizontal bars from zero, a grid under them and the scale below.
std::string horizontalBars(const std::vector<ChartBar> &bars, const std::string &unit, const std::string &label,
                           double labelWidth, bool counts = false) {
    const double width = 760, rowHeight = 26, barHeight = 18, top = 8, valueRoom = 96;
    const double plotWidth = width - labelWidth - valueRoom;
    double height = top + rowHeight * bars.size() + 34;
    double largest = 0;
    for (const ChartBar &b : bars)
        if (std::isfinite(b.value))
            largest = std::max(largest, b.value);
    std::vector<double> ticks = niceTicks(0, largest > 0 ? largest : 1, 5, counts);
    double scaleTop = ticks.back();
    double bottom = top + rowHeight * bars.size();

    std::string s = svgOpen(width, height, label);
    for (double v : ticks) {
        double x = labelWidth + v / scaleTop * plotWidth;
        s += line(x, top - 4, x, bottom, "#dfe3e8", 1);
        s += text(x, bottom + 16, tickText(v), "middle", "tick");
    }
    s += text(labelWidth + plotWidth, bottom + 30, unit, "end", "tick");
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const ChartBar &b = bars[i];
        double y = top + rowHeight * i + (rowHeight - barHeight) / 2;
        bool finite = std::isfinite(b.value);
        double w = finite ? std::max(0.0, b.value) / scaleTop * plotWidth : plotWidth;
        s += text(labelWidth - 8, y + barHeight - 4, b.label, "end");
        s += rect(labelWidth, y, std::max(w, 1.5), barHeight, b.colour, b.title,
                  finite ? " rx=\"2\"" : " rx=\"2\" fill-opacity=\"0.35\" stroke=\"" + b.colour +
                                             "\" stroke-dasharray=\"4 3\"");
        s += text(labelWidth + w + 6, y + barHeight - 4, b.valueText, "start", "val");
    }
    s += line(labelWidth, top - 4, labelWidth, bottom, "#8a94a0", 1);
    return s + "</svg>";
}

struct Point2 {
    double x, y;
};

// Where the boxes of the board stand: P1 at the top by the host, its two
// neighbours under it, and each one's two further processors below.
const Point2 kCpuAt[7] = {{320, 44}, {170, 140}, {470, 140}, {80, 250}, {390, 250}, {250, 250}, {560, 250}};
const double kBoxW = 96, kBoxH = 52;

// The point where the line from a box's centre towards `to` leaves it.
Point2 boxEdge(Point2 from, Point2 to) {
    double dx = to.x - from.x, dy = to.y - from.y;
    double sx = dx == 0 ? 1e9 : (kBoxW / 2) / std::fabs(dx);
    double sy = dy == 0 ? 1e9 : (kBoxH / 2) / std::fabs(dy);
    double s = std::min(sx, sy);
    return {from.x + dx * s, from.y + dy * s};
}

std::string hex(std::uint32_t value, int digits) {
    char t[16];
    std::snprintf(t, sizeof t, "0x%0*X", digits, static_cast<unsigned>(value));
    return t;
}

} // namespace

const char *statusColour(const std::string &status) {
    if (status == "passed")
        return "#2e7d32";
    if (status == "failed")
        return "#c62828";
    if (status == "interrupted")
        return "#ef6c00";
    if (status == "fatal")
        return "#8e0000";
    if (status == "aborted")
        return "#ad1457";
    if (status == "partial")
        return "#5c6bc0";
    if (status == "not applicable")
        return "#8d6e63";
    if (status == "skipped")
        return "#90a4ae";
    if (status == "not run")
        return "#cfd8dc";
    return "#9e9e9e";
}

double medianAbsoluteDeviation(const std::vector<double> &values, double middle) {
    std::vector<double> deviations;
    deviations.reserve(values.size());
    for (double v : values)
        deviations.push_back(std::fabs(v - middle));
    return median(deviations);
}

// 1.4826 MAD estimates the standard deviation of normal data. With no
// spread at all (MAD 0) any other value stands out.
bool isOutlier(double value, double middle, double mad) {
    double distance = std::fabs(value - middle);
    if (mad == 0)
        return distance > 1e-12 * std::max(1.0, std::fabs(middle));
    return distance > kOutlierMads * 1.4826 * mad;
}

std::string speedChart(const std::vector<ChartBar> &bars, const std::string &unit) {
    return horizontalBars(bars, unit, "Скорости обмена", 250);
}

std::string fftChart(const std::vector<ChartBar> &bars) { return horizontalBars(bars, "такты", "Такты БПФ", 80); }

std::string paretoChart(const std::vector<ChartBar> &bars) {
    return horizontalBars(bars, "модулей", "Шаги, на которых не прошли модули", 250, true);
}

std::string outcomeChart(const std::vector<ChartBar> &bars) {
    return horizontalBars(bars, "прогонов", "Итоги прогонов", 200, true);
}

std::string boardChart(const std::vector<BoardCpu> &cpus, const std::vector<BoardLink> &links,
                       const std::vector<BoardHostPart> &host) {
    const double width = 660, height = 380;
    std::string s = svgOpen(width, height, "Процессоры модуля и линки между ними");
    s += "<rect x=\"4\" y=\"4\" width=\"652\" height=\"322\" rx=\"10\" fill=\"#f7f9fa\" stroke=\"#b0bec5\">" +
         titled("Модуль: процессоры P1..P7 и их линки") + "</rect>";
    s += text(16, 24, "HOST / PCI", "start", "tick");
    s += line(host.empty() ? 40 : 259, 47, kCpuAt[0].x - kBoxW / 2, kCpuAt[0].y, "#b0bec5", 2, "", " stroke-dasharray=\"2 3\"");
    // The host side's parts, each coloured by what tested it.
    for (std::size_t i = 0; i < host.size() && i < 5; ++i) {
        const BoardHostPart &h = host[i];
        double x = 12 + i * 50.0, y = 32;
        const char *colour = statusColour(h.status.empty() ? "none" : h.status);
        s += rect(x, y, 47, 30, "#ffffff", h.title, std::string(" rx=\"5\" stroke=\"") + colour + "\" stroke-width=\"3\"");
        s += rect(x + 5, y + 24, 37, 3, colour, h.title);
        s += text(x + 23.5, y + 18, h.name, "middle", "part");
    }
    for (const BoardLink &l : links) {
        if (l.a < 0 || l.a > 6 || l.b < 0 || l.b > 6)
            continue;
        const char *colour = statusColour(l.status);
        if (l.frontPanel) {
            Point2 a = kCpuAt[l.a], b = kCpuAt[l.b];
            double y0 = a.y + kBoxH / 2;
            std::string d = "M" + svgNumber(a.x) + " " + svgNumber(y0) + " C" + svgNumber(a.x) + " 350 " +
                            svgNumber(b.x) + " 350 " + svgNumber(b.x) + " " + svgNumber(y0);
            s += "<path d=\"" + d + "\" fill=\"none\" stroke=\"" + colour +
                 "\" stroke-width=\"5\" stroke-dasharray=\"9 5\" stroke-linecap=\"round\">" + titled(l.title) +
                 "</path>";
            s += text((a.x + b.x) / 2, 372, "кабель на фронт-панели", "middle", "tick");
            continue;
        }
        Point2 a = boxEdge(kCpuAt[l.a], kCpuAt[l.b]), b = boxEdge(kCpuAt[l.b], kCpuAt[l.a]);
        s += line(a.x, a.y, b.x, b.y, colour, 5, l.title, " stroke-linecap=\"round\"");
    }
    for (std::size_t i = 0; i < cpus.size() && i < 7; ++i) {
        const BoardCpu &c = cpus[i];
        Point2 at = kCpuAt[i];
        std::string colour = c.present ? statusColour(c.status.empty() ? "none" : c.status) : "#b0bec5";
        std::string extra = " rx=\"8\" stroke=\"" + colour + "\" stroke-width=\"3\"" +
                            (c.present ? "" : " stroke-dasharray=\"5 4\"");
        s += rect(at.x - kBoxW / 2, at.y - kBoxH / 2, kBoxW, kBoxH, c.present ? "#ffffff" : "#eceff1", c.title, extra);
        s += rect(at.x - kBoxW / 2 + 6, at.y - kBoxH / 2 + 6, 8, kBoxH - 12, colour, c.title, " rx=\"2\"");
        s += text(at.x + 4, at.y - 2, c.name, "middle", "cpu");
        s += text(at.x + 4, at.y + 15, c.note, "middle", "tick");
    }
    return s + "</svg>";
}

void decodeAddress(Mismatch &m) {
    m.bank = m.chip = -1;
    m.offset = 0;
    const std::uint32_t banks[3] = {0x00000, 0x80000, 0x100000};
    for (int b = 0; b < 3; ++b)
        if (m.where >= banks[b] && m.where < banks[b] + 0x10000u) {
            m.bank = b;
            m.offset = m.where - banks[b];
            return;
        }
    if (m.where >= 0x10000000u && m.where < 0x14000000u) {
        m.chip = static_cast<int>((m.where - 0x10000000u) >> 24);
        m.offset = (m.where - 0x10000000u) & 0x00FFFFFFu;
    }
}

SuspectedCause suspectCause(const std::vector<Mismatch> &mismatches) {
    SuspectedCause c;
    if (mismatches.empty()) {
        c.words = "несовпадений нет";
        return c;
    }
    std::map<std::uint32_t, int> addresses;
    std::uint32_t common = 0xFFFFFFFFu, readOnes = 0xFFFFFFFFu, readZeros = 0xFFFFFFFFu;
    for (const Mismatch &m : mismatches) {
        addresses[m.where]++;
        common &= m.written ^ m.read;
        readOnes &= m.read;
        readZeros &= ~m.read;
    }
    std::uint32_t stuck = common & (readOnes | readZeros);
    if (addresses.size() >= 2 && stuck != 0) {
        c.kind = SuspectedCause::dataLine;
        std::string list;
        for (int bit = 31; bit >= 0; --bit)
            if ((stuck >> bit) & 1) {
                int value = (readOnes >> bit) & 1 ? 1 : 0;
                c.dataBits.push_back({bit, value});
                list += std::string(list.empty() ? "" : ", ") + "D" + std::to_string(bit) + " в " +
                        std::to_string(value);
            }
        c.words = c.dataBits.size() == 1
                      ? "залип разряд данных D" + std::to_string(c.dataBits[0].first) + " в " +
                            std::to_string(c.dataBits[0].second) + ": он отличается во всех " +
                            std::to_string(mismatches.size()) + " словах и всегда читается одинаково"
                      : "залипли разряды данных " + list + ": они отличаются во всех словах и всегда читаются одинаково";
        return c;
    }
    // An address line k not decoded: words at offsets that differ only in
    // bit k share one cell, so what the test finds wrong are the first
    // words of its blocks (offsets aligned to 16 words or more) on one side
    // of line k, spread over the lines above it. Line k is then the
    // highest bit all offsets agree on below a bit they differ in. A lone
    // mismatch at offset 2^k is the first word the aliasing shows.
    std::uint32_t agreeOnes = 0xFFFFFFFFu, agreeZeros = 0xFFFFFFFFu, anyBits = 0;
    bool placed = true;
    std::map<std::uint32_t, int> offsets;
    for (const Mismatch &m : mismatches) {
        agreeOnes &= m.offset;
        agreeZeros &= ~m.offset;
        anyBits |= m.offset;
        offsets[m.offset]++;
        placed = placed && (m.bank >= 0 || m.chip >= 0);
    }
    std::uint32_t agree = agreeOnes | agreeZeros, varying = ~agree;
    int line = -1;
    if (placed && offsets.size() >= 2 && (anyBits & 0xF) == 0 && varying != 0)
        for (int bit = 30; bit >= 4; --bit)
            if (((agree >> bit) & 1) && (varying >> (bit + 1)) != 0 && (anyBits >> bit) < (1u << 24)) {
                line = bit;
                break;
            }
    bool loneBit = common != 0 && (common & (common - 1)) == 0;
    std::uint32_t first = offsets.empty() ? 0 : offsets.begin()->first;
    if (line < 0 && placed && offsets.size() == 1 && first >= 16 && (first & (first - 1)) == 0 && !loneBit)
        for (int bit = 4; bit < 32; ++bit)
            if (first == (1u << bit))
                line = bit;
    if (line >= 0) {
        c.kind = SuspectedCause::addressLine;
        c.addressBit = line;
        c.words = "похоже на адресную линию A" + std::to_string(line) + ": ошибочные слова — начала блоков по одну " +
                  "сторону линии " + std::to_string(line) + ", и каждое читает данные адреса, отличного от него " +
                  "только разрядом " + std::to_string(line);
        return c;
    }
    if (addresses.size() == 1) {
        c.kind = SuspectedCause::oneWord;
        char at[16];
        std::snprintf(at, sizeof at, "0x%08X", static_cast<unsigned>(mismatches.front().where));
        c.words = std::string("одно слово по адресу ") + at + ": остальные адреса читаются верно";
        return c;
    }
    c.kind = SuspectedCause::unclear;
    c.words = "ошибки разбросаны по " + std::to_string(addresses.size()) +
              " адресам без общего разряда данных или адреса: причина не ясна";
    return c;
}

std::string memoryMapChart(const std::vector<Mismatch> &mismatches, const std::vector<double> &chipWords) {
    // A band per bank or chip that holds mismatches, in address order;
    // whatever lies outside the maps as one range rounded to 64K words.
    struct Range {
        int bank, chip;
        std::uint64_t first, size;
        std::string name;
        int count = 0;
    };
    std::map<std::pair<int, int>, Range> found;
    std::uint64_t outLo = UINT64_MAX, outHi = 0;
    for (const Mismatch &m : mismatches) {
        if (m.bank < 0 && m.chip < 0) {
            outLo = std::min<std::uint64_t>(outLo, m.where);
            outHi = std::max<std::uint64_t>(outHi, m.where);
            continue;
        }
        auto key = std::make_pair(m.chip >= 0 ? 1 : 0, m.chip >= 0 ? m.chip : m.bank);
        auto it = found.find(key);
        if (it == found.end()) {
            Range r{m.bank, m.chip, 0, 0x10000, "", 0};
            if (m.chip >= 0) {
                std::uint64_t size = 0;
                if (static_cast<std::size_t>(m.chip) < chipWords.size() && chipWords[m.chip] > 0 &&
                    chipWords[m.chip] < 4294967296.0)
                    size = static_cast<std::uint64_t>(chipWords[m.chip]);
                r.size = size;
                r.name = "динамическая память, микросхема " + std::to_string(m.chip);
            } else {
                r.name = "внутренняя память, банк " + std::to_string(m.bank);
            }
            it = found.emplace(key, r).first;
        }
        it->second.count++;
        // A chip of unknown size (or an offset beyond it): up to the next
        // power of two over the highest offset, at least 64K words.
        if (m.chip >= 0 && m.offset >= it->second.size) {
            std::uint64_t size = 0x10000;
            while (size <= m.offset)
                size <<= 1;
            it->second.size = size;
        }
    }
    std::vector<Range> ranges;
    for (auto &f : found)
        ranges.push_back(f.second);
    if (outLo != UINT64_MAX) {
        Range r{-1, -1, outLo & ~std::uint64_t(0xFFFF), ((outHi | 0xFFFF) + 1) - (outLo & ~std::uint64_t(0xFFFF)),
                "другие адреса", 0};
        for (const Mismatch &m : mismatches)
            r.count += m.bank < 0 && m.chip < 0;
        ranges.push_back(r);
    }
    const double width = 760, left = 10, top = 30, band = 30, rowH = 86;
    std::string s = svgOpen(width, 10 + rowH * ranges.size(), "Где лежат ошибки в памяти: по банкам и микросхемам");
    // One tick per address; several mismatches at one address share it.
    std::map<std::uint32_t, std::vector<const Mismatch *>> byAddress;
    for (const Mismatch &m : mismatches)
        byAddress[m.where].push_back(&m);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const Range &r = ranges[i];
        double y = top + rowH * i, each = width - 2 * left;
        bool outside = r.bank < 0 && r.chip < 0;
        std::string first = outside ? hex(static_cast<std::uint32_t>(r.first), 8) : hex(0, 5);
        std::string last = outside ? hex(static_cast<std::uint32_t>(r.first + r.size - 1), 8)
                                   : hex(static_cast<std::uint32_t>(r.size - 1), r.size > 0x100000 ? 7 : 5);
        std::string count = counted(r.count, "ошибка", "ошибки", "ошибок");
        s += rect(left, y, each, band, "#eef1f4",
                  r.name + (outside ? " " : ", смещения ") + first + "–" + last + ": " + count,
                  " stroke=\"#b0bec5\" rx=\"3\"");
        s += text(left, y - 8, r.name + " · " + count, "start", "lbl");
        s += text(left, y + band + 16, first, "start", "tick");
        s += text(left + each, y + band + 16, last, "end", "tick");
        for (const auto &entry : byAddress) {
            const Mismatch &m = *entry.second.front();
            bool here = outside ? (m.bank < 0 && m.chip < 0) : (m.bank == r.bank && m.chip == r.chip);
            if (!here)
                continue;
            double at = outside ? double(m.where - r.first) : double(m.offset);
            double x = left + 1 + (each - 2) * at / double(r.size);
            std::string tip;
            for (std::size_t k = 0; k < entry.second.size() && k < 6; ++k)
                tip += (k ? "\n" : "") + entry.second[k]->shown;
            if (entry.second.size() > 6)
                tip += "\n… всего " + std::to_string(entry.second.size());
            s += line(x, y + 2, x, y + band - 2, "#c62828", 2.5, tip);
        }
    }
    return s + "</svg>";
}

std::string bitChart(const std::vector<Mismatch> &mismatches) {
    int ones[32] = {}, zeros[32] = {};
    int most = 0;
    for (const Mismatch &m : mismatches) {
        std::uint32_t differ = m.written ^ m.read;
        for (int bit = 0; bit < 32; ++bit)
            if ((differ >> bit) & 1) {
                ((m.read >> bit) & 1 ? ones : zeros)[bit]++;
                most = std::max(most, ones[bit] + zeros[bit]);
            }
    }
    const double width = 760, left = 44, top = 24, plotH = 120, colW = (width - left - 10) / 32;
    std::string s = svgOpen(width, top + plotH + 58, "Биты данных, прочитанные не так, как записаны");
    double scale = most > 0 ? plotH / most : 0;
    s += line(left, top + plotH, width - 10, top + plotH, "#8a94a0", 1);
    s += text(left - 6, top + 10, std::to_string(most), "end", "tick");
    s += text(left - 6, top + plotH, "0", "end", "tick");
    for (int col = 0; col < 32; ++col) {
        int bit = 31 - col; // the most significant bit on the left, as the word is written in hex
        double x = left + col * colW;
        std::string name = "бит " + std::to_string(bit);
        s += rect(x, top, colW, plotH, "transparent",
                  name + ": ошибок " + std::to_string(ones[bit] + zeros[bit]) + " (читается 1 вместо 0: " +
                      std::to_string(ones[bit]) + ", читается 0 вместо 1: " + std::to_string(zeros[bit]) + ")");
        // A few next to many stay in sight: no bar under 3 px, and the
        // count written over the column.
        double h1 = ones[bit] > 0 ? std::max(3.0, ones[bit] * scale) : 0;
        double h0 = zeros[bit] > 0 ? std::max(3.0, zeros[bit] * scale) : 0;
        if (h1 + h0 > plotH) {
            double shrink = plotH / (h1 + h0);
            h1 *= shrink;
            h0 *= shrink;
        }
        if (ones[bit] + zeros[bit] > 0) {
            // Three digits and more are squeezed into the column's width.
            std::string count = std::to_string(ones[bit] + zeros[bit]);
            std::string fit = count.size() < 3 ? "" : "\" textLength=\"" + svgNumber(colW - 3) +
                                                         "\" lengthAdjust=\"spacingAndGlyphs";
            s += "<text x=\"" + svgNumber(x + colW / 2) + "\" y=\"" + svgNumber(top + plotH - h1 - h0 - 3) +
                 "\" text-anchor=\"middle\" class=\"count" + fit + "\">" + count + "</text>";
        }
        if (ones[bit] > 0)
            s += rect(x + 2, top + plotH - h1, colW - 4, h1, "#c62828",
                      name + ": читается 1 вместо 0 — " + std::to_string(ones[bit]));
        if (zeros[bit] > 0)
            s += rect(x + 2, top + plotH - h1 - h0, colW - 4, h0, "#1565c0",
                      name + ": читается 0 вместо 1 — " + std::to_string(zeros[bit]));
        s += text(x + colW / 2, top + plotH + 14, std::to_string(bit), "middle", "tick");
        if (bit % 8 == 7 && bit != 31)
            s += line(x, top, x, top + plotH + 4, "#dfe3e8", 1);
    }
    double ly = top + plotH + 40;
    s += rect(left, ly - 10, 12, 12, "#c62828", "читается 1 вместо 0");
    s += text(left + 18, ly, "читается 1 вместо записанного 0", "start", "tick");
    s += rect(left + 280, ly - 10, 12, 12, "#1565c0", "читается 0 вместо 1");
    s += text(left + 298, ly, "читается 0 вместо записанной 1", "start", "tick");
    return s + "</svg>";
}

std::string distributionChart(const std::vector<Distribution> &rows, const std::string &unit) {
    const double width = 760, labelWidth = 230, right = 20, rowH = 26, top = 8;
    const double plotW = width - labelWidth - right;
    const std::size_t kAllPoints = 80; // more than this: the box and the outliers only
    double lo = INFINITY, hi = -INFINITY;
    for (const Distribution &r : rows)
        for (const Distribution::Point &p : r.points)
            if (std::isfinite(p.value)) {
                lo = std::min(lo, p.value);
                hi = std::max(hi, p.value);
            }
    if (!std::isfinite(lo)) {
        lo = 0;
        hi = 1;
    }
    double pad = (hi - lo) * 0.05;
    if (pad == 0)
        pad = std::max(std::fabs(hi) * 0.05, 1.0);
    lo -= pad;
    hi += pad;
    auto xOf = [&](double v) { return labelWidth + (v - lo) / (hi - lo) * plotW; };
    double bottom = top + rowH * rows.size();
    std::string s = svgOpen(width, bottom + 34, "Распределение измерений по модулям");
    for (std::size_t i = 0; i < rows.size(); i += 2)
        s += "<rect x=\"" + svgNumber(labelWidth) + "\" y=\"" + svgNumber(top + rowH * i) + "\" width=\"" +
             svgNumber(plotW) + "\" height=\"" + svgNumber(rowH) + "\" fill=\"#f7f9fa\" class=\"bg\"/>";
    for (double v : niceTicks(lo, hi, 6)) {
        if (v < lo || v > hi)
            continue;
        s += line(xOf(v), top - 4, xOf(v), bottom, "#e6e9ed", 1);
        s += text(xOf(v), bottom + 16, tickText(v), "middle", "tick");
    }
    s += text(width - right, bottom + 30, unit, "end", "tick");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Distribution &r = rows[i];
        double y = top + rowH * i, mid = y + rowH / 2;
        std::vector<double> values;
        for (const Distribution::Point &p : r.points)
            if (std::isfinite(p.value))
                values.push_back(p.value);
        s += text(labelWidth - 8, mid + 4, r.label, "end");
        if (values.empty())
            continue;
        std::sort(values.begin(), values.end());
        double m = median(values);
        double mad = medianAbsoluteDeviation(values, m);
        double q1 = quantile(values, 0.25), q3 = quantile(values, 0.75);
        double wlo = m, whi = m;
        for (double v : values)
            if (!isOutlier(v, m, mad)) {
                wlo = std::min(wlo, v);
                whi = std::max(whi, v);
            }
        std::string n = std::to_string(values.size());
        s += line(xOf(wlo), mid, xOf(whi), mid, "#607d8b", 1.5,
                  r.label + ": без выбросов от " + tickText(wlo) + " до " + tickText(whi));
        s += rect(xOf(q1), mid - 7, std::max(xOf(q3) - xOf(q1), 1.5), 14, "#bbdefb",
                  r.label + ": квартили " + tickText(q1) + " – " + tickText(q3) + ", медиана " + tickText(m) +
                      ", модулей " + n,
                  " stroke=\"#1565c0\"");
        s += line(xOf(m), mid - 9, xOf(m), mid + 9, "#0d47a1", 2.5, r.label + ": медиана " + tickText(m));
        bool all = r.points.size() <= kAllPoints;
        for (std::size_t k = 0; k < r.points.size(); ++k) {
            const Distribution::Point &p = r.points[k];
            if (!std::isfinite(p.value))
                continue;
            bool outlier = isOutlier(p.value, m, mad);
            if (!all && !outlier)
                continue;
            double jitter = all && !outlier ? (double(k * 7 % 9) - 4) * 1.2 : 0;
            s += "<circle cx=\"" + svgNumber(xOf(p.value)) + "\" cy=\"" + svgNumber(mid + jitter) + "\" r=\"" +
                 (outlier ? "4.5\" fill=\"#c62828\" stroke=\"#fff\"" : "2.5\" fill=\"#37474f\" fill-opacity=\"0.6\"") +
                 ">" + titled((p.title.empty() && r.titleOf ? r.titleOf(k) : p.title) + (outlier ? " — выброс" : "")) +
                 "</circle>";
        }
    }
    return s + "</svg>";
}

std::string historyChart(const std::vector<DayRuns> &days) {
    const double width = 760, left = 40, top = 10, plotH = 110;
    int most = 1;
    for (const DayRuns &d : days)
        most = std::max(most, d.passed + d.other);
    std::vector<double> ticks = niceTicks(0, most, 4, true);
    double scaleTop = ticks.back();
    double colW = days.empty() ? 0 : std::min(28.0, (width - left - 10) / days.size());
    std::string s = svgOpen(width, top + plotH + 40, "Прогоны по дням");
    for (double v : ticks) {
        double y = top + plotH - plotH * v / scaleTop;
        s += line(left, y, width - 10, y, v == 0 ? "#8a94a0" : "#e6e9ed", 1);
        s += text(left - 6, y + 4, tickText(v), "end", "tick");
    }
    // "12-08" in 11 px type is about 34 px wide.
    std::size_t labelEvery = labelStride(colW, 40);
    for (std::size_t i = 0; i < days.size(); ++i) {
        const DayRuns &d = days[i];
        double x = left + i * colW, hp = plotH * d.passed / scaleTop, ho = plotH * d.other / scaleTop;
        std::string tip = d.day + ": прошли " + std::to_string(d.passed) + ", не прошли " + std::to_string(d.other);
        if (d.passed > 0)
            s += rect(x + 1, top + plotH - hp, colW - 2, hp, statusColour("passed"), tip);
        if (d.other > 0)
            s += rect(x + 1, top + plotH - hp - ho, colW - 2, ho, statusColour("failed"), tip);
        if (i % labelEvery == 0)
            s += text(x + colW / 2, top + plotH + 16, d.day.substr(5), "middle", "tick");
    }
    return s + "</svg>";
}

std::vector<double> niceTicks(double lo, double hi, int count, bool whole) {
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return {0, 1};
    if (hi < lo)
        std::swap(lo, hi);
    if (hi == lo && lo == 0) {
        hi = 1; // nothing yet: a scale from 0 to 1
    } else if (hi == lo) {
        double pad = std::fabs(lo) * 0.05;
        lo -= pad;
        hi += pad;
    }
    double step = niceStep(hi - lo, std::max(1, count));
    if (whole)
        step = std::max(1.0, std::ceil(step));
    double first = std::floor(lo / step) * step, last = std::ceil(hi / step) * step;
    std::vector<double> ticks;
    // Counted, so that a range narrower than a double's precision at its
    // magnitude still ends.
    for (int k = 0; k <= 4 * std::max(1, count) + 2; ++k) {
        double v = first + k * step;
        if (std::fabs(v) < step * 1e-9)
            v = 0;
        ticks.push_back(v);
        if (v >= last - step * 1e-9)
            break;
    }
    if (ticks.size() < 2)
        ticks.push_back(first + step);
    return ticks;
}

std::string humanNumber(double value, int decimals) {
    if (std::isnan(value))
        return "—";
    if (std::isinf(value))
        return value > 0 ? "∞" : "−∞";
    if (std::fabs(value) >= 1e15) { // beyond whole digits a person counts: powers of ten
        char t[32];
        std::snprintf(t, sizeof t, "%.2e", value);
        std::string e = t;
        std::size_t at = e.find('e');
        int exponent = std::atoi(e.c_str() + at + 1);
        std::string mantissa = e.substr(0, at);
        std::replace(mantissa.begin(), mantissa.end(), '.', ',');
        return mantissa + "·10^" + std::to_string(exponent);
    }
    char t[64];
    std::snprintf(t, sizeof t, "%.*f", std::max(0, std::min(decimals, 9)), value);
    std::string s = t;
    std::size_t point = s.find('.');
    std::string fraction;
    if (point != std::string::npos) {
        fraction = s.substr(point + 1);
        s.resize(point);
        while (!fraction.empty() && fraction.back() == '0')
            fraction.pop_back();
    }
    bool negative = !s.empty() && s[0] == '-';
    std::string digits = negative ? s.substr(1) : s;
    if (digits == "0" && fraction.empty())
        negative = false; // "-0" after rounding
    if (digits.size() > 4)
        for (std::size_t at = digits.size() - 3; at > 0; at = at > 3 ? at - 3 : 0)
            digits.insert(at, "\u202F");
    return (negative ? "−" : "") + digits + (fraction.empty() ? "" : "," + fraction);
}

std::size_t labelStride(double slotWidth, double labelWidth) {
    if (!(slotWidth > 0))
        return 1;
    return std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(labelWidth / slotWidth)));
}

std::string trendChart(const std::vector<std::string> &days, const std::vector<TrendRow> &rows,
                       const std::string &unit) {
    const double width = 760, labelWidth = 230, right = 70, rowH = 34, top = 6;
    const double plotW = width - labelWidth - right;
    double bottom = top + rowH * rows.size();
    std::string s = svgOpen(width, bottom + 34, "Медианы скоростей по дням");
    double slot = days.size() > 1 ? plotW / (days.size() - 1) : plotW;
    auto xOf = [&](std::size_t day) { return labelWidth + (days.size() > 1 ? slot * day : plotW / 2); };
    std::size_t labelEvery = labelStride(slot, 40);
    for (std::size_t d = 0; d < days.size(); ++d) {
        if (d % labelEvery != 0)
            continue;
        s += line(xOf(d), top, xOf(d), bottom, "#eef1f4", 1);
        s += text(xOf(d), bottom + 16, days[d].size() >= 10 ? days[d].substr(5) : days[d], "middle", "tick");
    }
    s += text(width - 4, bottom + 30, "медиана за день, " + unit, "end", "tick");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TrendRow &r = rows[i];
        double y0 = top + rowH * i;
        if (i % 2 == 0)
            s += "<rect x=\"" + svgNumber(labelWidth) + "\" y=\"" + svgNumber(y0) + "\" width=\"" + svgNumber(plotW) +
                 "\" height=\"" + svgNumber(rowH) + "\" fill=\"#f7f9fa\" class=\"bg\"/>";
        s += text(labelWidth - 8, y0 + rowH / 2 + 4, r.label, "end");
        double lo = INFINITY, hi = -INFINITY;
        for (const TrendRow::Point &p : r.points)
            if (std::isfinite(p.value)) {
                lo = std::min(lo, p.value);
                hi = std::max(hi, p.value);
            }
        if (!std::isfinite(lo))
            continue;
        auto yOf = [&](double v) {
            return hi > lo ? y0 + rowH - 6 - (v - lo) / (hi - lo) * (rowH - 12) : y0 + rowH / 2;
        };
        std::string points;
        for (const TrendRow::Point &p : r.points)
            if (std::isfinite(p.value))
                points += svgNumber(xOf(p.day)) + "," + svgNumber(yOf(p.value)) + " ";
        s += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"#1565c0\" stroke-width=\"1.5\" class=\"bg\"/>";
        for (const TrendRow::Point &p : r.points)
            if (std::isfinite(p.value))
                s += "<circle cx=\"" + svgNumber(xOf(p.day)) + "\" cy=\"" + svgNumber(yOf(p.value)) +
                     "\" r=\"3\" fill=\"#0d47a1\">" + titled(p.title) + "</circle>";
        s += text(width - right + 6, y0 + 13, tickText(hi), "start", "tick");
        if (hi > lo)
            s += text(width - right + 6, y0 + rowH - 4, tickText(lo), "start", "tick");
    }
    return s + "</svg>";
}
