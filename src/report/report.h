// report.h - pages made from result records (zt_report).
//
// A run's page is made from the text of its JSON record alone, so the
// program writes it beside the record at the end of a run and
// zorvantik-report can make it again from any stored record. The fleet
// page, its summary and the CSV are made from many records, each read by
// a streaming parse that keeps only what the summary needs.
#ifndef ZORVANTIK_REPORT_REPORT_H
#define ZORVANTIK_REPORT_REPORT_H

#include "report/record_schema.h"

#include <cstdint>
#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// The newest record layout the pages know: the one this program writes.
// A record of a newer layout comes from a newer program and is not read.
constexpr int kReportSchema = kRecordSchema;

// The page of one run (UTF-8 HTML, the record embedded). False, with the
// reason, when the text is not a record of a layout this program knows.
bool renderRunPage(const std::string &recordJson, std::string &html, std::string &why);

// ---- The fleet ----

// A measurement the fleet follows: a step's key, its processor ("" for a
// board-wide step) and the measurement's name, as the record names them.
struct FleetMeasure {
    std::string key, processor, name, unit;
    std::string column; // "HOST.hostPortWrite", "FFTTIME.P3.cycles"
};
const std::vector<FleetMeasure> &fleetMeasures();
// "KEY|P3|name" (a board-wide step's processor empty) -> its index in
// fleetMeasures().
const std::unordered_map<std::string, std::size_t> &fleetMeasureIndex();
// "2026-12-08T14:09:36+01:00" (or without its offset, taken as UTC) as
// seconds since 1970 UTC; false when it is not such a time.
bool recordInstant(const std::string &iso, long long &seconds);

// A step of a run as the fleet keeps it: its key, its processor ("" for
// a board-wide step) and its status as the record names it.
struct FleetStep {
    std::string key, processor, status;
};

// What the fleet takes from one record: a plain copy of the fields the
// summary, the page and the CSV are made from, so that the same figures
// come from any store that keeps these fields.
struct FleetRun {
    std::string runId;   // schema 3's runId; "" in older records
    std::string digest;  // recordDigest of the record's bytes (records without a runId), else ""
    std::string origin;  // "virtual", "replay", "adapter"; "" when the record does not say
    std::string serial;  // board.serialShown; "" when never identified
    std::string start;   // as the record holds it
    long long startSeconds = 0; // the same instant in seconds since 1970 (UTC)
    std::string outcome;
    int coverageComplete = -1; // coverage.complete: 1, 0, or -1 when the record does not say
    long long errorCount = 0, findingCount = 0;
    std::vector<FleetStep> steps;         // every step, in run order
    std::vector<std::string> failedSteps; // "INTLINKS", "memory P3": the steps that failed, in run order
    std::vector<std::pair<std::string, std::string>> failedKeys; // the same as (key, processor)
    std::vector<double> values;     // per fleetMeasures(); NaN when the run has none
    std::vector<std::string> shown; // the same as printed
    long long seq = 0; // the run's number in a results database; 0 when read from a file
};
// Reads the record's text. False, with the reason, when it is not JSON,
// is cut short, is not a record, or has a newer layout.
bool readFleetRun(const std::string &text, FleetRun &run, std::string &why);

// The identity a run is counted once by: its runId, or "digest:" and the
// digest of its bytes for a record without one.
std::string fleetRunKey(const FleetRun &run);
// XXH3's 128-bit hash of `bytes` as 32 lowercase hex digits, the high
// 64 bits first (the canonical form xxhsum -H2 prints).
std::string recordDigest(const std::string &bytes);
// True when run `a` comes before run `b`: by start instant, then by key
// (byte order). A board's first run is its least, its last its greatest.
bool fleetRunBefore(const FleetRun &a, const FleetRun &b);

// One run of a board as its list on the page shows it.
struct FleetBoardRun {
    std::string key, start, outcome;
    long long startSeconds = 0;
    int coverageComplete = -1;
    std::string file, page; // the copy linked to: the least path in byte order
};
// The boards of a fleet: each board's first and last run, and every run.
struct FleetBoard {
    int runs = 0;
    bool everPassed = false;
    long long firstSeconds = 0;
    std::string firstOutcome;
    FleetRun first, last;
    std::string lastFile, lastPage; // the last run's record and its page ("" when none lies beside it)
    std::vector<FleetBoardRun> history; // in the order runs were added
};
// A step at a processor over all runs: how many runs ran it, how many failed it.
struct FleetCell {
    long long ran = 0, failed = 0;
};
struct Fleet {
    bool benchOnly = false; // leave out runs whose origin is "virtual" or "replay"
    long long runs = 0, skipped = 0, duplicates = 0, leftOut = 0, unidentified = 0;
    std::map<std::string, long long> outcomes;
    std::map<std::string, FleetBoard> boards; // by serial as printed
    std::map<std::string, std::pair<long long, long long>> days; // date -> runs passed, other
    std::map<std::string, std::vector<std::vector<double>>> dayValues; // date -> per fleetMeasures() rate, its values
    std::map<std::pair<std::string, std::string>, FleetCell> cells; // (step key, processor) -> runs
    std::unordered_map<std::string, std::string> seen; // run key -> serial ("" never identified)
    std::set<std::string> leftOutKeys;       // the keys of the runs benchOnly left out
    std::vector<std::string> skippedFiles; // as given, in the order told
    std::vector<FleetBoardRun> unidentifiedRuns; // the runs of boards never identified
};
// Adds a run read from `file`; `page` is its page beside it, or "". False
// when the run is not counted: a copy of a run already added (its file
// then replaces the kept one's when less in byte order), or left out by
// benchOnly.
bool fleetAdd(Fleet &fleet, const FleetRun &run, const std::string &file, const std::string &page);
// Counts a file that is not read, by its name.
void fleetSkip(Fleet &fleet, const std::string &file);
// A failed step at a processor ("" for a step of the whole board) and
// the number of boards it failed on.
struct ParetoEntry {
    std::string key, processor;
    long long boards;
};
// The failed steps over each board's last run (or its first), a board
// counted once for each: most boards first, then by key, then by
// processor (board-wide first).
std::vector<ParetoEntry> pareto(const Fleet &fleet, bool firstRuns = false);

// The summary as JSON: runs, boards, outcomes, skipped, firstPassYield,
// finalYield, pareto, paretoFirstRun, neverPassed, unidentified
// (docs/report.md defines each).
std::string fleetSummaryJson(const Fleet &fleet);
// The fleet page; links to the runs' pages are made relative to `pageDir`.
std::string renderFleetPage(const Fleet &fleet, const std::string &pageDir, const std::string &sources);
// The same written to `out` as it is made: the boards' rows, the bulk of a
// large fleet's page, are never held whole.
void renderFleetPage(const Fleet &fleet, const std::string &pageDir, const std::string &sources, std::ostream &out);

// The CSV: a header, then a row per run.
std::string fleetCsvHeader();
std::string fleetCsvRow(const std::string &file, const FleetRun &run);
// A CSV cell: quoted when it holds a comma, quote or line break; NUL
// bytes dropped; a text beginning with "=", "+", "-" or "@" that is not a
// number gets a leading "'" so that a spreadsheet takes it as text.
std::string csvCell(const std::string &text);
// A line for stderr: every byte that is not printable ASCII as \xHH.
std::string asciiEscape(const std::string &text);

// Reads every record the paths name (files, or folders searched
// recursively for *.json) into `fleet`, in byte order of their paths, a
// CSV row per run counted to `csv` when given. Each file that is not read
// is one line on `err` and counted in fleet.skipped.
void fleetCollect(const std::vector<std::string> &paths, Fleet &fleet, std::ostream *csv, std::ostream &err);

#endif // ZORVANTIK_REPORT_REPORT_H
