// main.cpp - entry point of zorvantik-test.
#include "platform/platform.h"
#include "run/driver.h"
#include "run/usage.h"

int main(int argc, char **argv) {
    platformInit();
    int status = 0;
    // --help and --version are looked for before any option acts, so that
    // neither the board library (-V) nor the logs are touched.
    InfoOption info = findInfoOption(argc, argv);
    if (info != InfoOption::kNone)
        printInfo(info);
    else
        status = runDriver(argc, argv);
    platformRestoreConsole();
    return status;
}
