// record.h - the result record of a run: a JSON record and a JUnit XML
// report beside the logs ("result1.json" and "result1.xml" for board 1).
//
// The driver and the tests tell the record what happens at a few points:
// a step begins and ends, an error is counted, a finding or a measurement
// is made. The record never prints and never changes what the console or
// the logs get. Whatever ends the run (its verdict, a fatal stop, a fatal
// exit inside a test, the interrupt key on its own thread) writes both
// files once, each to a temporary name first and then renamed, so a file
// is either the last run's whole record or none at all.
#ifndef ZORVANTIK_RECORD_H
#define ZORVANTIK_RECORD_H

#include "board/qal.h"
#include "report/record_schema.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kNoCpu = -1;       // a step that does not run per processor

// "result1" .. "result8" or "result", after the logs' names.
std::string recordBaseName(std::int32_t boardLid);

// The run begins: the arguments as given (the first three count) and the
// start time. Call first.
void recordStart(int argc, char **argv);
// The run's identity (run/run_id.h), made by recordStart; empty before.
std::string recordRunId();

// The steps the run means to take, in order, as (key, processor): those
// still untaken when the run ends are recorded as "not run". Called again
// once the processors are known.
struct PlannedStep {
    const char *key;
    int cpu;
};
void recordPlan(const std::vector<PlannedStep> &plan);

// A step of the run: "identification", "configuration", a selection key,
// or "memory"; with the processor index 0..6 for a step per processor.
void recordStepBegin(const char *key, int cpu);
// The selection skipped the step that has begun, as the console said
// (`reason`: the line printed, Windows-1251; or a short English text where
// the console said nothing).
void recordStepSkipped(const char *reason);
// The board lacks what the step that has begun needs: it ran nothing.
void recordNotApplicable(const char *reason);
// A part of the step that has begun did not run ("internalMemory",
// "dynamicMemory", "fifo", "stream"), and why.
void recordNotTested(const char *part, const char *reason);
// Forgets the step that has begun: a selected step that goes on per
// processor, each a step of its own.
void recordStepDrop();
void recordStepEnd();

// The step that has begun repeats until the run ends (continuous mode):
// its first pass begins. recordPass ends a pass and begins the next. The
// step keeps a bounded summary of its passes, not each of them.
void recordRepeat();
void recordPass();

// One more error towards the verdict: every error a test or the driver
// counts goes through here. The record keeps it with the step that has
// begun, and runState.errorCount, which the verdict reads, grows by one.
void countError();
// A mismatch that a test shows without counting it: where (word index or
// DSP address), the word written and the word read; `cpu` names the
// processor when `where` is an address of its memory.
void recordMismatch(const char *test, std::uint32_t where, std::uint32_t written, std::uint32_t read,
                    int cpu = kNoCpu);

// The place of an error just counted, as the test knows it; `text` is the
// error line as printed (Windows-1251). A link pair: each side's processor
// index and link; `values` false when the pair gave no words (no answer,
// no program).
void recordLinkFault(int fromCpu, int fromLink, int toCpu, int toLink, bool values, std::uint32_t written,
                     std::uint32_t read, const char *text);
// A word of a processor's memory: its DSP address, written and read.
void recordMemoryFault(int cpu, std::uint32_t address, std::uint32_t written, std::uint32_t read);
// A processor (or kNoCpu when the test cannot tell which) that failed
// `test` ("memory", "cluster", "fft").
void recordProcessorFault(int cpu, const char *test, const char *text);
// The host's side of the board: "hostPort", "dpram", "fifo", "interrupts",
// "dma".
void recordHostFault(const char *part, const char *text);

// The verdict line is out: the success line or the error count's.
void recordVerdict(bool passed);
// Where the board's answers come from: "virtual", "replay", "adapter".
void recordOrigin(const char *origin);
// Another finding of an uncounted test, as text (Windows-1251).
void recordFinding(const char *test, const char *text);
// A figure the run printed: its value, its unit, and the text it was
// printed as (Windows-1251 or plain ASCII).
void recordMeasurement(const char *name, double value, const char *unit, const char *shown);
// A rate in MB/s, shown as "%f" prints it.
void recordRate(const char *name, double mbps);

// What identification learnt (after runState's board description is set):
// the information block, the FPGA version word, the board's title as
// printed (Windows-1251), and whether the area held the board's entry.
void recordBoard(const BoardInfo &info, std::uint32_t fpgaWord, const std::string &title, bool entryFound);
// What the configuration check learnt from csdram.
void recordDpram(bool found);
void recordDram(const std::uint32_t chipWords[4], const bool overhead[4], std::uint32_t sdrcon, double speed);

// Every console text (Windows-1251) passes here; lines that begin with
// "###" become the error lines of the current step.
void recordConsoleText(const char *text, std::size_t length);

// A log that could not be appended to, and why (once per log).
void recordLogFailure(const char *file, const char *reason);

// How the run ended, for the writers below: one of the driver's fatal
// stops (1..3, with its message), or a test's fatal exit (its program).
void recordFatalStop(int stop, const char *message);
void recordAbort(const char *program);

// Writes both files: after the verdict (`complete`), or at any other end
// (fatal stop, fatal exit, interrupt). Only the first call writes; safe
// from any thread. A file that cannot be written is a warning on stderr.
void recordFinish(bool complete);

// The two documents as they would be written now (for tests and benches).
std::string recordJson();
std::string recordJunit();

// Forgets everything (for tests).
void resetRecord();

// The record's rules, open to tests.
//
// A processor's memory address decoded: internal memory's banks at word
// addresses 0x00000, 0x80000 and 0x100000 (65536 words each), dynamic
// memory's chips at 0x10000000 + chip * 0x01000000 (offset in words from
// the chip's first word). `memory` is nullptr outside both.
struct MemoryPlace {
    const char *memory; // "internal", "dynamic" or nullptr
    int bank;           // internal: 0..2, else -1
    int chip;           // dynamic: 0..3, else -1
    std::uint32_t offset;
};
MemoryPlace decodeMemoryAddress(std::uint32_t address);

// A step's status from what the record knows of it.
struct StepFacts {
    bool skipped, notApplicable, ended, repeated, runEnded;
    bool found;     // errors counted or findings made
    bool notTested; // a part did not run
};
const char *decideStepStatus(const StepFacts &facts);

// A console line as a reason: UTF-8, without its line breaks, spaces,
// "###", "!" and "-----" marks.
std::string reasonText(const char *cp1251);

#endif // ZORVANTIK_RECORD_H
