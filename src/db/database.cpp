// database.cpp - opening a results database, its schema and its upgrades,
// and the masking of the secrets a connection URI may hold.
#include "db/database.h"

#include <cmath>
#include <cstdlib>

namespace zdb {

Value Value::real(double v) {
    if (!std::isfinite(v))
        return Value();
    Value x;
    x.kind = Real;
    x.d = v;
    return x;
}

bool isPostgresTarget(const std::string &target) {
    return target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0;
}

namespace {

// The passwords a target holds: the URI's user information after its
// colon, and any password= parameter, each as written and percent-decoded.
std::vector<std::string> passwords(const std::string &target) {
    std::vector<std::string> found;
    if (!isPostgresTarget(target))
        return found;
    std::size_t start = target.find("://") + 3;
    std::size_t end = target.find_first_of("/?", start);
    std::string authority = target.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        std::size_t colon = authority.find(':');
        if (colon != std::string::npos && colon < at)
            found.push_back(authority.substr(colon + 1, at - colon - 1));
    }
    for (std::size_t p = target.find("password=", start); p != std::string::npos;
         p = target.find("password=", p + 1)) {
        char before = p > 0 ? target[p - 1] : '?';
        if (before != '?' && before != '&')
            continue;
        std::size_t valueStart = p + 9, valueEnd = target.find('&', valueStart);
        found.push_back(target.substr(valueStart, valueEnd == std::string::npos ? std::string::npos
                                                                                : valueEnd - valueStart));
    }
    std::vector<std::string> all;
    for (const std::string &f : found) {
        if (f.empty())
            continue;
        all.push_back(f);
        std::string decoded;
        for (std::size_t i = 0; i < f.size(); ++i)
            if (f[i] == '%' && i + 2 < f.size()) {
                decoded += static_cast<char>(std::strtol(f.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
            } else {
                decoded += f[i];
            }
        if (decoded != f && !decoded.empty())
            all.push_back(decoded);
    }
    return all;
}

void replaceAll(std::string &text, const std::string &from, const std::string &to) {
    if (from.empty())
        return;
    for (std::size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
        text.replace(p, from.size(), to);
}

} // namespace

std::string maskTarget(const std::string &target) {
    std::string shown = target;
    if (!isPostgresTarget(target))
        return shown;
    std::size_t start = target.find("://") + 3;
    std::size_t end = target.find_first_of("/?", start);
    std::size_t at = target.rfind('@', end == std::string::npos ? std::string::npos : end);
    if (at != std::string::npos && at > start) {
        std::size_t colon = target.find(':', start);
        if (colon != std::string::npos && colon < at)
            shown = target.substr(0, colon + 1) + "***" + target.substr(at);
    }
    std::size_t p = 0;
    while ((p = shown.find("password=", p)) != std::string::npos) {
        char before = p > 0 ? shown[p - 1] : '?';
        std::size_t valueStart = p + 9, valueEnd = shown.find('&', valueStart);
        if (before == '?' || before == '&')
            shown.replace(valueStart, (valueEnd == std::string::npos ? shown.size() : valueEnd) - valueStart, "***");
        p = valueStart;
    }
    return shown;
}

std::string Database::mask(const std::string &text) const { return maskSecrets(text, target_); }

std::unique_ptr<Database> Database::reopen(std::string &why) const { return openDatabase(target_, why); }

std::string quote(const std::string &text) {
    std::string q = "'";
    for (char c : text)
        if (c == '\'')
            q += "''";
        else if (c != '\0')
            q += c;
    return q + "'";
}

std::string maskSecrets(const std::string &text, const std::string &target) {
    std::string out = text;
    replaceAll(out, target, maskTarget(target));
    for (const std::string &p : passwords(target))
        replaceAll(out, p, "***");
    return out;
}

const std::vector<const char *> &runInsertColumns() {
    static const std::vector<const char *> columns{
        "run_key",      "run_id",        "record_schema", "origin",      "serial_shown",      "serial",
        "board_number", "host",          "program_version", "start_local", "start_utc",       "start_seconds",
        "start_day",    "end_local",     "duration_ms",   "outcome",     "verdict",           "error_count",
        "finding_count", "coverage_complete", "source_file", "page_file", "loaded_at"};
    return columns;
}

namespace {

// The schema, version by version. "{id}" is the run's sequence number
// column, the one thing the engines spell differently; "{norowid}" keeps
// a SQLite table in the order of its key alone (one tree, not two).
const char *const kVersion1 = R"SQL(
CREATE TABLE runs (
  seq {id},
  run_key TEXT NOT NULL UNIQUE,
  run_id TEXT,
  record_schema BIGINT NOT NULL,
  origin TEXT,
  serial_shown TEXT,
  serial BIGINT,
  board_number BIGINT,
  host TEXT,
  program_version TEXT,
  start_local TEXT,
  start_utc TEXT,
  start_seconds BIGINT NOT NULL,
  start_day TEXT,
  end_local TEXT,
  duration_ms BIGINT,
  outcome TEXT NOT NULL,
  verdict TEXT,
  error_count BIGINT NOT NULL,
  finding_count BIGINT NOT NULL,
  coverage_complete BIGINT,
  source_file TEXT NOT NULL,
  page_file TEXT,
  loaded_at TEXT NOT NULL
);
CREATE INDEX runs_board ON runs (serial_shown, start_seconds);
CREATE INDEX runs_day ON runs (start_day);
CREATE INDEX runs_host ON runs (host, start_seconds);
CREATE TABLE steps (
  run_seq BIGINT NOT NULL REFERENCES runs (seq),
  step_no BIGINT NOT NULL,
  step_key TEXT NOT NULL,
  processor TEXT,
  name TEXT,
  status TEXT NOT NULL,
  reason TEXT,
  errors BIGINT,
  finding_count BIGINT,
  duration_ms BIGINT,
  PRIMARY KEY (run_seq, step_no)
){norowid};
CREATE INDEX steps_status ON steps (status, step_key, processor);
CREATE TABLE measurements (
  run_seq BIGINT NOT NULL REFERENCES runs (seq),
  step_no BIGINT NOT NULL,
  measurement_no BIGINT NOT NULL,
  step_key TEXT NOT NULL,
  processor TEXT,
  name TEXT NOT NULL,
  value DOUBLE PRECISION,
  unit TEXT,
  shown TEXT,
  PRIMARY KEY (run_seq, step_no, measurement_no)
){norowid};
CREATE INDEX measurements_name ON measurements (step_key, name, processor);
CREATE TABLE findings (
  run_seq BIGINT NOT NULL REFERENCES runs (seq),
  step_no BIGINT NOT NULL,
  finding_no BIGINT NOT NULL,
  test TEXT,
  place TEXT,
  written TEXT,
  read_back TEXT,
  text TEXT,
  pass BIGINT,
  processor TEXT,
  memory TEXT,
  bank BIGINT,
  chip BIGINT,
  chip_offset BIGINT,
  PRIMARY KEY (run_seq, step_no, finding_no)
){norowid};
CREATE TABLE error_lines (
  run_seq BIGINT NOT NULL REFERENCES runs (seq),
  line_no BIGINT NOT NULL,
  step_no BIGINT,
  text TEXT NOT NULL,
  PRIMARY KEY (run_seq, line_no)
){norowid};
CREATE TABLE skipped_files (
  file TEXT PRIMARY KEY,
  reason TEXT NOT NULL
);
CREATE TABLE schema_version (version BIGINT NOT NULL);
INSERT INTO schema_version (version) VALUES (0);
)SQL";

const char *const kVersion2 = R"SQL(
CREATE TABLE faults (
  run_seq BIGINT NOT NULL REFERENCES runs (seq),
  step_no BIGINT NOT NULL,
  fault_no BIGINT NOT NULL,
  kind TEXT NOT NULL,
  processor TEXT,
  memory TEXT,
  bank BIGINT,
  chip BIGINT,
  chip_offset BIGINT,
  address BIGINT,
  written BIGINT,
  read_back BIGINT,
  from_processor TEXT,
  from_link BIGINT,
  to_processor TEXT,
  to_link BIGINT,
  test TEXT,
  part TEXT,
  text TEXT,
  PRIMARY KEY (run_seq, step_no, fault_no)
){norowid};
CREATE INDEX faults_place ON faults (kind, processor, memory);
CREATE VIEW board_last_run AS
  SELECT r.* FROM runs r
  WHERE r.serial_shown IS NOT NULL AND NOT EXISTS (
    SELECT 1 FROM runs n
    WHERE n.serial_shown = r.serial_shown
      AND (n.start_seconds > r.start_seconds
           OR (n.start_seconds = r.start_seconds AND n.run_key > r.run_key)));
CREATE VIEW yield_by_day AS
  SELECT start_day AS day, COUNT(*) AS runs,
         SUM(CASE WHEN outcome = 'passed' THEN 1 ELSE 0 END) AS passed,
         1.0 * SUM(CASE WHEN outcome = 'passed' THEN 1 ELSE 0 END) / COUNT(*) AS yield
  FROM runs GROUP BY start_day;
CREATE VIEW yield_by_bench AS
  SELECT host, COUNT(*) AS runs, COUNT(DISTINCT serial_shown) AS boards,
         SUM(CASE WHEN outcome = 'passed' THEN 1 ELSE 0 END) AS passed,
         1.0 * SUM(CASE WHEN outcome = 'passed' THEN 1 ELSE 0 END) / COUNT(*) AS yield
  FROM runs GROUP BY host;
CREATE VIEW failing_steps_pareto AS
  SELECT s.step_key, s.processor, COUNT(DISTINCT r.serial_shown) AS boards
  FROM board_last_run r JOIN steps s ON s.run_seq = r.seq
  WHERE s.status = 'failed'
  GROUP BY s.step_key, s.processor;
)SQL";

// The speeds (MB/s) alone are indexed, with their values and their unit,
// so that a speed over time is read from the index alone (the fleet
// page's trend); an index of every measurement cost a load a third of its
// time.
const char *const kVersion3 = R"SQL(
DROP INDEX measurements_name;
CREATE INDEX measurements_speed ON measurements (step_key, name, processor, value, unit) WHERE unit = 'MB/s';
)SQL";

const char *const kVersions[] = {kVersion1, kVersion2, kVersion3};

std::string engineSql(const Database &db, const std::string &sql) {
    std::string out = sql;
    std::size_t p = out.find("{id}");
    if (p != std::string::npos)
        out.replace(p, 4, db.postgres() ? "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY" : "INTEGER PRIMARY KEY");
    while ((p = out.find("{norowid}")) != std::string::npos)
        out.replace(p, 9, db.postgres() ? "" : " WITHOUT ROWID");
    return out;
}

} // namespace

int databaseVersion(Database &db, std::string &why) {
    std::unique_ptr<Rows> r =
        db.query(db.postgres() ? "SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE tablename = 'schema_version' "
                                 "AND schemaname = ANY (current_schemas(false))"
                               : "SELECT COUNT(*) FROM sqlite_master WHERE name = 'schema_version'",
                 {}, why);
    if (!r)
        return -1;
    if (!r->next())
        return why = r->error(), -1;
    if (r->integer(0) == 0)
        return 0;
    r = db.query("SELECT MAX(version) FROM schema_version", {}, why);
    if (!r)
        return -1;
    if (!r->next())
        return why = r->error(), -1;
    return static_cast<int>(r->integer(0));
}

std::unique_ptr<Database> openDatabase(const std::string &target, std::string &why, int upTo) {
    std::string reason;
    bool pg = isPostgresTarget(target);
    std::unique_ptr<Database> db = pg ? openPostgres(target, reason) : openSqlite(target, reason);
    std::string shown = maskTarget(target);
    auto fail = [&](const std::string &r) {
        why = shown + ": " + maskSecrets(r, target);
        return nullptr;
    };
    if (!db)
        return fail(reason.empty() ? "cannot open" : reason);
    db->shown_ = shown;
    db->target_ = target;
    // One upgrade at a time: a second loader waits, then finds it done.
    if (!db->begin(reason) || (pg && !db->exec("SELECT pg_advisory_xact_lock(7206135)", reason)))
        return fail(reason);
    int version = databaseVersion(*db, reason);
    if (version < 0) {
        db->rollback();
        return fail(reason);
    }
    if (version > kDatabaseVersion) {
        db->rollback();
        return fail("database schema version " + std::to_string(version) + " is newer than this zorvantik-report's (" +
                    std::to_string(kDatabaseVersion) + "): use a newer zorvantik-report");
    }
    for (int v = version; v < upTo && v < kDatabaseVersion; ++v)
        if (!db->exec(engineSql(*db, kVersions[v]), reason) ||
            !db->exec("UPDATE schema_version SET version = " + std::to_string(v + 1), reason)) {
            db->rollback();
            return fail("cannot upgrade the schema to version " + std::to_string(v + 1) + ": " + reason);
        }
    if (!db->commit(reason))
        return fail(reason);
    return db;
}

} // namespace zdb
