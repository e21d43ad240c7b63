// fft.h - the FFT functional test: a 1024-point complex FFT on one
// processor, its spectrum and its cycle count checked.
#ifndef ZORVANTIK_FFT_H
#define ZORVANTIK_FFT_H

#include <cstdint>

constexpr int kFftPoints = 1024;
constexpr std::uint32_t kFftCycleLimit = 11740;

// The first message: cycle counter readings; word 0 - word 2 is the count.
struct FftTimingMsg {
    std::uint32_t word[4];
};

// The second message: X[0..1023] as (real, imaginary) single-precision pairs.
struct FftSpectrumMsg {
    float value[2 * kFftPoints];
};

// True when the sixteen checked values of the spectrum of the ramp
// 0..1023 hold. A range fails only above or below its bounds (so NaN
// passes it); an exact value must compare equal.
bool fftSpectrumOk(const FftSpectrumMsg &spectrum);

// Runs the test on processor `cpu` (0..6). 0 when the spectrum was right,
// -1 when the program did not load, did not answer in time or the
// spectrum was wrong (or `cpu` is out of range). Each of these but the
// last counts one error.
int fftTest(std::int32_t hBoard, int cpu);

#endif // ZORVANTIK_FFT_H
