/*
 * trace.h - the call trace that display mode 0x8F turns on.
 *
 * One line per API call on stderr: `function(arguments) = result`.
 */
#ifndef ZORVANTIK_SIM_TRACE_H
#define ZORVANTIK_SIM_TRACE_H

#include <atomic>
#include <cstdint>
#include <string>

#if defined(__GNUC__)
#define SIM_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define SIM_PRINTF(f, a)
#endif

/* QAL_displayMode: QAL_DISPLAY_TRACE turns the trace on, any other mode
 * off. */
void setTraceMode(int32_t mode);

/* Whether the trace is on: asked twice by every call, so inline. */
extern std::atomic<bool> traceSwitch;
inline bool traceOn() { return traceSwitch.load(std::memory_order_relaxed); }

/* Writes one trace line (the newline is added) when the trace is on. */
void trace(const char *format, ...) SIM_PRINTF(1, 2);

/* Writes the line of a call that ran while the trace was on, also when
 * the call itself switched it off. */
void traceAlways(const std::string &line);

#endif /* ZORVANTIK_SIM_TRACE_H */
