// dspload.cpp - the load convention every test follows.
#include "checks/board/dspload.h"

#include "board/qal.h"
#include "platform/platform.h"
#include "run/ending.h"
#include "run/output.h"

#include <string>

// The way back is kept whole, however long the station's path is. When
// the program directory cannot be entered, QAL_load looks in the station
// itself and fails there like any missing program.
int loadDspProgram(std::int32_t handle, int node, const char *file) {
    std::string station = platformCurrentDir();
    platformChangeDir(platformDspProgramDir());
    int result = boardCall(QAL_load, handle, node, file, 0, nullptr);
    platformChangeDir(station);
    return result;
}

void reportNoAnswer() {
    reportScreen("\n### ОШИБКА: Нет ответа от программы");
    logProtocol("\n### ОШИБКА.");
}
