// archive.h - every run's files kept in the station's archive.
//
// resultN.json, .xml and .html and the two logs hold the last run of a
// board number only: the next run in that slot rewrites them. When a run
// ends, after those files are written in the station, the archive gets a
// copy of each under names that no other run takes:
//
//   <archive>/<serial as printed>/<UTC start>-B<board number>-<runId>.json
//                                                  .xml .html
//                                                  .protoc.log .screen.log
//
// e.g. records/01042/20261208T195035Z-B1-3f2a.json, where 3f2a is the
// first four hex digits of the record's runId. A board that was never
// identified goes under records/unidentified/.
//
// The archive is "records" in the station unless ZORVANTIK_ARCHIVE names
// another folder (relative to the station, or absolute: a network share);
// set and empty, it turns the archive off.
#ifndef ZORVANTIK_ARCHIVE_H
#define ZORVANTIK_ARCHIVE_H

#include <cstdint>
#include <string>

// The archive's folder when nothing else is set, relative to the station.
constexpr const char *kArchiveDefault = "records";
// The environment variable that moves the archive (or turns it off).
constexpr const char *kArchiveVariable = "ZORVANTIK_ARCHIVE";
// The folder of runs whose board was never identified.
constexpr const char *kArchiveUnidentified = "unidentified";

// How long the end of the run waits for the archive's copy: while the
// copy makes no progress for kArchiveStallMs, or in all kArchiveLimitMs.
constexpr unsigned kArchiveStallMs = 2000;
constexpr unsigned kArchiveLimitMs = 30000;

// The folder as the setting gives it: `setting` is the variable's value,
// nullptr when it is unset. Empty: no archive.
std::string archiveFolder(const char *setting);

// "2026-12-08T20:50:35+01:00" (the record's local time and its offset)
// as the UTC stamp "20261208T195035Z"; empty when `iso` has not that shape.
std::string archiveUtcStamp(const std::string &iso);

// The name of a run's files in the archive, without the extension, from
// the record's serial as printed (empty: never identified), start, board
// number and runId: "01042/20261208T195035Z-B1-3f2a". `idDigits` hex
// digits of the runId are used (4; more when those names are taken).
// Characters a file name cannot hold become '_'. Empty when the start or
// the runId cannot be read.
std::string archiveStem(const std::string &serialShown, const std::string &startIso, std::int64_t board,
                        const std::string &runId, std::size_t idDigits = 4);

// The same, with the serial, start and board number read from the
// record's JSON text.
std::string archiveStemOfRecord(const std::string &json, const std::string &runId, std::size_t idDigits = 4);

// This run created the log `name` in the station (the driver tells it
// after each log's first write): only such logs are archived, never one
// that a fatal stop left from an earlier run.
void archiveLogStarted(const char *name);

// Copies the run's three files (as written in the station), named after
// the record and the run's identity `runId`, and the logs
// it started into the archive, each to a temporary name first and then
// renamed, the record last. Called once when the run ends, after the
// station's files; returns when the copy is done or stalls (see above).
// A copy that fails or does not finish is one warning on stderr.
void archiveRun(const std::string &json, const std::string &xml, const std::string &html, const std::string &runId);

#endif // ZORVANTIK_ARCHIVE_H
