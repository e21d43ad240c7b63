// The FFT test's spectrum checks at their bounds.
#include "checks/cpu/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The spectrum of the ramp 0..1023 as a correct transform gives it, in
// single precision: X[0] = 523776, X[k] = -512 + 512 cot(pi k / 1024) i,
// with the quarter turns exact.
FftSpectrumMsg rampSpectrum() {
    FftSpectrumMsg x{};
    const double pi = std::acos(-1.0);
    x.value[0] = 523776.0f;
    for (int k = 1; k < kFftPoints; ++k) {
        x.value[2 * k] = -512.0f;
        x.value[2 * k + 1] = static_cast<float>(512.0 / std::tan(pi * k / kFftPoints));
    }
    x.value[2 * 256 + 1] = 512.0f;
    x.value[2 * 512 + 1] = 0.0f;
    x.value[2 * 768 + 1] = -512.0f;
    return x;
}

float &re(FftSpectrumMsg &x, int k) { return x.value[2 * k]; }
float &im(FftSpectrumMsg &x, int k) { return x.value[2 * k + 1]; }

TEST(FftChecks, CorrectSpectrumPasses) { EXPECT_TRUE(fftSpectrumOk(rampSpectrum())); }

TEST(FftChecks, ExactValuesMustCompareEqual) {
    FftSpectrumMsg x = rampSpectrum();
    re(x, 0) = std::nextafter(523776.0f, 1e9f); // 523776.0625
    EXPECT_FALSE(fftSpectrumOk(x));

    x = rampSpectrum();
    im(x, 512) = -0.0f; // equals 0.0
    EXPECT_TRUE(fftSpectrumOk(x));

    x = rampSpectrum();
    im(x, 256) = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(fftSpectrumOk(x));
}

TEST(FftChecks, RangesIncludeTheirBoundsAndLetNanThrough) {
    FftSpectrumMsg x = rampSpectrum();
    im(x, 128) = 1236.5f;
    EXPECT_TRUE(fftSpectrumOk(x));
    im(x, 128) = 1236.51f;
    EXPECT_FALSE(fftSpectrumOk(x));

    x = rampSpectrum();
    im(x, 128) = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(fftSpectrumOk(x));

    x = rampSpectrum();
    re(x, 896) = -512.5f;
    EXPECT_TRUE(fftSpectrumOk(x));
    re(x, 896) = -512.6f;
    EXPECT_FALSE(fftSpectrumOk(x));
}

TEST(FftChecks, EveryCheckedValueCounts) {
    struct Bad {
        int k;
        bool imaginary;
        float value;
    } bad[] = {{128, false, -510.0f}, {768, false, -514.0f}, {1, true, 166884.0f}, {384, true, 212.2f},
               {640, true, -211.9f},  {896, true, -1235.9f}, {768, true, -511.0f}};
    for (const Bad &b : bad) {
        FftSpectrumMsg x = rampSpectrum();
        (b.imaginary ? im(x, b.k) : re(x, b.k)) = b.value;
        EXPECT_FALSE(fftSpectrumOk(x)) << "X[" << b.k << "]";
    }
}

} // namespace
