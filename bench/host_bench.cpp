// host_bench.cpp - the unpaced virtual board's host paths against plain
// memcpy of the same block sizes, and message throughput.
//
//   make bench
//
// The board runs in a temporary copy of the station with pacing off, so
// the figures show what the library itself costs.
#include "qal.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kRamAddress = 0x80000;
constexpr std::uint32_t kDpramOffset = 256;

// One open, unpaced board for the whole run, in a station of its own.
struct Bench {
    fs::path station;
    std::int32_t board = 0;

    Bench() {
        station = fs::temp_directory_path() / ("zt-bench-" + std::to_string(::getpid()));
        fs::create_directories(station);
        fs::copy(fs::path(ZT_STATION_TEMPLATE) / "dsp_app", station / "dsp_app", fs::copy_options::recursive);
        std::ofstream(station / "virtual-board.ini") << "[board 1]\n";
        // A message source of 4-byte messages beside the station's 16 KB one.
        std::ofstream(station / "dsp_app" / "drvwrite4.ldr") << "ZORVANTIK-DSP 1\nfirmware = drvwrite\nsize = 4\n";
        fs::current_path(station);
        QAL_init(0, 0);
        board = QAL_open(1, 0, 0);
        if (board <= 0)
            throw std::runtime_error("the virtual board does not open");
    }
    ~Bench() {
        QAL_close(board);
        QAL_cleanup();
        std::error_code error;
        fs::current_path(fs::temp_directory_path(), error);
        fs::remove_all(station, error);
    }
    void load(const char *file) {
        fs::current_path(station / "dsp_app");
        std::int32_t rc = QAL_load(board, 0, file, 0, nullptr);
        fs::current_path(station);
        if (rc < 0)
            throw std::runtime_error(std::string("cannot load ") + file);
        QAL_start(board, -1);
    }
};

Bench &bench() {
    static Bench b;
    return b;
}

void Memcpy(benchmark::State &state) {
    std::vector<char> from(state.range(0), 'x'), to(state.range(0));
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(Memcpy)->Arg(1024)->Arg(16384);

void HostPortWrite(benchmark::State &state) {
    std::vector<std::uint32_t> buf(state.range(0) / 4, 0x12345678);
    std::int32_t board = bench().board;
    for (auto _ : state)
        QAL_writeRAM(board, 0, kRamAddress, buf.data(), static_cast<std::uint32_t>(state.range(0)), 1);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(HostPortWrite)->Arg(16384);

void HostPortRead(benchmark::State &state) {
    std::vector<std::uint32_t> buf(state.range(0) / 4);
    std::int32_t board = bench().board;
    for (auto _ : state)
        QAL_readRAM(board, 0, kRamAddress, buf.data(), static_cast<std::uint32_t>(state.range(0)), 1);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(HostPortRead)->Arg(16384);

void DpramWrite(benchmark::State &state) {
    std::vector<std::uint32_t> buf(state.range(0) / 4, 0x12345678);
    std::int32_t board = bench().board;
    for (auto _ : state)
        QAL_writeDPRAM(board, 0, kDpramOffset, buf.data(), static_cast<std::uint32_t>(state.range(0)));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(DpramWrite)->Arg(1024);

void DpramRead(benchmark::State &state) {
    std::vector<std::uint32_t> buf(state.range(0) / 4);
    std::int32_t board = bench().board;
    for (auto _ : state)
        QAL_readDPRAM(board, 0, kDpramOffset, buf.data(), static_cast<std::uint32_t>(state.range(0)));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(DpramRead)->Arg(1024);

// Host to P1: drvread takes every message.
void MessagePut(benchmark::State &state) {
    bench().load("drvread.ldr");
    std::vector<char> buf(state.range(0), 'm');
    for (auto _ : state) {
        std::uint32_t size = static_cast<std::uint32_t>(buf.size());
        QAL_putMsg(bench().board, 0, buf.data(), &size, QAL_WAIT_FOREVER);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * state.range(0));
    QAL_reset(bench().board, 0);
}
BENCHMARK(MessagePut)->Arg(4)->Arg(16384)->UseRealTime();

// P1 to host: drvwrite sends without end.
void MessageGet(benchmark::State &state) {
    bench().load(state.range(0) == 4 ? "drvwrite4.ldr" : "drvwrite.ldr");
    std::vector<char> buf(state.range(0));
    for (auto _ : state) {
        std::uint32_t size = static_cast<std::uint32_t>(buf.size());
        QAL_getMsg(bench().board, 0, buf.data(), &size, QAL_WAIT_FOREVER);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * state.range(0));
    QAL_reset(bench().board, 0);
}
BENCHMARK(MessageGet)->Arg(4)->Arg(16384)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
