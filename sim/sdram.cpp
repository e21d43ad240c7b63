/*
 * sdram.cpp - the processors' dynamic memory (see sdram.h).
 */
#include "sdram.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

/* Asks for the chip's cells in 2 MB pages where the host has them: the
 * tests stream through every word of every chip, and 4 KB pages would
 * cost a fault and a TLB entry each. */
void adviseLargePages(void *cells, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kLarge = 2u << 20;
    uintptr_t from = (reinterpret_cast<uintptr_t>(cells) + kLarge - 1) & ~(kLarge - 1);
    uintptr_t to = (reinterpret_cast<uintptr_t>(cells) + bytes) & ~(kLarge - 1);
    if (to > from)
        madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#else
    (void)cells;
    (void)bytes;
#endif
}

} // namespace

uint32_t sdramChipWords(const BoardConfig &c, int32_t node, int chip) {
    if (node == 0)
        return std::min(c.sdramChips[chip] & 0x7FFFFFFFu, kSdramMaxChipWords);
    return c.sdramWords[node][chip];
}

size_t sdramBytesHeld(const VirtualBoard &b) {
    size_t bytes = 0;
    for (const Processor &p : b.cpu)
        for (const std::vector<uint32_t> &chip : p.sdram)
            bytes += chip.capacity() * sizeof(uint32_t);
    return bytes;
}

SdramChip::SdramChip(VirtualBoard &b, int32_t node, int chip)
    : board_(b), node_(node), chip_(chip), words_(sdramChipWords(b.config, node, chip)) {
    for (const SdramAddressFault &f : b.config.sdramAddressFaults)
        if (f.node == node && int(f.chip) == chip)
            ignored_ |= 1u << f.bit;
}

uint32_t *SdramChip::cells() {
    std::vector<uint32_t> &cells = board_.cpu[node_].sdram[chip_];
    if (cells.size() != words_) {
        if (cells.capacity() < words_) {
            cells.reserve(words_);
            adviseLargePages(cells.data(), size_t(words_) * sizeof(uint32_t));
        }
        cells.assign(words_, 0);
        applyFaults();
    }
    return cells.data();
}

/* A faulty cell cannot hold what was written: a stuck bit keeps its
 * value, a bad word reads all ones, as an undriven bus does. A fault at
 * an offset the chip folds onto another acts on that other cell. */
void SdramChip::applyFaults() {
    std::vector<uint32_t> &cells = board_.cpu[node_].sdram[chip_];
    for (const SdramCellFault &f : board_.config.sdramCellFaults) {
        if (f.node != node_ || int(f.chip) != chip_ || f.first >= words_)
            continue;
        uint32_t last = std::min(f.last, words_ - 1);
        for (uint32_t a = f.first; a <= last; ++a) {
            uint32_t &cell = cells[a & ~ignored_];
            if (f.kind == SdramCellFault::Bad)
                cell = 0xFFFFFFFF;
            else
                cell = f.value ? cell | 1u << f.bit : cell & ~(1u << f.bit);
        }
    }
}
