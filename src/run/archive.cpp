// archive.cpp - copies a run's files into the station's archive when the
// run ends.
//
// The archive may lie on a network share, and a share can be slow or stop
// answering altogether: a write to it may then block in the system for
// minutes. The run's own files are in the station by the time the archive
// is copied, and its verdict is on the screen, so the copy is made on a
// helper thread of its own, and the end of the run (the verdict, a fatal
// stop, a fatal exit, the operator's break) waits for it only while it
// goes forward: a copy that makes no progress for kArchiveStallMs, or is
// not done in kArchiveLimitMs, is given up with a warning and the process
// ends as it would have (a thread stuck in the system ends with it). A
// slow share that keeps answering gets the time it needs within the
// limit. A detached child process would not hold the end up at all, but
// it would print its warning after the program has ended (or never), and
// it does not exist on Windows; the thread works the same on both.
#include "run/archive.h"

#include "platform/platform.h"
#include "report/calendar.h"
#include "run/runstate.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

std::mutex gLogsLock;
std::set<std::string> &startedLogs() {
    static auto *logs = new std::set<std::string>; // never destroyed: the interrupt thread may read it at exit
    return *logs;
}

// `count` decimal digits at `at`, or -1.
long digits(const std::string &text, std::size_t at, std::size_t count) {
    if (at + count > text.size())
        return -1;
    long value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// A part of a file name: letters, digits, '-' and '_' as they are, any
// other byte '_' (so no '.', '/' or '\' leads elsewhere).
std::string nameSafe(const std::string &text) {
    std::string out = text;
    for (char &c : out)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_'))
            c = '_';
    return out;
}

void warnUnwritten(const std::string &name, const std::string &why) {
    std::string text = "### ПРЕДУПРЕЖДЕНИЕ: Не могу записать файл '" + name + "' (" + why + ")\n";
    platformWarn(text.c_str(), text.size());
}

// One file of the archive: its content, or the station file it copies.
struct Item {
    std::string extension;
    const std::string *content = nullptr;
    std::string source;
};

// The copy under way, shared by the helper thread and the end of the run
// (which may leave before the thread does).
struct Copy {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    unsigned long long progress = 0; // steps and blocks written so far
    std::string current;             // the file being written, as shown
    std::string failedWhy;           // empty unless the copy failed at `current`

    std::string json, xml, html;
    std::string folderShown, folderPath; // the archive as set, and where it lies
    std::vector<std::string> stems;      // the names to use, in order of preference
    std::vector<Item> items;

    void moved() {
        std::lock_guard<std::mutex> hold(lock);
        ++progress;
        changed.notify_all();
    }
    void working(const std::string &shown) {
        std::lock_guard<std::mutex> hold(lock);
        current = shown;
        ++progress;
        changed.notify_all();
    }
};

bool exists(const std::string &path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(path), error);
}

// To `path`.tmp, then over `path`, as the record is written.
bool writeCopy(Copy &c, const Item &item, const std::string &path, std::string &why) {
    std::FILE *in = nullptr;
    if (!item.content) {
        // A log that is gone, or that something else took the place of (a
        // directory, a device), holds nothing of this run to keep; the run
        // has told of it already.
        std::error_code error;
        if (!std::filesystem::is_regular_file(std::filesystem::path(item.source), error))
            return true;
        in = std::fopen(item.source.c_str(), "rb");
        if (!in)
            return true;
    }
    std::string temporary = path + ".tmp";
    std::FILE *out = std::fopen(temporary.c_str(), "wb");
    if (!out) {
        why = std::strerror(errno);
        if (in)
            std::fclose(in);
        return false;
    }
    c.moved();
    bool ok = true;
    if (item.content) {
        const std::string &text = *item.content;
        for (std::size_t at = 0; ok && at < text.size(); at += 65536) {
            std::size_t n = std::min<std::size_t>(65536, text.size() - at);
            ok = std::fwrite(text.data() + at, 1, n, out) == n;
            c.moved();
        }
    } else {
        std::vector<char> block(65536);
        for (std::size_t n; ok && (n = std::fread(block.data(), 1, block.size(), in)) > 0;) {
            ok = std::fwrite(block.data(), 1, n, out) == n;
            c.moved();
        }
        bool unread = std::ferror(in) != 0;
        std::fclose(in);
        if (ok && unread) {
            ok = false;
            errno = EIO; // the station's log could not be read to its end
        }
    }
    if (!ok)
        why = std::strerror(errno);
    if (std::fclose(out) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (ok && !platformReplaceFile(temporary, path, why))
        ok = false;
    if (!ok)
        std::remove(temporary.c_str());
    c.moved();
    return ok;
}

// The helper thread: the folder, a name no other run has taken, the files
// (the record last, so a record in the archive means its run is whole).
void copyAll(std::shared_ptr<Copy> c) {
    std::string why;
    std::string stem = c->stems.front();
    std::string folder = stem.substr(0, stem.find('/'));
    c->working(c->folderShown + "/" + stem + c->items.front().extension);
    bool ok = platformMakeDirs(c->folderPath + "/" + folder, why);
    if (ok) {
        for (const std::string &candidate : c->stems) {
            stem = candidate;
            bool taken = false;
            for (const Item &item : c->items)
                taken = taken || exists(c->folderPath + "/" + candidate + item.extension);
            if (!taken)
                break;
        }
        for (const Item &item : c->items) {
            c->working(c->folderShown + "/" + stem + item.extension);
            if (!(ok = writeCopy(*c, item, c->folderPath + "/" + stem + item.extension, why)))
                break;
        }
    }
    std::lock_guard<std::mutex> hold(c->lock);
    if (!ok)
        c->failedWhy = why.empty() ? std::string("?") : why;
    c->done = true;
    c->changed.notify_all();
}

} // namespace

std::string archiveFolder(const char *setting) {
    if (!setting)
        return kArchiveDefault;
    std::string folder = setting;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\'))
        folder.pop_back();
    return folder;
}

std::string archiveUtcStamp(const std::string &iso) {
    // YYYY-MM-DDTHH:MM:SS+HH:MM
    if (iso.size() != 25 || iso[4] != '-' || iso[7] != '-' || iso[10] != 'T' || iso[13] != ':' || iso[16] != ':' ||
        (iso[19] != '+' && iso[19] != '-') || iso[22] != ':')
        return "";
    long year = digits(iso, 0, 4), month = digits(iso, 5, 2), day = digits(iso, 8, 2);
    long hour = digits(iso, 11, 2), minute = digits(iso, 14, 2), second = digits(iso, 17, 2);
    long offsetHours = digits(iso, 20, 2), offsetMinutes = digits(iso, 23, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60 || offsetHours < 0 || offsetMinutes < 0 || offsetMinutes > 59)
        return "";
    long long offset = (offsetHours * 60 + offsetMinutes) * 60 * (iso[19] == '-' ? -1 : 1);
    long long t = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
                  minute * 60 + second - offset;
    long long days = (t >= 0 ? t : t - 86399) / 86400;
    long long rest = t - days * 86400;
    long long y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    if (y < 0 || y > 9999)
        return "";
    char text[64];
    std::snprintf(text, sizeof text, "%04lld%02u%02uT%02lld%02lld%02lldZ", y, m, d, rest / 3600, rest / 60 % 60,
                  rest % 60);
    return text;
}

std::string archiveStem(const std::string &serialShown, const std::string &startIso, std::int64_t board,
                        const std::string &runId, std::size_t idDigits) {
    std::string stamp = archiveUtcStamp(startIso);
    std::string id;
    for (char c : runId)
        if (c != '-')
            id += c;
    if (stamp.empty() || id.empty())
        return "";
    std::string folder = serialShown.empty() ? kArchiveUnidentified : nameSafe(serialShown);
    return folder + "/" + stamp + "-B" + std::to_string(board) + "-" + nameSafe(id.substr(0, idDigits));
}

std::string archiveStemOfRecord(const std::string &json, const std::string &runId, std::size_t idDigits) {
    auto record = nlohmann::json::parse(json, nullptr, false);
    if (!record.is_object())
        return "";
    auto text = [&](const nlohmann::json &j) { return j.is_string() ? j.get<std::string>() : std::string(); };
    std::string serial;
    if (record.contains("board") && record["board"].is_object() && record["board"].contains("serialShown"))
        serial = text(record["board"]["serialShown"]);
    std::int64_t board = 0;
    if (record.contains("boardNumber") && record["boardNumber"].is_number_integer())
        board = record["boardNumber"].get<std::int64_t>();
    return archiveStem(serial, record.contains("start") ? text(record["start"]) : "", board, runId, idDigits);
}

void archiveLogStarted(const char *name) {
    std::lock_guard<std::mutex> hold(gLogsLock);
    startedLogs().insert(name);
}

void archiveRun(const std::string &json, const std::string &xml, const std::string &html, const std::string &runId) {
    auto c = std::make_shared<Copy>();
    c->folderShown = archiveFolder(std::getenv(kArchiveVariable));
    if (c->folderShown.empty())
        return; // the archive is turned off
    c->folderPath = stationPath(c->folderShown.c_str());
    for (std::size_t idDigits : {4, 8, 32}) {
        std::string stem = archiveStemOfRecord(json, runId, idDigits);
        if (stem.empty()) {
            warnUnwritten(c->folderShown, "?");
            return;
        }
        c->stems.push_back(stem);
    }
    c->json = json;
    c->xml = xml;
    c->html = html;
    {
        std::lock_guard<std::mutex> hold(gLogsLock);
        if (startedLogs().count(runState.protocolLogName))
            c->items.push_back({".protoc.log", nullptr, stationPath(runState.protocolLogName)});
        if (startedLogs().count(runState.screenLogName))
            c->items.push_back({".screen.log", nullptr, stationPath(runState.screenLogName)});
    }
    c->items.push_back({".xml", &c->xml, ""});
    if (!c->html.empty()) // a page that could not be made is told already
        c->items.push_back({".html", &c->html, ""});
    c->items.push_back({".json", &c->json, ""});

    c->current = c->folderShown + "/" + c->stems.front() + c->items.front().extension;
    auto begun = std::chrono::steady_clock::now();
    try {
        std::thread(copyAll, c).detach();
    } catch (const std::exception &e) {
        warnUnwritten(c->folderShown, e.what());
        return;
    }
    std::unique_lock<std::mutex> hold(c->lock);
    auto lastMove = begun;
    unsigned long long seen = c->progress;
    while (!c->done) {
        auto now = std::chrono::steady_clock::now();
        if (c->progress != seen) {
            seen = c->progress;
            lastMove = now;
        }
        auto until = std::min(lastMove + std::chrono::milliseconds(kArchiveStallMs),
                              begun + std::chrono::milliseconds(kArchiveLimitMs));
        if (now >= until)
            break;
        c->changed.wait_until(hold, until);
    }
    if (c->done) {
        if (!c->failedWhy.empty())
            warnUnwritten(c->current, c->failedWhy);
        return;
    }
    auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begun);
    char why[64];
    std::snprintf(why, sizeof why, "не записан за %lld с", static_cast<long long>(waited.count()));
    warnUnwritten(c->current, why);
}
