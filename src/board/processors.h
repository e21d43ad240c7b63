// processors.h - the board's seven processors as the program names them,
// and whose DSP programs each one runs.
#ifndef ZORVANTIK_PROCESSORS_H
#define ZORVANTIK_PROCESSORS_H

#include <cstdint>

constexpr int kCpuCount = 7; // P1..P7, processor index and node 0..6

// "P1".."P7" for processor index 0..6.
extern const char *const kCpuNames[kCpuCount];

// Whose programs processor `cpu` runs: P6 runs P2's when P1 and P6 are
// present and P2 is absent, P7 runs P3's when P1 and P7 are present and P3
// is absent; every other processor its own.
int programCpu(int cpu, std::uint32_t cpuMask);

#endif // ZORVANTIK_PROCESSORS_H
