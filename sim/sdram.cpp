/*
 * sdram.cpp - the processors' dynamic memory (see sdram.h).
 */
#include "sdram.h"

#include <cstdlib>
#include <new>
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX /* std::min and std::max, not the macros */
#endif
#include <windows.h>
#elif defined(__unix__)
#include <sys/mman.h>
#endif

/* A chip's words come straight from the system, which clears them, in
 * 2 MB pages where the host has them: the tests stream through every word
 * of every chip, and 4 KB pages would cost a fault and a TLB entry each.
 * The mapping starts on a 2 MB boundary, so all of a chip can be large
 * pages. */
void SdramCells::allocate(size_t words) {
    release();
    if (!words)
        return;
    size_t bytes = words * sizeof(uint32_t);
#if defined(_WIN32)
    void *at = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!at)
        throw std::bad_alloc();
    mapped_ = bytes;
#elif defined(__unix__)
    constexpr size_t kLarge = size_t(2) << 20;
    size_t rounded = (bytes + kLarge - 1) & ~(kLarge - 1);
    void *map = mmap(nullptr, rounded + kLarge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        throw std::bad_alloc();
    uintptr_t from = reinterpret_cast<uintptr_t>(map), aligned = (from + kLarge - 1) & ~uintptr_t(kLarge - 1);
    if (aligned > from)
        munmap(map, aligned - from);
    if (size_t tail = from + rounded + kLarge - (aligned + rounded))
        munmap(reinterpret_cast<void *>(aligned + rounded), tail);
    void *at = reinterpret_cast<void *>(aligned);
#if defined(MADV_HUGEPAGE)
    madvise(at, rounded, MADV_HUGEPAGE);
#endif
    mapped_ = rounded;
#else
    void *at = std::calloc(words, sizeof(uint32_t));
    if (!at)
        throw std::bad_alloc();
    mapped_ = bytes;
#endif
    words_ = static_cast<uint32_t *>(at);
    size_ = words;
}

void SdramCells::release() {
    if (!words_)
        return;
#if defined(_WIN32)
    VirtualFree(words_, 0, MEM_RELEASE);
#elif defined(__unix__)
    munmap(words_, mapped_);
#else
    std::free(words_);
#endif
    words_ = nullptr;
    size_ = mapped_ = 0;
}

uint32_t sdramChipWords(const BoardConfig &c, int32_t node, int chip) {
    if (node == 0)
        return std::min(c.sdramChips[chip] & 0x7FFFFFFFu, kSdramMaxChipWords);
    return c.sdramWords[node][chip];
}

size_t sdramBytesHeld(const VirtualBoard &b) {
    size_t bytes = 0;
    for (const Processor &p : b.cpu)
        for (const SdramCells &chip : p.sdram)
            bytes += chip.size() * sizeof(uint32_t);
    return bytes;
}

SdramChip::SdramChip(VirtualBoard &b, int32_t node, int chip)
    : board_(b), node_(node), chip_(chip), words_(sdramChipWords(b.config, node, chip)) {
    for (const SdramAddressFault &f : b.config.sdramAddressFaults)
        if (f.node == node && int(f.chip) == chip)
            ignored_ |= 1u << f.bit;
}

uint32_t *SdramChip::cells() {
    SdramCells &cells = board_.cpu[node_].sdram[chip_];
    if (cells.size() != words_) {
        cells.allocate(words_);
        applyFaults();
    }
    return cells.data();
}

/* A faulty cell cannot hold what was written: a stuck bit keeps its
 * value, a bad word reads all ones, as an undriven bus does. A fault at
 * an offset the chip folds onto another acts on that other cell. */
void SdramChip::applyFaults() {
    uint32_t *cells = board_.cpu[node_].sdram[chip_].data();
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
