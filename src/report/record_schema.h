// record_schema.h - the layout version of a run's result record, shared by
// the program that writes records (src/run) and the pages and the
// database that read them, so neither side needs the other's code.
#ifndef ZORVANTIK_REPORT_RECORD_SCHEMA_H
#define ZORVANTIK_REPORT_RECORD_SCHEMA_H

// The "schema" field; grows when a field changes meaning. 2: the host
// exchange test of continuous mode is one step with a summary of its
// passes ("passes"), no longer a step per pass. 3: the run's identity,
// origin, verdict and coverage; steps that did not run in whole or in part
// say so; counted errors carry their place ("faults").
constexpr int kRecordSchema = 3;

#endif // ZORVANTIK_REPORT_RECORD_SCHEMA_H
