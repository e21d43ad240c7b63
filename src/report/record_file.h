// record_file.h - reading a result record's file, trusting nothing about it.
//
// A folder of records may hold anything named *.json: a FIFO, a link to a
// device, a directory, a file far larger than any record. Only a regular
// file within kRecordFileLimit is read; anything else is refused with a
// reason, before a byte of it is read or any memory is taken for it.
#ifndef ZORVANTIK_REPORT_RECORD_FILE_H
#define ZORVANTIK_REPORT_RECORD_FILE_H

#include <cstdint>
#include <string>

// The largest record file read: a run's record is about 15 KB, and a long
// continuous run's stays of that order (its passes are summed up).
constexpr std::uint64_t kRecordFileLimit = std::uint64_t(16) << 20; // 16 MiB

// Reads the file at `path` whole into `text` (reused). False, with the
// reason in `why` (plain ASCII), when it is not a regular file, is larger
// than kRecordFileLimit, or cannot be read. Never blocks on a FIFO.
bool readRecordFile(const std::string &path, std::string &text, std::string &why);

// Why `text` is not JSON as a record must be, from the parser's `error`
// at byte `at`: "trailing bytes after the record" when a whole JSON value
// is followed by more than white space, "truncated: ERROR" when the text
// ends early, else "not JSON: ERROR".
std::string recordSyntaxFault(const std::string &text, const std::string &error, std::size_t at);

// True when `text` holds one whole JSON value followed by more than white
// space.
bool recordHasTrailingBytes(const std::string &text);

#endif // ZORVANTIK_REPORT_RECORD_FILE_H
