// config_check.h - the module configuration check: the DPRAM probe and
// P1's dynamic memory as csdram reports it.
#ifndef ZORVANTIK_CONFIG_CHECK_H
#define ZORVANTIK_CONFIG_CHECK_H

#include <cstdint>

// What csdram sends once it has sized P1's dynamic memory.
struct DramConfigMsg {
    std::uint32_t chipSize[4]; // chip 0..3 in 32-bit words; bit 31 marks the chip " (overhead)"
    std::uint32_t sdrcon;      // P1's SDRCON register
    std::uint32_t cycles;      // processor cycles of csdram's speed measurement
    std::uint32_t reserved[2]; // received, not interpreted
};

// Speed of P1's dynamic memory from csdram's cycle count, MB/s: 8 bytes in
// `cycles` clock periods (3.33 ns at 300 MHz, 4.0 ns at any other clock).
double dramSpeed(std::uint32_t cycles, std::uint32_t cpuFreqMHz);

// Probes the DPRAM, runs csdram on P1, prints what it found and sets
// runState.sdramSize. Returns 0 when the check ran to its end, -1 when
// csdram could not be loaded, P1 did not signal, or its message did not
// follow in time.
int moduleConfigCheck(std::int32_t hBoard);

#endif // ZORVANTIK_CONFIG_CHECK_H
