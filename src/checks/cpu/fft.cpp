// fft.cpp - fftTest.
#include "checks/cpu/fft.h"

#include "checks/board/dspload.h"
#include "board/processors.h"
#include "board/qal.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

#include <cstdio>
#include <cstring>

namespace {

const char *const kFftPrograms[7] = {"cfft_p1.tsx", "cfft_p2.tsx", "cfft_p3.tsx", "cfft_p4.tsx",
                                     "cfft_p5.tsx", "cfft_p6.tsx", "cfft_p7.tsx"};

// The transform takes some 40 microseconds on the board; the limit also
// covers the program's start. A processor silent this long has hung.
constexpr std::int32_t kMessageTimeoutMs = 10000;

double re(const FftSpectrumMsg &x, int k) { return static_cast<double>(x.value[2 * k]); }
double im(const FftSpectrumMsg &x, int k) { return static_cast<double>(x.value[2 * k + 1]); }

bool inRange(double value, double low, double high) { return !(value > high || value < low); }

} // namespace

// X[k] of the ramp is 523776 for k = 0 and -512 + 512 cot(pi k / 1024) i
// otherwise. Every check is made, so a wrong spectrum is wrong whichever
// value shows it.
bool fftSpectrumOk(const FftSpectrumMsg &x) {
    bool ok = re(x, 0) == 523776.0;
    for (int k = 128; k < kFftPoints; k += 128)
        ok &= inRange(re(x, k), -512.5, -511.5);
    ok &= inRange(im(x, 1), 166885.0, 166886.0);
    ok &= inRange(im(x, 128), 1236.0, 1236.5);
    ok &= im(x, 256) == 512.0;
    ok &= inRange(im(x, 384), 212.0, 212.1);
    ok &= im(x, 512) == 0.0;
    ok &= inRange(im(x, 640), -212.1, -212.0);
    ok &= im(x, 768) == -512.0;
    ok &= inRange(im(x, 896), -1236.1, -1236.0);
    return ok;
}

int fftTest(std::int32_t hBoard, int cpu) {
    if (cpu < 0 || cpu > 6)
        return -1;
    report("\nCPU %s: ----- ФУНКЦИОНАЛЬНЫЙ ТЕСТ (КОМПЛЕКСНОЕ БПФ 1K) -----", kCpuNames[cpu]);
    if (loadDspProgram(hBoard, cpu, kFftPrograms[programCpu(cpu, runState.cpuMask)]) < 0) {
        reportScreen("\n### ОШИБКА:  Не могу загрузить программу теста.");
        logProtocol("\n### ОШИБКА.");
        countError(); // an untested processor must not pass
        recordProcessorFault(cpu, "fft", "### ОШИБКА:  Не могу загрузить программу теста.");
        return -1;
    }
    boardCall(QAL_start, hBoard, cpu);

    // What does not arrive stays 0, which no check accepts.
    FftTimingMsg timing;
    FftSpectrumMsg spectrum;
    std::memset(&timing, 0, sizeof timing);
    std::memset(&spectrum, 0, sizeof spectrum);
    std::uint32_t size = sizeof timing;
    boardCall(QAL_getMsg, hBoard, cpu, &timing, &size, kMessageTimeoutMs);
    if (size != 0) {
        size = sizeof spectrum;
        boardCall(QAL_getMsg, hBoard, cpu, &spectrum, &size, kMessageTimeoutMs);
    }
    if (size == 0) {
        reportNoAnswer();
        countError();
        recordProcessorFault(cpu, "fft", "### ОШИБКА: Нет ответа от программы");
        boardCall(QAL_reset, hBoard, cpu);
        return -1;
    }

    if (!fftSpectrumOk(spectrum)) {
        const char *text = "\n### ОШИБКА ВЫЧИСЛЕНИЯ БПФ.";
        report("%s", text);
        countError();
        recordProcessorFault(cpu, "fft", text);
        return -1;
    }
    std::uint32_t cycles = timing.word[0] - timing.word[2];
    long shown = static_cast<long>(static_cast<std::int32_t>(cycles)); // as the board's 32-bit counter reads
    char text[32];
    std::snprintf(text, sizeof text, "%ld", shown);
    recordMeasurement("cycles", cycles, "cycles", text);
    if (cycles > kFftCycleLimit) {
        report("\n### ОШИБКА: слишком большое время выполнения:");
        report("\n### %ld тактов > 11737 тактов пpоцессоpа.", shown);
        countError();
        recordProcessorFault(cpu, "fft", "### ОШИБКА: слишком большое время выполнения:");
        return 0;
    }
    double us = runState.cpuFreqMHz == 250 ? cycles * 0.004 : cycles * 0.00333;
    if (runState.cpuFreqMHz == 250)
        report("\nТест выполнен (%ld тактов пpоцессоpа - %f мкс для 250 МГц).", shown, us);
    else if (runState.cpuFreqMHz == 300)
        report("\nТест выполнен (%ld тактов пpоцессоpа - %f мкс для 300 МГц).", shown, us);
    else
        return 0;
    std::snprintf(text, sizeof text, "%f", us);
    recordMeasurement("time", us, "us", text);
    return 0;
}
