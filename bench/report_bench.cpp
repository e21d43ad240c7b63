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
