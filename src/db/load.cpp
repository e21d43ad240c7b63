// load.cpp - result records into the results database.
//
// A record is read twice over its bytes: once by the fleet's own reader,
// so that the database takes exactly the records the folder mode takes,
// and once whole, for the rows. The runs go in transactions of many runs
// each; a run never spans two, so a run is in the database with all its
// rows or not at all.
#include "db/load.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <ostream>

namespace fs = std::filesystem;

namespace zdb {
namespace {

using Json = nlohmann::json;

Value str(const Json &j) { return j.is_string() ? Value::text(j.get_ref<const std::string &>()) : Value::null(); }
Value whole(const Json &j) {
    if (j.is_number_integer())
        return Value::of(j.get<long long>());
    if (j.is_number_float())
        return Value::of(static_cast<long long>(j.get<double>()));
    return Value::null();
}
Value member(const Json &o, const char *name, Value (*get)(const Json &)) {
    if (!o.is_object())
        return Value::null();
    auto it = o.find(name);
    return it == o.end() ? Value::null() : get(*it);
}
const Json &field(const Json &o, const char *name) {
    static const Json none;
    if (!o.is_object())
        return none;
    auto it = o.find(name);
    return it == o.end() ? none : *it;
}

std::string utc(long long seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char s[32];
    std::strftime(s, sizeof s, "%Y-%m-%d %H:%M:%S", &tm);
    return s;
}

bool readFile(const std::string &path, std::string &text, std::string &why) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        why = std::string("cannot be read (") + std::strerror(errno) + ")";
        return false;
    }
    text.clear();
    char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        text.append(chunk, n);
    bool failed = std::ferror(f) != 0;
    int error = errno;
    std::fclose(f);
    if (failed) {
        why = std::string("cannot be read (") + std::strerror(error) + ")";
        return false;
    }
    return true;
}

bool endsWithJson(const fs::path &p) {
    std::string name = p.filename().string();
    return name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0;
}

void folder(const fs::path &dir, std::vector<std::string> &files,
            std::vector<std::pair<std::string, std::string>> &unreadable) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec) {
        unreadable.emplace_back(dir.string(), "folder cannot be read (" + ec.message() + ")");
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry &a, const fs::directory_entry &b) { return a.path() < b.path(); });
    for (const fs::directory_entry &e : entries) {
        bool directory = e.is_directory(ec);
        if (directory && endsWithJson(e.path()))
            unreadable.emplace_back(e.path().string(), "is a directory");
        else if (directory && !e.is_symlink(ec))
            folder(e.path(), files, unreadable);
        else if (endsWithJson(e.path()))
            files.push_back(e.path().string());
    }
}

// Each child table's columns after run_seq.
const std::vector<const char *> kStepColumns{"step_no", "step_key", "processor", "name", "status",
                                             "reason", "errors", "finding_count", "duration_ms"};
const std::vector<const char *> kMeasurementColumns{"step_no", "measurement_no", "step_key", "processor",
                                                    "name",    "value",          "unit",     "shown"};
const std::vector<const char *> kFindingColumns{"step_no", "finding_no", "test",      "place",
                                                "written", "read_back",  "text",      "pass",
                                                "processor", "memory",   "bank",      "chip",
                                                "chip_offset"};
const std::vector<const char *> kErrorLineColumns{"line_no", "step_no", "text"};
const std::vector<const char *> kFaultColumns{"step_no",      "fault_no",  "kind",           "processor",
                                              "memory",       "bank",      "chip",           "chip_offset",
                                              "address",      "written",   "read_back",      "from_processor",
                                              "from_link",    "to_processor", "to_link",     "test",
                                              "part",         "text"};

} // namespace

std::string recordKey(const std::string &text, const std::string &runId) {
    return runId.empty() ? "digest:" + recordDigest(text) : runId;
}

namespace {
void nameChildren(RunRows &rows) {
    static const char *const tables[] = {"steps", "measurements", "findings", "error_lines", "faults"};
    const std::vector<const char *> *columns[] = {&kStepColumns, &kMeasurementColumns, &kFindingColumns,
                                                  &kErrorLineColumns, &kFaultColumns};
    rows.children.resize(5);
    for (int i = 0; i < 5; ++i)
        if (rows.children[i].table != tables[i]) {
            rows.children[i].table = tables[i];
            rows.children[i].columns = *columns[i];
        }
}

// The time now, as loaded_at: made once a second.
const std::string &now() {
    static std::time_t last = -1;
    static std::string shown;
    std::time_t t = std::time(nullptr);
    if (t != last)
        last = t, shown = utc(t);
    return shown;
}
} // namespace

bool recordRows(const std::string &text, const std::string &file, const std::string &page, RunRows &rows,
                std::string &why) {
    FleetRun run;
    if (scanRecordRows(text, file, page, rows, run)) {
        rows.run[10] = run.startSeconds || run.start.size() >= 19 ? Value::text(utc(run.startSeconds)) : Value::null();
        rows.run[22] = Value::text(now());
        nameChildren(rows);
        return true;
    }
    if (!readFleetRun(text, run, why))
        return false;
    Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) { // the fleet's reader took it: cannot happen
        why = "not JSON";
        return false;
    }
    long long schema = whole(field(j, "schema")).i;
    const Json &runIdJson = field(j, "runId");
    std::string runId = runIdJson.is_string() ? runIdJson.get<std::string>() : std::string();
    rows.key = recordKey(text, runId);
    const Json &board = field(j, "board");
    const Json &coverage = field(j, "coverage");
    const Json &complete = field(coverage, "complete");
    rows.run = {
        Value::text(rows.key),
        runId.empty() ? Value::null() : Value::text(runId),
        Value::of(schema),
        str(field(j, "origin")),
        run.serial.empty() ? Value::null() : Value::text(run.serial),
        member(board, "serial", whole),
        whole(field(j, "boardNumber")),
        str(field(j, "host")),
        member(field(j, "program"), "version", str),
        Value::text(run.start),
        run.startSeconds || run.start.size() >= 19 ? Value::text(utc(run.startSeconds)) : Value::null(),
        Value::of(run.startSeconds),
        run.start.size() >= 10 ? Value::text(run.start.substr(0, 10)) : Value::null(),
        str(field(j, "end")),
        whole(field(j, "durationMs")),
        Value::text(run.outcome),
        str(field(j, "verdict")),
        Value::of(run.errorCount),
        Value::of(run.findingCount),
        complete.is_boolean() ? Value::of(complete.get<bool>() ? 1 : 0) : Value::null(),
        Value::text(file),
        page.empty() ? Value::null() : Value::text(page),
        Value::text(now()),
    };

    nameChildren(rows);
    for (ChildRows &c : rows.children)
        c.cells.clear();
    std::vector<Value> &steps = rows.children[0].cells, &measures = rows.children[1].cells,
                       &findings = rows.children[2].cells, &lines = rows.children[3].cells,
                       &faults = rows.children[4].cells;
    long long lineNo = 0;
    auto errorLines = [&](const Json &list, Value stepNo) {
        if (list.is_array())
            for (const Json &l : list)
                if (l.is_string())
                    lines.insert(lines.end(), {Value::of(lineNo++), stepNo, Value::text(l.get<std::string>())});
    };
    const Json &stepList = field(j, "steps");
    long long stepNo = 0;
    for (const Json &s : stepList.is_array() ? stepList : Json::array()) {
        Value no = Value::of(stepNo++);
        Value key = s.is_object() && field(s, "key").is_string() ? str(field(s, "key")) : Value::text("");
        Value cpu = member(s, "processor", str);
        const Json &status = field(s, "status");
        const Json &found = field(s, "findings");
        steps.insert(steps.end(), {no, key, cpu, member(s, "name", str),
                                   status.is_string() ? str(status) : Value::text(""), member(s, "reason", str),
                                   member(s, "errors", whole),
                                   found.is_array() ? Value::of(static_cast<long long>(found.size())) : Value::null(),
                                   member(s, "durationMs", whole)});
        const Json &ms = field(s, "measurements");
        long long mNo = 0;
        for (const Json &m : ms.is_array() ? ms : Json::array()) {
            const Json &value = field(m, "value");
            measures.insert(measures.end(),
                            {no, Value::of(mNo++), key, cpu,
                             field(m, "name").is_string() ? str(field(m, "name")) : Value::text(""),
                             value.is_number() ? Value::real(value.get<double>()) : Value::null(),
                             member(m, "unit", str), member(m, "shown", str)});
        }
        long long fNo = 0;
        for (const Json &f : found.is_array() ? found : Json::array())
            findings.insert(findings.end(),
                            {no, Value::of(fNo++), member(f, "test", str), member(f, "where", str),
                             member(f, "written", str), member(f, "read", str), member(f, "text", str),
                             member(f, "pass", whole), member(f, "processor", str), member(f, "memory", str),
                             member(f, "bank", whole), member(f, "chip", whole), member(f, "offset", whole)});
        const Json &faultList = field(s, "faults");
        long long faultNo = 0;
        for (const Json &f : faultList.is_array() ? faultList : Json::array()) {
            const Json &from = field(f, "from"), &to = field(f, "to");
            faults.insert(faults.end(),
                          {no, Value::of(faultNo++),
                           field(f, "kind").is_string() ? str(field(f, "kind")) : Value::text(""),
                           member(f, "processor", str), member(f, "memory", str), member(f, "bank", whole),
                           member(f, "chip", whole), member(f, "offset", whole), member(f, "address", whole),
                           member(f, "written", whole), member(f, "read", whole), member(from, "processor", str),
                           member(from, "link", whole), member(to, "processor", str), member(to, "link", whole),
                           member(f, "test", str), member(f, "part", str), member(f, "text", str)});
        }
        errorLines(field(s, "errorLines"), no);
    }
    errorLines(field(j, "errorLines"), Value::null());
    return true;
}

std::vector<std::string> recordFiles(const std::vector<std::string> &paths,
                                     std::vector<std::pair<std::string, std::string>> &unreadable) {
    std::vector<std::string> files;
    for (const std::string &p : paths) {
        std::error_code ec;
        if (fs::is_directory(fs::path(p), ec))
            folder(fs::path(p), files, unreadable);
        else
            files.push_back(p);
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

namespace {

// Reads and parses the files in order on a thread of its own, up to a
// few dozen ahead of the caller; stops when destroyed.
class Reader {
public:
    struct Item {
        std::string file, reason;
        bool ok = false;
        RunRows rows;
    };
    explicit Reader(const std::vector<std::string> &files) : files_(files), thread_([this] { run(); }) {}
    ~Reader() {
        {
            std::lock_guard<std::mutex> lock(m_);
            cancel_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    // The next file, or nullptr at the end. Valid until the next call.
    Item *next() {
        std::unique_lock<std::mutex> lock(m_);
        if (taken_)
            ready_.pop_front(), taken_ = false;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !ready_.empty() || done_; });
        if (ready_.empty())
            return nullptr;
        taken_ = true;
        return &ready_.front();
    }

private:
    void run() {
        std::string text;
        text.reserve(1 << 16);
        for (const std::string &file : files_) {
            Item item;
            item.file = file;
            if (readFile(file, text, item.reason)) {
                fs::path page = fs::path(file).replace_extension(".html");
                std::error_code ec;
                std::string pageFile =
                    fs::is_regular_file(page, ec) ? fs::absolute(page, ec).lexically_normal().string() : "";
                item.ok = recordRows(text, file, pageFile, item.rows, item.reason);
            }
            std::unique_lock<std::mutex> lock(m_);
            changed_.wait(lock, [&] { return ready_.size() < 64 || cancel_; });
            if (cancel_)
                break;
            ready_.push_back(std::move(item));
            changed_.notify_all();
        }
        std::lock_guard<std::mutex> lock(m_);
        done_ = true;
        changed_.notify_all();
    }

    const std::vector<std::string> &files_;
    std::mutex m_;
    std::condition_variable changed_;
    std::deque<Item> ready_;
    bool taken_ = false, done_ = false, cancel_ = false;
    std::thread thread_;
};

} // namespace

Loader::Loader(Database &db, std::ostream &err) : db_(db), err_(err) {}

void Loader::skip(const std::string &file, const std::string &why) {
    ++skipped;
    err_ << "zorvantik-report: skipped " << file << ": " << why << "\n";
    skips_.emplace_back(file, why);
}

bool Loader::flush(std::string &why) {
    // The files skipped, and the ones that once were and now load.
    for (const auto &s : skips_)
        if (!db_.exec("INSERT INTO skipped_files (file, reason) VALUES (" + quote(s.first) + ", " + quote(s.second) +
                          ") ON CONFLICT (file) DO UPDATE SET reason = excluded.reason",
                      why))
            return false;
    for (const std::string &f : loaded_)
        if (knownSkips_.count(f) && !db_.exec("DELETE FROM skipped_files WHERE file = " + quote(f), why))
            return false;
    if (!db_.commit(why))
        return false;
    for (const std::string &f : loaded_)
        knownSkips_.erase(f);
    for (const auto &s : skips_)
        knownSkips_.insert(s.first);
    added += pendingAdded_;
    present += pendingPresent_;
    pendingAdded_ = pendingPresent_ = 0;
    skips_.clear();
    loaded_.clear();
    return true;
}

bool Loader::load(const std::vector<std::string> &files, const std::function<bool()> &stop,
                  std::vector<std::string> *handled) {
    std::string why;
    const std::size_t batch = db_.postgres() ? 200 : 2000;
    auto failed = [&](const std::string &what) {
        err_ << "zorvantik-report: " << db_.shown() << ": " << what << db_.mask(why) << "\n";
        db_.rollback();
        skipped -= static_cast<long long>(skips_.size());
        skips_.clear();
        loaded_.clear();
        batch_.clear();
        pendingAdded_ = pendingPresent_ = 0;
        return false;
    };
    if (!db_.begin(why))
        return failed("");
    if (!knownRead_) {
        std::unique_ptr<Rows> r = db_.query("SELECT file FROM skipped_files", {}, why);
        if (!r)
            return failed("");
        while (r->next())
            knownSkips_.insert(r->text(0));
        knownRead_ = true;
    }
    // Files skipped before the first transaction (unreadable folders) were
    // noted by skip(): they go with it. The files are read and parsed on a
    // thread of their own, a few ahead of the one that stores them.
    Reader reader(files);
    std::size_t inBatch = 0;
    for (;;) {
        if (stop && stop())
            break;
        Reader::Item *item = reader.next();
        if (!item)
            break;
        const std::string &file = item->file;
        RunRows &rows = item->rows;
        if (!item->ok) {
            skip(file, item->reason);
            batch_.push_back(file);
            continue;
        }
        switch (db_.store(rows, why)) {
        case Database::Store::Added:
            ++pendingAdded_;
            break;
        case Database::Store::Present:
            ++pendingPresent_;
            break;
        default:
            return failed("cannot store " + file + ": ");
        }
        loaded_.push_back(file);
        batch_.push_back(file);
        if (++inBatch >= batch) {
            if (!flush(why) || !db_.begin(why))
                return failed("");
            if (handled)
                handled->insert(handled->end(), batch_.begin(), batch_.end());
            batch_.clear();
            inBatch = 0;
        }
    }
    if (!flush(why))
        return failed("");
    if (handled)
        handled->insert(handled->end(), batch_.begin(), batch_.end());
    batch_.clear();
    return true;
}

} // namespace zdb
