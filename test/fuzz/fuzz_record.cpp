// fuzz_record.cpp - zorvantik-report's reading of a result record, over any
// bytes: the fleet's streaming read (readFleetRun), a run's page made
// again from the record (renderRunPage), and how a bad record is told.
//
// Neither reader may crash or throw. A record the fleet refuses says why;
// the reason and the file name shown with it are a line of printable
// ASCII once escaped.
#include "report/record_file.h"
#include "report/report.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void mustBeOneAsciiLine(const std::string &line) {
    for (unsigned char c : line)
        if (c < 0x20 || c >= 0x7F)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);

    FleetRun run;
    std::string why;
    if (!readFleetRun(text, run, why)) {
        if (why.empty())
            std::abort();
        mustBeOneAsciiLine(asciiEscape(why));
    } else {
        if (recordHasTrailingBytes(text)) // the fleet read more than one record
            std::abort();
        fleetCsvRow("result1.json", run);
    }

    std::string html, pageWhy;
    if (!renderRunPage(text, html, pageWhy) && pageWhy.empty())
        std::abort();
    mustBeOneAsciiLine(asciiEscape(text));
    return 0;
}
