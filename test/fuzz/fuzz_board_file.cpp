// fuzz_board_file.cpp - the board file parser with its key parsers.
//
// Each input is a virtual-board.ini, parsed in both scopes. Besides
// crashes, what QAL_init and QAL_open rely on must hold: a complaint is one
// "virtual-board.ini:<line>: why" line; a file the whole parse accepts, the
// library's parse accepts too, with the same [library]; and every fault key
// accepted gives values inside the ranges the board indexes with. Each
// board the file describes (and a few it does not) then builds its
// identification area, and every value of the file goes through
// parseNumber, checked against the C library's reading of the same digits.
#include "board_config.h"
#include "id_area.h"
#include "ini.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace {

constexpr char kPath[] = "virtual-board.ini";

void require(bool holds) {
    if (!holds)
        std::abort();
}

// "virtual-board.ini:<line>: why", the line one of the file's.
int complaintLine(const std::string &text, const std::string &error) {
    std::string head = std::string(kPath) + ":";
    require(error.compare(0, head.size(), head) == 0);
    std::size_t digits = head.size(), end = digits;
    while (end < error.size() && std::isdigit(static_cast<unsigned char>(error[end])))
        ++end;
    require(end > digits && end - digits < 10 && error.compare(end, 2, ": ") == 0 && error.size() > end + 2);
    require(error.find('\n') == std::string::npos);
    long line = std::strtol(error.c_str() + digits, nullptr, 10);
    long lines = 1;
    for (char c : text)
        lines += c == '\n';
    require(line >= 1 && line <= lines);
    return static_cast<int>(line);
}

bool isNode(std::int32_t node) { return node >= 0 && node < 7; }

void checkRanges(const BoardConfig &cfg) {
    require(cfg.model <= 0xFFFF && cfg.version <= 0xFFFF && cfg.cpuMask <= 0xFFFF && cfg.cpuClockMHz <= 0xFFFF);
    require(cfg.idTag <= 0xFFFF && cfg.idPrefixSize <= 0xFFFF && cfg.submodules <= 0xFF);
    require(cfg.x5Type <= 0xFF && cfg.x6Type <= 0xFF);
    for (const StuckBit &s : cfg.stuckBits)
        require(isNode(s.node) && s.first <= s.last && s.bit <= 31 && s.value <= 1);
    for (std::uint32_t bits : cfg.ramAddressFault)
        require(bits <= 0xFFFF);
    for (const LinkFault &f : cfg.linkFaults) {
        require(isNode(f.node) && f.port <= 3);
        if (f.kind == LinkFault::Stuck || f.kind == LinkFault::Flip)
            require(f.bit <= 31 && f.value <= 1);
    }
    require(cfg.fftWrong < 0x80 && cfg.fftSilent < 0x80);
    for (const auto &chips : cfg.sdramWords)
        for (std::uint32_t words : chips)
            require(words <= kSdramMaxChipWords);
    for (const SdramCellFault &f : cfg.sdramCellFaults) {
        require(isNode(f.node) && f.chip <= 3 && f.first <= f.last && f.last < kSdramMaxChipWords);
        if (f.kind == SdramCellFault::Stuck)
            require(f.bit <= 31 && f.value <= 1);
    }
    for (const SdramAddressFault &f : cfg.sdramAddressFaults)
        require(isNode(f.node) && f.chip <= 3 && f.bit <= 23);
    require(cfg.streamMode >= 1 && cfg.streamMode <= 2);
    for (std::uint32_t mbps : cfg.paceMBps)
        require(mbps <= 100000);
}

// parseNumber against strtoull on the same digits: decimal, or hexadecimal
// after 0x, no sign, no blanks, nothing after the digits.
void checkNumber(const std::string &s) {
    for (std::uint32_t max : {1u, 255u, 0xFFFFu, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        std::uint32_t n = 0;
        if (!parseNumber(s, max, n))
            continue;
        bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        std::string digits = hex ? s.substr(2) : s;
        require(!digits.empty());
        for (char c : digits)
            require(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c)));
        require(n <= max && n == std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);

    BoardFile library, all;
    std::string libraryError, allError;
    bool libraryOk = parseBoardFile(text, kPath, BoardFileScope::Library, library, libraryError);
    bool allOk = parseBoardFile(text, kPath, BoardFileScope::All, all, allError);

    require(!allOk || libraryOk);
    require(library.boards.empty());
    if (allOk)
        require(all.library.initOk == library.library.initOk);
    if (!libraryOk && !allOk)
        require(complaintLine(text, allError) <= complaintLine(text, libraryError));
    else if (!libraryOk)
        complaintLine(text, libraryError);
    else if (!allOk)
        complaintLine(text, allError);

    if (allOk) {
        std::vector<std::int32_t> numbers = {0, 1, 2, 8, -1, 0x7FFFFFFF};
        for (const auto &board : all.boards)
            numbers.push_back(board.first);
        for (std::int32_t n : numbers) {
            BoardConfig cfg = boardConfig(all, n);
            checkRanges(cfg);
            require(buildIdArea(cfg).size() == kIdAreaSize);
        }
    }

    IniFile ini;
    parseIni(text, kPath, ini);
    for (const IniSection &section : ini.sections)
        for (const IniEntry &entry : section.entries)
            checkNumber(entry.value);
    return 0;
}
