// terminal.h - runs the real zorvantik-test binary with a pseudo-terminal
// as its console, in a locale of the test's choosing, as an operator at a
// Linux terminal would; and makes the locales a test needs.
//
// Header-only, so the suite's build needs no change for it.
#ifndef ZORVANTIK_TEST_TERMINAL_H
#define ZORVANTIK_TEST_TERMINAL_H

#include "support/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef ZT_PROGRAM_PATH
#error "ZT_PROGRAM_PATH must name the zorvantik-test binary"
#endif

extern char **environ;

// How the program is started at the terminal.
struct TerminalSetup {
    // Variables set after LANG, LANGUAGE, LC_* and LOCPATH were taken out
    // of the environment: with none, the program runs in the C locale.
    std::vector<std::pair<std::string, std::string>> env;
    // True: the keyboard is the terminal too. False: stdin is a pipe the
    // test writes to and that finish() closes.
    bool keyboard = true;
};

// A program whose stdout (and perhaps stdin) is the slave side of a
// pseudo-terminal. The terminal passes output bytes through untranslated
// (no "\n" to CR LF), so the test sees exactly what the program wrote;
// input keeps its usual line discipline, so Ctrl-C typed at it raises
// SIGINT in the program. stderr is a pipe of its own.
class TerminalProcess {
public:
    TerminalProcess(const std::string &dir, const std::vector<std::string> &args, const TerminalSetup &setup) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        int slave = ::open(ptsname(master_), O_RDWR | O_NOCTTY);
        if (slave < 0)
            throw std::runtime_error("cannot open the pseudo-terminal's slave");
        struct termios mode;
        tcgetattr(slave, &mode);
        mode.c_oflag &= ~tcflag_t(OPOST);
        tcsetattr(slave, TCSANOW, &mode);
        int in[2], err[2];
        if (pipe(in) != 0 || pipe(err) != 0)
            throw std::runtime_error("pipe failed");

        // Everything the child needs is made before fork: after it, only
        // async-signal-safe calls.
        std::vector<std::string> envStrings;
        for (char **e = environ; *e; ++e) {
            std::string entry = *e;
            std::string name = entry.substr(0, entry.find('='));
            if (name == "LANG" || name == "LANGUAGE" || name == "LOCPATH" || name.compare(0, 3, "LC_") == 0)
                continue;
            envStrings.push_back(entry);
        }
        for (const auto &var : setup.env)
            envStrings.push_back(var.first + "=" + var.second);
        std::vector<char *> envp;
        for (std::string &e : envStrings)
            envp.push_back(&e[0]);
        envp.push_back(nullptr);
        ArgVector argv(ZT_PROGRAM_PATH, args);

        pid_ = fork();
        if (pid_ < 0)
            throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
            dup2(setup.keyboard ? slave : in[0], 0);
            dup2(slave, 1);
            dup2(err[1], 2);
            for (int fd : {slave, master_, in[0], in[1], err[0], err[1]})
                ::close(fd);
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            execve(argv.program(), argv.data(), envp.data());
            _exit(127);
        }
        ::close(slave); // the child's end: reads of the master end with EIO once the child is gone
        ::close(in[0]);
        ::close(err[1]);
        in_ = in[1];
        err_ = err[0];
        ::signal(SIGPIPE, SIG_IGN);
    }

    ~TerminalProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int *fd : {&master_, &in_, &err_})
            closeFd(*fd);
    }
    TerminalProcess(const TerminalProcess &) = delete;
    TerminalProcess &operator=(const TerminalProcess &) = delete;

    // A signal from outside, as a shell's kill or a closed terminal sends.
    void signal(int sig) { kill(pid_, sig); }
    pid_t pid() const { return pid_; }

    // Keys typed at the terminal ("\x03" is Ctrl-C).
    void type(const std::string &keys) { writeAllTo(master_, keys); }
    // Bytes for the stdin pipe (keyboard = false).
    void input(const std::string &keys) { writeAllTo(in_, keys); }

    // Waits until the terminal has shown `needle`; false after `seconds`.
    bool waitForOutput(const std::string &needle, double seconds = 20) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * testTimeScale());
        while (result_.out.find(needle) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !pump(50))
                return result_.out.find(needle) != std::string::npos;
        }
        return true;
    }

    // The terminal's mode now, also after the end: the master reports the
    // slave's settings.
    struct termios mode() const {
        struct termios t {};
        tcgetattr(master_, &t);
        return t;
    }

    // Waits for the end, killing the program after `seconds`; out holds
    // the terminal's bytes.
    RunResult finish(double seconds = 60) {
        closeFd(in_);
        result_.status = pumpUntilEnd(pid_, seconds, [this](int timeoutMs) { return pump(timeoutMs); });
        return result_;
    }

private:
    static void closeFd(int &fd) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    // Reads what the terminal and stderr have; false once both have ended
    // (the master reports EIO when no one holds the slave any more).
    // The master stays open after the terminal ended, for mode().
    bool pump(int timeoutMs) {
        if (terminalEnded_ && err_ < 0)
            return false;
        struct pollfd fds[2] = {{terminalEnded_ ? -1 : master_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) <= 0)
            return true;
        char buffer[4096];
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                result_.out.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                terminalEnded_ = true;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::read(err_, buffer, sizeof buffer);
            if (n > 0)
                result_.err.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                closeFd(err_);
        }
        return true;
    }

    pid_t pid_ = -1;
    int master_ = -1, in_ = -1, err_ = -1;
    bool terminalEnded_ = false; // the master reported the end (EIO)
    RunResult result_;
};

// Locales generated for the tests with localedef in a directory of their
// own (LOCPATH), since a fresh machine has only C and C.UTF-8. Needs the
// locale sources of the `locales` package (/usr/share/i18n).
class TestLocales {
public:
    TestLocales() {
        char pattern[] = "/tmp/zt-locales-XXXXXX";
        if (mkdtemp(pattern))
            dir_ = pattern;
    }
    ~TestLocales() {
        std::error_code error;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, error);
    }
    TestLocales(const TestLocales &) = delete;
    TestLocales &operator=(const TestLocales &) = delete;

    const std::string &dir() const { return dir_; }

    // Makes locale `name` from the sources `input` (e.g. ru_RU) and
    // `charmap` (e.g. KOI8-R). "" on success, else why it cannot be had.
    std::string make(const std::string &name, const std::string &input, const std::string &charmap) {
        const std::string sources = "/usr/share/i18n";
        if (!std::filesystem::exists(sources + "/locales/" + input) ||
            !(std::filesystem::exists(sources + "/charmaps/" + charmap + ".gz") ||
              std::filesystem::exists(sources + "/charmaps/" + charmap)))
            return "the locale sources " + input + " / " + charmap + " are not installed (Debian package 'locales')";
        if (dir_.empty())
            return "cannot make a locale directory";
        if (std::filesystem::exists(dir_ + "/" + name + "/LC_CTYPE"))
            return "";
        std::string command =
            "localedef --no-archive -i " + input + " -f " + charmap + " " + dir_ + "/" + name + " >/dev/null 2>&1";
        std::system(command.c_str());
        if (!std::filesystem::exists(dir_ + "/" + name + "/LC_CTYPE"))
            return "localedef could not make " + name;
        return "";
    }

private:
    std::string dir_;
};

#endif // ZORVANTIK_TEST_TERMINAL_H
