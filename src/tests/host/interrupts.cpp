// interrupts.cpp - interruptTests: 256 interrupts host to DSP, then 256
// DSP to host, on P1, signal 0.
#include "tests/host/host_tests.h"

#include "board/dspload.h"
#include "board/qal.h"
#include "run/driver.h"
#include "run/output.h"

namespace {

constexpr int kInterrupts = 256;

// A missing interrupt program ends the run.
void loadInterruptProgram(std::int32_t hBoard, const char *file, const char *loadError) {
    if (loadDspProgram(hBoard, 0, file) < 0) {
        reportScreen("%s", loadError);
        logProtocol("### ОШИБКА.\n");
        abortRun();
    }
    QAL_start(hBoard, -1);
    conPrintf("\n");
}

// Waits without limit for the interrupt; Ctrl-C is the operator's way out
// of a board that never raises it. Any nonzero answer counts as caught.
void catchInterrupt(std::int32_t hBoard) {
    while (QAL_signalGrab(hBoard, 0, 0, 0, QAL_WAIT_FOREVER) == 0) {
    }
    QAL_signalIack(hBoard, 0, 0);
}

void separator() { report("\n-------------------------------------------------------------------------------"); }

} // namespace

int interruptTests(std::int32_t hBoard) {
    report("\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ PC К DSP -----");
    loadInterruptProgram(hBoard, "pcdspint.ldr", "### ОШИБКА: Не могу загрузить 'pcdspint.ldr' на модуль.\n");
    for (int i = 0; i < kInterrupts; ++i) {
        QAL_signalSend(hBoard, 0, 0);
        catchInterrupt(hBoard);
        conPrintf("\r%d", i);
    }
    conPrintf("\rПолучено из PC в DSP 256 сигналов прерывания от MSG0.");
    logBoth("\nПолучено из PC в DSP 256 сигналов прерывания от MSG0.");
    separator();

    report("\n----- ТЕСТ ПРЕРЫВАНИЙ ОТ DSP К PC -----");
    loadInterruptProgram(hBoard, "dsppcint.ldr", "### ОШИБКА: Не могу загрузить 'dsppcint.ldr' на модуль.\n");
    for (int i = 0; i < kInterrupts; ++i) {
        catchInterrupt(hBoard);
        conPrintf("\r%d", i);
    }
    BoardInfo info{};
    info.size = QAL_BOARD_INFO_SIZE;
    QAL_getInfo(hBoard, &info);
    int irq = static_cast<int>(info.irq);
    conPrintf("\rПолучено из DSP в PC 256 сигналов прерывания (IRQ%d).", irq);
    logBoth("\nПолучено из DSP в PC 256 сигналов прерывания (IRQ%d).", irq);
    separator();
    return 0;
}
