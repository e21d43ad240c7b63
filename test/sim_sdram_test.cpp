// The virtual board's dynamic memory and its test firmware through the C
// API, with the station's own dsp_app files: the conversations the host's
// per-processor and cluster memory tests hold, and the faults they find.
#include "board_lifecycle.h"
#include "qal.h"
#include "sdram.h"

#include "support/sim_board.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kProgress = 0x12345678;
constexpr uint32_t kError = 0x87654321;
constexpr uint32_t kChip1 = kSdramBase + kSdramChipSpan; // DSP address of chip 1's first word

struct Error {
    int who; // position among the processors reporting
    uint32_t address, written, read;
};

// What the host hears: the size message, then per pass `steps` rounds of
// one code message per reporter, then one end-of-pass word per reporter.
struct Heard {
    uint32_t sizes[4] = {};
    int progress = 0;
    std::vector<Error> errors;
};

class SimSdram : public SimBoardTest {
protected:
    // Small chips so a test is quick: 0x4000 words is 8 steps of sdram,
    // 2 of clast.
    int32_t open(const std::string &keys = "") {
        std::string all = keys;
        if (keys.find("p1_sdram_chips") == std::string::npos)
            all += "p1_sdram_chips = 0x4000, 0x4000, 0x4000, 0x4000\n";
        if (keys.find("sdram_chip_size") == std::string::npos)
            all += "sdram_chip_size = 0x4000\n";
        return SimBoardTest::open(all);
    }
    void start(int32_t h, int32_t node, const std::string &file) {
        ASSERT_EQ(load(h, node, file), 0);
        ASSERT_EQ(QAL_start(h, -1), 0);
    }
    // Follows `passes` passes of `steps` steps with `reporters` reporting.
    static Heard follow(int32_t h, int32_t node, int passes, uint32_t steps, int reporters) {
        Heard heard;
        uint32_t size = 16;
        EXPECT_EQ(QAL_getMsg(h, node, heard.sizes, &size, 2000), 0);
        for (int p = 0; p < passes; ++p) {
            for (uint32_t s = 0; s < steps * reporters; ++s) {
                uint32_t word = 0;
                size = 4;
                if (QAL_getMsg(h, node, &word, &size, 2000) != 0) {
                    ADD_FAILURE() << "silent at pass " << p << " message " << s;
                    return heard;
                }
                if (word == kProgress) {
                    ++heard.progress;
                    continue;
                }
                EXPECT_EQ(word, kError);
                Error e{int(s % reporters), 0, 0, 0};
                EXPECT_EQ(QAL_getMsg(h, node, &e.address, &size, 2000), 0);
                EXPECT_EQ(QAL_getMsg(h, node, &e.written, &size, 2000), 0);
                EXPECT_EQ(QAL_getMsg(h, node, &e.read, &size, 2000), 0);
                heard.errors.push_back(e);
            }
            for (int r = 0; r < reporters; ++r) {
                uint32_t word;
                size = 4;
                EXPECT_EQ(QAL_getMsg(h, node, &word, &size, 2000), 0) << "end of pass " << p;
            }
        }
        uint32_t word, extra = 4;
        EXPECT_EQ(QAL_getMsg(h, node, &word, &extra, 50), -6) << "more than the host reads";
        return heard;
    }
};

TEST_F(SimSdram, HealthyProcessorSendsSizesAndThreeCleanPasses) {
    for (int node : {0, 4}) {
        int32_t h = open();
        start(h, node, node == 0 ? "sdramtst.ldr" : "sdr_p5.tsx");
        Heard heard = follow(h, node, 3, 8, 1);
        EXPECT_EQ(std::vector<uint32_t>(heard.sizes, heard.sizes + 4), std::vector<uint32_t>(4, 0x4000));
        EXPECT_EQ(heard.progress, 24);
        EXPECT_TRUE(heard.errors.empty());
    }
}

TEST_F(SimSdram, SizesShowOverheadMarkRemovedAndShortChips) {
    int32_t h =
        open("p1_sdram_chips = 0x80004000, 0x4000, 0x4000, 0x4000\nsdram_chip_size = 0x4000, P3:chip2:0x2000\n");
    start(h, 0, "sdramtst.ldr");
    uint32_t sizes[4], size = 16;
    ASSERT_EQ(QAL_getMsg(h, 0, sizes, &size, 2000), 0);
    EXPECT_EQ(sizes[0], 0x4000u);
    start(h, 2, "sdr_p3.tsx");
    ASSERT_EQ(QAL_getMsg(h, 2, sizes, &size, 2000), 0);
    EXPECT_EQ(sizes[1], 0x4000u);
    EXPECT_EQ(sizes[2], 0x2000u);
    // The cluster's size message shows the smallest of its members' chips.
    start(h, 0, "clastp2p3p5.tsx");
    ASSERT_EQ(QAL_getMsg(h, 0, sizes, &size, 2000), 0);
    EXPECT_EQ(std::vector<uint32_t>(sizes, sizes + 4), (std::vector<uint32_t>{0x4000, 0x4000, 0x2000, 0x4000}));
}

// P6 substitutes for an absent P2 and tests its own chips; a second test
// over the chips the first left finds the stuck bit just as the first.
TEST_F(SimSdram, StuckBitIsReportedWithAddressWrittenAndRead) {
    int32_t h = open("cpu_mask = 0x7D\nsdram_stuck_bit = P6:chip1:0x1234:7:1\n");
    size_t first = 0;
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        start(h, 5, "sdr_p2.tsx");
        Heard heard = follow(h, 5, 3, 8, 1);
        ASSERT_FALSE(heard.errors.empty());
        EXPECT_EQ(heard.progress + int(heard.errors.size()), 24);
        for (const Error &e : heard.errors) {
            EXPECT_EQ(e.address, kChip1 + 0x1234);
            EXPECT_EQ(e.read, e.written | 0x80) << std::hex << e.written;
            EXPECT_FALSE(e.written & 0x80);
        }
        // Running 1 writes a single bit, never bit 7 here: that pass finds it.
        EXPECT_GE(heard.errors.size(), 2u);
        if (round == 1)
            first = heard.errors.size();
        else
            EXPECT_EQ(heard.errors.size(), first);
    }
}

TEST_F(SimSdram, BadWordsAndAliasedAddressesAreFound) {
    int32_t h = open("sdram_bad_words = P4:chip3:0x1100-0x1101\nsdram_address_fault = P4:chip0:bit 12\n");
    start(h, 3, "sdr_p4.tsx");
    Heard heard = follow(h, 3, 3, 8, 1);
    // Chip 0 ignores address bit 12: each offset with it clear holds what
    // the offset with it set wrote later, so steps 0, 1, 4 and 5 (offsets
    // 0x0000-0x0FFF and 0x2000-0x2FFF) report their first word; step 2
    // reports chip 3's first bad word. In every pass.
    const uint32_t chip3 = kSdramBase + 3 * kSdramChipSpan;
    const std::vector<uint32_t> perPass = {kSdramBase, kSdramBase + 0x800, chip3 + 0x1100, kSdramBase + 0x2000,
                                           kSdramBase + 0x2800};
    std::vector<uint32_t> expected, seen;
    for (int pass = 0; pass < 3; ++pass)
        expected.insert(expected.end(), perPass.begin(), perPass.end());
    for (const Error &e : heard.errors) {
        seen.push_back(e.address);
        EXPECT_NE(e.written, e.read);
        if (e.address == chip3 + 0x1100) {
            EXPECT_EQ(e.read, 0xFFFFFFFFu);
        }
    }
    EXPECT_EQ(seen, expected);
}

TEST_F(SimSdram, ClusterRelaysEachStepInProcessorOrder) {
    int32_t h = open("cpu_mask = 0x0F\nsdram_stuck_bit = P3:chip0:0x2001:3:0\n");
    start(h, 0, "clastp2p3.tsx");
    Heard heard = follow(h, 0, 30, 2, 2); // 0x4000-word chips: two steps of 8192 words
    // Running 0 has bit 3 of offset 0x2001 set in all ten cycles.
    ASSERT_GE(heard.errors.size(), 10u);
    EXPECT_EQ(heard.progress + int(heard.errors.size()), 30 * 2 * 2);
    for (const Error &e : heard.errors) {
        EXPECT_EQ(e.who, 1) << "P3, second in each step";
        EXPECT_EQ(e.address, kSdramBase + 0x2001);
        EXPECT_EQ(e.read, e.written & ~8u);
    }
}

// A chip as plain words: every write word by word, the faults put back
// after it, and each read the cell the offset reaches.
struct WordByWordChip {
    std::vector<uint32_t> cell;
    uint32_t ignored;
    std::vector<SdramCellFault> faults;

    WordByWordChip(uint32_t words, uint32_t ignoredBits, const std::vector<SdramCellFault> &all)
        : cell(words), ignored(ignoredBits) {
        for (SdramCellFault f : all)
            if (f.first < words) {
                f.last = std::min(f.last, words - 1);
                faults.push_back(f);
            }
        settle();
    }
    void settle() {
        for (const SdramCellFault &f : faults)
            for (uint32_t a = f.first; a <= f.last; ++a) {
                uint32_t &c = cell[a & ~ignored];
                if (f.kind == SdramCellFault::Bad)
                    c = 0xFFFFFFFF;
                else
                    c = f.value ? c | 1u << f.bit : c & ~(1u << f.bit);
            }
    }
    void write(uint32_t from, uint32_t to, const SdramPattern &p) {
        for (uint32_t a = from; a < to; ++a)
            cell[a & ~ignored] = p.at(a);
        settle();
    }
    bool firstMismatch(uint32_t from, uint32_t to, const SdramPattern &p, uint32_t &at, uint32_t &written,
                       uint32_t &read) const {
        for (uint32_t a = from; a < to; ++a)
            if (cell[a & ~ignored] != p.at(a)) {
                at = a;
                written = p.at(a);
                read = cell[a & ~ignored];
                return true;
            }
        return false;
    }
};

// A chip keeps what the tests write as runs of patterns, or word by word
// when it folds offsets; either way it reads back, mismatch for mismatch,
// what a chip of plain words reads: after whole and partial writes that
// cut earlier runs, over offsets never written, against the pattern
// written and others, with faults that overlap, act in the board file's
// order, or lie beyond the chip. Only a folding chip holds words.
TEST(SdramChipModel, ReadsBackWhatAChipOfPlainWordsReads) {
    constexpr uint32_t kWords = 0x1000;
    using F = SdramCellFault;
    const SdramPattern r0(SdramPattern::Running0, 1), r1(SdramPattern::Running1, 2), rnd(SdramPattern::Random, 7),
        rnd8(SdramPattern::Random, 8);
    struct Case {
        const char *name;
        std::vector<F> faults;
        std::vector<uint32_t> ignoredBits;
    };
    const std::vector<Case> cases = {
        {"healthy", {}, {}},
        {"stuck bit 3 at 1", {{2, 1, 0x10, 0x40, F::Stuck, 3, 1}}, {}},
        {"stuck bit 31 at 0 everywhere", {{2, 1, 0, kWords - 1, F::Stuck, 31, 0}}, {}},
        {"bad words", {{2, 1, 0x7D0, 0x834, F::Bad, 0, 0}}, {}},
        {"faults in the file's order",
         {{2, 1, 0, 100, F::Stuck, 0, 1}, {2, 1, 50, 60, F::Bad, 0, 0}, {2, 1, 55, 58, F::Stuck, 0, 0}},
         {}},
        {"faults at and past the end",
         {{2, 1, kWords - 2, kWords + 5, F::Bad, 0, 0}, {2, 1, kWords, kWords + 9, F::Stuck, 4, 1}},
         {}},
        {"another chip's and processor's faults", {{2, 0, 0, 9, F::Bad, 0, 0}, {3, 1, 0, 9, F::Bad, 0, 0}}, {}},
        {"address bit 11 ignored", {}, {11}},
        {"address bits 5 and 9 ignored, a stuck bit", {{2, 1, 0x220, 0x230, F::Stuck, 9, 0}}, {5, 9}},
    };
    // Writes, then reads in slices against a pattern.
    struct Step {
        bool write;
        uint32_t from, to;
        const SdramPattern *pattern;
        uint32_t slice;
    };
    const std::vector<Step> steps = {
        {false, 0, kWords, &r0, 1000},                                    // nothing written yet: zeros
        {true, 0, kWords / 2, &r0, 0},      {false, 0, kWords, &r0, 512}, // the rest was never written
        {true, kWords / 2, kWords, &r0, 0},                               // a second run of the same pattern
        {false, 0, kWords, &r0, 256},       {true, 100, 3000, &rnd, 0},   // cuts the runs in the middle
        {false, 0, kWords, &rnd, 700},      {false, 0, kWords, &r0, 700},
        {true, 2000, kWords, &r1, 0},       {false, 0, kWords, &r1, 333},
        {false, 0, kWords, &rnd8, 2048}, // a seed never written
        {true, 0, kWords, &rnd8, 0},        {false, 5, kWords - 3, &rnd8, 97},
        {false, 0, kWords, &rnd8, 1}, // every word on its own
        {true, 64, 1000, &r1, 0},           {false, 0, kWords, &r1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BoardConfig cfg;
        cfg.sdramWords[2][1] = kWords;
        cfg.sdramCellFaults = c.faults;
        uint32_t ignored = 0;
        for (uint32_t bit : c.ignoredBits) {
            cfg.sdramAddressFaults.push_back({2, 1, bit});
            ignored |= 1u << bit;
        }
        auto board = makeBoard(1, cfg);
        SdramChip chip(*board, 2, 1);
        std::vector<F> mine; /* the faults on this chip */
        for (const F &f : c.faults)
            if (f.node == 2 && f.chip == 1)
                mine.push_back(f);
        WordByWordChip plain(kWords, ignored, mine);
        int mismatches = 0;
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step &st = steps[i];
            SCOPED_TRACE(i);
            if (st.write) {
                chip.write(st.from, st.to, *st.pattern);
                plain.write(st.from, st.to, *st.pattern);
                continue;
            }
            for (uint32_t lo = st.from; lo < st.to; lo += st.slice) {
                uint32_t hi = std::min(st.to, lo + st.slice);
                uint32_t at = 0, written = 0, read = 0, wantAt = 0, wantWritten = 0, wantRead = 0;
                bool found = chip.firstMismatch(lo, hi, *st.pattern, at, written, read);
                ASSERT_EQ(found, plain.firstMismatch(lo, hi, *st.pattern, wantAt, wantWritten, wantRead)) << lo;
                if (!found)
                    continue;
                ++mismatches;
                EXPECT_EQ(at, wantAt) << lo;
                EXPECT_EQ(written, wantWritten) << lo;
                EXPECT_EQ(read, wantRead) << lo;
            }
        }
        EXPECT_GT(mismatches, 0) << "reads against another pattern and never written words mismatch";
        EXPECT_EQ(sdramBytesHeld(*board), ignored ? size_t(kWords) * 4 : 0u);
    }
}

// A chip's words come from the system cleared: the first allocation and
// every later one, of any size, over words written before; none when
// asked for none.
TEST(SdramCells, EachAllocationHoldsItsSizeOfZeroWords) {
    SdramCells cells;
    EXPECT_EQ(cells.data(), nullptr);
    for (size_t words : {size_t(1), size_t(1000), size_t(1) << 19, (size_t(1) << 19) + 3, size_t(7), size_t(0)}) {
        SCOPED_TRACE(words);
        cells.allocate(words);
        ASSERT_EQ(cells.size(), words);
        if (!words) {
            EXPECT_EQ(cells.data(), nullptr);
            continue;
        }
        size_t nonZero = 0;
        for (size_t i = 0; i < words; ++i)
            nonZero += cells.data()[i] != 0;
        EXPECT_EQ(nonZero, 0u);
        for (size_t i = 0; i < words; ++i)
            cells.data()[i] = ~uint32_t(i);
    }
}

} // namespace
