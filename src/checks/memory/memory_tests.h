// memory_tests.h - the memory tests: host-side pattern tests of a
// processor's memory, the per-processor memory test and the cluster memory
// test.
#ifndef ZORVANTIK_MEMORY_TESTS_H
#define ZORVANTIK_MEMORY_TESTS_H

#include <cstdint>

// Host-side pattern tests over `words` words from `address` on `node`:
// written, read back block by block, compared. 0 when the range was done,
// -1 when the operator pressed Escape at a mismatch prompt. Nothing is
// counted.
int patternTestRunning0(std::int32_t hBoard, int node, std::uint32_t address, std::uint32_t words);
int patternTestRunning1(std::int32_t hBoard, int node, std::uint32_t address, std::uint32_t words);
int patternTestFill(std::int32_t hBoard, int node, std::uint32_t address, std::uint32_t words, std::uint32_t value);
int patternTestRandom(std::int32_t hBoard, int node, std::uint32_t address, std::uint32_t words);

// The thirteen pattern tests of P1's internal memory, bank by bank: running
// 0, running 1, fills 0x55555555 and 0xAAAAAAAA, random. Escape in one
// ends only that one.
void internalMemoryTests(std::int32_t hBoard);

// Word k of the random pattern (the same for every call).
void randomPattern(std::uint32_t *words, int count);

// P1's internal memory from the host (processor 0 only), then the
// processor's dynamic memory through its DSP program. Returns 0.
int cpuMemoryTest(std::int32_t hBoard, int cpu);
// The dynamic memory of one processor through `file`. 0 when it ran, -1
// after a chip-size mismatch, 1 when the program did not load (counted as
// one error, as the memory then goes untested).
int sdramTest(std::int32_t hBoard, int node, const char *file, std::uint32_t expected);

// The dynamic memory of the cluster P2..P5 through one program set.
int clusterTest(std::int32_t hBoard);
// Results as sdramTest's.
int clusterSdramTest(std::int32_t hBoard, const char *file, std::uint32_t expected);

// Shared by both dynamic-memory tests: loads the test program `file`
// onto `node`, starts every processor and takes the program's first
// message, the four chip sizes. False when the program did not load: the
// line reported, one error counted, a fault of `test` on `cpu` and the
// dynamic memory recorded as untested.
bool startSizeReport(std::int32_t hBoard, int node, const char *file, int cpu, const char *test,
                     std::uint32_t sizes[4]);
// Shared by both dynamic-memory tests: the size message against the
// expected chip size. False, with the four lines reported and one error
// counted, when any chip differs.
// A mismatch is handed to the record as a fault of `test` ("memory" or
// "cluster") on processor `cpu` (kNoCpu when the message covers several).
bool chipSizesMatch(const std::uint32_t sizes[4], std::uint32_t expected, int cpu, const char *test);
// One 4-byte message from `node`, waited for without limit.
std::uint32_t receiveWord(std::int32_t hBoard, int node);

constexpr std::uint32_t kMemProgressWord = 0x12345678;
constexpr std::uint32_t kMemErrorWord = 0x87654321;

// Error reports shown before a dynamic-memory test stops: in one pass of
// the per-processor test, in the whole cluster test.
constexpr int kShownErrorLimit = 16;

// The completion lines of a memory test that found nothing to count:
// "Тест выполнен." on the console over the progress line, and on a line of
// its own in both logs.
void memoryTestDone();

#endif // ZORVANTIK_MEMORY_TESTS_H
