// commands.h - zorvantik-report's database commands (zt_db).
#ifndef ZORVANTIK_DB_COMMANDS_H
#define ZORVANTIK_DB_COMMANDS_H

#include <string>
#include <vector>

namespace zdb {

// --into DB PATH...: 0 when every record is in the database (stored now or
// before), 1 when a file was skipped or the database failed.
int reportInto(const std::string &target, const std::vector<std::string> &paths);

// --into DB --watch FOLDER: loads what lies there, then each record that
// lands, until SIGTERM or SIGINT; a rescan every `interval` seconds finds
// what change notification misses. 0 after a signal, 1 when it cannot
// start (no such folder).
int reportWatch(const std::string &target, const std::string &folder, double interval);

// --from DB: the fleet page (and CSV) from the database.
int reportFrom(const std::string &target, bool benchOnly, std::string out, const std::string &csv);

} // namespace zdb

#endif // ZORVANTIK_DB_COMMANDS_H
