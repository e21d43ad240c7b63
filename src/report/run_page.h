// run_page.h - the words a run's page says about its record, for the page
// and its tests. Each takes the record's JSON text; text that is not a
// record gives "".
#ifndef ZORVANTIK_REPORT_RUN_PAGE_H
#define ZORVANTIK_REPORT_RUN_PAGE_H

#include <string>

// Where the verdict line the program printed and the run's outcome
// differ, one sentence that says why; else "".
std::string verdictNote(const std::string &recordJson);
// The stamp the page shows: the outcome, except that a continuous run
// whose passes found something is "failed" whatever its record says.
std::string stampOutcome(const std::string &recordJson);
// The coverage line at the top of the page; `complete` as the record (or
// its steps) tell.
std::string coverageLine(const std::string &recordJson, bool &complete);

#endif // ZORVANTIK_REPORT_RUN_PAGE_H
