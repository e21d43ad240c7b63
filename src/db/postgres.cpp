// postgres.cpp - the results database on a PostgreSQL server (Debian's
// libpq). The target is libpq's own connection URI, so PGHOST, PGUSER,
// PGPASSWORD, ~/.pgpass and the rest work as they do for psql.
//
// A run goes to the server in one round trip: its INSERT statements as one
// text, inside the load's transaction. Long queries are read through a
// cursor, a few thousand rows at a time, so a fleet of any size is read in
// bounded memory.
#include "db/database.h"

#include <libpq-fe.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zdb {
namespace {

struct ResultDeleter {
    void operator()(PGresult *r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

void quiet(void *, const char *) {} // NOTICEs ("already exists, skipping") are not ours to print

// A value as an SQL literal (standard_conforming_strings is on).
void literal(std::string &out, const Value &v) {
    char t[40];
    switch (v.kind) {
    case Value::Int:
        out += std::to_string(v.i);
        return;
    case Value::Real:
        std::snprintf(t, sizeof t, "%.17g", v.d);
        out += t;
        return;
    case Value::Text:
        out += '\'';
        for (char c : v.s)
            if (c == '\'')
                out += "''";
            else if (c != '\0')
                out += c;
        out += '\'';
        return;
    default:
        out += "NULL";
    }
}

// Parameters as libpq wants them: text or NULL.
struct Params {
    std::vector<std::string> texts;
    std::vector<const char *> values;
    explicit Params(const std::vector<Value> &params) {
        texts.reserve(params.size());
        for (const Value &v : params) {
            std::string s;
            if (v.kind == Value::Text)
                s = v.s;
            else if (v.kind != Value::Null)
                literal(s, v);
            texts.push_back(s);
        }
        for (std::size_t i = 0; i < params.size(); ++i)
            values.push_back(params[i].kind == Value::Null ? nullptr : texts[i].c_str());
    }
};

std::string message(PGconn *c) {
    // libpq's messages may run over lines: one line here.
    std::string m;
    for (const char *p = PQerrorMessage(c); *p; ++p)
        if (*p == '\n' || *p == '\t' || *p == '\r') {
            if (!m.empty() && m.back() != ' ')
                m += ' ';
        } else {
            m += *p;
        }
    while (!m.empty() && m.back() == ' ')
        m.pop_back();
    return m;
}

class PgRows : public Rows {
public:
    // `cursor` empty: the whole result is in `first`.
    PgRows(PGconn *c, Result first, std::string cursor) : c_(c), r_(std::move(first)), cursor_(std::move(cursor)) {
        if (!cursor_.empty())
            fetch();
    }
    ~PgRows() override {
        if (!cursor_.empty() && PQstatus(c_) == CONNECTION_OK)
            Result(PQexec(c_, ("CLOSE " + cursor_).c_str()));
    }
    bool next() override {
        if (!r_)
            return false;
        if (++row_ < PQntuples(r_.get()))
            return true;
        if (cursor_.empty() || PQntuples(r_.get()) == 0)
            return false;
        if (!fetch())
            return false;
        row_ = 0;
        return PQntuples(r_.get()) > 0;
    }
    bool isNull(int c) const override { return PQgetisnull(r_.get(), row_, c) != 0; }
    std::string text(int c) const override {
        return std::string(PQgetvalue(r_.get(), row_, c), PQgetlength(r_.get(), row_, c));
    }
    std::string_view view(int c) const override {
        return std::string_view(PQgetvalue(r_.get(), row_, c), PQgetlength(r_.get(), row_, c));
    }
    long long integer(int c) const override { return std::strtoll(PQgetvalue(r_.get(), row_, c), nullptr, 10); }
    double real(int c) const override { return isNull(c) ? NAN : std::strtod(PQgetvalue(r_.get(), row_, c), nullptr); }
    const std::string &error() const override { return error_; }

private:
    bool fetch() {
        r_.reset(PQexec(c_, ("FETCH 5000 FROM " + cursor_).c_str()));
        row_ = -1;
        if (PQresultStatus(r_.get()) != PGRES_TUPLES_OK) {
            error_ = message(c_);
            r_.reset();
            return false;
        }
        return true;
    }

    PGconn *c_;
    Result r_;
    std::string cursor_;
    int row_ = -1;
    std::string error_;
};

class PgDatabase : public Database {
public:
    explicit PgDatabase(PGconn *c) : c_(c) {}
    ~PgDatabase() override { PQfinish(c_); }
    bool postgres() const override { return true; }
    bool lost() const override { return PQstatus(c_) != CONNECTION_OK; }

    bool exec(const std::string &sql, std::string &why) override {
        Result r(PQexec(c_, sql.c_str()));
        ExecStatusType s = PQresultStatus(r.get());
        if (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK)
            return true;
        why = message(c_);
        return false;
    }

    std::unique_ptr<Rows> query(const std::string &sql, const std::vector<Value> &params, std::string &why) override {
        Params p(params);
        int n = static_cast<int>(params.size());
        if (inTransaction_) {
            std::string cursor = "zt_rows" + std::to_string(++cursors_);
            Result r(PQexecParams(c_, ("DECLARE " + cursor + " NO SCROLL CURSOR FOR " + sql).c_str(), n, nullptr,
                                  p.values.data(), nullptr, nullptr, 0));
            if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
                why = message(c_);
                return nullptr;
            }
            auto rows = std::make_unique<PgRows>(c_, nullptr, cursor);
            if (!rows->error().empty()) {
                why = rows->error();
                return nullptr;
            }
            return rows;
        }
        Result r(PQexecParams(c_, sql.c_str(), n, nullptr, p.values.data(), nullptr, nullptr, 0));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
            why = message(c_);
            return nullptr;
        }
        return std::make_unique<PgRows>(c_, std::move(r), std::string());
    }

    Store store(const RunRows &rows, std::string &why) override {
        const char *key = rows.key.c_str();
        Result found(PQexecParams(c_, "SELECT 1 FROM runs WHERE run_key = $1", 1, nullptr, &key, nullptr, nullptr, 0));
        if (PQresultStatus(found.get()) != PGRES_TUPLES_OK) {
            why = message(c_);
            return Store::Failed;
        }
        if (PQntuples(found.get()) > 0) {
            // A copy of a run stored before: the run keeps the least of its
            // copies' paths (byte order), as the fleet links to it.
            std::string copy = "UPDATE runs SET source_file = ";
            literal(copy, rows.run[20]);
            copy += ", page_file = ";
            literal(copy, rows.run[21]);
            copy += " WHERE run_key = ";
            literal(copy, Value::text(rows.key));
            copy += " AND source_file > ";
            literal(copy, rows.run[20]);
            return exec(copy, why) ? Store::Present : Store::Failed;
        }

        sql_.clear();
        const std::vector<const char *> &columns = runInsertColumns();
        sql_ += "INSERT INTO runs (";
        for (std::size_t i = 0; i < columns.size(); ++i)
            sql_ += (i ? ", " : "") + std::string(columns[i]);
        sql_ += ") VALUES (";
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (i)
                sql_ += ", ";
            literal(sql_, rows.run[i]);
        }
        sql_ += ");\n";
        for (const ChildRows &child : rows.children) {
            std::size_t width = child.columns.size();
            if (child.cells.size() < width)
                continue;
            sql_ += std::string("INSERT INTO ") + child.table + " (run_seq";
            for (const char *c : child.columns)
                sql_ += std::string(", ") + c;
            sql_ += ") VALUES ";
            for (std::size_t at = 0; at + width <= child.cells.size(); at += width) {
                sql_ += at ? ", (lastval()" : "(lastval()";
                for (std::size_t i = 0; i < width; ++i) {
                    sql_ += ", ";
                    literal(sql_, child.cells[at + i]);
                }
                sql_ += ")";
            }
            sql_ += ";\n";
        }
        return exec(sql_, why) ? Store::Added : Store::Failed;
    }

    bool begin(std::string &why) override {
        inTransaction_ = exec("BEGIN", why);
        return inTransaction_;
    }
    bool beginRead(std::string &why) override {
        inTransaction_ = exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", why);
        return inTransaction_;
    }
    bool commit(std::string &why) override {
        inTransaction_ = false;
        return exec("COMMIT", why);
    }
    void rollback() override {
        inTransaction_ = false;
        if (PQstatus(c_) == CONNECTION_OK)
            Result(PQexec(c_, "ROLLBACK"));
    }

private:
    PGconn *c_;
    bool inTransaction_ = false;
    int cursors_ = 0;
    std::string sql_;
};

} // namespace

std::unique_ptr<Database> openPostgres(const std::string &uri, std::string &why) {
    PGconn *c = PQconnectdb(uri.c_str());
    if (!c) {
        why = "out of memory";
        return nullptr;
    }
    if (PQstatus(c) != CONNECTION_OK) {
        why = message(c);
        PQfinish(c);
        return nullptr;
    }
    PQsetNoticeProcessor(c, quiet, nullptr);
    auto d = std::make_unique<PgDatabase>(c);
    if (!d->exec("SET standard_conforming_strings = on; SET client_encoding = 'UTF8'", why))
        return nullptr;
    return d;
}

} // namespace zdb
