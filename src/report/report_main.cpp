// report_main.cpp - zorvantik-report: the fleet page and CSV over a folder
// of result records, or a run's page made again from its record.
//
//   zorvantik-report [-o FILE.html] [--csv FILE.csv] PATH...
//   zorvantik-report --page RECORD.json [-o FILE.html]
//
// Messages are plain ASCII English, so that they read the same in any
// console code page of the bench PC.
#include "report/report.h"
#include "report/record_file.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *const kUsage =
    "usage: zorvantik-report [-o FILE.html] [--csv FILE.csv] PATH...\n"
    "       zorvantik-report --page RECORD.json [-o FILE.html]\n"
    "\n"
    "The fleet page over result records: each PATH is a record (result1.json)\n"
    "or a folder searched recursively for *.json records. Without -o the page\n"
    "is report.html in the current directory; --csv also writes a row per run.\n"
    "--page makes the page of one run again from its record (by default beside\n"
    "it, RECORD.html).\n";

// To `name`.tmp, then renamed over `name`.
bool writeWhole(const std::string &name, const std::string &text) {
    std::string temporary = name + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::cerr << "zorvantik-report: cannot write " << name << ": " << std::strerror(errno) << "\n";
            std::remove(temporary.c_str());
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, name, ec);
    if (ec) { // a Windows rename that will not replace
        fs::remove(name, ec);
        fs::rename(temporary, name, ec);
    }
    if (ec) {
        std::cerr << "zorvantik-report: cannot write " << name << ": " << ec.message() << "\n";
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

int runPage(const std::string &record, std::string out) {
    std::string text, html, why;
    if (!readRecordFile(record, text, why)) {
        if (why.compare(0, 14, "cannot be read") == 0)
            std::cerr << "zorvantik-report: cannot read " << escapedForLine(record) << "\n";
        else
            std::cerr << "zorvantik-report: " << escapedForLine(record) << ": " << why << "\n";
        return 1;
    }
    bool trailing = recordHasTrailingBytes(text);
    if (trailing)
        why = "trailing bytes after the record";
    if (trailing || !renderRunPage(text, html, why)) {
        std::cerr << "zorvantik-report: " << escapedForLine(record) << ": " << escapedForLine(why) << "\n";
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
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if ((a == "-o" || a == "--output") && hasValue)
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
            std::cerr << "zorvantik-report: unknown option " << a << "\n" << kUsage;
            return 2;
        } else
            paths.push_back(a);
    }
    if (!page.empty()) {
        if (!paths.empty() || !csv.empty()) {
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
    std::ofstream csvFile;
    std::string csvTemporary = csv + ".tmp";
    if (!csv.empty()) {
        csvFile.open(csvTemporary, std::ios::binary | std::ios::trunc);
        if (!csvFile) {
            std::cerr << "zorvantik-report: cannot write " << csv << ": " << std::strerror(errno) << "\n";
            return 1;
        }
    }
    fleetCollect(paths, fleet, csv.empty() ? nullptr : &csvFile, std::cerr);
    if (fleet.runs == 0) {
        std::cerr << "zorvantik-report: no result record found";
        if (fleet.skipped > 0)
            std::cerr << " (" << fleet.skipped << " file" << (fleet.skipped == 1 ? "" : "s") << " skipped)";
        std::cerr << "\n";
        if (!csv.empty()) {
            csvFile.close();
            std::remove(csvTemporary.c_str());
        }
        return 1;
    }
    int status = 0;
    if (!csv.empty()) {
        csvFile.close();
        std::error_code ec;
        if (!csvFile) {
            std::cerr << "zorvantik-report: cannot write " << csv << "\n";
            std::remove(csvTemporary.c_str());
            status = 1;
        } else {
            fs::rename(csvTemporary, csv, ec);
            if (ec) {
                fs::remove(csv, ec);
                fs::rename(csvTemporary, csv, ec);
            }
            if (ec) {
                std::cerr << "zorvantik-report: cannot write " << csv << ": " << ec.message() << "\n";
                status = 1;
            }
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
        std::cerr << "zorvantik-report: stopped: " << escapedForLine(e.what()) << "\n";
    } catch (...) {
        std::cerr << "zorvantik-report: stopped by an unknown error\n";
    }
    return 3;
}
