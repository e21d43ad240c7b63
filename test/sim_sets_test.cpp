// Program sets, link ports and the link and FFT firmware of the virtual
// board through the C API, with the station's own dsp_app files.
#include "qal.h"

#include "support/sim_board.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kProgress = 0x12345678;
constexpr uint32_t kError = 0x87654321;

class SimSets : public SimBoardTest {
protected:
    // Every test's board replaces the one before.
    int32_t open(const std::string &keys = "") {
        QAL_cleanup();
        return SimBoardTest::open(keys);
    }
};

// What the host's link test hears from P1: up to `max` status words, the
// first wait `timeoutMs` long as the host's are (shorter here).
struct Heard {
    int progress = 0;
    std::vector<std::pair<uint32_t, uint32_t>> errors; // written, read
    int total() const { return progress + int(errors.size()); }
};

Heard listen(int32_t h, int max, int32_t timeoutMs = 200) {
    Heard heard;
    for (int i = 0; i < max; ++i) {
        uint32_t word = 0, size = 4;
        QAL_getMsg(h, 0, &word, &size, timeoutMs);
        if (size == 0)
            break;
        if (word != kError) {
            EXPECT_EQ(word, kProgress);
            ++heard.progress;
            continue;
        }
        uint32_t written = 0, read = 0;
        EXPECT_EQ(QAL_getMsg(h, 0, &written, &size, 1000), 0);
        EXPECT_EQ(QAL_getMsg(h, 0, &read, &size, 1000), 0);
        heard.errors.push_back({written, read});
    }
    return heard;
}

Heard runSet(int32_t h, const std::string &file, int max = 100) {
    fs::current_path(fs::current_path() / "dsp_app");
    int32_t status = QAL_load(h, 0, file.c_str(), 0, nullptr);
    fs::current_path(fs::current_path().parent_path());
    EXPECT_EQ(status, 0) << file;
    EXPECT_EQ(QAL_start(h, -1), 0) << file;
    return listen(h, max + 1);
}

TEST_F(SimSets, EveryInternalPairOfAHealthyBoardPassesItsHundredChecks) {
    int32_t h = open();
    for (const char *set : {"p1l1p2l0.tsx", "p1l2p3l0.tsx", "p2l2p3l2.tsx", "p2l3p4l0.tsx", "p2l1p6l0.tsx",
                            "p4l1p6l2.tsx", "p3l3p5l0.tsx", "p3l1p7l0.tsx", "p5l1p7l2.tsx"}) {
        Heard heard = runSet(h, set);
        EXPECT_EQ(heard.progress, 100) << set; // and not one more
        EXPECT_TRUE(heard.errors.empty()) << set;
    }
}

// Without P2 (P3) the partner P6 (P7) takes its part and its place on P1's
// link; a part that nobody takes fails the load and leaves the board as it was.
TEST_F(SimSets, PartnersTakeTheAbsentProcessorsPartsOrTheLoadFails) {
    int32_t h = open("cpu_mask = 0x61\n");
    EXPECT_EQ(runSet(h, "p1l1p2l0.tsx").progress, 100);
    EXPECT_EQ(runSet(h, "p1l2p3l0.tsx").progress, 100);
    EXPECT_EQ(runSet(h, "p6l1p7l1_c.tsx", 1000).progress, 1000);
    program("both.tsx", "ZORVANTIK-DSP-SET 1\n[P2]\nfirmware = cfft\n[P6]\nfirmware = cfft\n");
    EXPECT_LT(load(h, 0, "both.tsx"), 0);     // P6 cannot run two parts
    EXPECT_LT(load(h, 0, "p2l3p4l0.tsx"), 0); // P4 has no partner
    EXPECT_EQ(listen(h, 1).progress, 0);

    h = open("cpu_mask = 0x03\n");
    ASSERT_EQ(load(h, 1, "cfft_p2.tsx"), 0);
    EXPECT_LT(load(h, 0, "p1l2p3l0.tsx"), 0); // P3 absent, no P7 to take its part
    EXPECT_EQ(QAL_start(h, 1), 0);            // and P2 still holds its program
    h = open("cpu_mask = 0x23\n");
    EXPECT_EQ(runSet(h, "p1l1p2l0.tsx").progress, 100);
}

// Through node 0 a set boots the board; through another node it may load
// that node only, which it does for a partner by substitution.
TEST_F(SimSets, ASetLoadsTheNodesItNamesAndOnlyThem) {
    int32_t h = open();
    ASSERT_EQ(load(h, 3, "cfft_p4.tsx"), 0);
    ASSERT_EQ(load(h, 0, "p1l1p2l0.tsx"), 0);
    EXPECT_LT(QAL_start(h, 3), 0); // cleared by the boot
    EXPECT_EQ(QAL_start(h, 1), 0);
    EXPECT_LT(load(h, 5, "cfft_p2.tsx"), 0); // P2 is fitted: not P6's program
    EXPECT_LT(load(h, 4, "p2l2p3l2.tsx"), 0);
    EXPECT_EQ(QAL_start(h, 1), 0); // neither failure touched P2

    h = open("cpu_mask = 0x61\n");
    EXPECT_EQ(load(h, 5, "cfft_p2.tsx"), 0);
    EXPECT_EQ(load(h, 6, "cfft_p3.tsx"), 0);
    EXPECT_LT(load(h, 6, "cfft_p2.tsx"), 0);

    ::testing::internal::CaptureStderr();
    program("bad1.tsx", "ZORVANTIK-DSP-SET 1\n[P8]\nfirmware = cfft\n");
    program("bad2.tsx", "ZORVANTIK-DSP-SET 1\nfirmware = cfft\n");
    program("bad3.tsx", "ZORVANTIK-DSP-SET 1\n; nothing\n");
    program("bad4.tsx", "ZORVANTIK-DSP-SET 1\n[P1]\nport = 1\n");
    for (const char *bad : {"bad1.tsx", "bad2.tsx", "bad3.tsx", "bad4.tsx"})
        EXPECT_LT(load(h, 0, bad), 0) << bad;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "bad1.tsx:2: a set has sections [P1] to [P7], not [p8]\n"
                                                        "bad2.tsx:2: 'firmware' stands before any [section]\n"
                                                        "bad3.tsx:1: a set names no processor\n"
                                                        "bad4.tsx:2: no 'firmware = name' line\n");
}

// Faults of a port act on its connection, whichever end they name; the
// error words carry the words really sent and received.
TEST_F(SimSets, LinkFaultsShowAsErrorWordsOrSilence) {
    int32_t h = open("link_fault = P3.2:stuck:5:1, P1.1:flip:0, P3.1:dead, P5.1:stop:40\n");
    Heard stuck = runSet(h, "p2l2p3l2.tsx"); // checked on P3, relayed by P1
    EXPECT_EQ(stuck.total(), 100);
    EXPECT_GT(stuck.errors.size(), 40u);
    for (auto &e : stuck.errors)
        EXPECT_EQ(e.second, e.first | 1u << 5) << std::hex << e.first;

    Heard flipped = runSet(h, "p1l1p2l0.tsx");
    ASSERT_EQ(flipped.errors.size(), 100u);
    for (auto &e : flipped.errors)
        EXPECT_EQ(e.second, e.first ^ 1u) << std::hex << e.first;

    EXPECT_EQ(runSet(h, "p3l1p7l0.tsx").total(), 0);
    EXPECT_EQ(runSet(h, "p3l3p5l0.tsx").progress, 100); // P3's other ports are sound
    Heard stopped = runSet(h, "p5l1p7l2.tsx");
    EXPECT_EQ(stopped.progress, 40);
    EXPECT_TRUE(stopped.errors.empty());
    EXPECT_EQ(runSet(h, "p5l1p7l2.tsx").progress, 40); // a new load counts afresh
    EXPECT_EQ(runSet(h, "p1l2p3l0.tsx").progress, 100);

    program("half.tsx", "ZORVANTIK-DSP-SET 1\n[P1]\nfirmware = linkrelay\n[P6]\nfirmware = linksend\nport = 1\n"
                        "words = 500\n[P7]\nfirmware = linkcheck\nport = 1\nwords = 500\n");
    EXPECT_EQ(runSet(h, "half.tsx", 1000).progress, 500);
}

TEST_F(SimSets, TheFrontPanelLinkNeedsBothLinkConnectorsAndTheCable) {
    EXPECT_EQ(runSet(open(), "p6l1p7l1.tsx", 1000).progress, 1000);
    for (const char *keys : {"front_cable = unplugged\n", "x5 = synx\n", "x6 = piox\n"})
        EXPECT_EQ(runSet(open(keys), "p6l1p7l1.tsx", 1000).total(), 0) << keys;
}

// The host's checks of the spectrum, and every bin against the transform
// computed here in double precision.
void expectRampSpectrum(const float *x, const std::string &who) {
    EXPECT_EQ(x[0], 523776.0f) << who;
    EXPECT_EQ(x[1], 0.0f) << who;
    EXPECT_EQ(double(x[2 * 256 + 1]), 512.0) << who;
    EXPECT_EQ(double(x[2 * 512 + 1]), 0.0) << who;
    EXPECT_EQ(double(x[2 * 768 + 1]), -512.0) << who;
    const std::pair<int, std::pair<double, double>> ranges[] = {
        {1, {166885.0, 166886.0}}, {128, {1236.0, 1236.5}},   {384, {212.0, 212.1}},
        {640, {-212.1, -212.0}},   {896, {-1236.1, -1236.0}},
    };
    for (auto &r : ranges) {
        EXPECT_GE(double(x[2 * r.first + 1]), r.second.first) << who << " bin " << r.first;
        EXPECT_LE(double(x[2 * r.first + 1]), r.second.second) << who << " bin " << r.first;
    }
    const double pi = 3.14159265358979323846;
    for (int k = 1; k < 1024; ++k) {
        EXPECT_NEAR(x[2 * k], -512.0, 0.02) << who << " bin " << k;
        EXPECT_NEAR(x[2 * k + 1], 512.0 / std::tan(pi * k / 1024), 0.02) << who << " bin " << k;
    }
}

struct FftRun {
    uint32_t timing[4] = {};
    std::vector<float> spectrum = std::vector<float>(2048);
    uint32_t cycles() const { return timing[0] - timing[2]; }
};

FftRun fft(int32_t h, int32_t node) {
    FftRun run;
    uint32_t size = 16;
    EXPECT_EQ(QAL_getMsg(h, node, run.timing, &size, 5000), 0);
    EXPECT_EQ(size, 16u);
    size = 8192;
    EXPECT_EQ(QAL_getMsg(h, node, run.spectrum.data(), &size, 5000), 0);
    EXPECT_EQ(size, 8192u);
    return run;
}

TEST_F(SimSets, CfftSendsTheRampSpectrumAndTheBoardsCycleCount) {
    int32_t h = open("fft_cycles = 11000, P4:12000\nfft_wrong = P3\nfft_silent = P5\n");
    for (int32_t node = 0; node < 7; ++node) {
        std::string file = "cfft_p" + std::to_string(node + 1) + ".tsx", who = "P" + std::to_string(node + 1);
        ASSERT_EQ(load(h, node, file), 0) << file;
        ASSERT_EQ(QAL_start(h, node), 0);
        if (node == 4) {
            uint32_t word, size = 4;
            EXPECT_EQ(QAL_getMsg(h, node, &word, &size, 200), -6); // silent
            continue;
        }
        FftRun run = fft(h, node);
        EXPECT_EQ(run.cycles(), node == 3 ? 12000u : 11000u) << who;
        if (node != 2) {
            expectRampSpectrum(run.spectrum.data(), who);
            continue;
        }
        run.spectrum[2 * 128 + 1] -= 1.0f; // the one wrong bin
        expectRampSpectrum(run.spectrum.data(), who);
    }

    h = open("cpu_mask = 0x61\n");
    ASSERT_EQ(load(h, 5, "cfft_p2.tsx"), 0);
    ASSERT_EQ(QAL_start(h, 5), 0);
    FftRun run = fft(h, 5);
    EXPECT_EQ(run.cycles(), 10432u);
    EXPECT_GT(run.timing[0] | run.timing[1], 0u);
    expectRampSpectrum(run.spectrum.data(), "P6 as P2");
}

} // namespace
