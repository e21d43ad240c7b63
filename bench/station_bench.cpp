// station_bench.cpp - whole runs of the program on the station's board,
// as a child process: the unpaced run's CPU time and peak memory, the
// same run beside four busy processes against it alone, and the paced
// run's exchange rates beside the busy processes against the rates its
// board file sets.
#include "bench_run.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

extern char **environ;

namespace {

// The rates the station's board file sets, by the measurements that show
// them in the result record.
const std::map<std::string, double> kStationRates = {
    {"hostPortWrite", 60}, {"hostPortRead", 60},  {"dpramWrite", 40},   {"dpramRead", 40},
    {"fifoBusRead", 100},  {"fifoBusWrite", 100}, {"fifoLinkRead", 40}, {"fifoLinkWrite", 40},
    {"putMsg", 80},        {"getMsg", 80},        {"streamRate", 120},
};

std::string readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A copy of the station, its board paced as it comes or with every
// `*_mbps` key set to 0.
fs::path makeStation(const char *name, bool paced) {
    fs::path station = fs::temp_directory_path() / (std::string(name) + std::to_string(::getpid()));
    fs::remove_all(station);
    fs::create_directories(station);
    fs::copy(fs::path(ZT_STATION_TEMPLATE), station, fs::copy_options::recursive);
    if (!paced) {
        std::string ini = readFile(station / "virtual-board.ini");
        ini = std::regex_replace(ini, std::regex("^([a-z_]*_mbps *= *)[0-9]+", std::regex::multiline), "$10");
        std::ofstream(station / "virtual-board.ini", std::ios::binary | std::ios::trunc) << ini;
    }
    return station;
}

struct RunCost {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakKb = 0;
    bool ok = false;
};

// One run of the program in `station`, stdin and stdout /dev/null.
RunCost runProgram(const fs::path &station) {
    RunCost cost;
    struct rusage usage {};
    auto start = std::chrono::steady_clock::now();
    int status = runProgramIn(station.string(), &usage);
    cost.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    cost.peakKb = usage.ru_maxrss;
    cost.ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

// Four processes that only burn CPU, as `yes >/dev/null` does, for as
// long as the object lives.
class BusyProcesses {
public:
    explicit BusyProcesses(int count) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        std::string yes = "yes";
        char *argv[] = {&yes[0], nullptr};
        for (int i = 0; i < count; ++i) {
            pid_t pid = 0;
            if (posix_spawnp(&pid, "yes", &actions, nullptr, argv, environ) == 0)
                pids_.push_back(pid);
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~BusyProcesses() {
        for (pid_t pid : pids_)
            kill(pid, SIGTERM);
        for (pid_t pid : pids_)
            waitpid(pid, nullptr, 0);
    }
    size_t count() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

// The unpaced run alone: CPU time of the child and its peak memory.
void StationRunUnpaced(benchmark::State &state) {
    fs::path station = makeStation("zt-bench-unpaced-", false);
    double cpu = 0;
    long peakKb = 0;
    for (auto _ : state) {
        RunCost cost = runProgram(station);
        if (!cost.ok)
            state.SkipWithError("the run did not end with status 0");
        cpu += cost.cpuSeconds;
        peakKb = std::max(peakKb, cost.peakKb);
    }
    state.counters["cpu_s"] = cpu / double(state.iterations());
    state.counters["peak_rss_MB"] = double(peakKb) / 1024.0;
    fs::remove_all(station);
}
BENCHMARK(StationRunUnpaced)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The same run alone and beside four busy processes, one after the
// other in each iteration: wall times and their ratio.
void StationRunUnpacedLoaded(benchmark::State &state) {
    fs::path station = makeStation("zt-bench-loaded-", false);
    double alone = 0, loaded = 0, cpuLoaded = 0;
    for (auto _ : state) {
        RunCost quiet = runProgram(station);
        RunCost busy;
        {
            BusyProcesses yes(4);
            if (yes.count() != 4)
                state.SkipWithError("could not start four busy processes");
            busy = runProgram(station);
        }
        if (!quiet.ok || !busy.ok)
            state.SkipWithError("the run did not end with status 0");
        alone += quiet.wallSeconds;
        loaded += busy.wallSeconds;
        cpuLoaded += busy.cpuSeconds;
    }
    double n = double(state.iterations());
    state.counters["alone_s"] = alone / n;
    state.counters["loaded_s"] = loaded / n;
    state.counters["loaded_cpu_s"] = cpuLoaded / n;
    state.counters["loaded_over_alone"] = alone > 0 ? loaded / alone : 0;
    fs::remove_all(station);
}
BENCHMARK(StationRunUnpacedLoaded)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// The paced run (the station's board as it comes) beside four busy
// processes: each exchange rate of the result record against the rate
// the board file sets; worst_deviation is the largest |rate / set - 1|.
void StationRunPacedLoaded(benchmark::State &state) {
    fs::path station = makeStation("zt-bench-paced-", true);
    std::map<std::string, double> measured;
    for (auto _ : state) {
        RunCost cost;
        {
            BusyProcesses yes(4);
            cost = runProgram(station);
        }
        if (!cost.ok)
            state.SkipWithError("the run did not end with status 0");
        std::string record = readFile(station / "result1.json");
        std::regex one("\"name\":\\s*\"([A-Za-z]+)\",\\s*\"value\":\\s*([0-9.eE+-]+),\\s*\"unit\":\\s*\"MB/s\"");
        for (std::sregex_iterator it(record.begin(), record.end(), one), end; it != end; ++it)
            measured[(*it)[1].str()] = std::stod((*it)[2].str());
    }
    double worst = 0;
    for (const auto &[name, rate] : kStationRates) {
        auto it = measured.find(name);
        if (it == measured.end()) {
            state.SkipWithError(("no " + name + " in the record").c_str());
            break;
        }
        state.counters[name] = it->second / rate;
        worst = std::max(worst, std::fabs(it->second / rate - 1));
    }
    state.counters["worst_deviation"] = worst;
    fs::remove_all(station);
}
BENCHMARK(StationRunPacedLoaded)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace
