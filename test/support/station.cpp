// station.cpp - temporary stations and code page conversion for tests.
#include "support/station.h"

#include "run/runstate.h"

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#ifndef ZT_STATION_TEMPLATE
#error "ZT_STATION_TEMPLATE must name the station template directory"
#endif

namespace fs = std::filesystem;

TempStation::TempStation(bool fromTemplate) {
    std::string pattern = (fs::temp_directory_path() / "zt-station-XXXXXX").string();
    if (!mkdtemp(&pattern[0]))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (fromTemplate) {
        fs::copy(ZT_STATION_TEMPLATE, path_, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        // The station's board is paced for people to watch; tests run on
        // the built-in healthy board, which is the same board unpaced.
        fs::remove(file("virtual-board.ini"));
    }
}

TempStation::~TempStation() {
    std::error_code error;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
}

void TempStation::write(const std::string &name, const std::string &content) const {
    std::ofstream(file(name), std::ios::binary) << content;
}

std::string TempStation::read(const std::string &name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempStation::exists(const std::string &name) const { return fs::exists(file(name)); }

void TempStation::remove(const std::string &name) const { fs::remove_all(file(name)); }

namespace {

std::string convert(const std::string &text, const char *to, const char *from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv cannot convert to ") + to);
    std::string out(text.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(text.data());
    std::size_t inLeft = text.size();
    char *o = &out[0];
    std::size_t outLeft = out.size();
    std::size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1))
        throw std::runtime_error("text cannot be converted: " + text);
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

std::string toCodePage(const std::string &utf8, const char *codePage) { return convert(utf8, codePage, "UTF-8"); }

std::string toCp866(const std::string &utf8) { return convert(utf8, "CP866", "UTF-8"); }

std::string toCp1251(const std::string &utf8) { return convert(utf8, "CP1251", "UTF-8"); }

std::string asLog(const std::string &utf8) {
    std::string text = toCp1251(utf8), out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::string fromCodePage(const std::string &bytes, const char *codePage) { return convert(bytes, "UTF-8", codePage); }

ScopedDir::ScopedDir(const std::string &dir) : saved_(fs::current_path().string()) { fs::current_path(dir); }

ScopedDir::~ScopedDir() {
    std::error_code error;
    fs::current_path(saved_, error);
}

void freshRunState() {
    resetRunState();
    std::strcpy(runState.protocolLogName, "protoc1.log");
    std::strcpy(runState.screenLogName, "screen1.log");
}

std::string consoleText(const std::string &bytes) { return fromCodePage(bytes, "CP866"); }

std::string logText(const std::string &bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            text += "<LF>";
        text += bytes[i];
    }
    return fromCodePage(text, "CP1251");
}

std::string maskVariable(std::string text, std::size_t *statusLines) {
    const std::string unit = " MB/c";
    for (std::size_t at = text.find(unit); at != std::string::npos;) {
        std::size_t start = at;
        while (start > 0 && text[start - 1] != ' ')
            --start;
        text.replace(start, at - start, "R");
        at = text.find(unit, start + 1 + unit.size());
    }
    // A status line runs from its "\r" to the blanks that end it.
    const std::string status = "\rСостояние: ", tail = "               ";
    std::size_t lines = 0;
    for (std::size_t at = text.find(status); at != std::string::npos; at = text.find(status, at)) {
        std::size_t end = text.find(tail, at);
        if (end == std::string::npos)
            break;
        text.erase(at, end + tail.size() - at);
        ++lines;
    }
    if (statusLines)
        *statusLines = lines;
    return text;
}

std::size_t count(const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

bool endsWith(const std::string &text, const std::string &end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string spinner(int blocks) {
    static const char *const kSpin[4] = {"\r|", "\r/", "\r-", "\r\\"};
    std::string text;
    for (int j = 0; j < blocks; ++j)
        text += kSpin[j % 4];
    return text;
}
