// fleet_db.cpp - the fleet out of the results database: each run rebuilt
// as the fleet's reader would have read it from its record, handed to the
// same fleetAdd in the order the runs were loaded, so that the summary, the
// page and the CSV are the folder mode's own.
//
// The runs, their steps and their measurements are read as three streams
// in run order and merged.
#include "db/load.h"

#include <cmath>
#include <ostream>
#include <unordered_map>

namespace zdb {
namespace {

// Columns: run_seq, step_key, processor, name, value, shown.
void takeMeasurement(const Rows &r, FleetRun &run) {
    thread_local std::string key;
    key.assign(r.view(1)).append(1, '|').append(r.view(2)).append(1, '|').append(r.view(3));
    auto it = fleetMeasureIndex().find(key);
    if (it == fleetMeasureIndex().end())
        return;
    run.values[it->second] = r.real(4);
    run.shown[it->second].assign(r.view(5));
}

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
    r = db.query("SELECT file FROM skipped_files ORDER BY file", {}, why);
    if (!r)
        return false;
    while (r->next())
        fleet.skippedFiles.push_back(r->text(0));

    // The fleet leaves out what --bench-only asks itself (fleet.benchOnly),
    // so that the runs left out are counted as in the folder mode.
    fleet.benchOnly = benchOnly;
    // The runs in the folder mode's order, the byte order of their files'
    // paths (the least copy's path is the one kept), so that the CSV's rows
    // and each board's list of runs come out as from the folder; the steps
    // and the measurements follow the same order, run by run.
    const std::string order =
        std::string(" ORDER BY r.source_file") + (db.postgres() ? " COLLATE \"C\"" : "") + ", r.seq";
    std::unique_ptr<Rows> runs = db.query("SELECT r.seq, r.serial_shown, r.start_local, r.start_seconds, r.outcome, "
                                          "r.error_count, r.finding_count, r.source_file, r.page_file, r.run_id, "
                                          "r.run_key, r.origin, r.coverage_complete FROM runs r" +
                                              order,
                                          {}, why);
    std::unique_ptr<Rows> steps = db.query("SELECT s.run_seq, s.step_key, s.processor, s.status FROM steps s "
                                           "JOIN runs r ON r.seq = s.run_seq" +
                                               order + ", s.step_no",
                                           {}, why);
    std::unique_ptr<Rows> measures = db.query("SELECT m.run_seq, m.step_key, m.processor, m.name, m.value, m.shown "
                                              "FROM measurements m JOIN runs r ON r.seq = m.run_seq" +
                                                  order + ", m.step_no, m.measurement_no",
                                              {}, why);
    if (!runs || !steps || !measures)
        return false;
    bool haveStep = steps->next(), haveMeasure = measures->next();
    const std::size_t width = fleetMeasures().size();
    if (csv)
        *csv << fleetCsvHeader();
    FleetRun run;
    static const std::string kDigest = "digest:";
    while (runs->next()) {
        long long seq = runs->integer(0);
        run.serial = runs->isNull(1) ? std::string() : runs->text(1);
        run.start = runs->text(2);
        run.startSeconds = runs->integer(3);
        run.outcome = runs->text(4);
        run.errorCount = runs->integer(5);
        run.findingCount = runs->integer(6);
        std::string file = runs->text(7), page = runs->isNull(8) ? std::string() : runs->text(8);
        run.runId = runs->isNull(9) ? std::string() : runs->text(9);
        std::string key = runs->text(10);
        run.digest = run.runId.empty() && key.compare(0, kDigest.size(), kDigest) == 0 ? key.substr(kDigest.size())
                                                                                       : std::string();
        run.origin = runs->isNull(11) ? std::string() : runs->text(11);
        run.coverageComplete = runs->isNull(12) ? -1 : static_cast<int>(runs->integer(12));
        run.steps.clear();
        run.failedSteps.clear();
        run.failedKeys.clear();
        for (; haveStep && steps->integer(0) == seq; haveStep = steps->next()) {
            std::string stepKey = steps->text(1), cpu = steps->isNull(2) ? std::string() : steps->text(2);
            std::string status = steps->text(3);
            run.steps.push_back({stepKey, cpu, status});
            if (status == "failed") {
                run.failedSteps.push_back(cpu.empty() ? stepKey : stepKey + " " + cpu);
                run.failedKeys.emplace_back(stepKey, cpu);
            }
        }
        run.values.assign(width, NAN);
        run.shown.assign(width, std::string());
        for (; haveMeasure && measures->integer(0) == seq; haveMeasure = measures->next())
            takeMeasurement(*measures, run);
        if (fleetAdd(fleet, run, file, page) && csv)
            *csv << fleetCsvRow(file, run);
    }
    if (!runs->error().empty() || !steps->error().empty() || !measures->error().empty())
        return why = runs->error() + steps->error() + measures->error(), false;
    return true;
}

} // namespace zdb
