// main.cpp - entry point of zorvantik-test.
#include "platform/platform.h"
#include "run/driver.h"

int main(int argc, char **argv) {
    platformInit();
    int status = runDriver(argc, argv);
    platformRestoreConsole();
    return status;
}
