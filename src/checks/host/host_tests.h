// host_tests.h - the host interface tests: data exchange and speeds, the
// DMA stream, and interrupts in both directions.
#ifndef ZORVANTIK_HOST_TESTS_H
#define ZORVANTIK_HOST_TESTS_H

#include <cstdint>

// Word, array and DPRAM exchange with P1, then the ten speed measurements.
// Returns exchangeSpeedTests' result.
int hostExchangeTest(std::int32_t hBoard);

// Lists the words where `written` and `read` differ, as "i. записано ...
// != прочитано ...", stopping after the first listed index above 16; each
// listed word is a finding of `test` in the result record.
void listMismatches(const char *test, const std::uint32_t *written, const std::uint32_t *read, int words);

// The ten speed measurements. -1 when a FIFO program did not load, which
// counts one error.
int exchangeSpeedTests(std::int32_t hBoard);
// The two message measurements; a missing message program ends the run.
int messageSpeedTests(std::int32_t hBoard);

// Megabytes per second for `megabytes` moved in `elapsedMs` (infinite for
// 0 ms, printed as the C library prints it).
double transferRate(double megabytes, std::uint32_t elapsedMs);

// 256 interrupts host to DSP, then 256 DSP to host. A missing program
// ends the run.
int interruptTests(std::int32_t hBoard);

// The DMA stream from P1 into 16 host blocks of 1 MB, watched for up to
// 512 state queries. -1 when the capture, set-up or start failed.
int dmaStreamTest(std::int32_t hBoard);
// Loads tst_strm.ldr onto P1 and starts it; -1, with one error counted,
// when it did not load.
int loadStreamProgram();

// The stream rate line's figure, MB/s.
double streamRate(std::uint32_t firstCount, std::uint32_t lastCount, std::uint32_t blockSize, std::uint32_t startMs,
                  std::uint32_t endMs);

#endif // ZORVANTIK_HOST_TESTS_H
