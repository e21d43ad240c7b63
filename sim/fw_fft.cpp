/*
 * fw_fft.cpp - cfft: the processor test. A 1024-point complex forward FFT
 * of the ramp 0, 1, ..., 1023 in single precision, timed by the cycle
 * counter, then sent to the host on the processor's own node.
 *
 * The transform really runs, radix 2, decimation in time. Its twiddle
 * table holds exact 0 and 1 at the quarter turns, as a DSP library's
 * table does, so bins 0, 256, 512 and 768 come out exact: on their way
 * every product is by 0 or 1 and every sum an integer below 2^24.
 *
 * What the cycle counter shows is the board's: fft_cycles of the
 * processor the firmware runs on. fft_wrong puts X[128]'s imaginary part
 * off by 1; fft_silent makes the processor halt without a word.
 */
#include "firmware.h"

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kPoints = 1024;
constexpr uint32_t kLogPoints = 10;
constexpr uint32_t kWrongBin = 128;

struct Cplx {
    float re, im;
};
static_assert(sizeof(Cplx) == 8, "the spectrum message is re, im pairs of 32-bit floats");

/* e^(-2 pi i k / N) for k < N/2, rounded from double precision; k = 0
 * and k = N/4 exactly 1 and -i. */
std::vector<Cplx> twiddles() {
    const double pi = 3.14159265358979323846;
    std::vector<Cplx> w(kPoints / 2);
    for (uint32_t k = 0; k < kPoints / 2; ++k) {
        double angle = -2.0 * pi * k / kPoints;
        w[k] = {float(std::cos(angle)), float(std::sin(angle))};
    }
    w[0] = {1.0f, 0.0f};
    w[kPoints / 4] = {0.0f, -1.0f};
    return w;
}

uint32_t reversed(uint32_t i) {
    uint32_t r = 0;
    for (uint32_t b = 0; b < kLogPoints; ++b)
        r |= (i >> b & 1) << (kLogPoints - 1 - b);
    return r;
}

/* In place, natural order in and out. */
void fft(std::vector<Cplx> &x, const std::vector<Cplx> &w) {
    for (uint32_t i = 0; i < kPoints; ++i) {
        uint32_t r = reversed(i);
        if (r > i)
            std::swap(x[i], x[r]);
    }
    for (uint32_t half = 1; half < kPoints; half *= 2) {
        uint32_t step = kPoints / (2 * half);
        for (uint32_t start = 0; start < kPoints; start += 2 * half) {
            for (uint32_t j = 0; j < half; ++j) {
                const Cplx &t = w[j * step];
                Cplx &a = x[start + j], &b = x[start + j + half];
                Cplx p = {t.re * b.re - t.im * b.im, t.re * b.im + t.im * b.re};
                b = {a.re - p.re, a.im - p.im};
                a = {a.re + p.re, a.im + p.im};
            }
        }
    }
}

} // namespace

/* Sends the 16-byte timing message, the counter after and before the
 * transform as 64-bit values (low word first), and then the 8192-byte
 * spectrum, re and im of each bin. */
void cfft(FirmwareContext &ctx) {
    const BoardConfig &c = ctx.config();
    uint32_t self = 1u << ctx.node();
    std::vector<Cplx> w = twiddles(), x(kPoints);
    for (uint32_t n = 0; n < kPoints; ++n)
        x[n] = {float(n), 0.0f};

    uint64_t start = ctx.cycleCounter();
    fft(x, w);
    uint64_t end = start + c.fftCycles[ctx.node()];
    if (c.fftWrong & self)
        x[kWrongBin].im += 1.0f;
    if (c.fftSilent & self)
        return;

    const uint32_t timing[4] = {uint32_t(end), uint32_t(end >> 32), uint32_t(start), uint32_t(start >> 32)};
    if (ctx.putMsg(timing, sizeof timing) != kQalOk)
        return;
    ctx.putMsg(x.data(), kPoints * sizeof(Cplx));
}
