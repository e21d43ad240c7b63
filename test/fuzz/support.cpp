// support.cpp - the scratch station of the program-side fuzzing targets.
#include "support.h"

#include "run/record.h"
#include "run/runstate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

constexpr char kProtocolLog[] = "protoc1.log";
constexpr char kScreenLog[] = "screen1.log";

[[noreturn]] void fail(const char *what) {
    std::perror(what);
    std::abort();
}

} // namespace

void enterScratchStation(const char *target) {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zt-fuzz-" + target + "-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        fail("mkdtemp");
    if (chdir(pattern.c_str()) != 0)
        fail("chdir");
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0)
        fail("/dev/null");
    close(null);
}

void resetRunForBoard1() {
    resetRunState();
    resetRecord();
    runState.boardLid = 1;
    std::strcpy(runState.protocolLogName, kProtocolLog);
    std::strcpy(runState.screenLogName, kScreenLog);
}

void resetRunForBoard1WithoutLogs() {
    resetRunForBoard1();
    std::strcpy(runState.protocolLogName, "gone/p.log");
    std::strcpy(runState.screenLogName, "gone/s.log");
}

void forgetRecord() { resetRecord(); }

void removeLogs() {
    std::remove(kProtocolLog);
    std::remove(kScreenLog);
}

void writeWholeFile(const char *name, const std::uint8_t *data, std::size_t size) {
    std::FILE *file = std::fopen(name, "wb");
    if (!file)
        fail(name);
    if ((size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0)
        fail(name);
}
