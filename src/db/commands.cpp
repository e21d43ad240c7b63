// commands.cpp - zorvantik-report --into, --into --watch and --from.
//
// SIGTERM and SIGINT never cut a transaction: they set a flag that the
// load asks between files, and the load commits what it has read before
// it returns.
#include "db/commands.h"

#include "db/load.h"
#include "platform/platform.h"
#include "platform/whole_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#ifdef __linux__
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace zdb {
namespace {

// Lock-free, so safe in a signal handler, and read by any thread.
std::atomic<bool> gStop{false};
extern "C" void onStopSignal(int) { gStop = true; }

void catchStopSignals() {
#ifdef __linux__
    struct sigaction a {};
    a.sa_handler = onStopSignal;
    sigemptyset(&a.sa_mask);
    a.sa_flags = 0; // no SA_RESTART: a wait ends at once
    sigaction(SIGINT, &a, nullptr);
    sigaction(SIGTERM, &a, nullptr);
#else
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#endif
}
bool stopAsked() { return gStop; }

std::string plural(long long n, const char *word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// To `name`.tmp as `write` makes it, then in the place of `name`.
bool writeFile(const std::string &name, const std::function<void(std::ostream &)> &write) {
    WholeFile file(name);
    if (file.opened())
        write(file.stream());
    std::string why;
    if (file.finish(why) == WholeFile::End::Written)
        return true;
    std::cerr << "zorvantik-report: cannot write " << name << ": " << why << "\n";
    return false;
}

} // namespace

int reportInto(const std::string &target, const std::vector<std::string> &paths) {
    std::string why;
    std::unique_ptr<Database> db = openDatabase(target, why);
    if (!db) {
        std::cerr << "zorvantik-report: " << why << "\n";
        return 1;
    }
    catchStopSignals();
    std::vector<std::pair<std::string, std::string>> unreadable;
    std::vector<std::string> files = recordFiles(paths, unreadable);
    Loader loader(*db, std::cerr);
    for (const auto &u : unreadable)
        loader.skip(u.first, u.second);
    std::vector<std::string> handled;
    bool ok = loader.load(files, stopAsked, &handled);
    std::cerr << "zorvantik-report: " << db->shown() << ": " << plural(loader.added, "run") << " loaded, "
              << loader.present << " already there, " << plural(loader.skipped, "file") << " skipped";
    if (handled.size() < files.size())
        std::cerr << ", " << plural(static_cast<long long>(files.size() - handled.size()), "file") << " not loaded";
    std::cerr << "\n";
    return ok && loader.skipped == 0 && handled.size() == files.size() ? 0 : 1;
}

int reportFrom(const std::string &target, bool benchOnly, std::string out, const std::string &csv) {
    std::string why;
    std::unique_ptr<Database> db = openDatabase(target, why);
    if (!db) {
        std::cerr << "zorvantik-report: " << why << "\n";
        return 1;
    }
    if (out.empty())
        out = "report.html";
    Fleet fleet;
    std::optional<WholeFile> csvFile;
    if (!csv.empty()) {
        csvFile.emplace(csv);
        if (!csvFile->opened()) {
            std::cerr << "zorvantik-report: cannot write " << csv << ": " << csvFile->why() << "\n";
            return 1;
        }
    }
    bool read = fleetFromDatabase(*db, benchOnly, fleet, csvFile ? &csvFile->stream() : nullptr, why);
    if (!read || fleet.runs == 0) {
        if (!read)
            std::cerr << "zorvantik-report: " << db->shown() << ": " << db->mask(why) << "\n";
        else
            std::cerr << "zorvantik-report: " << db->shown() << ": no result record found\n";
        return 1; // the table's temporary file goes with csvFile
    }
    int status = 0;
    if (csvFile && csvFile->finish(why) != WholeFile::End::Written) {
        std::cerr << "zorvantik-report: cannot write " << csv << "\n";
        status = 1;
    }
    std::string sources = "Записей: " + std::to_string(fleet.runs) + " из " + db->shown();
    db.reset(); // its cache is not needed for the page
    std::string dir = fs::path(out).parent_path().string();
    if (!writeFile(out, [&](std::ostream &page) { renderFleetPage(fleet, dir, sources, page); }))
        status = 1;
    return status;
}

#ifdef __linux__
namespace {

struct Stamp {
    std::uintmax_t size = 0;
    fs::file_time_type time;
    bool operator==(const Stamp &o) const { return size == o.size && time == o.time; }
};

bool stampOf(const std::string &file, Stamp &s) {
    std::error_code ec;
    s.size = fs::file_size(file, ec);
    if (ec)
        return false;
    s.time = fs::last_write_time(file, ec);
    return !ec;
}

class Watcher {
public:
    Watcher(const std::string &target, const fs::path &folder, double interval)
        : target_(target), folder_(folder), interval_(interval) {}

    int run() {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) // no notification: the rescans alone
            std::cerr << "zorvantik-report: no change notification (" << std::strerror(errno)
                      << "): looking again every " << interval_ << " s\n";
        watchTree(folder_);
        std::cerr << "zorvantik-report: watching " << folder_.string() << " into " << maskTarget(target_) << "\n";
        bool rescan = true;
        auto nextScan = std::chrono::steady_clock::now();
        while (!gStop) {
            auto now = std::chrono::steady_clock::now();
            if (now >= nextScan) {
                rescan = true;
                nextScan = now + std::chrono::milliseconds(static_cast<long long>(interval_ * 1000));
            }
            if (rescan || !pending_.empty()) {
                if (rescan) // folders made while a notification was missed
                    watchTree(folder_);
                rescan = !loadChanged(rescan);
            }
            if (gStop)
                break;
            wait(nextScan, rescan);
        }
        if (fd_ >= 0)
            close(fd_);
        std::cerr << "zorvantik-report: stopped: " << plural(added_, "run") << " loaded\n";
        return 0;
    }

private:
    void watchTree(const fs::path &dir) {
        if (fd_ < 0)
            return;
        int wd = inotify_add_watch(fd_, dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_ONLYDIR);
        if (wd >= 0)
            dirs_[wd] = dir;
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                watchTree(it->path());
    }

    // Loads the files changed since they were last handled: all of the
    // folder's, or those the notifications named. False when the database
    // failed (the next round looks at everything again).
    bool loadChanged(bool all) {
        std::vector<std::string> candidates;
        if (all) {
            std::vector<std::pair<std::string, std::string>> unreadable;
            candidates = recordFiles({folder_.string()}, unreadable);
        } else {
            candidates.assign(pending_.begin(), pending_.end());
        }
        pending_.clear();
        std::vector<std::string> files;
        std::map<std::string, Stamp> stamps;
        for (const std::string &f : candidates) {
            Stamp s;
            if (!stampOf(f, s))
                continue;
            auto known = seen_.find(f);
            if (known != seen_.end() && known->second == s)
                continue;
            files.push_back(f);
            stamps[f] = s;
        }
        if (files.empty())
            return true;
        if (!db_) {
            std::string why;
            db_ = openDatabase(target_, why);
            if (!db_) {
                if (why != lastError_)
                    std::cerr << "zorvantik-report: " << why << "\n";
                lastError_ = why;
                return false;
            }
            lastError_.clear();
            loader_ = std::make_unique<Loader>(*db_, std::cerr);
        }
        std::vector<std::string> handled;
        long long before = loader_->added;
        bool ok = loader_->load(files, stopAsked, &handled);
        for (const std::string &f : handled)
            seen_[f] = stamps[f];
        added_ += loader_->added - before;
        if (loader_->added > before)
            std::cerr << "zorvantik-report: " << db_->shown() << ": " << plural(loader_->added - before, "run")
                      << " loaded\n";
        if (!ok) {
            loader_.reset();
            db_.reset(); // connect again next round
        }
        return ok;
    }

    void wait(std::chrono::steady_clock::time_point until, bool retry) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        long long ms = std::max<long long>(0, left.count());
        if (retry)
            ms = std::min<long long>(ms, 1000);
        struct timespec ts {
            static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L
        };
        // The signals come only inside ppoll: none is missed between the
        // check of the flag and the wait.
        sigset_t stops, old;
        sigemptyset(&stops);
        sigaddset(&stops, SIGINT);
        sigaddset(&stops, SIGTERM);
        sigprocmask(SIG_BLOCK, &stops, &old);
        if (!gStop) {
            struct pollfd p {
                fd_, POLLIN, 0
            };
            ppoll(&p, fd_ >= 0 ? 1 : 0, &ts, &old);
        }
        sigprocmask(SIG_SETMASK, &old, nullptr);
        readEvents();
    }

    void readEvents() {
        if (fd_ < 0)
            return;
        alignas(inotify_event) char buffer[65536];
        for (;;) {
            ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                return;
            for (char *p = buffer; p < buffer + n;) {
                auto *e = reinterpret_cast<inotify_event *>(p);
                p += sizeof(inotify_event) + e->len;
                auto dir = dirs_.find(e->wd);
                if (e->mask & IN_Q_OVERFLOW) {
                    pending_.clear();
                    watchTree(folder_);
                    for (const std::string &f : allFiles())
                        pending_.insert(f);
                    continue;
                }
                if (dir == dirs_.end() || e->len == 0)
                    continue;
                fs::path path = dir->second / e->name;
                if (e->mask & IN_ISDIR) { // a new folder: watch it, and take what is already in it
                    watchTree(path);
                    std::vector<std::pair<std::string, std::string>> unreadable;
                    for (const std::string &f : recordFiles({path.string()}, unreadable))
                        pending_.insert(f);
                    continue;
                }
                std::string name = e->name;
                if ((e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) && name.size() > 5 &&
                    name.compare(name.size() - 5, 5, ".json") == 0)
                    pending_.insert(path.string());
            }
        }
    }

    std::vector<std::string> allFiles() {
        std::vector<std::pair<std::string, std::string>> unreadable;
        return recordFiles({folder_.string()}, unreadable);
    }

    std::string target_;
    fs::path folder_;
    double interval_;
    int fd_ = -1;
    std::map<int, fs::path> dirs_;
    std::set<std::string> pending_;
    std::map<std::string, Stamp> seen_;
    std::unique_ptr<Database> db_;
    std::unique_ptr<Loader> loader_;
    std::string lastError_;
    long long added_ = 0;
};

} // namespace

int reportWatch(const std::string &target, const std::string &folder, double interval) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        std::cerr << "zorvantik-report: cannot watch " << folder << ": not a folder\n";
        return 1;
    }
    catchStopSignals();
    return Watcher(target, fs::path(folder), interval).run();
}
#else
int reportWatch(const std::string &, const std::string &, double) {
    std::cerr << "zorvantik-report: --watch is not available on this system\n";
    return 2;
}
#endif

} // namespace zdb
