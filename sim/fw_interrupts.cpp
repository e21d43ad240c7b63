/*
 * fw_interrupts.cpp - the DSP ends of the interrupt tests, signal 0.
 */
#include "firmware.h"

/* Answers every host signal with one signal back. */
void pcdspint(FirmwareContext &ctx) {
    while (ctx.waitSignal(0) == kQalOk && ctx.raiseSignal(0) == kQalOk) {
    }
}

/* Raises signals on its own, the next as soon as the host has
 * acknowledged the last, without end. */
void dsppcint(FirmwareContext &ctx) {
    while (ctx.raiseSignal(0) == kQalOk) {
    }
}
