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
 * 2 MB pages where the host has them: a chip that keeps its words has
 * every one of them written and read back in each pass, and 4 KB pages
 * would cost a fault and a TLB entry each. The mapping starts on a 2 MB
 * boundary, so all of a chip can be large pages. */
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

namespace {

uint32_t faulted1(const SdramCellFault &f, uint32_t word) {
    if (f.kind == SdramCellFault::Bad)
        return 0xFFFFFFFF;
    return f.value ? word | 1u << f.bit : word & ~(1u << f.bit);
}

} // namespace

SdramChip::SdramChip(VirtualBoard &b, int32_t node, int chip)
    : board_(b), node_(node), chip_(chip), words_(sdramChipWords(b.config, node, chip)) {
    for (const SdramAddressFault &f : b.config.sdramAddressFaults)
        if (f.node == node && int(f.chip) == chip)
            ignored_ |= 1u << f.bit;
    // Faults beyond the chip's size have no cell to act on.
    for (SdramCellFault f : b.config.sdramCellFaults)
        if (f.node == node && int(f.chip) == chip && f.first < words_) {
            f.last = std::min(f.last, words_ - 1);
            faults_.push_back(f);
        }
}

bool SdramChip::kept() const { return ignored_ != 0; }

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
    for (const SdramCellFault &f : faults_)
        for (uint32_t a = f.first; a <= f.last; ++a) {
            uint32_t &cell = cells[a & ~ignored_];
            cell = faulted1(f, cell);
        }
}

uint32_t SdramChip::faulted(uint32_t a, uint32_t held) const {
    for (const SdramCellFault &f : faults_)
        if (a >= f.first && a <= f.last)
            held = faulted1(f, held);
    return held;
}

uint32_t SdramChip::heldAt(uint32_t a) const {
    for (const SdramRun &run : board_.cpu[node_].sdramRuns[chip_])
        if (a >= run.from && a < run.to)
            return SdramPattern(run).at(a);
    return 0;
}

void SdramChip::write(uint32_t from, uint32_t to, const SdramPattern &pattern) {
    if (from >= to)
        return;
    if (!kept()) {
        // The runs outside [from, to) stay, cut where they reach into it.
        std::vector<SdramRun> &runs = board_.cpu[node_].sdramRuns[chip_];
        std::vector<SdramRun> left;
        left.reserve(runs.size() + 2);
        for (const SdramRun &run : runs) {
            if (run.to <= from || run.from >= to) {
                left.push_back(run);
                continue;
            }
            if (run.from < from)
                left.push_back(SdramRun{run.from, from, run.kind, run.key});
            if (run.to > to)
                left.push_back(SdramRun{to, run.to, run.kind, run.key});
        }
        left.push_back(pattern.over(from, to));
        std::sort(left.begin(), left.end(), [](const SdramRun &x, const SdramRun &y) { return x.from < y.from; });
        runs = std::move(left);
        return;
    }
    uint32_t *cell = cells();
    for (uint32_t a = from; a < to; ++a)
        cell[a & ~ignored_] = pattern.at(a);
    applyFaults();
}

bool SdramChip::firstMismatch(uint32_t from, uint32_t to, const SdramPattern &expected, uint32_t &at, uint32_t &written,
                              uint32_t &read) {
    if (kept()) {
        const uint32_t *cell = cells();
        for (uint32_t a = from; a < to; ++a)
            if (cell[a & ~ignored_] != expected.at(a)) {
                at = a;
                written = expected.at(a);
                read = cell[a & ~ignored_];
                return true;
            }
        return false;
    }
    if (!firstMismatchOfRuns(from, to, expected, at))
        return false;
    written = expected.at(at);
    read = faulted(at, heldAt(at));
    return true;
}

/* Where a run holds the expected pattern, only its faulty cells can read
 * otherwise; elsewhere (a run of another pattern, or offsets never
 * written) every word is compared. */
bool SdramChip::firstMismatchOfRuns(uint32_t from, uint32_t to, const SdramPattern &expected, uint32_t &at) {
    const std::vector<SdramRun> &runs = board_.cpu[node_].sdramRuns[chip_];
    size_t next = 0;
    while (next < runs.size() && runs[next].to <= from)
        ++next;
    for (uint32_t lo = from; lo < to;) {
        const SdramRun *run = next < runs.size() && runs[next].from <= lo ? &runs[next] : nullptr;
        uint32_t hi = run ? std::min(to, run->to) : next < runs.size() ? std::min(to, runs[next].from) : to;
        if (run && SdramPattern(*run) == expected) {
            uint32_t first = hi;
            for (const SdramCellFault &f : faults_)
                for (uint32_t a = std::max(lo, f.first); a < first && a <= f.last; ++a) {
                    uint32_t word = expected.at(a);
                    if (faulted(a, word) != word) {
                        first = a;
                        break;
                    }
                }
            if (first < hi) {
                at = first;
                return true;
            }
        } else {
            for (uint32_t a = lo; a < hi; ++a)
                if (faulted(a, run ? SdramPattern(*run).at(a) : 0) != expected.at(a)) {
                    at = a;
                    return true;
                }
        }
        lo = hi;
        if (run)
            ++next;
    }
    return false;
}
