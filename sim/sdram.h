/*
 * sdram.h - the processors' dynamic memory.
 *
 * Every processor has four chips. P1's are the sizes p1_sdram_chips
 * gives (bit 31, csdram's overhead mark, set aside); the others' come
 * from sdram_chip_size. In a processor's memory map chip c starts at
 * word address kSdramBase + c * kSdramChipSpan; the board file and the
 * chips themselves count words from the chip's first word (offsets).
 *
 * Only the processor's own firmware reaches its chips, the host does
 * not, and a node runs one firmware thread at a time; so the chips take
 * no lock. What a chip holds is kept as the patterns written over runs
 * of its offsets; only a chip that folds offsets onto one cell has its
 * words allocated, when its firmware first touches it, and freed with
 * the board.
 *
 * Faults of the board file act on what a cell reads: a stuck bit or a
 * bad word reads its wrong value whatever is written, and an ignored
 * address line folds two offsets onto one cell.
 */
#ifndef ZORVANTIK_SIM_SDRAM_H
#define ZORVANTIK_SIM_SDRAM_H

#include "virtual_board.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t kSdramBase = 0x10000000;     /* word address of chip 0 */
constexpr uint32_t kSdramChipSpan = 0x01000000; /* words between two chips' starts */

/* Size of chip `chip` of processor `node` in words. */
uint32_t sdramChipWords(const BoardConfig &c, int32_t node, int chip);

/* Bytes of dynamic memory the board holds right now. Under no firmware. */
size_t sdramBytesHeld(const VirtualBoard &b);

/* The words a memory test's pass writes, as a function of the word's
 * offset a in its chip. Running 0 has one 0 bit, running 1 one 1 bit,
 * at position fold(a), the XOR of a's 5-bit groups, so the bit runs
 * through all 32 places over every 32 words, and two offsets that differ
 * in one address bit never hold the same pattern. Random is a 32-bit
 * integer hash of a and the pass's seed, a bijection of a, so folded
 * offsets differ there too. */
class SdramPattern {
public:
    enum Kind : uint32_t { Running0, Running1, Random };

    SdramPattern(Kind kind, uint32_t seed) : kind_(kind), key_(hash(seed) | 1) {}
    /* The pattern a chip keeps for one of its runs. */
    explicit SdramPattern(const SdramRun &run) : kind_(Kind(run.kind)), key_(run.key) {}
    SdramRun over(uint32_t from, uint32_t to) const { return SdramRun{from, to, kind_, key_}; }
    bool operator==(const SdramPattern &o) const { return kind_ == o.kind_ && key_ == o.key_; }
    bool operator!=(const SdramPattern &o) const { return !(*this == o); }

    uint32_t at(uint32_t a) const {
        switch (kind_) {
        case Running0:
            return ~(1u << fold(a));
        case Running1:
            return 1u << fold(a);
        case Random:
            break;
        }
        return hash(a * key_ + key_);
    }

    static uint32_t fold(uint32_t a) {
        a ^= a >> 20;
        a ^= a >> 10;
        a ^= a >> 5;
        return a & 31;
    }

    static uint32_t hash(uint32_t x) {
        x ^= x >> 16;
        x *= 0x7FEB352Du;
        x ^= x >> 15;
        x *= 0x846CA68Bu;
        x ^= x >> 16;
        return x;
    }

private:
    Kind kind_;
    uint32_t key_;
};

/* One chip as its processor's firmware sees it.
 *
 * A chip whose every address line is decoded keeps what the tests write
 * as runs of offsets that hold one pass's pattern (SdramRun), not as
 * words: a pass writes its pattern over the whole tested part before it
 * reads any of it back, and what a cell reads is then the pattern's word
 * at its offset, passed through the faults that lie on it, in the board
 * file's order. So the read-back costs only the faulty cells, and the
 * chip holds no memory. A chip that folds offsets onto one cell keeps its
 * words one by one, as the later of two folded writes wins. */
class SdramChip {
public:
    SdramChip(VirtualBoard &b, int32_t node, int chip);

    uint32_t words() const { return words_; }
    uint32_t address(uint32_t offset) const { return kSdramBase + uint32_t(chip_) * kSdramChipSpan + offset; }

    /* Writes the pattern to the offsets [from, to), to <= words(), in that
     * order, so that of two offsets the chip folds onto one cell the
     * later wins. */
    void write(uint32_t from, uint32_t to, const SdramPattern &pattern);

    /* Reads [from, to) back against `expected`: false when all match,
     * else true with the first offset that did not and the words written
     * and read. */
    bool firstMismatch(uint32_t from, uint32_t to, const SdramPattern &expected, uint32_t &at, uint32_t &written,
                       uint32_t &read);

private:
    bool kept() const;  /* whether the chip keeps its words one by one */
    uint32_t *cells();  /* allocated on first touch, faults in place */
    void applyFaults(); /* puts the faulty cells' values back after a write */
    /* What the cell of offset `a` reads when `held` was written there. */
    uint32_t faulted(uint32_t a, uint32_t held) const;
    /* What offset `a` holds before its faults, for a chip kept as runs. */
    uint32_t heldAt(uint32_t a) const;
    bool firstMismatchOfRuns(uint32_t from, uint32_t to, const SdramPattern &expected, uint32_t &at);

    VirtualBoard &board_;
    int32_t node_;
    int chip_;
    uint32_t words_;
    uint32_t ignored_ = 0;               /* address bits the chip ignores */
    std::vector<SdramCellFault> faults_; /* those on this chip, in the board file's order */
};

#endif /* ZORVANTIK_SIM_SDRAM_H */
