// runstate.h - the one process-wide record of an acceptance run.
//
// Defined once in runstate.cpp. The driver fills the options, the logs, the
// handle and the buffers; board identification and the configuration check
// fill the board description; errorCount grows through countError
// (run/record.h).
#ifndef ZORVANTIK_RUNSTATE_H
#define ZORVANTIK_RUNSTATE_H

#include <atomic>
#include <cstdint>
#include <string>

constexpr std::uint32_t kTestBufferBytes = 0x4000; // each of buf0..buf2: 16 KB
constexpr std::uint32_t kTestBufferWords = kTestBufferBytes / 4;

struct RunState {
    // Options
    std::int32_t boardLid = 1; // board number from -B, 1 by default
    std::int32_t continuous;   // -C: repeat the host exchange test without end
    std::int32_t trace;        // -V: the board library traces every call

    // Board
    std::atomic<std::int32_t> hBoard{0}; // handle from QAL_open, valid when > 0; the interrupt thread reads it
    std::int32_t errorCount; // errors counted towards the verdict

    // Board description, set once by identification and the configuration check
    std::uint32_t cpuMask;    // bit i set: processor P(i+1) present
    std::uint32_t cpuFreqMHz; // processor clock, MHz
    std::uint32_t sdramSize;  // P1's dynamic-memory chip 0, 32-bit words; 0 = none
    std::int32_t qdx1Present; // submodule site QDX1 fitted
    std::int32_t qdx2Present; // submodule site QDX2 fitted
    std::int32_t x5Type;      // connector X5: 0 = LINK, other = SYNX
    std::int32_t x6Type;      // connector X6: 0 = LINK, other = PIOX

    // Logs, reopened by name for every append
    char protocolLogName[16]; // "protoc1.log".."protoc8.log" or "protocol.log"
    char screenLogName[16];   // "screen1.log".."screen8.log" or "screen.log"
    std::string stationDir;   // the directory the run started in; logs and records lie there

    // Test buffers, 16 KB each, allocated once before the first test
    std::uint32_t *buf0;
    std::uint32_t *buf1;
    std::uint32_t *buf2;
};

extern RunState runState;

// The file `name` in the station directory, whatever the current
// directory is now; `name` itself while the station is not known.
std::string stationPath(const char *name);

// Puts runState back to its state at program start (for tests).
void resetRunState();

#endif // ZORVANTIK_RUNSTATE_H
