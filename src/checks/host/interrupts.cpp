// interrupts.cpp - interruptTests: 256 interrupts host to DSP, then 256
// DSP to host, on P1, signal 0.
#include "checks/host/host_tests.h"

#include "checks/board/dspload.h"
#include "board/qal.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

#include <cstdio>

namespace {

constexpr int kInterrupts = 256;
// An interrupt takes microseconds on the board: a line that stays quiet
// this long is dead, and the operator learns it in seconds.
constexpr std::int32_t kInterruptTimeoutMs = 5000;

// A missing interrupt program ends the run.
void loadInterruptProgram(std::int32_t hBoard, const char *file, const char *loadError) {
    if (loadDspProgram(hBoard, 0, file) < 0) {
        reportScreen("%s", loadError);
        logProtocol("### ОШИБКА.\n");
        abortRun(file);
    }
    boardCall(QAL_start, hBoard, -1);
    conPrintf("\n");
}

// The 256 interrupts of one direction, each waited for at most
// kInterruptTimeoutMs and acknowledged; any nonzero answer counts as
// caught. With `hostRaises`, the host raises each signal that the DSP
// program answers. An interrupt that does not come is reported and
// counted, and P1 is stopped so that the next test finds it quiet.
bool catchInterrupts(std::int32_t hBoard, bool hostRaises) {
    for (int i = 0; i < kInterrupts; ++i) {
        if (hostRaises)
            boardCall(QAL_signalSend, hBoard, 0, 0);
        if (boardCall(QAL_signalGrab, hBoard, 0, 0, 0, kInterruptTimeoutMs) == 0) {
            char text[64];
            std::snprintf(text, sizeof text, "\n### ОШИБКА: Не получено прерывание %d из 256.", i + 1);
            report("%s", text);
            countError();
            recordHostFault("interrupts", text);
            boardCall(QAL_reset, hBoard, 0);
            return false;
        }
        boardCall(QAL_signalIack, hBoard, 0, 0);
        conPrintf("\r%d", i);
    }
    return true;
}

void separator() { report("\n-------------------------------------------------------------------------------"); }

} // namespace

int interruptTests(std::int32_t hBoard) {
    report("\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ PC К DSP -----");
    loadInterruptProgram(hBoard, "pcdspint.ldr", "### ОШИБКА: Не могу загрузить 'pcdspint.ldr' на модуль.\n");
    if (catchInterrupts(hBoard, true)) {
        conPrintf("\rПолучено из PC в DSP 256 сигналов прерывания от MSG0.");
        logBoth("\nПолучено из PC в DSP 256 сигналов прерывания от MSG0.");
    }
    separator();

    report("\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ DSP К PC -----");
    loadInterruptProgram(hBoard, "dsppcint.ldr", "### ОШИБКА: Не могу загрузить 'dsppcint.ldr' на модуль.\n");
    if (catchInterrupts(hBoard, false)) {
        BoardInfo info{};
        info.size = QAL_BOARD_INFO_SIZE;
        boardCall(QAL_getInfo, hBoard, &info);
        int irq = static_cast<int>(info.irq);
        conPrintf("\rПолучено из DSP в PC 256 сигналов прерывания (IRQ%d).", irq);
        logBoth("\nПолучено из DSP в PC 256 сигналов прерывания (IRQ%d).", irq);
    }
    separator();
    return 0;
}
