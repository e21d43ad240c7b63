// load.h - result records into the results database, and the fleet out of
// it (zt_db).
#ifndef ZORVANTIK_DB_LOAD_H
#define ZORVANTIK_DB_LOAD_H

#include "db/database.h"
#include "report/report.h"

#include <functional>
#include <iosfwd>
#include <set>
#include <string>
#include <vector>

namespace zdb {

// A record's key: its runId, or for a record without one (layouts 1 and
// 2) "digest:" and the digest of its bytes.
std::string recordKey(const std::string &text, const std::string &runId);

// The rows of one record read from `file` (its page `page`, "" when none).
// False, with the reason the fleet gives, when it is not a record.
bool recordRows(const std::string &text, const std::string &file, const std::string &page, RunRows &rows,
                std::string &why);

// The quick read of recordRows: false when the text is anything but a
// plain record (recordRows then reads it the slow way); start_utc and
// loaded_at, and the child tables' names, are left to the caller.
bool scanRecordRows(const std::string &text, const std::string &file, const std::string &page, RunRows &rows,
                    FleetRun &run);

// The records the paths name, as the fleet finds them: files as given,
// folders searched recursively for *.json, all of them in byte order of
// their paths (each path once). Paths that cannot
// be searched go to `unreadable` as (path, reason).
std::vector<std::string> recordFiles(const std::vector<std::string> &paths,
                                     std::vector<std::pair<std::string, std::string>> &unreadable);

// Loads files into the database: each run whole, with all its rows, or
// not at all; a run already there (by its key) adds nothing. A file that
// is not a record is one line on `err`, as the fleet tells it, and noted in
// skipped_files.
class Loader {
public:
    Loader(Database &db, std::ostream &err);
    // False when the database failed: the runs of the transaction then open
    // are not stored (a later load stores them); the others are. `stop`
    // is asked between files: true ends the load after committing what is
    // read. `handled` gets every file stored, found there, or skipped.
    bool load(const std::vector<std::string> &files, const std::function<bool()> &stop,
              std::vector<std::string> *handled = nullptr);
    // Notes a path skipped before it was read (a folder that cannot be read).
    void skip(const std::string &file, const std::string &why);

    long long added = 0, present = 0, skipped = 0;

private:
    bool flush(std::string &why);

    Database &db_;
    std::ostream &err_;
    std::vector<std::pair<std::string, std::string>> skips_; // of the open transaction
    std::vector<std::string> loaded_, batch_;                 // files of the open transaction
    std::set<std::string> knownSkips_;
    bool knownRead_ = false;
    long long pendingAdded_ = 0, pendingPresent_ = 0;
};

// The fleet as the folder mode makes it from the same records: each run
// rebuilt from its rows, in the order the runs were loaded. `benchOnly`
// leaves out the runs the virtual board made (origin virtual or replay).
// A CSV row per run to `csv` when given (its header first).
bool fleetFromDatabase(Database &db, bool benchOnly, Fleet &fleet, std::ostream *csv, std::string &why);

} // namespace zdb

#endif // ZORVANTIK_DB_LOAD_H
