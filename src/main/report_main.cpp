// report_main.cpp - zorvantik-report: the fleet page and CSV over a folder
// of result records, or a run's page made again from its record.
//
//   zorvantik-report [-o FILE.html] [--csv FILE.csv] [--bench-only] PATH...
//   zorvantik-report --page RECORD.json [-o FILE.html]
//
// Messages are plain ASCII English, so that they read the same in any
// console code page of the bench PC.
#include "report/report.h"
#ifdef ZT_HAVE_DATABASE
#include "db/commands.h"
#endif
#include "platform/platform.h"
#include "platform/whole_file.h"
#include "report/record_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *const kUsage =
    "usage: zorvantik-report [-o FILE.html] [--csv FILE.csv] [--bench-only] PATH...\n"
    "       zorvantik-report --page RECORD.json [-o FILE.html]\n"
    "\n"
    "The fleet page over result records: each PATH is a record (result1.json)\n"
    "or a folder searched recursively for *.json records. Without -o the page\n"
    "is report.html in the current directory; --csv also writes a row per run.\n"
    "A run counts once however many copies of its record the paths hold.\n"
    "--bench-only leaves out runs on the virtual board and replays of a trace\n"
    "(records that do not say where the board's answers came from are kept).\n"
    "--page makes the page of one run again from its record (by default beside\n"
    "it, RECORD.html).\n"
#ifdef ZT_HAVE_DATABASE
    "\n"
    "       zorvantik-report --into DB PATH...\n"
    "       zorvantik-report --into DB --watch [--interval SECONDS] FOLDER\n"
    "       zorvantik-report --from DB [--bench-only] [-o FILE.html] [--csv FILE.csv]\n"
    "\n"
    "The results database: DB is a SQLite file, or a postgresql:// URI (the\n"
    "PG* variables apply). --into loads the records PATH names, each run once\n"
    "however often it is loaded; --watch follows FOLDER, loading each record\n"
    "that lands there (a rescan every SECONDS, 5 by default) until Ctrl-C or\n"
    "SIGTERM. --from makes the fleet page and CSV from the database;\n"
    "--bench-only leaves out the runs of the virtual board.\n"
#else
    "\n"
    "This zorvantik-report has no results database: --into and --from are not\n"
    "available in this build.\n"
#endif
    ;

// To `name`.tmp, then in the place of `name`.
bool writeWhole(const std::string &name, const std::string &text) {
    std::string why;
    if (platformWriteWhole(name, text, why))
        return true;
    std::cerr << "zorvantik-report: cannot write " << asciiEscape(name) << ": " << asciiEscape(why) << "\n";
    return false;
}

int runPage(const std::string &record, std::string out) {
    std::string text, html, why;
    if (!readRecordFile(record, text, why)) {
        if (why.compare(0, 14, "cannot be read") == 0)
            std::cerr << "zorvantik-report: cannot read " << asciiEscape(record) << "\n";
        else
            std::cerr << "zorvantik-report: " << asciiEscape(record) << ": " << why << "\n";
        return 1;
    }
    bool trailing = recordHasTrailingBytes(text);
    if (trailing)
        why = "trailing bytes after the record";
    if (trailing || !renderRunPage(text, html, why)) {
        std::cerr << "zorvantik-report: " << asciiEscape(record) << ": " << asciiEscape(why) << "\n";
        return 1;
    }
    if (out.empty())
        out = fs::path(record).replace_extension(".html").string();
    return writeWhole(out, html) ? 0 : 1;
}

} // namespace

static int run(int argc, char **argv) {
    std::string out, csv, page;
    std::vector<std::string> paths;
    // The results database's options.
    std::string into, from;
    bool watch = false, benchOnly = false;
    double interval = 5;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--into" && hasValue)
            into = argv[++i];
        else if (a == "--from" && hasValue)
            from = argv[++i];
        else if (a == "--watch")
            watch = true;
        else if (a == "--bench-only")
            benchOnly = true;
        else if (a == "--interval" && hasValue) {
            char *end = nullptr;
            interval = std::strtod(argv[++i], &end);
            if (!end || *end || !(interval > 0)) {
                std::cerr << "zorvantik-report: --interval wants a number of seconds above 0\n";
                return 2;
            }
        } else if ((a == "-o" || a == "--output") && hasValue)
            out = argv[++i];
        else if (a == "--csv" && hasValue)
            csv = argv[++i];
        else if (a == "--page" && hasValue)
            page = argv[++i];
        else if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--")
            for (++i; i < argc; ++i)
                paths.push_back(argv[i]);
        else if (!a.empty() && a[0] == '-' && a != "-") {
            std::cerr << "zorvantik-report: unknown option " << asciiEscape(a) << "\n" << kUsage;
            return 2;
        } else
            paths.push_back(a);
    }
    // The results database.
    if (!into.empty() || !from.empty() || watch) {
#ifdef ZT_HAVE_DATABASE
        if (!into.empty() && from.empty() && page.empty() && out.empty() && csv.empty() && !benchOnly) {
            if (!watch && !paths.empty())
                return zdb::reportInto(into, paths);
            if (watch && paths.size() == 1)
                return zdb::reportWatch(into, paths[0], interval);
        }
        if (!from.empty() && into.empty() && !watch && page.empty() && paths.empty())
            return zdb::reportFrom(from, benchOnly, out, csv);
        std::cerr << kUsage;
        return 2;
#else
        (void)benchOnly;
        std::cerr << "zorvantik-report: this build has no results database (--into, --from)\n";
        return 2;
#endif
    }
    if (!page.empty()) {
        if (!paths.empty() || !csv.empty() || benchOnly) {
            std::cerr << kUsage;
            return 2;
        }
        return runPage(page, out);
    }
    if (paths.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    if (out.empty())
        out = "report.html";

    Fleet fleet;
    fleet.benchOnly = benchOnly;
    std::optional<WholeFile> csvFile;
    if (!csv.empty()) {
        csvFile.emplace(csv);
        if (!csvFile->opened()) {
            std::cerr << "zorvantik-report: cannot write " << asciiEscape(csv) << ": " << csvFile->why() << "\n";
            return 1;
        }
    }
    fleetCollect(paths, fleet, csvFile ? &csvFile->stream() : nullptr, std::cerr);
    if (fleet.runs == 0) {
        std::cerr << "zorvantik-report: no result record found";
        if (fleet.skipped > 0)
            std::cerr << " (" << fleet.skipped << " file" << (fleet.skipped == 1 ? "" : "s") << " skipped)";
        if (fleet.leftOut > 0)
            std::cerr << " (" << fleet.leftOut << " run" << (fleet.leftOut == 1 ? "" : "s")
                      << " left out by --bench-only)";
        std::cerr << "\n";
        return 1; // the table's temporary file goes with csvFile
    }
    int status = 0;
    if (std::string why; csvFile) {
        WholeFile::End end = csvFile->finish(why);
        if (end != WholeFile::End::Written) {
            std::cerr << "zorvantik-report: cannot write " << asciiEscape(csv);
            if (end == WholeFile::End::ReplaceFailed)
                std::cerr << ": " << asciiEscape(why);
            std::cerr << "\n";
            status = 1;
        }
    }
    std::string sources;
    for (const std::string &p : paths)
        sources += (sources.empty() ? "" : ", ") + p;
    sources = "Записей: " + std::to_string(fleet.runs) + " из " + sources;
    std::string dir = fs::path(out).parent_path().string();
    if (!writeWhole(out, renderFleetPage(fleet, dir, sources)))
        status = 1;
    return status;
}

// The last guard: whatever a file or the machine throws (memory exhausted,
// say) ends the program with one line and status 3, never an abort.
int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        std::cerr << "zorvantik-report: stopped: " << asciiEscape(e.what()) << "\n";
    } catch (...) {
        std::cerr << "zorvantik-report: stopped by an unknown error\n";
    }
    return 3;
}
