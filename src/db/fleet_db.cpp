// fleet_db.cpp - the fleet out of the results database, the same summary,
// page and CSV as the folder mode makes from the same records.
//
// A database of a factory holds hundreds of thousands of runs and each run
// some sixty measurements and twenty steps, so the fleet does not rebuild
// every run whole. It reads:
//   - the runs themselves, in the folder mode's order (the byte order of
//     their files' paths), each handed to fleetAdd with its failed steps;
//   - the step x processor map, counted in SQL over steps_status;
//   - the rates the trend follows, from the measurements_speed index,
//     which holds their values;
//   - the measurements of each board's last run only, which the page's
//     distributions show;
// and only for a CSV, every measurement of every run, in the table's own
// order (no sort), the values kept until the rows are written in order.
//
// A second connection reads the counts, the rates and half of the last
// runs while the first reads the runs, when both see the same database:
// a load that lands between their first reads sends all the work to the
// first connection alone.
#include "db/load.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <thread>
#include <cmath>
#include <ostream>
#include <unordered_map>

namespace zdb {
namespace {

const char *const kCountedStatuses = "('passed', 'failed', 'partial')"; // the statuses a cell counts
const char *const kVirtualOrigins = "('virtual', 'replay')";           // what --bench-only leaves out

std::string textOrEmpty(const Rows &r, int column) { return r.isNull(column) ? std::string() : r.text(column); }

// Runs the query, handing each row to `row`; false with the reason.
template <class F>
bool eachRow(Database &db, const std::string &sql, const std::vector<Value> &params, std::string &why, F row) {
    std::unique_ptr<Rows> r = db.query(sql, params, why);
    if (!r)
        return false;
    while (r->next())
        row(*r);
    if (!r->error().empty())
        return why = r->error(), false;
    return true;
}

using StepKeys = std::vector<std::pair<std::string, std::string>>;

// Run numbers to places: a table indexed by the number, as a database
// numbers its runs 1, 2, 3 ... with few gaps; a hash for the odd one that
// does not.
template <class T>
class BySeq {
public:
    void add(long long seq, const T &value) {
        if (seq >= 0 && seq < kDense) {
            if (static_cast<std::size_t>(seq) >= dense_.size())
                dense_.resize(std::max<std::size_t>(seq + 1, dense_.size() * 2));
            dense_[seq] = {true, value};
        } else {
            sparse_[seq] = value;
        }
        ++size_;
    }
    const T *find(long long seq) const {
        if (seq >= 0 && static_cast<std::size_t>(seq) < dense_.size())
            return dense_[seq].first ? &dense_[seq].second : nullptr;
        auto it = sparse_.find(seq);
        return it == sparse_.end() ? nullptr : &it->second;
    }
    std::size_t size() const { return size_; }

private:
    static constexpr long long kDense = 1LL << 26;
    std::vector<std::pair<bool, T>> dense_;
    std::unordered_map<long long, T> sparse_;
    std::size_t size_ = 0;
};
using DayValues = std::vector<std::vector<double>>; // per fleetMeasures(), a day's values

// What tells two connections that they read the same database: the runs
// and the files skipped. A load adds runs whole, and nothing else changes
// the steps and the measurements the second connection reads.
const char *const kFingerprint = "SELECT (SELECT COUNT(*) FROM runs), (SELECT MAX(seq) FROM runs), "
                                 "(SELECT COUNT(*) FROM skipped_files)";

bool fingerprint(Database &db, std::string &print, std::string &why) {
    return eachRow(db, kFingerprint, {}, why, [&](const Rows &r) {
        print = std::to_string(r.integer(0)) + "/" + textOrEmpty(r, 1) + "/" + std::to_string(r.integer(2));
    });
}

// A read-only transaction, rolled back when done.
struct ReadTransaction {
    Database &db;
    bool open;
    ReadTransaction(Database &d, std::string &why) : db(d), open(d.beginRead(why)) {
        // A read goes through each table once: a small cache is as fast,
        // and leaves the memory to the fleet.
        if (open && !db.postgres() && !db.exec("PRAGMA cache_size = -8192", why)) {
            db.rollback();
            open = false;
        }
    }
    ~ReadTransaction() {
        if (open)
            db.rollback();
    }
};

class FleetReader {
public:
    FleetReader(Database &db, bool benchOnly, Fleet &fleet) : db_(db), benchOnly_(benchOnly), fleet_(fleet) {}

    bool read(std::ostream *csv, std::string &why) {
        csv_ = csv != nullptr;
        ReadTransaction main(db_, why);
        std::string print;
        if (!main.open || !fingerprint(db_, print, why))
            return false;
        // The second connection, when it can be had and sees what the
        // first sees.
        std::string sideWhy, sidePrint;
        std::unique_ptr<Database> side = db_.reopen(sideWhy);
        std::unique_ptr<ReadTransaction> sideRead;
        if (side) {
            sideRead = std::make_unique<ReadTransaction>(*side, sideWhy);
            if (!sideRead->open || !fingerprint(*side, sidePrint, sideWhy) || sidePrint != print) {
                sideRead.reset();
                side.reset();
            }
        }
        if (!side) {
            return skippedFiles(why) && failedSteps(why) && runs(why) && cells(db_, fleet_.cells, why) &&
                   rates(db_, why) && lastRuns(db_, why) && (!csv || writeCsv(*csv, why));
        }
        // The second connection counts the cells while the first reads the
        // runs, then reads the rates, then shares the last runs with it.
        std::promise<bool> runsRead;
        std::shared_future<bool> runsDone = runsRead.get_future().share();
        std::map<std::pair<std::string, std::string>, FleetCell> sideCells;
        auto sideWork = std::async(std::launch::async, [&] {
            return cells(*side, sideCells, sideWhy) && runsDone.get() && rates(*side, sideWhy) &&
                   lastRuns(*side, sideWhy);
        });
        bool ok = skippedFiles(why) && failedSteps(why) && runs(why);
        if (ok)
            wanted();
        runsRead.set_value(ok);
        ok = ok && lastRuns(db_, why);
        if (!ok)
            stop_ = true;
        bool sideOk = sideWork.get();
        if (ok && !sideOk)
            why = sideWhy;
        if (!ok || !sideOk)
            return false;
        fleet_.cells.swap(sideCells);
        return !csv || writeCsv(*csv, why);
    }

private:
    // A run counted, as the queries below find it by its number.
    struct Counted {
        std::size_t index = 0; // its place among the runs counted
        DayValues *day = nullptr; // its day's values, or nullptr when its start has no date
    };
    // A run of the CSV, its measurements still to come.
    struct CsvRun {
        FleetRun run;
        std::string file;
    };

    bool skippedFiles(std::string &why) {
        if (!eachRow(db_, "SELECT COUNT(*) FROM skipped_files", {}, why,
                     [&](const Rows &r) { fleet_.skipped += r.integer(0); }))
            return false;
        return eachRow(db_, "SELECT file FROM skipped_files ORDER BY file", {}, why,
                       [&](const Rows &r) { fleet_.skippedFiles.push_back(r.text(0)); });
    }

    // The failed steps of every run, in step order: few rows, read first,
    // so that each run comes to fleetAdd with its own.
    bool failedSteps(std::string &why) {
        return eachRow(db_, "SELECT run_seq, step_key, processor FROM steps WHERE status = 'failed' "
                            "ORDER BY run_seq, step_no",
                       {}, why, [&](const Rows &r) {
                           failed_[r.integer(0)].emplace_back(r.text(1), textOrEmpty(r, 2));
                       });
    }

    // The runs in the folder mode's order, the byte order of their files'
    // paths (the least copy's path is the one kept), so that the CSV's
    // rows and each board's list of runs come out as from the folder. Each
    // is counted as it comes; its steps and its measurements are counted
    // apart, all runs at once.
    bool runs(std::string &why) {
        static const std::string kDigest = "digest:";
        // The fleet leaves out what --bench-only asks itself, so that the
        // runs left out are counted as in the folder mode.
        fleet_.benchOnly = benchOnly_;
        const std::size_t width = fleetMeasures().size();
        std::string sql = "SELECT seq, serial_shown, start_local, start_seconds, outcome, error_count, "
                          "finding_count, source_file, page_file, run_id, run_key, origin, coverage_complete "
                          "FROM runs ORDER BY source_file";
        sql += db_.postgres() ? " COLLATE \"C\", seq" : ", seq";
        FleetRun run;
        std::string file, page;
        return eachRow(db_, sql, {}, why, [&](const Rows &r) {
            run.seq = r.integer(0);
            run.serial = textOrEmpty(r, 1);
            run.start = r.text(2);
            run.startSeconds = r.integer(3);
            run.outcome = r.text(4);
            run.errorCount = r.integer(5);
            run.findingCount = r.integer(6);
            file = r.text(7);
            page = textOrEmpty(r, 8);
            run.runId = textOrEmpty(r, 9);
            std::string_view key = r.view(10);
            run.digest = run.runId.empty() && key.compare(0, kDigest.size(), kDigest) == 0
                             ? std::string(key.substr(kDigest.size()))
                             : std::string();
            run.origin = textOrEmpty(r, 11);
            run.coverageComplete = r.isNull(12) ? -1 : static_cast<int>(r.integer(12));
            run.failedKeys.clear();
            run.failedSteps.clear();
            auto failed = failed_.find(run.seq);
            if (failed != failed_.end()) {
                run.failedKeys.swap(failed->second);
                for (const auto &k : run.failedKeys)
                    run.failedSteps.push_back(k.second.empty() ? k.first : k.first + " " + k.second);
            }
            if (!fleetAdd(fleet_, run, file, page))
                return;
            Counted c;
            c.index = counted_.size();
            if (run.start.size() >= 10) {
                c.day = &fleet_.dayValues[run.start.substr(0, 10)];
                c.day->resize(width);
            }
            counted_.add(run.seq, c);
            if (csv_)
                csvRuns_.push_back({run, file});
        });
    }

    // The step x processor map: the covering index steps_status gives the
    // counts in its own order; with --bench-only the steps of the runs
    // left out are counted again and taken off.
    bool cells(Database &db, std::map<std::pair<std::string, std::string>, FleetCell> &cells, std::string &why) {
        auto count = [&](const std::string &sql, int sign) {
            return eachRow(db, sql, {}, why, [&](const Rows &r) {
                FleetCell &cell = cells[{r.text(1), textOrEmpty(r, 2)}];
                long long n = r.integer(3) * sign;
                cell.ran += n;
                if (r.view(0) == "failed")
                    cell.failed += n;
            });
        };
        if (!count(std::string("SELECT status, step_key, processor, COUNT(*) FROM steps WHERE status IN ") +
                       kCountedStatuses + " GROUP BY status, step_key, processor",
                   1))
            return false;
        if (benchOnly_ &&
            !count(std::string("SELECT s.status, s.step_key, s.processor, COUNT(*) FROM runs r CROSS JOIN steps s "
                               "WHERE s.run_seq = r.seq AND r.origin IN ") +
                       kVirtualOrigins + " AND s.status IN " + kCountedStatuses +
                       " GROUP BY s.status, s.step_key, s.processor",
                   -1))
            return false;
        // A cell every run of it left out: as if never seen.
        for (auto it = cells.begin(); it != cells.end();)
            it = it->second.ran == 0 ? cells.erase(it) : std::next(it);
        return true;
    }

    // The rates the trend follows, a day's values each: one range of the
    // measurements_speed index per rate (its rows in MB/s, as every
    // record's rates are). A run that holds the same rate
    // twice keeps the last, as a record read whole does.
    bool rates(Database &db, std::string &why) {
        const std::vector<FleetMeasure> &measures = fleetMeasures();
        struct Taken {
            long long step = -1, measurement = -1;
            double value = NAN;
            DayValues *day = nullptr;
        };
        std::vector<Taken> taken;
        for (std::size_t i = 0; i < measures.size(); ++i) {
            const FleetMeasure &m = measures[i];
            if (m.unit != "MB/s")
                continue;
            taken.assign(counted_.size(), Taken());
            // A board-wide step's processor is NULL, or "" in an odd record.
            std::vector<std::string> processors{"= $3"};
            if (m.processor.empty())
                processors = {"IS NULL", "= ''"};
            for (const std::string &processor : processors) {
                std::vector<Value> params{Value::text(m.key), Value::text(m.name)};
                if (!m.processor.empty())
                    params.push_back(Value::text(m.processor));
                bool read = eachRow(db,
                                    "SELECT run_seq, step_no, measurement_no, value FROM measurements "
                                    "WHERE unit = 'MB/s' AND step_key = $1 AND name = $2 AND processor " +
                                        processor,
                                    params, why, [&](const Rows &r) {
                                        const Counted *at = counted_.find(r.integer(0));
                                        if (!at || !at->day)
                                            return;
                                        Taken &t = taken[at->index];
                                        long long step = r.integer(1), measurement = r.integer(2);
                                        if (step > t.step || (step == t.step && measurement > t.measurement))
                                            t = {step, measurement, r.real(3), at->day};
                                    });
                if (!read)
                    return false;
            }
            for (const Taken &t : taken)
                if (t.day && std::isfinite(t.value))
                    (*t.day)[i].push_back(t.value);
        }
        return true;
    }

    // Each board's last run, in the order of their numbers, its
    // measurements still to read.
    void wanted() {
        const std::size_t width = fleetMeasures().size();
        for (auto &b : fleet_.boards) {
            FleetRun &last = b.second.last;
            last.values.assign(width, NAN);
            last.shown.assign(width, std::string());
            wanted_.emplace_back(last.seq, &last);
        }
        std::sort(wanted_.begin(), wanted_.end(),
                  [](const std::pair<long long, FleetRun *> &a, const std::pair<long long, FleetRun *> &b) {
                      return a.first < b.first;
                  });
        wantedReady_ = true;
    }

    // The measurements of each board's last run, which the page shows: a
    // few hundred runs per query, by the table's key. Both connections
    // take the next few hundred until none are left.
    bool lastRuns(Database &db, std::string &why) {
        if (!wantedReady_)
            wanted();
        const std::size_t kChunk = 500;
        for (;;) {
            std::size_t from = nextChunk_.fetch_add(kChunk);
            if (from >= wanted_.size() || stop_)
                return true;
            std::size_t to = std::min(wanted_.size(), from + kChunk);
            std::string list;
            for (std::size_t k = from; k < to; ++k)
                list += (list.empty() ? "" : ", ") + std::to_string(wanted_[k].first);
            // The rows come in the order of the runs asked for.
            std::size_t at = from;
            bool read = eachRow(db,
                                "SELECT run_seq, step_key, processor, name, value, shown FROM measurements "
                                "WHERE run_seq IN (" + list + ") ORDER BY run_seq, step_no, measurement_no",
                                {}, why, [&](const Rows &r) {
                                    long long seq = r.integer(0);
                                    while (at < to && wanted_[at].first < seq)
                                        ++at;
                                    if (at < to && wanted_[at].first == seq)
                                        take(r, *wanted_[at].second);
                                });
            if (!read) {
                stop_ = true;
                return false;
            }
        }
    }

    // The CSV: every run's measurements in the table's order (no sort),
    // then a row per run in the runs' order.
    bool writeCsv(std::ostream &csv, std::string &why) {
        const std::size_t width = fleetMeasures().size();
        for (CsvRun &c : csvRuns_) {
            c.run.values.assign(width, NAN);
            c.run.shown.clear();
        }
        bool read = eachRow(db_, "SELECT run_seq, step_key, processor, name, value, shown FROM measurements "
                                 "ORDER BY run_seq, step_no, measurement_no",
                            {}, why, [&](const Rows &r) {
                                if (const Counted *at = counted_.find(r.integer(0)))
                                    take(r, csvRuns_[at->index].run);
                            });
        if (!read)
            return false;
        csv << fleetCsvHeader();
        for (const CsvRun &c : csvRuns_)
            csv << fleetCsvRow(c.file, c.run);
        return true;
    }

    // Columns: run_seq, step_key, processor, name, value, shown.
    static void take(const Rows &r, FleetRun &run) {
        thread_local std::string key;
        key.assign(r.view(1)).append(1, '|').append(r.view(2)).append(1, '|').append(r.view(3));
        auto it = fleetMeasureIndex().find(key);
        if (it == fleetMeasureIndex().end())
            return;
        run.values[it->second] = r.real(4);
        if (!run.shown.empty()) // the CSV needs only the values
            run.shown[it->second].assign(r.view(5));
    }

    Database &db_;
    bool benchOnly_, csv_ = false;
    Fleet &fleet_;
    std::unordered_map<long long, StepKeys> failed_; // run number -> its failed steps
    BySeq<Counted> counted_;                         // run number -> the run counted
    std::vector<CsvRun> csvRuns_;                    // the runs counted, in order, for the CSV
    std::vector<std::pair<long long, FleetRun *>> wanted_; // each board's last run, by number
    bool wantedReady_ = false;
    std::atomic<std::size_t> nextChunk_{0};
    std::atomic<bool> stop_{false}; // a connection failed: the other stops too
};

} // namespace

bool fleetFromDatabase(Database &db, bool benchOnly, Fleet &fleet, std::ostream *csv, std::string &why) {
    return FleetReader(db, benchOnly, fleet).read(csv, why);
}

} // namespace zdb
