// platform_common.cpp - the services that are the same on every system.
#include "platform/platform.h"
#include "platform/key_bytes.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

const auto kProgramStart = std::chrono::steady_clock::now();

// Which thread ends the process; the default id while nobody has claimed
// the end.
std::atomic<std::thread::id> gEndingThread{std::thread::id()};

// The interrupt handler (onCtrlC) once installed.
std::atomic<void (*)()> gInterruptHandler{nullptr};

// How often a break that came before the handler looks for it.
constexpr auto kHandlerPoll = std::chrono::milliseconds(1);

} // namespace

bool KeyBytes::fetch(bool wait) {
    if (pending_ >= 0)
        return true;
    if (ended_)
        return false;
    if (!wait) {
        Ready ready = ready_();
        if (ready == Ready::Ended)
            ended_ = true;
        if (ready != Ready::Yes)
            return false;
    }
    unsigned char byte = 0;
    if (read_(byte)) {
        pending_ = byte;
        return true;
    }
    ended_ = true;
    return false;
}

int KeyBytes::take() {
    if (!fetch(true))
        return kKeyEndOfInput;
    int key = pending_;
    pending_ = -1;
    return key;
}

void platformSetInterruptHandler(void (*handler)()) { gInterruptHandler.store(handler); }

void platformTakeBreak() {
    // The run's own end, or an earlier break, is under way: it ends the
    // process, this break is not taken.
    if (!platformClaimEnd())
        return;
    // A break that came before the handler was set (while the options are
    // read) waits for it: the handler knows the board number and so which
    // record to write.
    void (*handler)() = gInterruptHandler.load();
    while (!handler) {
        std::this_thread::sleep_for(kHandlerPoll);
        handler = gInterruptHandler.load();
    }
    handler();
}

bool platformClaimEnd() {
    std::thread::id holder;
    return gEndingThread.compare_exchange_strong(holder, std::this_thread::get_id()) ||
           holder == std::this_thread::get_id();
}

bool platformEndClaimedElsewhere() {
    std::thread::id holder = gEndingThread.load();
    return holder != std::thread::id() && holder != std::this_thread::get_id();
}

void platformAwaitEnd() {
    // Another thread ends the process, and with it this one.
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}

void platformResetEndClaim() { gEndingThread.store(std::thread::id()); }

std::string platformCurrentDir() {
    std::error_code error;
    std::filesystem::path dir = std::filesystem::current_path(error);
    return error ? std::string() : dir.string();
}

std::tm platformLocalTime() { return platformLocalTimeAt(std::time(nullptr)); }

std::uint32_t platformMillis() {
    auto elapsed = std::chrono::steady_clock::now() - kProgramStart;
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

bool platformMakeDirs(const std::string &path, std::string &why) {
    std::error_code error;
    std::filesystem::path dir(path);
    std::filesystem::create_directories(dir, error);
    if (!error && !std::filesystem::is_directory(dir, error) && !error)
        error = std::make_error_code(std::errc::not_a_directory);
    if (!error)
        return true;
    why = error.message();
    return false;
}
