// charts.h - the pictures of the pages, as inline SVG. One function per
// chart; each takes the figures already chosen from the records and the
// text every mark's tooltip (<title>) shows, and returns an <svg> element.
// Nothing here reads a record.
#ifndef ZORVANTIK_REPORT_CHARTS_H
#define ZORVANTIK_REPORT_CHARTS_H

#include "report/stats.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// The colour of a status or an outcome: "passed", "failed", "interrupted",
// "partial", "skipped", "not applicable", "not run", "fatal", "aborted";
// grey for anything else. Only "passed" is green.
const char *statusColour(const std::string &status);

// One bar: its label beside it, its length (not finite: drawn full and
// hatched), the value written at its end, its tooltip and colour.
struct ChartBar {
    std::string label;
    double value;
    std::string valueText;
    std::string title;
    std::string colour;
};

// The exchange rates and the stream rate, on one scale in `unit`.
std::string speedChart(const std::vector<ChartBar> &bars, const std::string &unit);
// FFT cycles, a bar per processor.
std::string fftChart(const std::vector<ChartBar> &bars);
// The steps that fail most boards, most first.
std::string paretoChart(const std::vector<ChartBar> &bars);
// Runs per outcome.
std::string outcomeChart(const std::vector<ChartBar> &bars);

// The board: the seven processors as boxes and the links between them.
struct BoardCpu {
    std::string name;   // "P1" .. "P7"
    bool present;       // fitted, as identification found
    std::string status; // worst of its own steps, "" when it had none
    std::string note;   // a word under its name
    std::string title;
};
struct BoardLink {
    int a, b;           // processor indexes 0..6
    bool frontPanel;    // the cable of the external links test
    std::string status; // of the step that tests it
    std::string title;
};
// The host side of the board: host port, DPRAM, FIFO, interrupts, DMA.
struct BoardHostPart {
    std::string name;   // as drawn: "порт", "DPRAM" ...
    std::string status; // "" when no step tested it
    std::string title;
};
std::string boardChart(const std::vector<BoardCpu> &cpus, const std::vector<BoardLink> &links,
                       const std::vector<BoardHostPart> &host = {});

// A mismatch of a memory test: the word address, written and read words,
// and where it lies: bank 0..2 of internal memory (64K words each, at
// 0x00000, 0x80000, 0x100000) or chip 0..3 of dynamic memory (at
// 0x10000000 + chip * 0x01000000), and the word's offset in it.
struct Mismatch {
    std::uint32_t where = 0, written = 0, read = 0;
    std::string shown; // as the record holds it
    int bank = -1, chip = -1; // both -1: outside the maps
    std::uint32_t offset = 0;
};
// Fills bank or chip and offset from the address.
void decodeAddress(Mismatch &m);

// What a set of mismatches of one processor's memory most likely shows.
struct SuspectedCause {
    enum Kind { none, oneWord, dataLine, addressLine, unclear } kind = none;
    std::vector<std::pair<int, int>> dataBits; // dataLine: (bit, the value it reads)
    int addressBit = -1;                       // addressLine
    std::string words;                         // the cause in Russian, one sentence
};
// In this order: no mismatch; a data line: two or more addresses, and some
// bit differs in every word and always reads the same value; an address
// line A<k>: two or more offsets, all multiples of 16 words, that agree on
// bit k and differ in some bit above it (k the highest such bit), or a
// lone offset 2^k with more than one bit wrong; one word: a single
// address; else unclear.
SuspectedCause suspectCause(const std::vector<Mismatch> &mismatches);

// Where the mismatches lie: a band per bank or chip that holds any (a
// chip's size from `chipWords` when known), ticks at their offsets.
std::string memoryMapChart(const std::vector<Mismatch> &mismatches, const std::vector<double> &chipWords = {});
// Which data bits differ (written XOR read), split into bits read as 1
// that were written 0 and the other way round; every count written over
// its column, and a column of a few drawn tall enough to see.
std::string bitChart(const std::vector<Mismatch> &mismatches);

// A measurement over many boards: each point its value and tooltip.
struct Distribution {
    std::string label;
    struct Point {
        double value;
        std::string title;
    };
    std::vector<Point> points;
    // The title of point k when its own is empty, made only for the points
    // drawn: a row of a large fleet has thousands, and draws a few.
    std::function<std::string(std::size_t k)> titleOf;
};
// Box plots on one scale, a row per measurement, outliers marked: a value
// whose distance from the median exceeds kOutlierMads scaled MADs.
constexpr double kOutlierMads = 3.5;
bool isOutlier(double value, double median, double mad);
std::string distributionChart(const std::vector<Distribution> &rows, const std::string &unit);

// Runs per day: those that passed and the others.
struct DayRuns {
    std::string day; // "2026-12-08"
    int passed, other;
};
std::string historyChart(const std::vector<DayRuns> &days);

// The ticks of an axis over [lo, hi]: about `count` multiples of a round
// step (1, 2, 2.5 or 5 times a power of ten), the first at or below lo
// and the last at or above hi. Counts (`whole`) take whole steps only.
std::vector<double> niceTicks(double lo, double hi, int count, bool whole = false);
// A number as people read it: a decimal comma, groups of three digits
// parted by a narrow no-break space from 10 000 up, no exponent, at most
// `decimals` decimals with trailing zeros dropped.
std::string humanNumber(double value, int decimals = 2);
// Every how many slots of `slotWidth` a label `labelWidth` wide can be
// written without touching its neighbour.
std::size_t labelStride(double slotWidth, double labelWidth);

// A rate over the days of the runs: the median of each day's runs.
struct TrendRow {
    std::string label;
    struct Point {
        std::size_t day; // index into the days
        double value;
        std::string title;
    };
    std::vector<Point> points;
};
// A strip per row on a shared axis of days ("2026-12-08"), each on its own
// scale between its least and greatest median.
std::string trendChart(const std::vector<std::string> &days, const std::vector<TrendRow> &rows,
                       const std::string &unit);

// The median absolute deviation of `values` about their median (stats.h).
double medianAbsoluteDeviation(const std::vector<double> &values, double median);

#endif // ZORVANTIK_REPORT_CHARTS_H
