// process.cpp - spawning the program with pipes on all three streams.
#include "support/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#ifndef ZT_PROGRAM_PATH
#error "ZT_PROGRAM_PATH must name the zorvantik-test binary"
#endif
#ifndef ZT_REPORT_PATH
#error "ZT_REPORT_PATH must name the zorvantik-report binary"
#endif

extern char **environ;

namespace {

void closeFd(int &fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

ArgVector::ArgVector(const std::string &program, const std::vector<std::string> &args) : strings_{program} {
    strings_.insert(strings_.end(), args.begin(), args.end());
    for (std::string &s : strings_)
        pointers_.push_back(&s[0]);
    pointers_.push_back(nullptr);
}

void writeAllTo(int fd, const std::string &bytes) {
    const char *p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0 && fd >= 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

Process::Process(const std::string &dir, const std::vector<std::string> &args, int inputFd) {
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err))
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputFd >= 0 ? inputFd : in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());

    ArgVector argv(ZT_PROGRAM_PATH, args);
    int rc = posix_spawn(&pid_, argv.program(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    if (inputFd >= 0)
        closeFd(in_);
    out_ = out[0];
    err_ = err[0];
    if (rc != 0)
        throw std::runtime_error(std::string("cannot start the program: ") + std::strerror(rc));
    ::signal(SIGPIPE, SIG_IGN); // a program that ended early must not kill the test
}

Process::~Process() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    closeFd(in_);
    closeFd(out_);
    closeFd(err_);
}

void Process::write(const std::string &keys) { writeAllTo(in_, keys); }

void Process::closeInput() { closeFd(in_); }

void Process::signal(int sig) {
    if (pid_ > 0 && sig != 0)
        kill(pid_, sig);
}

// Reads whatever stdout and stderr have; false when both have ended.
bool Process::pump(int timeoutMs) {
    struct pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0)
        return false;
    if (poll(fds, 2, timeoutMs) <= 0)
        return true;
    char buffer[4096];
    int *fdOf[2] = {&out_, &err_};
    std::string *sink[2] = {&result_.out, &result_.err};
    for (int i = 0; i < 2; ++i) {
        if (*fdOf[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        ssize_t n = ::read(*fdOf[i], buffer, sizeof buffer);
        if (n > 0)
            sink[i]->append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            closeFd(*fdOf[i]);
    }
    return true;
}

double testTimeScale() {
    const char *scale = std::getenv("ZT_TEST_TIME_SCALE");
    double value = scale ? std::atof(scale) : 0.0;
    return value >= 1.0 ? value : 1.0;
}

bool Process::waitForOutput(const std::string &needle, double seconds, int times) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * testTimeScale());
    auto found = [&] {
        int n = 0;
        for (std::size_t at = result_.out.find(needle); at != std::string::npos; at = result_.out.find(needle, at + 1))
            ++n;
        return n >= times;
    };
    while (!found()) {
        if (std::chrono::steady_clock::now() > deadline || !pump(50))
            return found();
    }
    return true;
}

RunResult Process::finish(double seconds, bool endInput) {
    if (endInput)
        closeInput();
    result_.status = pumpUntilEnd(pid_, seconds, [this](int timeoutMs) { return pump(timeoutMs); });
    return result_;
}

int pumpUntilEnd(pid_t &pid, double seconds, const std::function<bool(int timeoutMs)> &pump) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * testTimeScale());
    bool killed = false;
    while (pump(50)) {
        if (!killed && std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            killed = true;
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

RunResult runProgram(const std::string &dir, const std::vector<std::string> &args, const std::string &keys) {
    Process process(dir, args);
    process.write(keys);
    return process.finish();
}

RunResult runWithKeyFile(const std::string &dir, const std::vector<std::string> &args, const std::string &keys,
                         long *keysRead) {
    char name[] = "/tmp/zt-keys-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    unlink(name);
    if (::write(fd, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        throw std::runtime_error("cannot write the key file");
    lseek(fd, 0, SEEK_SET);
    RunResult result;
    {
        Process process(dir, args, fd);
        result = process.finish();
    }
    *keysRead = static_cast<long>(lseek(fd, 0, SEEK_CUR));
    ::close(fd);
    return result;
}

RunResult runReportCommand(const std::string &dir, const std::vector<std::string> &args) {
    std::string command = "cd '" + dir + "' && '" ZT_REPORT_PATH "'";
    for (const std::string &a : args)
        command += " '" + a + "'";
    command += " >command.out 2>command.err";
    int status = std::system(command.c_str());
    RunResult r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (auto [name, to] : {std::pair<const char *, std::string *>{"command.out", &r.out}, {"command.err", &r.err}}) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        *to = s.str();
        in.close();
        std::filesystem::remove(dir + "/" + name);
    }
    return r;
}
