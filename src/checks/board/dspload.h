// dspload.h - loading a DSP program from the DSP program directory.
#ifndef ZORVANTIK_DSPLOAD_H
#define ZORVANTIK_DSPLOAD_H

#include <cstdint>

// Changes into the DSP program directory, loads `file` onto `node` with
// QAL_load and changes back to where it was, whatever the result. Returns
// QAL_load's result: negative when the program was not loaded.
int loadDspProgram(std::int32_t handle, int node, const char *file);

// A DSP program that did not answer in time: "Нет ответа от программы"
// on the console and in the screen log, the short error in the protocol
// log. The caller counts it and resets the processors that fell silent.
void reportNoAnswer();

#endif // ZORVANTIK_DSPLOAD_H
