// database.h - the results database (zt_db): SQLite in a file, or a
// PostgreSQL server named by a postgresql:// URI, behind one small
// interface. Only zorvantik-report and the tests link it; the program
// itself never talks to a database.
//
// Every statement here is written once for both engines: placeholders are
// $1, $2 ... in order (SQLite numbers them the same way), and the column
// types are the ones both know (BIGINT, DOUBLE PRECISION, TEXT).
#ifndef ZORVANTIK_DB_DATABASE_H
#define ZORVANTIK_DB_DATABASE_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zdb {

// A cell to store: NULL, a whole number, a real number or text.
struct Value {
    enum Kind { Null, Int, Real, Text } kind = Null;
    long long i = 0;
    double d = 0;
    std::string s;
    static Value null() { return Value(); }
    static Value of(long long v) { Value x; x.kind = Int; x.i = v; return x; }
    static Value real(double v);                  // NULL when not finite
    static Value text(const std::string &v) { Value x; x.kind = Text; x.s = v; return x; }
};

// The rows of a query, read one at a time.
class Rows {
public:
    virtual ~Rows() = default;
    virtual bool next() = 0; // false at the end, or on an error (then error() says)
    virtual bool isNull(int column) const = 0;
    virtual std::string text(int column) const = 0;
    // The same without a copy, valid until next().
    virtual std::string_view view(int column) const = 0;
    virtual long long integer(int column) const = 0;
    virtual double real(int column) const = 0; // NaN for NULL
    virtual const std::string &error() const = 0;
};

// A run with all its rows, as one record gives them: the run's own cells
// (the columns of runInsertColumns()) and each child table's rows.
struct ChildRows {
    const char *table = nullptr;
    std::vector<const char *> columns; // after run_seq, which every child table starts with
    std::vector<Value> cells;          // columns.size() per row
};
struct RunRows {
    std::string key; // runs.run_key
    std::vector<Value> run;
    std::vector<ChildRows> children;
};
const std::vector<const char *> &runInsertColumns();

class Database {
public:
    virtual ~Database() = default;
    virtual bool postgres() const = 0;
    // Runs statements that return nothing. False, with the reason.
    virtual bool exec(const std::string &sql, std::string &why) = 0;
    // A query with its parameters; nullptr, with the reason, on an error.
    virtual std::unique_ptr<Rows> query(const std::string &sql, const std::vector<Value> &params,
                                        std::string &why) = 0;
    // Stores a run inside the open transaction. Added, Present (a run with
    // its key is there already: nothing is written) or Failed.
    enum class Store { Added, Present, Failed };
    virtual Store store(const RunRows &rows, std::string &why) = 0;
    virtual bool begin(std::string &why) = 0;
    virtual bool commit(std::string &why) = 0;
    virtual void rollback() = 0;
    // True once the server went away (PostgreSQL): nothing more can be done
    // on this connection.
    virtual bool lost() const { return false; }
    // The database as it may be shown: a URI's password masked.
    const std::string &shown() const { return shown_; }
    // `text` with every secret of the target masked.
    std::string mask(const std::string &text) const;
    // A read-only transaction over one snapshot (--from).
    virtual bool beginRead(std::string &why) { return begin(why); }
    // A second connection to the same database; nullptr, with the reason,
    // when it cannot be made.
    std::unique_ptr<Database> reopen(std::string &why) const;

protected:
    friend std::unique_ptr<Database> openDatabase(const std::string &, std::string &, int);
    std::string shown_, target_;
};

// `text` as an SQL string literal, for both engines.
std::string quote(const std::string &text);

// The latest schema version this program builds, and the oldest it
// upgrades from (0: an empty database).
constexpr int kDatabaseVersion = 3;

// True when `target` names a PostgreSQL server rather than a SQLite file.
bool isPostgresTarget(const std::string &target);
// `target` with any password in it (URI user info, a password= parameter)
// replaced by "***": the only form of a target that is ever printed.
std::string maskTarget(const std::string &target);
// Replaces every occurrence of the target's password in `text`.
std::string maskSecrets(const std::string &text, const std::string &target);

// Opens (creating a SQLite file when missing) and brings the schema up to
// `upTo` (kDatabaseVersion but for tests of upgrades). nullptr with one
// line of reason, the target masked: a database whose version is newer
// than this program's is refused.
std::unique_ptr<Database> openDatabase(const std::string &target, std::string &why,
                                       int upTo = kDatabaseVersion);
// The schema version the database holds (0 when empty), or -1 on an error.
int databaseVersion(Database &db, std::string &why);

// Engines (database.cpp picks one).
std::unique_ptr<Database> openSqlite(const std::string &file, std::string &why);
std::unique_ptr<Database> openPostgres(const std::string &uri, std::string &why);

} // namespace zdb

#endif // ZORVANTIK_DB_DATABASE_H
