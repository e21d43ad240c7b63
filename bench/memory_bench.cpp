// memory_bench.cpp - the thirteen host-side pattern tests of P1's internal
// memory on the unpaced board, against memcpy of the same bytes; and a
// whole run of the program on an unpaced healthy board (wall time, peak
// resident memory).
#include "bench_run.h"
#include "qal.h"
#include "run/runstate.h"
#include "checks/memory/memory_tests.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kBankWords = 65536;
constexpr int kPatternTests = 13;
// Each test writes the range, reads it back and writes the complement.
constexpr std::int64_t kBytesPerTest = 3 * kBankWords * 4;

// A station of its own, unpaced, with the station's DSP programs.
fs::path makeStation(const char *name) {
    fs::path station = fs::temp_directory_path() / (std::string(name) + std::to_string(::getpid()));
    fs::remove_all(station);
    fs::create_directories(station);
    fs::copy(fs::path(ZT_STATION_TEMPLATE), station, fs::copy_options::recursive);
    fs::remove(station / "virtual-board.ini"); // the built-in board: healthy, unpaced
    return station;
}

// Console output goes to /dev/null while `body` runs.
template <class Body> void quietly(Body body) {
    std::fflush(stdout);
    int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    body();
    dup2(saved, 1);
    close(null);
    close(saved);
}

void InternalMemoryPatterns(benchmark::State &state) {
    fs::path station = makeStation("zt-bench-mem-");
    fs::current_path(station);
    std::strcpy(runState.screenLogName, "screen1.log");
    std::strcpy(runState.protocolLogName, "protoc1.log");
    std::vector<std::uint32_t> buffers(3 * kTestBufferWords);
    runState.buf0 = buffers.data();
    runState.buf1 = buffers.data() + kTestBufferWords;
    runState.buf2 = buffers.data() + 2 * kTestBufferWords;
    QAL_init(0, 0);
    std::int32_t board = QAL_open(1, 0, 0);
    for (auto _ : state) {
        quietly([&] { internalMemoryTests(board); });
    }
    state.SetBytesProcessed(state.iterations() * kPatternTests * kBytesPerTest);
    QAL_close(board);
    QAL_cleanup();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(station);
}
BENCHMARK(InternalMemoryPatterns)->Unit(benchmark::kMillisecond);

// The same bytes through memcpy, in the same 16 KB blocks.
void InternalMemoryMemcpy(benchmark::State &state) {
    std::vector<std::uint32_t> memory(3 * kBankWords), block(kTestBufferWords, 0x5A5A5A5A), back(kTestBufferWords);
    for (auto _ : state) {
        for (int test = 0; test < kPatternTests; ++test) {
            std::uint32_t *bank = memory.data() + (test % 3) * kBankWords;
            for (std::uint32_t j = 0; j < kBankWords; j += kTestBufferWords)
                std::memcpy(bank + j, block.data(), kTestBufferBytes);
            for (std::uint32_t j = 0; j < kBankWords; j += kTestBufferWords) {
                std::memcpy(back.data(), bank + j, kTestBufferBytes);
                std::memcpy(bank + j, block.data(), kTestBufferBytes);
                benchmark::DoNotOptimize(back.data());
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kPatternTests * kBytesPerTest);
}
BENCHMARK(InternalMemoryMemcpy)->Unit(benchmark::kMillisecond);

// A whole run, stdin from /dev/null, every test selected: wall time per
// iteration, and as counters the run's peak resident memory and the size
// of the result record it leaves.
void FullRun(benchmark::State &state) {
    fs::path station = makeStation("zt-bench-run-");
    long peakKb = 0;
    for (auto _ : state) {
        struct rusage usage {};
        int status = runProgramIn(station.string(), &usage);
        peakKb = std::max(peakKb, usage.ru_maxrss);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("the run did not end with status 0");
    }
    state.counters["peak_rss_MB"] = static_cast<double>(peakKb) / 1024.0;
    state.counters["record_json_bytes"] = static_cast<double>(fs::file_size(station / "result1.json"));
    state.counters["record_xml_bytes"] = static_cast<double>(fs::file_size(station / "result1.xml"));
    fs::remove_all(station);
}
BENCHMARK(FullRun)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
