// processors.cpp - processor names and the partner rule.
#include "board/processors.h"

const char *const kCpuNames[kCpuCount] = {"P1", "P2", "P3", "P4", "P5", "P6", "P7"};

int programCpu(int cpu, std::uint32_t cpuMask) {
    if (cpu == 5 && (cpuMask & 0x23) == 0x21)
        return 1;
    if (cpu == 6 && (cpuMask & 0x45) == 0x41)
        return 2;
    return cpu;
}
