// record_file.cpp - reading a result record's file, trusting nothing about it.
#include "report/record_file.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
using FileStat = struct _stat64;
int statPath(const char *path, FileStat &st) { return _stat64(path, &st); }
int openForReading(const char *path) { return _open(path, _O_RDONLY | _O_BINARY); }
int statOpen(int fd, FileStat &st) { return _fstat64(fd, &st); }
long long readSome(int fd, char *buffer, std::size_t size) { return _read(fd, buffer, static_cast<unsigned>(size)); }
void closeFile(int fd) { _close(fd); }
bool isRegular(const FileStat &st) { return (st.st_mode & _S_IFMT) == _S_IFREG; }
const char *kindOf(const FileStat &st) { return (st.st_mode & _S_IFMT) == _S_IFDIR ? "a directory" : "a device"; }
#else
using FileStat = struct stat;
int statPath(const char *path, FileStat &st) { return stat(path, &st); }
// Non-blocking, so that a FIFO that slipped in between the look and the
// open is never waited on.
int openForReading(const char *path) { return open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC); }
int statOpen(int fd, FileStat &st) { return fstat(fd, &st); }
long long readSome(int fd, char *buffer, std::size_t size) {
    ssize_t n;
    do {
        n = read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}
void closeFile(int fd) { close(fd); }
bool isRegular(const FileStat &st) { return S_ISREG(st.st_mode); }
const char *kindOf(const FileStat &st) {
    if (S_ISDIR(st.st_mode))
        return "a directory";
    if (S_ISFIFO(st.st_mode))
        return "a FIFO";
    if (S_ISCHR(st.st_mode))
        return "a character device";
    if (S_ISBLK(st.st_mode))
        return "a block device";
    if (S_ISSOCK(st.st_mode))
        return "a socket";
    return "not a regular file";
}
#endif

std::string cannotRead(int error) { return std::string("cannot be read (") + std::strerror(error) + ")"; }

// The reason a file of this kind and size is not read; "" when it is.
std::string refusal(const FileStat &st) {
    if (!isRegular(st))
        return std::string("not a regular file (") + kindOf(st) + ")";
    if (static_cast<std::uint64_t>(st.st_size) > kRecordFileLimit)
        return "larger than a record may be (" + std::to_string(static_cast<long long>(st.st_size)) +
               " bytes, the limit is " + std::to_string(kRecordFileLimit) + ")";
    return "";
}

// Takes every JSON event and keeps nothing: a parse that only finds where
// the first value ends.
struct Skimmer : nlohmann::json::json_sax_t {
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t &) override { return true; }
    bool string(string_t &) override { return true; }
    bool binary(binary_t &) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t &) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override { return false; }
};

} // namespace

bool readRecordFile(const std::string &path, std::string &text, std::string &why) {
    // Looked at before it is opened: opening a device may itself act.
    FileStat st{};
    if (statPath(path.c_str(), st) != 0) {
        why = cannotRead(errno);
        return false;
    }
    why = refusal(st);
    if (!why.empty())
        return false;
    int fd = openForReading(path.c_str());
    if (fd < 0) {
        why = cannotRead(errno);
        return false;
    }
    // And again as opened: the name may lead elsewhere by now.
    if (statOpen(fd, st) != 0) {
        why = cannotRead(errno);
        closeFile(fd);
        return false;
    }
    why = refusal(st);
    if (!why.empty()) {
        closeFile(fd);
        return false;
    }
    text.clear();
    text.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        long long n = readSome(fd, chunk, sizeof chunk);
        if (n < 0) {
            why = cannotRead(errno);
            closeFile(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
        if (text.size() > kRecordFileLimit) { // it grew while read
            why = "larger than a record may be (more than " + std::to_string(kRecordFileLimit) + " bytes)";
            closeFile(fd);
            return false;
        }
    }
    closeFile(fd);
    return true;
}

bool recordHasTrailingBytes(const std::string &text) {
    // The parser takes a NUL byte for the end of its input; in a record's
    // text none may stand (not even inside a string), so one that follows
    // a whole value begins trailing bytes.
    std::size_t nul = text.find('\0');
    std::string head = nul == std::string::npos ? std::string() : text.substr(0, nul);
    const std::string &value = nul == std::string::npos ? text : head;
    if (nul == std::string::npos && nlohmann::json::accept(value))
        return false;
    Skimmer skimmer;
    // Not strict: the parse ends where the first value does.
    return nlohmann::json::sax_parse(value, &skimmer, nlohmann::json::input_format_t::json, false);
}

std::string recordSyntaxFault(const std::string &text, const std::string &error, std::size_t at) {
    if (recordHasTrailingBytes(text))
        return "trailing bytes after the record";
    bool cut = error.find("unexpected end of input") != std::string::npos || at >= text.size();
    return (cut ? "truncated: " : "not JSON: ") + error;
}
