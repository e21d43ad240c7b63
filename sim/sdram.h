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
 * no lock. A chip's cells are allocated when its firmware first touches
 * it and freed with the board, so an untested board holds none.
 *
 * Faults of the board file live in the cells: a stuck bit or a bad word
 * holds its wrong value whatever is written, and an ignored address line
 * folds two offsets onto one cell.
 */
#ifndef ZORVANTIK_SIM_SDRAM_H
#define ZORVANTIK_SIM_SDRAM_H

#include "virtual_board.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

/* The memory tests walk gigabytes of the chips' words in a full run. A
 * sanitizer that checked each of those accesses would spend most of a
 * sanitizer run's time there and find nothing: the walks stay inside
 * the chip's words (words() bounds them), and only the processor's own
 * firmware, one at a time, reaches them. So the loops over the words,
 * and the patterns' arithmetic they call, are left unchecked; the
 * scheduling around them is checked as everything else. */
#if defined(__GNUC__) || defined(__clang__)
#define SDRAM_WORD_LOOP __attribute__((no_sanitize("address", "thread", "undefined")))
#else
#define SDRAM_WORD_LOOP
#endif

constexpr uint32_t kSdramBase = 0x10000000;     /* word address of chip 0 */
constexpr uint32_t kSdramChipSpan = 0x01000000; /* words between two chips' starts */

/* Size of chip `chip` of processor `node` in words. */
uint32_t sdramChipWords(const BoardConfig &c, int32_t node, int chip);

/* Bytes of dynamic memory the board holds right now. Under no firmware. */
size_t sdramBytesHeld(const VirtualBoard &b);

/* One chip as its processor's firmware sees it. */
class SdramChip {
public:
    SdramChip(VirtualBoard &b, int32_t node, int chip);

    uint32_t words() const { return words_; }
    uint32_t address(uint32_t offset) const { return kSdramBase + uint32_t(chip_) * kSdramChipSpan + offset; }

    /* Writes gen(offset) to every offset of [from, to), to <= words(). */
    template <class Gen> SDRAM_WORD_LOOP void fill(uint32_t from, uint32_t to, Gen gen) {
        uint32_t *cell = cells();
        if (!ignored_) {
            for (uint32_t a = from; a < to; ++a)
                cell[a] = gen(a);
        } else {
            for (uint32_t a = from; a < to; ++a)
                cell[a & ~ignored_] = gen(a);
        }
        applyFaults();
    }

    /* Writes words[0 .. to - from) to the offsets [from, to), to <=
     * words(), in that order, so that of two offsets the chip folds onto
     * one cell the later wins. The faulty cells take their wrong values
     * back at settle(), once the pass has written all it writes. */
    SDRAM_WORD_LOOP void store(uint32_t from, uint32_t to, const uint32_t *words) {
        uint32_t *cell = cells();
        if (!ignored_) {
            uint32_t *dst = cell + from, n = to - from, i = 0;
#if defined(__SSE2__)
            // Past the caches: the pass reads these words back only after
            // it has written megabytes more, so reading each line in
            // before writing it would only double the traffic.
            for (; i < n && (reinterpret_cast<uintptr_t>(dst + i) & 15); ++i)
                dst[i] = words[i];
            for (; n - i >= 4; i += 4)
                _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(words + i)));
            _mm_sfence(); /* seen by whichever thread runs the firmware next */
#endif
            std::copy(words + i, words + n, dst + i);
        } else {
            for (uint32_t a = from; a < to; ++a)
                cell[a & ~ignored_] = words[a - from];
        }
    }
    void settle() { applyFaults(); }

    /* Reads [from, to) back against expected[0 .. to - from): false when
     * all match, else true with the first offset that did not and the
     * words written and read. */
    SDRAM_WORD_LOOP bool firstMismatch(uint32_t from, uint32_t to, const uint32_t *expected, uint32_t &at,
                                       uint32_t &written, uint32_t &read) {
        const uint32_t *cell = cells();
        constexpr uint32_t kBlock = 256; /* compared branch-free, then searched if one differs */
        for (uint32_t lo = from; lo < to; lo += kBlock) {
            uint32_t hi = std::min(to, lo + kBlock), diff = 0;
            const uint32_t *want = expected + (lo - from);
            if (!ignored_) {
                const uint32_t *got = cell + lo;
                uint32_t i = 0;
#if defined(__SSE2__)
                // A cache line a round, the line 2 KB on asked for ahead:
                // the words come from memory, not from the caches.
                __m128i bits = _mm_setzero_si128();
                for (; hi - lo - i >= 16; i += 16) {
                    _mm_prefetch(reinterpret_cast<const char *>(got + i + 512), _MM_HINT_NTA);
                    for (uint32_t k = 0; k < 16; k += 4)
                        bits = _mm_or_si128(
                            bits, _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(got + i + k)),
                                                _mm_loadu_si128(reinterpret_cast<const __m128i *>(want + i + k))));
                }
                diff = _mm_movemask_epi8(_mm_cmpeq_epi8(bits, _mm_setzero_si128())) != 0xFFFF;
#endif
                for (; i < hi - lo; ++i)
                    diff |= got[i] ^ want[i];
            } else {
                for (uint32_t a = lo; a < hi; ++a)
                    diff |= cell[a & ~ignored_] ^ want[a - lo];
            }
            if (!diff)
                continue;
            for (uint32_t a = lo; a < hi; ++a)
                if (cell[a & ~ignored_] != want[a - lo]) {
                    at = a;
                    written = want[a - lo];
                    read = cell[a & ~ignored_];
                    return true;
                }
        }
        return false;
    }

private:
    uint32_t *cells();  /* allocated on first touch, faults in place */
    void applyFaults(); /* puts the faulty cells' values back after a write */

    VirtualBoard &board_;
    int32_t node_;
    int chip_;
    uint32_t words_;
    uint32_t ignored_ = 0; /* address bits the chip ignores */
};

#endif /* ZORVANTIK_SIM_SDRAM_H */
