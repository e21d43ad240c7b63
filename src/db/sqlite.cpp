// sqlite.cpp - the results database in a SQLite file (Debian's libsqlite3).
//
// The file is kept in WAL mode: readers (a dashboard, --from) never wait
// for a load, and a commit costs no flush of the whole file. A load that
// dies mid-transaction leaves the file as it was before the transaction.
#include "db/database.h"

#include <sqlite3.h>

#include <cmath>
#include <map>

namespace zdb {
namespace {

struct StatementDeleter {
    void operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

bool bind(sqlite3_stmt *s, int index, const Value &v) {
    switch (v.kind) {
    case Value::Int:
        return sqlite3_bind_int64(s, index, v.i) == SQLITE_OK;
    case Value::Real:
        return sqlite3_bind_double(s, index, v.d) == SQLITE_OK;
    case Value::Text:
        return sqlite3_bind_text(s, index, v.s.data(), static_cast<int>(v.s.size()), SQLITE_STATIC) == SQLITE_OK;
    default:
        return sqlite3_bind_null(s, index) == SQLITE_OK;
    }
}

class SqliteRows : public Rows {
public:
    SqliteRows(sqlite3 *db, Statement s) : db_(db), s_(std::move(s)) {}
    bool next() override {
        int rc = sqlite3_step(s_.get());
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            error_ = sqlite3_errmsg(db_);
        return false;
    }
    bool isNull(int c) const override { return sqlite3_column_type(s_.get(), c) == SQLITE_NULL; }
    std::string text(int c) const override {
        const unsigned char *t = sqlite3_column_text(s_.get(), c);
        return t ? std::string(reinterpret_cast<const char *>(t), sqlite3_column_bytes(s_.get(), c)) : std::string();
    }
    std::string_view view(int c) const override {
        const unsigned char *t = sqlite3_column_text(s_.get(), c);
        return t ? std::string_view(reinterpret_cast<const char *>(t), sqlite3_column_bytes(s_.get(), c))
                 : std::string_view();
    }
    long long integer(int c) const override { return sqlite3_column_int64(s_.get(), c); }
    double real(int c) const override { return isNull(c) ? NAN : sqlite3_column_double(s_.get(), c); }
    const std::string &error() const override { return error_; }

private:
    sqlite3 *db_;
    Statement s_;
    std::string error_;
};

class SqliteDatabase : public Database {
public:
    explicit SqliteDatabase(sqlite3 *db) : db_(db) {}
    ~SqliteDatabase() override {
        statements_.clear();
        sqlite3_close(db_);
    }
    bool postgres() const override { return false; }

    bool exec(const std::string &sql, std::string &why) override {
        char *message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
            return true;
        why = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        return false;
    }

    std::unique_ptr<Rows> query(const std::string &sql, const std::vector<Value> &params, std::string &why) override {
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
            why = sqlite3_errmsg(db_);
            sqlite3_finalize(s);
            return nullptr;
        }
        Statement owned(s);
        // Text parameters are bound SQLITE_STATIC: keep copies alive with
        // the statement.
        for (std::size_t i = 0; i < params.size(); ++i)
            if (params[i].kind == Value::Text)
                sqlite3_bind_text(s, int(i + 1), params[i].s.c_str(), -1, SQLITE_TRANSIENT);
            else
                bind(s, int(i + 1), params[i]);
        return std::make_unique<SqliteRows>(db_, std::move(owned));
    }

    Store store(const RunRows &rows, std::string &why) override {
        sqlite3_stmt *find = prepared("SELECT seq FROM runs WHERE run_key = $1", why);
        if (!find)
            return Store::Failed;
        sqlite3_bind_text(find, 1, rows.key.data(), int(rows.key.size()), SQLITE_STATIC);
        int rc = sqlite3_step(find);
        sqlite3_reset(find);
        if (rc == SQLITE_ROW) {
            // A copy of a run stored before: the run keeps the least of its
            // copies' paths (byte order), as the fleet links to it.
            sqlite3_stmt *copy = prepared("UPDATE runs SET source_file = $1, page_file = $2 WHERE run_key = $3 AND "
                                          "source_file > $1",
                                          why);
            if (!copy)
                return Store::Failed;
            bind(copy, 1, rows.run[20]);
            bind(copy, 2, rows.run[21]);
            sqlite3_bind_text(copy, 3, rows.key.data(), int(rows.key.size()), SQLITE_STATIC);
            rc = sqlite3_step(copy);
            sqlite3_reset(copy);
            return rc == SQLITE_DONE ? Store::Present : failed(why);
        }
        if (rc != SQLITE_DONE)
            return failed(why);

        const std::vector<const char *> &columns = runInsertColumns();
        if (!insert("runs", columns, rows.run, 0, why))
            return Store::Failed;
        long long seq = sqlite3_last_insert_rowid(db_);
        for (const ChildRows &child : rows.children) {
            std::size_t width = child.columns.size();
            if (child.cells.size() < width)
                continue;
            std::vector<const char *> all;
            if (!childStatements_.count(child.table)) {
                all.push_back("run_seq");
                all.insert(all.end(), child.columns.begin(), child.columns.end());
            }
            for (std::size_t at = 0; at + width <= child.cells.size(); at += width)
                if (!insertChild(child.table, all, seq, child.cells, at, width, why))
                    return Store::Failed;
        }
        return Store::Added;
    }

    bool begin(std::string &why) override { return exec("BEGIN IMMEDIATE", why); }
    bool beginRead(std::string &why) override { return exec("BEGIN", why); }
    bool commit(std::string &why) override { return exec("COMMIT", why); }
    void rollback() override {
        std::string ignored;
        exec("ROLLBACK", ignored);
    }

private:
    Store failed(std::string &why) {
        why = sqlite3_errmsg(db_);
        return Store::Failed;
    }

    sqlite3_stmt *prepared(const std::string &sql, std::string &why) {
        auto found = statements_.find(sql);
        if (found != statements_.end())
            return found->second.get();
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
            why = sqlite3_errmsg(db_);
            sqlite3_finalize(s);
            return nullptr;
        }
        statements_[sql].reset(s);
        return s;
    }

    static std::string insertSql(const char *table, const std::vector<const char *> &columns) {
        std::string sql = std::string("INSERT INTO ") + table + " (", values;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            sql += (i ? ", " : "") + std::string(columns[i]);
            values += (i ? ", $" : "$") + std::to_string(i + 1);
        }
        return sql + ") VALUES (" + values + ")";
    }

    bool insert(const char *table, const std::vector<const char *> &columns, const std::vector<Value> &cells,
                std::size_t at, std::string &why) {
        if (!runInsert_)
            runInsert_ = prepared(insertSql(table, columns), why);
        return runInsert_ && insertRow(runInsert_, 1, cells, at, columns.size(), why);
    }

    bool insertChild(const char *table, const std::vector<const char *> &columns, long long seq,
                     const std::vector<Value> &cells, std::size_t at, std::size_t width, std::string &why) {
        sqlite3_stmt *&s = childStatements_[table]; // the tables' names are constants: keyed by address
        if (!s)
            s = prepared(insertSql(table, columns), why);
        if (!s)
            return false;
        sqlite3_bind_int64(s, 1, seq);
        return insertRow(s, 2, cells, at, width, why);
    }

    // Binds `width` cells from `at` to the parameters from `first` on and
    // runs the prepared insert, which stays ready for the next row.
    bool insertRow(sqlite3_stmt *s, int first, const std::vector<Value> &cells, std::size_t at, std::size_t width,
                   std::string &why) {
        for (std::size_t i = 0; i < width; ++i)
            bind(s, first + int(i), cells[at + i]);
        int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE) {
            why = sqlite3_errmsg(db_);
            return false;
        }
        return true;
    }

    sqlite3 *db_;
    std::map<std::string, Statement> statements_;
    std::map<const char *, sqlite3_stmt *> childStatements_;
    sqlite3_stmt *runInsert_ = nullptr;
};

} // namespace

std::unique_ptr<Database> openSqlite(const std::string &file, std::string &why) {
    sqlite3 *db = nullptr;
    // NOMUTEX: a connection is used by one thread at a time.
    int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        why = db ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close(db);
        return nullptr;
    }
    auto d = std::make_unique<SqliteDatabase>(db);
    sqlite3_busy_timeout(db, 30000);
    // WAL: a reader never waits for a load; NORMAL: a commit is not flushed
    // at once, but the file is never left half-written.
    // A cache of 64 MB keeps the indexes of a long load in memory.
    if (!d->exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA cache_size = -65536", why))
        return nullptr;
    return d;
}

} // namespace zdb
