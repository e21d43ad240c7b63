// platform_posix.cpp - the platform layer on Linux and other POSIX systems.
//
// The console: piped or redirected output gets code page 866, byte for
// byte what a Windows console would be sent. A terminal gets the texts in
// its locale's code page when that one has Cyrillic, else in UTF-8: a
// minimal system runs in the C locale, yet its terminal shows UTF-8 (see
// terminalCodePage). At a terminal the cursor is also put on a line of its
// own when the program ends, so that the shell's prompt does not stand on
// the last line the program wrote; pipes and files keep their bytes.
#include "platform/platform.h"

#if ZT_PLATFORM_POSIX /* This file is used on POSIX systems only. */

#include "platform/codepage.h"
#include "platform/key_bytes.h"
#include "platform/write_all.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <langinfo.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

ConsoleCodePage gConsoleCodePage = ConsoleCodePage::kCp866; // what stdout is written in
bool gConsoleTerminal = false;                              // stdout is a terminal
std::atomic<int> gLastConsoleByte{-1};                      // last byte sent to stdout; -1 before any
bool gTerminalSaved = false;                                // gSavedTerminal holds the mode to restore
struct termios gSavedTerminal;                              // keyboard mode before platformInit

constexpr int kEscapeSequenceGapMs = 25; // a sequence's bytes follow Escape closer than this
constexpr int kKeySequence = 0x1B00;     // an arrow or function key: not Escape

// The signals that end the run through the interrupt handler.
sigset_t endingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&set, s);
    return set;
}

// Waits for the ending signals, which every thread keeps blocked from the
// program's start (platformHoldBreaks), and runs the handler here, outside
// any signal context. A break that came before the handler was set
// (while the options are read) waits for it: the handler knows the board
// number and so which record to write.
void interruptThread() {
    sigset_t set = endingSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0)
            continue;
        platformTakeBreak();
    }
}

FileIdentity identityOf(const struct stat &st) {
    FileIdentity id;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.file = static_cast<std::uint64_t>(st.st_ino);
    return id;
}

// Writes all of `data` to `fd`; false with errno set on the first failure.
bool writeAll(int fd, const std::string &data) {
    return writeAllThrough([fd](const char *p, std::size_t n) { return write(fd, p, n); }, data.data(), data.size());
}

// The keyboard, or whatever stdin is, one key a byte.
KeyBytes &stdinKeys() {
    static KeyBytes keys(
        [] {
            struct pollfd fd = {STDIN_FILENO, POLLIN, 0};
            return poll(&fd, 1, 0) > 0 ? KeyBytes::Ready::Yes : KeyBytes::Ready::No;
        },
        [](unsigned char &c) {
            ssize_t n;
            do {
                n = read(STDIN_FILENO, &c, 1);
            } while (n < 0 && errno == EINTR);
            return n == 1;
        });
    return keys;
}

} // namespace

void platformHoldBreaks() {
    sigset_t set = endingSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void platformInit() {
    std::setlocale(LC_CTYPE, "");
    gConsoleTerminal = isatty(STDOUT_FILENO);
    if (gConsoleTerminal)
        gConsoleCodePage = terminalCodePage(nl_langinfo(CODESET));

    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &gSavedTerminal) == 0) {
        struct termios raw = gSavedTerminal;
        raw.c_lflag &= ~tcflag_t(ICANON | ECHO); // ISIG stays: Ctrl-C still interrupts
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0)
            gTerminalSaved = true;
    }

    // A reader that went away or a file at its size limit: the write fails
    // and the run goes on, its logs complete.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    // The ending signals are blocked before any other thread exists (the
    // program's start did it already; this keeps it so for any caller),
    // so that every thread (the board library's included) inherits the
    // mask and only the interrupt thread ever receives them. A signal that
    // came meanwhile is pending and reaches the thread at once.
    platformHoldBreaks();
    std::thread(interruptThread).detach();
}

void platformRestoreConsole() {
    if (gTerminalSaved)
        tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
    // Verdicts, prompts and progress lines end without a line break. The
    // exchange makes a second call (another thread's, or a later exit's)
    // find "\n" and add nothing.
    if (gConsoleTerminal) {
        int last = gLastConsoleByte.exchange('\n');
        if (last >= 0 && last != '\n') {
            ssize_t written = write(STDOUT_FILENO, "\n", 1);
            (void)written; // a console that is gone needs no line break
        }
    }
}

void platformConsoleWrite(const char *cp1251, std::size_t length) {
    std::string text = cp1251ToConsole(cp1251, length, gConsoleCodePage);
    if (!text.empty())
        gLastConsoleByte.store(static_cast<unsigned char>(text.back()));
    // A console that is gone: nothing sensible left to do.
    writeAllThrough([](const char *p, std::size_t n) { return write(STDOUT_FILENO, p, n); }, text.data(), text.size());
}

bool platformKeyWaiting() { return stdinKeys().waiting(); }

// A terminal sends arrow and function keys as Escape followed at once by
// the rest of a sequence. Such a key is read whole and is not Escape, so
// that only the Escape key itself breaks off a test.
int platformReadKey() {
    int key = stdinKeys().take();
    if (key != kKeyEscape || !gTerminalSaved)
        return key;
    struct pollfd fd = {STDIN_FILENO, POLLIN, 0};
    if (poll(&fd, 1, kEscapeSequenceGapMs) <= 0)
        return key;
    unsigned char rest[16];
    ssize_t n = read(STDIN_FILENO, rest, sizeof rest);
    return n > 0 ? kKeySequence : key;
}

bool platformChangeDir(const std::string &path) {
    std::error_code error;
    std::filesystem::current_path(path, error);
    return !error;
}

const char *platformDspProgramDir() { return "dsp_app"; }

void platformSleepMs(unsigned milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

std::tm platformLocalTimeAt(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

int platformUtcOffsetMinutes(std::time_t t) { return static_cast<int>(platformLocalTimeAt(t).tm_gmtoff / 60); }

bool platformCreateFile(const char *name, const std::string &data, FileIdentity &identity, std::string &why) {
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && writeAll(fd, data);
    if (!ok)
        why = std::strerror(errno);
    if (close(fd) != 0 && ok) {
        why = std::strerror(errno);
        ok = false;
    }
    identity = identityOf(st);
    return ok;
}

AppendResult platformAppendFile(const char *name, const std::string &data, FileIdentity &identity, std::string &why) {
    int fd = open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        why = std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return AppendResult::kFailed;
    }
    if (!writeAll(fd, data)) {
        why = std::strerror(errno);
        int truncated = ftruncate(fd, st.st_size); // what did get in comes out again
        (void)truncated;
        close(fd);
        return AppendResult::kFailed;
    }
    if (close(fd) != 0) {
        why = std::strerror(errno);
        return AppendResult::kFailed;
    }
    FileIdentity now = identityOf(st);
    bool known = identity.device != 0 || identity.file != 0;
    bool same = now.device == identity.device && now.file == identity.file;
    identity = now;
    return !known || same ? AppendResult::kAppended : AppendResult::kReplaced;
}

std::string platformHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}

void platformWarn(const char *cp1251, std::size_t length) {
    ConsoleCodePage codePage = isatty(STDERR_FILENO) ? terminalCodePage(nl_langinfo(CODESET)) : ConsoleCodePage::kCp866;
    std::string text = cp1251ToConsole(cp1251, length, codePage);
    ssize_t written = write(STDERR_FILENO, text.data(), text.size());
    (void)written; // nowhere left to tell
}

void platformExit(int status) {
    platformRestoreConsole();
    _exit(status & 0xFF);
}

#include <dlfcn.h>

const char *platformBoardOrigin(std::int32_t boardLid) {
    using Origin = const char *(*)(std::int32_t);
    void *symbol = dlsym(RTLD_DEFAULT, "ZT_boardOrigin");
    const char *origin = symbol ? reinterpret_cast<Origin>(symbol)(boardLid) : nullptr;
    return origin ? origin : "adapter";
}

#endif // ZT_PLATFORM_POSIX
