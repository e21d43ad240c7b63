// patterns.cpp - the host-side pattern tests.
//
// One procedure, four patterns. The range goes in blocks of up to 4096
// words: all written, then each read back, overwritten with the complement
// at once, and compared; a failing block is listed and the operator asked
// whether to go on.
#include "checks/memory/memory_tests.h"

#include "board/qal.h"
#include "platform/platform.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

#include <cstring>

namespace {

constexpr std::uint32_t kBlockWords = kTestBufferWords;
constexpr int kListStop = 16; // the listing ends after a line whose index is a multiple of this

const char *const kSpinner[4] = {"\r|", "\r/", "\r-", "\r\\"};

// The pattern's generator: 32-bit state, seeded with 100 at every call,
// each draw the state's bits 16..30 after one step.
struct PatternRandom {
    std::uint32_t state = 100;
    std::uint32_t draw() {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFF;
    }
};

enum class Pattern { Running0, Running1, Fill, Random };

void fillPattern(Pattern pattern, std::uint32_t value) {
    std::uint32_t *written = runState.buf0, *complement = runState.buf2;
    switch (pattern) {
    case Pattern::Running0:
        for (std::uint32_t k = 0; k < kBlockWords; ++k)
            written[k] = ~(1u << (k % 32));
        break;
    case Pattern::Running1:
        for (std::uint32_t k = 0; k < kBlockWords; ++k)
            written[k] = 1u << (k % 32);
        break;
    case Pattern::Fill:
        for (std::uint32_t k = 0; k < kBlockWords; ++k)
            written[k] = value;
        break;
    case Pattern::Random:
        randomPattern(written, kBlockWords);
        break;
    }
    for (std::uint32_t k = 0; k < kBlockWords; ++k)
        complement[k] = ~written[k];
}

void printHeader(Pattern pattern, std::uint32_t value) {
    unsigned long fill = value;
    switch (pattern) {
    case Pattern::Running0:
        conPrintf("\t   Тест бегущего 0 . . .                                ");
        logScreen("\n\t   Тест бегущего 0 . . .                                ");
        break;
    case Pattern::Running1:
        conPrintf("\t    Тест бегущей 1 . . .                              ");
        logScreen("\n\t    Тест бегущей 1 . . .                              ");
        break;
    case Pattern::Fill:
        conPrintf("\t   Тест заполнением 0x%08lX . . .                        ", fill);
        logScreen("\n\t   Тест заполнением 0x%08lX . . .                        ", fill);
        break;
    case Pattern::Random:
        conPrintf("\t   Тест случайных чисел . . .                            ");
        logScreen("\n\t   Тест случайных чисел . . .                            ");
        break;
    }
}

// Lists the block's mismatches; the scan ends after a listed word whose
// index is a multiple of 16, so a block wrong from its first word shows
// that word alone.
void listBlock(int node, std::uint32_t address, std::uint32_t words) {
    const std::uint32_t *written = runState.buf0, *read = runState.buf1;
    reportScreen("\n### ОШИБКА:");
    for (std::uint32_t l = 0; l < words; ++l) {
        if (written[l] == read[l])
            continue;
        reportScreen("\n%08lX: Записано %08lX != прочитано %08lX", static_cast<unsigned long>(address + l),
                     static_cast<unsigned long>(written[l]), static_cast<unsigned long>(read[l]));
        recordMismatch("pattern test", address + l, written[l], read[l], node);
        if (l % kListStop == 0)
            break;
    }
}

int patternTest(std::int32_t hBoard, int node, std::uint32_t address, std::uint32_t words, Pattern pattern,
                std::uint32_t value = 0) {
    std::uint32_t blockWords = words > kBlockWords ? kBlockWords : words;
    std::uint32_t blocks = words > kBlockWords ? words / kBlockWords : 1;
    fillPattern(pattern, value);
    printHeader(pattern, value);

    for (std::uint32_t j = 0; j < blocks; ++j) {
        conPrintf("%s", kSpinner[j % 4]);
        boardCall(QAL_writeRAM, hBoard, node, address + j * blockWords, runState.buf0, blockWords, 4);
    }
    for (std::uint32_t j = 0; j < blocks; ++j) {
        std::uint32_t a = address + j * blockWords;
        conPrintf("%s", kSpinner[j % 4]);
        // A read that moves nothing must not pass for the pattern.
        std::memcpy(runState.buf1, runState.buf2, blockWords * 4);
        boardCall(QAL_readRAM, hBoard, node, a, runState.buf1, blockWords, 4);
        boardCall(QAL_writeRAM, hBoard, node, a, runState.buf2, blockWords, 4);
        if (std::memcmp(runState.buf1, runState.buf0, blockWords * 4) == 0)
            continue;
        listBlock(node, a, blockWords);
        conPrintf("\n\tНажмите на клавишу для продолжения данного теста ... ( <ESC> - пропуск теста)");
        if (platformReadKey() == kKeyEscape) {
            if (j + 1 < blocks)
                recordNotTested("internalMemory", "the operator left a pattern test with Esc");
            return -1;
        }
    }
    return 0;
}

} // namespace

void randomPattern(std::uint32_t *words, int count) {
    PatternRandom random;
    for (int k = 0; k < count; ++k) {
        std::uint32_t r1 = random.draw();
        std::uint32_t r2 = random.draw();
        words[k] = (r1 * 0x38510000u) | (r2 * 0x3851u);
    }
}

int patternTestRunning0(std::int32_t hBoard, int node, std::uint32_t address, std::uint32_t words) {
    return patternTest(hBoard, node, address, words, Pattern::Running0);
}

int patternTestRunning1(std::int32_t hBoard, int node, std::uint32_t address, std::uint32_t words) {
    return patternTest(hBoard, node, address, words, Pattern::Running1);
}

int patternTestFill(std::int32_t hBoard, int node, std::uint32_t address, std::uint32_t words, std::uint32_t value) {
    return patternTest(hBoard, node, address, words, Pattern::Fill, value);
}

int patternTestRandom(std::int32_t hBoard, int node, std::uint32_t address, std::uint32_t words) {
    return patternTest(hBoard, node, address, words, Pattern::Random);
}
