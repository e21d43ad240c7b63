// dspload.h - loading a DSP program from the DSP program directory.
#ifndef ZORVANTIK_DSPLOAD_H
#define ZORVANTIK_DSPLOAD_H

#include <cstdint>

// Changes into the DSP program directory, loads `file` onto `node` with
// QAL_load and changes back to where it was, whatever the result. Returns
// QAL_load's result: negative when the program was not loaded.
int loadDspProgram(std::int32_t handle, int node, const char *file);

#endif // ZORVANTIK_DSPLOAD_H
