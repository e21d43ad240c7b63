// report_bench.cpp - what the pages cost: a run's page made from the record
// of a whole run, and the fleet summary and page over 10,000 records.
//
// The records are the record of one real run of the program (a healthy
// board, every test), varied as a fleet varies: 2,500 boards of four runs
// each over 20 days, one run in ten failed on its links with the error
// lines that go with it. They are written once to a temporary folder, or
// to $ZT_BENCH_RECORDS (kept, so that other tools can be timed on the same
// files).
#include "report/report.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr int kRecords = 10000;
constexpr int kRunsPerBoard = 4;

std::string readAll(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The record of a full run of the healthy board, unpaced.
const std::string &fullRunRecord() {
    static const std::string text = [] {
        fs::path station = fs::temp_directory_path() / "zt-report-bench-station";
        fs::remove_all(station);
        fs::copy(ZT_STATION_TEMPLATE, station, fs::copy_options::recursive);
        fs::remove(station / "virtual-board.ini");
        std::string command = "cd '" + station.string() + "' && '" ZT_PROGRAM_PATH "' </dev/null >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "report_bench: the run did not pass\n");
        std::string json = readAll(station / "result1.json");
        fs::remove_all(station);
        return json;
    }();
    return text;
}

struct Folder {
    fs::path path;
    bool keep = false;
    std::uintmax_t bytes = 0;
    ~Folder() {
        if (!keep)
            fs::remove_all(path);
    }
};

const Folder &records() {
    static Folder folder = [] {
        Folder f;
        const char *given = std::getenv("ZT_BENCH_RECORDS");
        f.keep = given != nullptr;
        f.path = given ? fs::path(given) : fs::temp_directory_path() / "zt-report-bench-records";
        if (!f.keep)
            fs::remove_all(f.path);
        Json base = Json::parse(fullRunRecord());
        bool have = fs::exists(f.path / "board0000" / "run0.json");
        for (int i = 0; i < kRecords && !have; ++i) {
            int board = i / kRunsPerBoard, run = i % kRunsPerBoard;
            Json r = base;
            char serial[16], start[40];
            std::snprintf(serial, sizeof serial, "%05d", 1000 + board);
            std::snprintf(start, sizeof start, "2026-11-%02dT%02d:%02d:00+03:00", 1 + (board + run * 5) % 20,
                          8 + run * 2, board % 60);
            r["board"]["serial"] = 1000 + board;
            r["board"]["serialShown"] = serial;
            r["start"] = start;
            // Each run its own identity, or the fleet counts one run.
            char runId[40];
            std::snprintf(runId, sizeof runId, "00000000-0000-4000-8000-%012d", i);
            r["runId"] = runId;
            for (Json &step : r["steps"])
                for (Json &m : step["measurements"])
                    if (m["unit"] == "MB/s" && m["value"].is_number()) {
                        double v = m["value"].get<double>() * (0.95 + 0.1 * ((i * 7919) % 101) / 100.0);
                        char shown[32];
                        std::snprintf(shown, sizeof shown, "%f", v);
                        m["value"] = v;
                        m["shown"] = shown;
                    }
            if (i % 10 == 3) {
                r["outcome"] = "failed";
                r["errorCount"] = 50;
                for (Json &step : r["steps"])
                    if (step["key"] == "INTLINKS") {
                        step["status"] = "failed";
                        step["errors"] = 50;
                        for (int e = 0; e < 50; ++e)
                            step["errorLines"].push_back("### ОШИБКА: записано 00000001 != прочитано 00000021");
                    }
            }
            fs::path dir = f.path / ("board" + std::string(serial + 1));
            fs::create_directories(dir);
            std::ofstream(dir / ("run" + std::to_string(run) + ".json"), std::ios::binary) << r.dump(2) << "\n";
        }
        for (const fs::directory_entry &e : fs::recursive_directory_iterator(f.path))
            if (e.is_regular_file())
                f.bytes += e.file_size();
        return f;
    }();
    return folder;
}

void RunPageOfAFullRun(benchmark::State &state) {
    const std::string &json = fullRunRecord();
    std::string html, why;
    for (auto _ : state) {
        if (!renderRunPage(json, html, why))
            state.SkipWithError(why.c_str());
        benchmark::DoNotOptimize(html.data());
    }
    state.counters["recordBytes"] = static_cast<double>(json.size());
    state.counters["pageBytes"] = static_cast<double>(html.size());
}
BENCHMARK(RunPageOfAFullRun)->Unit(benchmark::kMillisecond);

// Reading every record into the summary, as zorvantik-report does before
// it writes anything.
void FleetSummaryOf10000Records(benchmark::State &state) {
    const Folder &folder = records();
    std::ostringstream err;
    std::string summary;
    for (auto _ : state) {
        Fleet fleet;
        fleetCollect({folder.path.string()}, fleet, nullptr, err);
        summary = fleetSummaryJson(fleet);
        if (fleet.runs != kRecords)
            state.SkipWithError("not every record was read");
    }
    state.counters["records"] = kRecords;
    state.counters["MB"] = folder.bytes / 1048576.0;
    state.counters["records/s"] = benchmark::Counter(kRecords, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(FleetSummaryOf10000Records)->Unit(benchmark::kMillisecond)->Iterations(3);

// The summary, then the page over 2,500 boards.
void FleetPageOf10000Records(benchmark::State &state) {
    const Folder &folder = records();
    std::ostringstream err;
    std::string page;
    for (auto _ : state) {
        Fleet fleet;
        fleetCollect({folder.path.string()}, fleet, nullptr, err);
        page = renderFleetPage(fleet, folder.path.string(), "bench");
    }
    state.counters["pageBytes"] = static_cast<double>(page.size());
}
BENCHMARK(FleetPageOf10000Records)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

#ifdef ZT_HAVE_DATABASE
// ---- The results database (zorvantik-report --into and --from) ----

#include "bench_run.h"
#include "db/load.h"

#include <chrono>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

std::vector<std::string> recordList() {
    std::vector<std::pair<std::string, std::string>> unreadable;
    return zdb::recordFiles({records().path.string()}, unreadable);
}

// Loading the fleet benchmark's 10,000 records into a new SQLite file.
void LoadInto10000RecordsSqlite(benchmark::State &state) {
    std::vector<std::string> files = recordList();
    fs::path db = fs::temp_directory_path() / "zt-report-bench-load.sqlite";
    std::ostringstream err;
    for (auto _ : state) {
        state.PauseTiming();
        for (const char *suffix : {"", "-wal", "-shm"})
            fs::remove(db.string() + suffix);
        state.ResumeTiming();
        std::string why;
        auto d = zdb::openDatabase(db.string(), why);
        zdb::Loader loader(*d, err);
        if (!loader.load(files, nullptr) || loader.added != kRecords)
            state.SkipWithError("not every record was loaded");
    }
    state.counters["records/s"] = benchmark::Counter(kRecords, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB"] = static_cast<double>(fs::file_size(db)) / 1048576.0;
}
BENCHMARK(LoadInto10000RecordsSqlite)->Unit(benchmark::kMillisecond)->Iterations(1);

// The anchor: bench/load_sqlite.py, the json module and sqlite3's
// executemany, on the same records.
void LoadPythonScript10000Records(benchmark::State &state) {
    fs::path db = fs::temp_directory_path() / "zt-report-bench-python.sqlite";
    for (auto _ : state) {
        fs::remove(db);
        std::string command = "python3 '" ZT_SOURCE_DIR "/bench/load_sqlite.py' '" + records().path.string() + "' '" +
                              db.string() + "' >/dev/null";
        auto began = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("python3 bench/load_sqlite.py failed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    }
    fs::remove(db);
}
BENCHMARK(LoadPythonScript10000Records)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// The same into PostgreSQL: ZT_BENCH_POSTGRES names a database the
// benchmark may empty (postgresql://user@/zt_bench?host=/run/postgresql).
void LoadInto10000RecordsPostgres(benchmark::State &state) {
    const char *uri = std::getenv("ZT_BENCH_POSTGRES");
    if (!uri) {
        state.SkipWithError("set ZT_BENCH_POSTGRES to a postgresql:// URI of a database to fill");
        return;
    }
    std::vector<std::string> files = recordList();
    std::ostringstream err;
    for (auto _ : state) {
        state.PauseTiming();
        std::string why;
        {
            auto d = zdb::openPostgres(uri, why);
            if (!d || !d->exec("DROP TABLE IF EXISTS faults, error_lines, findings, measurements, steps, "
                               "skipped_files, schema_version, runs CASCADE",
                               why)) {
                state.SkipWithError(("cannot empty the database: " + zdb::maskSecrets(why, uri)).c_str());
                return;
            }
        }
        state.ResumeTiming();
        auto d = zdb::openDatabase(uri, why);
        zdb::Loader loader(*d, err);
        if (!loader.load(files, nullptr) || loader.added != kRecords)
            state.SkipWithError("not every record was loaded");
    }
    state.counters["records/s"] = benchmark::Counter(kRecords, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(LoadInto10000RecordsPostgres)->Unit(benchmark::kMillisecond)->Iterations(1);

// A SQLite database of 100,000 runs: the 10,000 records, and nine copies
// of each under other keys and boards (25,000 boards).
const fs::path &hundredThousandRuns() {
    static const fs::path db = [] {
        fs::path file = fs::temp_directory_path() / "zt-report-bench-100000.sqlite";
        for (const char *suffix : {"", "-wal", "-shm"})
            fs::remove(file.string() + suffix);
        std::string why;
        auto d = zdb::openDatabase(file.string(), why);
        std::ostringstream err;
        zdb::Loader loader(*d, err);
        loader.load(recordList(), nullptr);
        auto columnsOf = [&](const std::string &table) {
            std::vector<std::string> columns;
            auto r = d->query("SELECT name FROM pragma_table_info('" + table + "')", {}, why);
            while (r && r->next())
                columns.push_back(r->text(0));
            return columns;
        };
        std::string sql = "BEGIN;";
        for (int k = 1; k <= 9; ++k) {
            std::string tag = "'/" + std::to_string(k) + "'", names, values;
            for (const std::string &c : columnsOf("runs")) {
                if (c == "seq")
                    continue;
                names += (names.empty() ? "" : ", ") + c;
                values +=
                    (values.empty() ? "" : ", ") +
                    (c == "run_key" || c == "run_id" || c == "serial_shown" || c == "source_file" ? c + " || " + tag
                                                                                                  : c);
            }
            sql += "INSERT INTO runs (" + names + ") SELECT " + values + " FROM runs WHERE run_key NOT LIKE '%/%';";
            for (const char *child : {"steps", "measurements", "findings", "error_lines", "faults"}) {
                std::string list;
                for (const std::string &c : columnsOf(child))
                    list += ", " + (c == "run_seq" ? std::string("n.seq") : "c." + c);
                sql += std::string("INSERT INTO ") + child + " SELECT " + list.substr(2) + " FROM " + child +
                       " c JOIN runs o ON o.seq = c.run_seq JOIN runs n ON n.run_key = o.run_key || " + tag +
                       " WHERE o.run_key NOT LIKE '%/%';";
            }
        }
        if (!d->exec(sql + "COMMIT;", why))
            std::fprintf(stderr, "report_bench: %s\n", why.c_str());
        return file;
    }();
    return db;
}

// zorvantik-report --from a database of 100,000 runs: its time and its
// peak memory (maxRSS), as a process of its own.
void FleetPageFrom100000Runs(benchmark::State &state) {
    const fs::path &db = hundredThousandRuns();
    fs::path page = fs::temp_directory_path() / "zt-report-bench-100000.html";
    long maxRss = 0;
    for (auto _ : state) {
        auto began = std::chrono::steady_clock::now();
        struct rusage usage {};
        int status = runMeasuredIn(".", {ZT_REPORT_PATH, "--from", db.string(), "-o", page.string()}, &usage);
        if (status == -1) {
            state.SkipWithError("cannot start zorvantik-report");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("zorvantik-report --from failed");
        maxRss = std::max(maxRss, usage.ru_maxrss);
    }
    state.counters["runs"] = 100000;
    state.counters["maxRSS_MB"] = maxRss / 1024.0;
    state.counters["pageMB"] = static_cast<double>(fs::file_size(page)) / 1048576.0;
}
BENCHMARK(FleetPageFrom100000Runs)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

} // namespace
#endif // ZT_HAVE_DATABASE
