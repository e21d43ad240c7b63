// report.h - pages made from result records (zt_report).
//
// A run's page is made from the text of its JSON record alone, so the
// program writes it beside the record at the end of a run and
// zorvantik-report can make it again from any stored record. The fleet
// page, its summary and the CSV are made from many records, each read by
// a streaming parse that keeps only what the summary needs.
#ifndef ZORVANTIK_REPORT_REPORT_H
#define ZORVANTIK_REPORT_REPORT_H

#include "run/record.h"

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
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

// What the fleet takes from one record.
struct FleetRun {
    std::string serial;  // board.serialShown; "" when never identified
    std::string start;   // as the record holds it
    long long startSeconds = 0; // the same instant in seconds since 1970 (UTC)
    std::string outcome;
    long long errorCount = 0, findingCount = 0;
    std::vector<std::string> failedSteps; // "INTLINKS", "memory P3": the steps that failed, in run order
    std::vector<std::pair<std::string, std::string>> failedKeys; // the same as (key, processor)
    std::vector<double> values;     // per fleetMeasures(); NaN when the run has none
    std::vector<std::string> shown; // the same as printed
};
// Reads the record's text. False, with the reason, when it is not JSON,
// is cut short, is not a record, or has a newer layout.
bool readFleetRun(const std::string &text, FleetRun &run, std::string &why);

// The boards of a fleet: each board's first and last run by start time.
struct FleetBoard {
    int runs = 0;
    long long firstSeconds = 0;
    std::string firstOutcome;
    FleetRun last;
    std::string lastFile, lastPage; // the last run's record and its page ("" when none lies beside it)
};
struct Fleet {
    long long runs = 0, skipped = 0;
    std::map<std::string, long long> outcomes;
    std::map<std::string, FleetBoard> boards; // by serial as printed
    std::map<std::string, std::pair<long long, long long>> days; // date -> runs passed, other
};
// Adds a run read from `file`; `page` is its page beside it, or "".
void fleetAdd(Fleet &fleet, const FleetRun &run, const std::string &file, const std::string &page);

// The summary as JSON: runs, boards, outcomes, skipped, firstPassYield,
// finalYield, pareto (docs/report.md defines each).
std::string fleetSummaryJson(const Fleet &fleet);
// The fleet page; links to the runs' pages are made relative to `pageDir`.
std::string renderFleetPage(const Fleet &fleet, const std::string &pageDir, const std::string &sources);

// The CSV: a header, then a row per run.
std::string fleetCsvHeader();
std::string fleetCsvRow(const std::string &file, const FleetRun &run);

// Reads every record the paths name (files, or folders searched
// recursively for *.json) into `fleet`, a CSV row per run to `csv` when
// given. Each file that is not read is one line on `err` and counted in
// fleet.skipped.
void fleetCollect(const std::vector<std::string> &paths, Fleet &fleet, std::ostream *csv, std::ostream &err);

#endif // ZORVANTIK_REPORT_REPORT_H
