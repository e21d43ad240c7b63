/*
 * id_area.cpp - writes the identification area from the board's keys.
 */
#include "id_area.h"

namespace {

void put16(std::vector<uint8_t> &a, size_t at, uint32_t v) {
    a[at] = uint8_t(v);
    a[at + 1] = uint8_t(v >> 8);
}

void putHeader(std::vector<uint8_t> &a, uint32_t tag, uint32_t size) {
    size_t at = a.size();
    a.resize(at + 4);
    put16(a, at, tag);
    put16(a, at + 2, size);
}

} // namespace

/* Entries are laid out whole and then cut to the area's size, so an
 * oversized prefix (id_prefix_size) pushes the board's entry out of the
 * area as it would on a badly programmed flash. */
std::vector<uint8_t> buildIdArea(const BoardConfig &cfg) {
    static const char kMaker[] = "ZORVANTIK PCI DSP7"; /* manufacturing record text */
    std::vector<uint8_t> a;

    putHeader(a, kIdTagPrefix, cfg.idPrefixSize);
    size_t prefixBytes = cfg.idPrefixSize + (cfg.idPrefixSize == 18 ? 0 : 1);
    for (size_t i = 0; i < prefixBytes; ++i)
        a.push_back(uint8_t(kMaker[i % (sizeof kMaker - 1)]));

    size_t entry = a.size();
    putHeader(a, cfg.idTag, kIdBoardDataSize);
    a.resize(entry + 4 + kIdBoardDataSize, 0);
    a[entry + kIdSubmodules] = uint8_t(cfg.submodules);
    put16(a, entry + kIdClock, cfg.cpuClockMHz);
    put16(a, entry + kIdCpuMask, cfg.cpuMask);
    a[entry + kIdX5] = uint8_t(cfg.x5Type);
    a[entry + kIdX6] = uint8_t(cfg.x6Type);

    putHeader(a, kIdTagEnd, 0);
    a.resize(kIdAreaSize, 0xFF);
    return a;
}
