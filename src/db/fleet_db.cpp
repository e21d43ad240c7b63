// fleet_db.cpp - the fleet out of the results database: each run rebuilt
// as the fleet's reader would have read it from its record, handed to the
// same fleetAdd in the order the runs were loaded, so that the summary, the
// page and the CSV are the folder mode's own.
//
// The runs, their failed steps and (for a CSV) their measurements are read
// as three streams in run order and merged. Without a CSV only the boards'
// last runs need measurements: they are read after the pass, a few hundred
// runs per query.
#include "db/load.h"

#include <cmath>
#include <ostream>
#include <unordered_map>

namespace zdb {
namespace {

// A run's sequence number rides on the file name handed to fleetAdd, so
// that each board's last run can be found again; it is taken off after.
const char kSeqMark = '\x1f';

const std::unordered_map<std::string, std::size_t> &measureIndex() {
    static const std::unordered_map<std::string, std::size_t> index = [] {
        std::unordered_map<std::string, std::size_t> m;
        const std::vector<FleetMeasure> &all = fleetMeasures();
        for (std::size_t i = 0; i < all.size(); ++i)
            m[all[i].key + "|" + all[i].processor + "|" + all[i].name] = i;
        return m;
    }();
    return index;
}

// Columns: run_seq, step_key, processor, name, value, shown.
void takeMeasurement(const Rows &r, FleetRun &run) {
    thread_local std::string key;
    key.assign(r.view(1)).append(1, '|').append(r.view(2)).append(1, '|').append(r.view(3));
    auto it = measureIndex().find(key);
    if (it == measureIndex().end())
        return;
    run.values[it->second] = r.real(4);
    run.shown[it->second].assign(r.view(5));
}

const char *const kMeasurementSql =
    "SELECT run_seq, step_key, processor, name, value, shown FROM measurements";

} // namespace

bool fleetFromDatabase(Database &db, bool benchOnly, Fleet &fleet, std::ostream *csv, std::string &why) {
    if (!db.beginRead(why))
        return false;
    struct Close {
        Database &db;
        ~Close() { db.rollback(); }
    } close{db};

    std::unique_ptr<Rows> r = db.query("SELECT COUNT(*) FROM skipped_files", {}, why);
    if (!r || !r->next())
        return why = r ? r->error() : why, false;
    fleet.skipped += r->integer(0);

    std::string filter = benchOnly ? " WHERE origin IS NULL OR origin NOT IN ('virtual', 'replay')" : "";
    std::unique_ptr<Rows> runs = db.query("SELECT seq, serial_shown, start_local, start_seconds, outcome, error_count, "
                                          "finding_count, source_file, page_file FROM runs" +
                                              filter + " ORDER BY seq",
                                          {}, why);
    std::unique_ptr<Rows> failed = db.query(
        "SELECT run_seq, step_key, processor FROM steps WHERE status = 'failed' ORDER BY run_seq, step_no", {}, why);
    std::unique_ptr<Rows> measures;
    if (csv)
        measures = db.query(std::string(kMeasurementSql) + " ORDER BY run_seq, step_no, measurement_no", {}, why);
    if (!runs || !failed || (csv && !measures))
        return false;
    bool haveFailed = failed->next(), haveMeasure = measures && measures->next();
    const std::size_t width = fleetMeasures().size();
    if (csv)
        *csv << fleetCsvHeader();
    FleetRun run;
    while (runs->next()) {
        long long seq = runs->integer(0);
        run.serial = runs->text(1);
        run.start = runs->text(2);
        run.startSeconds = runs->integer(3);
        run.outcome = runs->text(4);
        run.errorCount = runs->integer(5);
        run.findingCount = runs->integer(6);
        std::string file = runs->text(7), page = runs->text(8);
        run.failedSteps.clear();
        run.failedKeys.clear();
        for (; haveFailed && failed->integer(0) <= seq; haveFailed = failed->next())
            if (failed->integer(0) == seq) {
                std::string key = failed->text(1), cpu = failed->text(2);
                run.failedSteps.push_back(cpu.empty() ? key : key + " " + cpu);
                run.failedKeys.emplace_back(key, cpu);
            }
        run.values.assign(width, NAN);
        run.shown.assign(width, std::string());
        for (; haveMeasure && measures->integer(0) <= seq; haveMeasure = measures->next())
            if (measures->integer(0) == seq)
                takeMeasurement(*measures, run);
        fleetAdd(fleet, run, file + kSeqMark + std::to_string(seq), page);
        if (csv)
            *csv << fleetCsvRow(file, run);
    }
    if (!runs->error().empty() || !failed->error().empty() || (measures && !measures->error().empty()))
        return why = runs->error() + failed->error() + (measures ? measures->error() : ""), false;

    // Each board's last run: its file without the mark, and its
    // measurements when the pass did not read them.
    std::unordered_map<long long, FleetRun *> last;
    for (auto &b : fleet.boards) {
        std::string &file = b.second.lastFile;
        std::size_t mark = file.rfind(kSeqMark);
        if (mark == std::string::npos)
            continue;
        long long seq = std::stoll(file.substr(mark + 1));
        file.resize(mark);
        if (!csv)
            last[seq] = &b.second.last;
    }
    std::vector<long long> seqs;
    for (const auto &l : last)
        seqs.push_back(l.first);
    for (std::size_t at = 0; at < seqs.size(); at += 500) {
        std::string in;
        for (std::size_t i = at; i < seqs.size() && i < at + 500; ++i)
            in += (in.empty() ? "" : ",") + std::to_string(seqs[i]);
        std::unique_ptr<Rows> m =
            db.query(std::string(kMeasurementSql) + " WHERE run_seq IN (" + in + ") ORDER BY run_seq, step_no, "
                                                                               "measurement_no",
                     {}, why);
        if (!m)
            return false;
        while (m->next())
            takeMeasurement(*m, *last[m->integer(0)]);
        if (!m->error().empty())
            return why = m->error(), false;
    }
    return true;
}

} // namespace zdb
