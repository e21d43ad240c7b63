// record_bench.cpp - what the result record of a whole run costs: the
// record filled as a healthy full run fills it, then both documents built,
// as the end of the run builds them before it writes them.
#include "run/record.h"
#include "run/runstate.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

namespace {

// The steps, findings and figures of a healthy run of a fully fitted board.
void fillAsAFullRun() {
    resetRecord();
    char arg0[] = "zorvantik-test";
    char *argv[] = {arg0, nullptr};
    recordStart(1, argv);
    BoardInfo info{};
    info.boardType = 0x53660010;
    info.serialNumber = 1042;
    recordBoard(info, 0x01040200, "\xCC\xEE\xE4\xF3\xEB\xFC ZORVANTIK v.1.0", true);
    const std::uint32_t chips[4] = {0x100000, 0x100000, 0x100000, 0x100000};
    const bool overhead[4] = {};
    recordDpram(true);
    recordDram(chips, overhead, 0x3A49, 100.0);
    for (const char *key : {"identification", "configuration", "HOST", "HSTREAM", "INTERRUPTS", "INTLINKS"}) {
        recordStepBegin(key, kNoCpu);
        if (std::strcmp(key, "HOST") == 0)
            for (const char *m : {"hostPortWrite", "hostPortRead", "dpramWrite", "dpramRead", "fifoBusRead",
                                  "fifoBusWrite", "fifoLinkRead", "fifoLinkWrite", "putMsg", "getMsg"})
                recordRate(m, 61.538462);
        if (std::strcmp(key, "HSTREAM") == 0)
            recordRate("streamRate", 119.981216);
        recordStepEnd();
    }
    for (int cpu = 0; cpu < 7; ++cpu) {
        recordStepBegin("memory", cpu);
        for (const char *m : {"chip1", "chip2", "chip3", "chip4"})
            recordMeasurement(m, 0x100000, "words", "0x00100000");
        recordStepEnd();
    }
    recordStepBegin("CLASTER", kNoCpu);
    recordStepEnd();
    for (int cpu = 0; cpu < 7; ++cpu) {
        recordStepBegin("FFTTIME", cpu);
        recordMeasurement("cycles", 10432, "cycles", "10432");
        recordMeasurement("time", 41.728, "us", "41.728000");
        recordStepEnd();
    }
    recordStepBegin("EXTLINKS", kNoCpu);
    recordStepEnd();
}

void RecordOfAFullRun(benchmark::State &state) {
    std::strcpy(runState.protocolLogName, "protoc1.log");
    std::strcpy(runState.screenLogName, "screen1.log");
    fillAsAFullRun();
    std::size_t jsonBytes = 0, xmlBytes = 0;
    for (auto _ : state) {
        std::string json = recordJson(), xml = recordJunit();
        jsonBytes = json.size();
        xmlBytes = xml.size();
        benchmark::DoNotOptimize(json.data());
        benchmark::DoNotOptimize(xml.data());
    }
    state.counters["json_bytes"] = static_cast<double>(jsonBytes);
    state.counters["xml_bytes"] = static_cast<double>(xmlBytes);
    resetRecord();
}
BENCHMARK(RecordOfAFullRun)->Unit(benchmark::kMicrosecond);

} // namespace
