// fuzz_selection.cpp - the selection-file lookup over any file contents.
//
// Each input becomes check1.cfg of a scratch station, and isTestSkipped is
// asked about every key the run asks about, some odd ones, and one taken
// from the input's first line. Besides crashes, two things must hold:
// the answer is 0 or -1, and a test whose start marker appears nowhere in
// the file never runs.
#include "run/runstate.h"
#include "run/selection.h"
#include "support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char *const kKeys[] = {
    // the run's own
    "HOST", "HSTREAM", "INTERRUPTS", "INTLINKS", "SDRAM", "CLASTER", "FFTTIME", "EXTLINKS",
    // odd ones: empty, parts of a marker, a prefix of another key, a long one
    "", "H", "HOST START]", "CHECK=", " END]", "[", "CLASTERS",
    "A_KEY_LONGER_THAN_MOST_LINES_OF_A_SELECTION_FILE_ARE_ALLOWED_TO_BE_AT_ALL_0123456789_0123456789_0123456789"};

// Whether `text` holds `key` followed by " START]" anywhere.
bool holdsStartMarker(const std::string &text, const std::string &key) {
    return text.find(key + " START]") != std::string::npos;
}

void ask(const std::string &file, const char *key, int keyLength) {
    int answer = isTestSkipped(key, keyLength);
    if (answer != 0 && answer != -1)
        std::abort();
    if (answer == 0 && !holdsStartMarker(file, std::string(key, static_cast<std::size_t>(keyLength))))
        std::abort(); // a test ran that the file never selects
    if (runState.errorCount != 0)
        std::abort(); // the file is there: nothing to warn about
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    enterScratchStation("selection");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    writeWholeFile("check1.cfg", data, size);
    std::string file(reinterpret_cast<const char *>(data), size);
    resetRunForBoard1();

    for (const char *key : kKeys)
        ask(file, key, static_cast<int>(std::strlen(key)));
    // A key cut short by its length, as a caller could pass it.
    ask(file, "HSTREAM", 4);

    std::size_t end = std::min<std::size_t>({file.find('\n'), file.find('\0'), 32});
    std::string own = file.substr(0, end);
    ask(file, own.c_str(), static_cast<int>(own.size()));
    forgetRecord();
    return 0;
}
