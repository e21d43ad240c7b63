// replay_bench.cpp - what recording costs and what replay saves.
//
// RecorderCall: one host-port read through libqal-record (loaded here as
// a bench loads it, over this build's virtual board) against the same call
// made directly; `fresh` makes every read return new bytes, so each one
// stores a blob. FullRunRecorded and FullRunReplayed: a whole unpaced run
// through the recorder (the trace's size as a counter), and the same run
// answered from its trace with no firmware, against FullRun's simulation.
#include "bench_run.h"
#include "qal.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path station(const char *name) {
    fs::path dir = fs::temp_directory_path() / (std::string(name) + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::copy(fs::path(ZT_STATION_TEMPLATE), dir, fs::copy_options::recursive);
    fs::remove(dir / "virtual-board.ini");
    std::ofstream(dir / "qal-record.ini") << "[record]\nadapter = " ZT_QAL_PATH "\ntrace = run.qtr\n";
    return dir;
}

// The program in `dir`, stdin and stdout /dev/null; with `libraryDir` it
// finds its board library there first.
bool runProgram(const fs::path &dir, const std::string &libraryDir = "") {
    int status = runProgramIn(dir.string(), nullptr, libraryDir);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

using ReadRam = decltype(&QAL_readRAM);

// The recorder's QAL_readRAM, started once for the process in a station
// that stays until the process ends; null if it does not start.
ReadRam recordedReadRam() {
    static fs::path dir = station("zt-bench-rec-");
    fs::current_path(dir);
    static ReadRam read = [] {
        std::atexit([] {
            std::error_code error;
            fs::remove_all(dir, error);
        });
        void *recorder = dlopen(ZT_RECORDER_PATH, RTLD_NOW | RTLD_LOCAL);
        auto init = recorder ? reinterpret_cast<decltype(&QAL_init)>(dlsym(recorder, "QAL_init")) : nullptr;
        return init && init(0, 0) == 0 ? reinterpret_cast<ReadRam>(dlsym(recorder, "QAL_readRAM")) : nullptr;
    }();
    return read;
}

// Direct (0) or through the recorder (1); arg 1 bytes per read; arg 2
// fresh bytes every read (1) or the same (0).
void RecorderCall(benchmark::State &state) {
    fs::path saved = fs::current_path();
    ReadRam read = state.range(0) ? recordedReadRam() : QAL_readRAM;
    if (!read) {
        fs::current_path(saved);
        state.SkipWithError("the recorder does not start");
        return;
    }
    std::uintmax_t before = state.range(0) ? fs::file_size("run.qtr") : 0;
    std::int32_t h = QAL_open(1, 0, 0);
    std::uint32_t bytes = std::uint32_t(state.range(1)), counter = 0;
    std::string buf(bytes, '\0');
    for (auto _ : state) {
        if (state.range(2))
            QAL_poke(h, 0, 0x80000, ++counter);
        benchmark::DoNotOptimize(read(h, 0, 0x80000, &buf[0], bytes, 1));
    }
    QAL_close(h);
    state.SetBytesProcessed(state.iterations() * bytes);
    if (state.range(0))
        state.counters["trace_bytes_per_call"] =
            double(fs::file_size("run.qtr") - before) / double(state.iterations());
    fs::current_path(saved);
}
BENCHMARK(RecorderCall)
    ->ArgNames({"recorded", "bytes", "fresh"})
    ->Args({0, 4, 0})
    ->Args({1, 4, 0})
    ->Args({0, 16384, 0})
    ->Args({1, 16384, 0})
    ->Args({0, 16384, 1})
    ->Args({1, 16384, 1});

// A whole run through the recorder; its trace is left for the replay.
void FullRunRecorded(benchmark::State &state) {
    fs::path dir = station("zt-bench-full-");
    fs::create_directories(dir / "lib");
    fs::create_symlink(ZT_RECORDER_PATH, dir / "lib" / fs::path(ZT_QAL_PATH).filename());
    for (auto _ : state)
        if (!runProgram(dir, (dir / "lib").string()))
            state.SkipWithError("the recorded run did not end with status 0");
    state.counters["trace_MB"] = double(fs::file_size(dir / "run.qtr")) / 1048576.0;
}
BENCHMARK(FullRunRecorded)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void FullRunReplayed(benchmark::State &state) {
    fs::path dir = fs::temp_directory_path() / ("zt-bench-full-" + std::to_string(::getpid()));
    std::ofstream(dir / "virtual-board.ini") << "[board 1]\nreplay = run.qtr\n";
    for (auto _ : state)
        if (!runProgram(dir))
            state.SkipWithError("the replayed run did not end with status 0");
    fs::remove_all(dir);
}
BENCHMARK(FullRunReplayed)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
