/*
 * board_config.cpp - the keys of virtual-board.ini and their parsers.
 *
 * Each key is one line of a table: its name and the setter that parses the
 * value into its field. A setter that refuses a value says what it wants;
 * the caller turns that into "path:line: 'key' wants ..., got '...'".
 */
#include "board_config.h"

#include "ini.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <iterator>
#include <vector>

namespace {

template <class Config> struct Key {
    const char *name;
    bool (*set)(const std::string &value, Config &cfg, std::string &wants);
};

std::string lower(std::string s) {
    for (char &c : s)
        c = char(std::tolower((unsigned char)c));
    return s;
}

std::string numberWanted(uint32_t max) {
    return max == 0xFFFFFFFFu ? "a number" : "a number from 0 to " + std::to_string(max);
}

template <uint32_t BoardConfig::*Field, uint32_t Max = 0xFFFFFFFFu>
bool setNumber(const std::string &value, BoardConfig &cfg, std::string &wants) {
    uint32_t n;
    if (!parseNumber(value, Max, n)) {
        wants = numberWanted(Max);
        return false;
    }
    cfg.*Field = n;
    return true;
}

template <bool BoardConfig::*Field> bool setYesNo(const std::string &value, BoardConfig &cfg, std::string &wants) {
    std::string v = lower(value);
    if (v != "yes" && v != "no") {
        wants = "yes or no";
        return false;
    }
    cfg.*Field = v == "yes";
    return true;
}

/* "1.4.2" becomes 0x01040200: the program shows bytes 3, 2 and 1. */
bool setFpgaVersion(const std::string &value, BoardConfig &cfg, std::string &wants) {
    uint32_t word = 0;
    size_t start = 0;
    for (int part = 0; part < 3; ++part) {
        size_t dot = value.find('.', start);
        bool last = part == 2;
        if (last != (dot == std::string::npos))
            break;
        uint32_t n;
        if (!parseNumber(value.substr(start, dot - start), 255, n))
            break;
        word |= n << (24 - 8 * part);
        if (last) {
            cfg.fpgaVersion = word;
            return true;
        }
        start = dot + 1;
    }
    wants = "major.minor.build, each from 0 to 255";
    return false;
}

/* A connector is LINK (0) or the other kind it can carry (1); a raw code
 * lets a test feed the program values it never expects. */
constexpr char kSynx[] = "synx";
constexpr char kPiox[] = "piox";

constexpr char kOk[] = "ok";
constexpr char kDead[] = "dead";
constexpr char kToDspDead[] = "to_dsp_dead";
constexpr char kRefused[] = "refused";
constexpr char kPlugged[] = "plugged";
constexpr char kFast[] = "fast";
constexpr char kRecorded[] = "recorded";
constexpr char kUnplugged[] = "unplugged";

constexpr uint32_t kMaxMBps = 100000;
constexpr int kNodesInMask = 7; /* P1..P7 */

template <uint32_t BoardConfig::*Field, const char *Other>
bool setConnector(const std::string &value, BoardConfig &cfg, std::string &wants) {
    std::string v = lower(value);
    if (v == "link") {
        cfg.*Field = 0;
    } else if (v == Other) {
        cfg.*Field = 1;
    } else if (!parseNumber(v, 255, cfg.*Field)) {
        wants = std::string("link, ") + Other + " or a number from 0 to 255";
        return false;
    }
    return true;
}

/* Two-word keys: the healthy word and the faulty one. */
template <bool BoardConfig::*Field, const char *Healthy, const char *Faulty>
bool setHealth(const std::string &value, BoardConfig &cfg, std::string &wants) {
    std::string v = lower(value);
    if (v != Healthy && v != Faulty) {
        wants = std::string(Healthy) + " or " + Faulty;
        return false;
    }
    cfg.*Field = v == Healthy;
    return true;
}

template <PacePath Path> bool setPace(const std::string &value, BoardConfig &cfg, std::string &wants) {
    if (!parseNumber(value, kMaxMBps, cfg.paceMBps[Path])) {
        wants = numberWanted(kMaxMBps);
        return false;
    }
    return true;
}

/* The comma-separated items of a list value, each trimmed. */
std::vector<std::string> listItems(const std::string &value) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        size_t comma = value.find(',', start);
        std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t b = item.find_first_not_of(" \t"), e = item.find_last_not_of(" \t");
        items.push_back(b == std::string::npos ? "" : item.substr(b, e - b + 1));
        if (comma == std::string::npos)
            return items;
        start = comma + 1;
    }
}

bool setSdramChips(const std::string &value, BoardConfig &cfg, std::string &wants) {
    std::vector<std::string> items = listItems(value);
    uint32_t chips[4];
    bool ok = items.size() == 4;
    for (size_t i = 0; ok && i < 4; ++i)
        ok = parseNumber(items[i], 0xFFFFFFFFu, chips[i]);
    if (!ok) {
        wants = "four numbers separated by commas";
        return false;
    }
    std::copy(chips, chips + 4, cfg.sdramChips);
    return true;
}

/* The fields of `item` between colons. */
std::vector<std::string> fields(const std::string &item) {
    std::vector<std::string> f;
    for (size_t start = 0;;) {
        size_t colon = item.find(':', start);
        f.push_back(item.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos)
            return f;
        start = colon + 1;
    }
}

/* "P1".."P7" as node 0..6. */
bool parseProcessor(const std::string &s, int32_t &node) {
    uint32_t cpu;
    if (s.size() < 2 || std::tolower((unsigned char)s[0]) != 'p' || !parseNumber(s.substr(1), 7, cpu) || cpu < 1)
        return false;
    node = int32_t(cpu - 1);
    return true;
}

/* "P1:0x80003:0:1" or "P1:0x80000-0x80FFF:31:1". */
bool parseStuckBit(const std::string &item, StuckBit &out) {
    std::vector<std::string> f = fields(item);
    if (f.size() != 4 || !parseProcessor(f[0], out.node))
        return false;
    size_t dash = f[1].find('-');
    if (!parseNumber(f[1].substr(0, dash), 0xFFFFFFFFu, out.first))
        return false;
    out.last = out.first;
    if (dash != std::string::npos &&
        (!parseNumber(f[1].substr(dash + 1), 0xFFFFFFFFu, out.last) || out.last < out.first))
        return false;
    return parseNumber(f[2], 31, out.bit) && parseNumber(f[3], 1, out.value);
}

/* "P2.2:stuck:5:1", "P1.1:flip:0", "P3.1:dead" or "P5.1:stop:40". */
bool parseLinkFault(const std::string &item, LinkFault &out) {
    std::vector<std::string> f = fields(item);
    size_t dot = f[0].find('.');
    out = LinkFault{};
    if (dot == std::string::npos || !parseProcessor(f[0].substr(0, dot), out.node) ||
        !parseNumber(f[0].substr(dot + 1), 3, out.port) || f.size() < 2)
        return false;
    std::string kind = lower(f[1]);
    if (kind == "stuck" && f.size() == 4) {
        out.kind = LinkFault::Stuck;
        return parseNumber(f[2], 31, out.bit) && parseNumber(f[3], 1, out.value);
    }
    if (kind == "flip" && f.size() == 3) {
        out.kind = LinkFault::Flip;
        return parseNumber(f[2], 31, out.bit);
    }
    if (kind == "dead" && f.size() == 2) {
        out.kind = LinkFault::Dead;
        return true;
    }
    if (kind == "stop" && f.size() == 3) {
        out.kind = LinkFault::Stop;
        return parseNumber(f[2], 0xFFFFFFFFu, out.count);
    }
    return false;
}

bool setLinkFaults(const std::string &value, BoardConfig &cfg, std::string &wants) {
    std::vector<LinkFault> faults;
    for (const std::string &item : listItems(value)) {
        LinkFault fault;
        if (!parseLinkFault(item, fault)) {
            wants =
                "P<n>.<port>:stuck:bit:value, P<n>.<port>:flip:bit, P<n>.<port>:dead or P<n>.<port>:stop:words, ...";
            return false;
        }
        faults.push_back(fault);
    }
    cfg.linkFaults = faults;
    return true;
}

/* "10432" for every processor, "P4:12000" for one; later items win. */
bool setFftCycles(const std::string &value, BoardConfig &cfg, std::string &wants) {
    uint32_t cycles[kNodesInMask];
    std::copy(cfg.fftCycles, cfg.fftCycles + kNodesInMask, cycles);
    for (const std::string &item : listItems(value)) {
        std::vector<std::string> f = fields(item);
        uint32_t n;
        int32_t node;
        if (f.size() == 1 && parseNumber(f[0], 0xFFFFFFFFu, n)) {
            std::fill(cycles, cycles + kNodesInMask, n);
        } else if (f.size() == 2 && parseProcessor(f[0], node) && parseNumber(f[1], 0xFFFFFFFFu, n)) {
            cycles[node] = n;
        } else {
            wants = "cycles or P<n>:cycles, ...";
            return false;
        }
    }
    std::copy(cycles, cycles + kNodesInMask, cfg.fftCycles);
    return true;
}

/* A list of processors, "P3, P5", as a mask: bit i = P(i+1). */
template <uint32_t BoardConfig::*Field>
bool setProcessors(const std::string &value, BoardConfig &cfg, std::string &wants) {
    uint32_t mask = 0;
    for (const std::string &item : listItems(value)) {
        int32_t node;
        if (!parseProcessor(item, node)) {
            wants = "P<n>, ...";
            return false;
        }
        mask |= 1u << node;
    }
    cfg.*Field = mask;
    return true;
}

bool setStuckBits(const std::string &value, BoardConfig &cfg, std::string &wants) {
    std::vector<StuckBit> bits;
    for (const std::string &item : listItems(value)) {
        StuckBit bit;
        if (!parseStuckBit(item, bit)) {
            wants = "P<n>:address[-address]:bit:value, ...";
            return false;
        }
        bits.push_back(bit);
    }
    cfg.stuckBits.insert(cfg.stuckBits.end(), bits.begin(), bits.end());
    return true;
}

/* "P1:0x80000-0x800FF": words that read all ones, as 32 stuck bits each.
 * They add to the stuck bits, whichever key stands first. */
bool setBadWords(const std::string &value, BoardConfig &cfg, std::string &wants) {
    for (const std::string &item : listItems(value)) {
        StuckBit bit;
        if (!parseStuckBit(item + ":0:1", bit)) {
            wants = "P<n>:address[-address], ...";
            return false;
        }
        for (uint32_t b = 0; b < 32; ++b) {
            bit.bit = b;
            cfg.stuckBits.push_back(bit);
        }
    }
    return true;
}

/* "P1:12": address bit 12 of every bank offset of P1 is not decoded. */
bool setRamAddressFaults(const std::string &value, BoardConfig &cfg, std::string &wants) {
    for (const std::string &item : listItems(value)) {
        std::vector<std::string> f = fields(item);
        int32_t node = 0;
        uint32_t bit = 0;
        if (f.size() != 2 || !parseProcessor(f[0], node) || !parseNumber(f[1], 15, bit)) {
            wants = "P<n>:bit, ... (bit 0..15)";
            return false;
        }
        cfg.ramAddressFault[node] |= 1u << bit;
    }
    return true;
}

/* "chip2" as 2. */
bool parseChip(const std::string &s, uint32_t &chip) {
    return lower(s.substr(0, 4)) == "chip" && parseNumber(s.substr(4), 3, chip);
}

/* "0x1234" or "0x1200-0x12FF", word offsets within a chip. */
bool parseChipRange(const std::string &s, uint32_t &first, uint32_t &last) {
    size_t dash = s.find('-');
    if (!parseNumber(s.substr(0, dash), kSdramMaxChipWords - 1, first))
        return false;
    last = first;
    return dash == std::string::npos ||
           (parseNumber(s.substr(dash + 1), kSdramMaxChipWords - 1, last) && last >= first);
}

/* "0x80000" for every chip of P2..P7, "P3:0x80000" for P3's four,
 * "P3:chip2:0x80000" for one; later items win. P1's are p1_sdram_chips'. */
bool setSdramChipSize(const std::string &value, BoardConfig &cfg, std::string &wants) {
    uint32_t words[7][4];
    std::copy(&cfg.sdramWords[0][0], &cfg.sdramWords[0][0] + 28, &words[0][0]);
    for (const std::string &item : listItems(value)) {
        std::vector<std::string> f = fields(item);
        int32_t node = -1;
        uint32_t chip = 4, n;
        bool ok = parseNumber(f.back(), kSdramMaxChipWords, n) && f.size() <= 3 &&
                  (f.size() == 1 || (parseProcessor(f[0], node) && node > 0)) &&
                  (f.size() < 3 || parseChip(f[1], chip));
        if (!ok) {
            wants = "words, P<n>:words or P<n>:chip<c>:words (P2..P7, c 0..3, words up to 0x1000000), ...";
            return false;
        }
        for (int32_t i = 1; i < kNodesInMask; ++i)
            for (uint32_t c = 0; c < 4; ++c)
                if ((node < 0 || node == i) && (chip == 4 || chip == c))
                    words[i][c] = n;
    }
    std::copy(&words[0][0], &words[0][0] + 28, &cfg.sdramWords[0][0]);
    return true;
}

/* Replaces the faults of `kind` by those of the value. */
bool setSdramCells(const std::string &value, BoardConfig &cfg, SdramCellFault::Kind kind) {
    std::vector<SdramCellFault> faults;
    for (const SdramCellFault &f : cfg.sdramCellFaults)
        if (f.kind != kind)
            faults.push_back(f);
    for (const std::string &item : listItems(value)) {
        std::vector<std::string> f = fields(item);
        SdramCellFault fault{};
        fault.kind = kind;
        if (f.size() != (kind == SdramCellFault::Stuck ? 5u : 3u) || !parseProcessor(f[0], fault.node) ||
            !parseChip(f[1], fault.chip) || !parseChipRange(f[2], fault.first, fault.last))
            return false;
        if (kind == SdramCellFault::Stuck && !(parseNumber(f[3], 31, fault.bit) && parseNumber(f[4], 1, fault.value)))
            return false;
        faults.push_back(fault);
    }
    cfg.sdramCellFaults = faults;
    return true;
}

bool setSdramStuckBits(const std::string &value, BoardConfig &cfg, std::string &wants) {
    wants = "P<n>:chip<c>:offset[-offset]:bit:value, ...";
    return setSdramCells(value, cfg, SdramCellFault::Stuck);
}

bool setSdramBadWords(const std::string &value, BoardConfig &cfg, std::string &wants) {
    wants = "P<n>:chip<c>:offset[-offset], ...";
    return setSdramCells(value, cfg, SdramCellFault::Bad);
}

/* "P2:chip0:12", or "P2:chip0:bit 12". */
bool setSdramAddressFaults(const std::string &value, BoardConfig &cfg, std::string &wants) {
    std::vector<SdramAddressFault> faults;
    for (const std::string &item : listItems(value)) {
        std::vector<std::string> f = fields(item);
        SdramAddressFault fault{};
        std::string bit = f.size() == 3 ? lower(f[2]) : "";
        if (bit.compare(0, 3, "bit") == 0) {
            size_t at = bit.find_first_not_of(" \t", 3);
            bit = at == std::string::npos ? "" : bit.substr(at);
        }
        if (f.size() != 3 || !parseProcessor(f[0], fault.node) || !parseChip(f[1], fault.chip) ||
            !parseNumber(bit, 23, fault.bit)) {
            wants = "P<n>:chip<c>:bit (bit 0..23), ...";
            return false;
        }
        faults.push_back(fault);
    }
    cfg.sdramAddressFaults = faults;
    return true;
}

/* "ok", "dead" (towards the host) or "to_dsp_dead". */
bool setInterrupts(const std::string &value, BoardConfig &cfg, std::string &wants) {
    std::string v = lower(value);
    if (v != kOk && v != kDead && v != kToDspDead) {
        wants = "ok, dead or to_dsp_dead";
        return false;
    }
    cfg.interruptsToHost = v != kDead;
    cfg.interruptsToDsp = v != kToDspDead;
    return true;
}

/* Only firmware whose host side waits with a limit may hang: a hang
 * anywhere else would hold the run until the operator breaks it off. */
const char *const kMayGoSilent[] = {"csdram", "pcdspint", "dsppcint", "linkcheck", "linkrelay", "cfft"};

/* "P1:linkcheck:2": P1's linkcheck halts after its second status word. */
bool setSilent(const std::string &value, BoardConfig &cfg, std::string &wants) {
    std::vector<SilentFirmware> silent;
    for (const std::string &item : listItems(value)) {
        std::vector<std::string> f = fields(item);
        SilentFirmware s{};
        bool ok = f.size() == 3 && parseProcessor(f[0], s.node) && parseNumber(f[2], 0xFFFFFFFFu, s.count);
        if (ok) {
            s.firmware = lower(f[1]);
            ok = std::find(std::begin(kMayGoSilent), std::end(kMayGoSilent), s.firmware) != std::end(kMayGoSilent);
        }
        if (!ok) {
            wants = "P<n>:firmware:count, ... (firmware csdram, pcdspint, dsppcint, linkcheck, linkrelay or cfft)";
            return false;
        }
        silent.push_back(s);
    }
    cfg.silent = silent;
    return true;
}

bool setStreamMode(const std::string &value, BoardConfig &cfg, std::string &wants) {
    if (!parseNumber(value, 2, cfg.streamMode) || cfg.streamMode < 1) {
        wants = "1 or 2";
        return false;
    }
    return true;
}

/* The trace file a board replays; any name, read at QAL_open. */
bool setReplay(const std::string &value, BoardConfig &cfg, std::string &wants) {
    if (value.empty()) {
        wants = "a trace file";
        return false;
    }
    cfg.replay = value;
    return true;
}

bool setInit(const std::string &value, LibraryConfig &cfg, std::string &wants) {
    std::string v = lower(value);
    if (v != "ok" && v != "fail") {
        wants = "ok or fail";
        return false;
    }
    cfg.initOk = v == "ok";
    return true;
}

const Key<BoardConfig> kBoardKeys[] = {
    {"present", setYesNo<&BoardConfig::present>},
    {"model", setNumber<&BoardConfig::model, 0xFFFF>},
    {"version", setNumber<&BoardConfig::version, 0xFFFF>},
    {"serial", setNumber<&BoardConfig::serial>},
    {"pci_bus", setNumber<&BoardConfig::pciBus>},
    {"pci_device", setNumber<&BoardConfig::pciDevice>},
    {"pci_ctrl_mem", setNumber<&BoardConfig::pciCtrlMem>},
    {"pci_ctrl_io", setNumber<&BoardConfig::pciCtrlIo>},
    {"device_io", setNumber<&BoardConfig::deviceIo>},
    {"device_mem", setNumber<&BoardConfig::deviceMem>},
    {"irq", setNumber<&BoardConfig::irq>},
    {"fpga_version", setFpgaVersion},
    {"cpu_mask", setNumber<&BoardConfig::cpuMask, 0xFFFF>},
    {"cpu_clock", setNumber<&BoardConfig::cpuClockMHz, 0xFFFF>},
    {"submodules", setNumber<&BoardConfig::submodules, 0xFF>},
    {"x5", setConnector<&BoardConfig::x5Type, kSynx>},
    {"x6", setConnector<&BoardConfig::x6Type, kPiox>},
    {"id_tag", setNumber<&BoardConfig::idTag, 0xFFFF>},
    {"id_prefix_size", setNumber<&BoardConfig::idPrefixSize, 0xFFFF>},
    {"dpram", setYesNo<&BoardConfig::dpram>},
    {"interrupts", setInterrupts},
    {"ram_stuck_bit", setStuckBits},
    {"ram_bad_words", setBadWords},
    {"ram_address_fault", setRamAddressFaults},
    {"link_fault", setLinkFaults},
    {"front_cable", setHealth<&BoardConfig::frontCable, kPlugged, kUnplugged>},
    {"fft_cycles", setFftCycles},
    {"fft_wrong", setProcessors<&BoardConfig::fftWrong>},
    {"fft_silent", setProcessors<&BoardConfig::fftSilent>},
    {"dsp_silent", setSilent},
    {"load_ms", setNumber<&BoardConfig::loadMs, 3600000>},
    {"p1_sdram_chips", setSdramChips},
    {"sdram_chip_size", setSdramChipSize},
    {"sdram_stuck_bit", setSdramStuckBits},
    {"sdram_bad_words", setSdramBadWords},
    {"sdram_address_fault", setSdramAddressFaults},
    {"sdrcon", setNumber<&BoardConfig::sdrcon>},
    {"csdram_cycles", setNumber<&BoardConfig::csdramCycles>},
    {"csdram_signal", setYesNo<&BoardConfig::csdramSignal>},
    {"stream_capture", setHealth<&BoardConfig::streamCapture, kOk, kRefused>},
    {"stream_mode", setStreamMode},
    {"stream_state_fail_from", setNumber<&BoardConfig::streamStateFailFrom>},
    {"host_port_mbps", setPace<kPaceHostPort>},
    {"dpram_mbps", setPace<kPaceDpram>},
    {"fifo_bus_mbps", setPace<kPaceFifoBus>},
    {"fifo_link_mbps", setPace<kPaceFifoLink>},
    {"messages_mbps", setPace<kPaceMessages>},
    {"stream_mbps", setPace<kPaceStream>},
    {"replay", setReplay},
    {"replay_timing", setHealth<&BoardConfig::replayFast, kFast, kRecorded>},
};

const Key<LibraryConfig> kLibraryKeys[] = {
    {"init", setInit},
};

/* Applies a section's entries through its key table, up to its first
 * malformed line, which is then the complaint. */
template <class Config, size_t N>
bool applySection(const IniSection &section, const Key<Config> (&keys)[N], Config &cfg, const std::string &path,
                  std::string &error) {
    for (const IniEntry &e : section.entries) {
        if (section.errorLine && e.line > section.errorLine)
            break;
        const Key<Config> *key = nullptr;
        for (const Key<Config> &k : keys)
            if (e.key == k.name)
                key = &k;
        if (!key) {
            error = iniError(path, e.line, "unknown key '" + e.key + "' in [" + section.name + "]");
            return false;
        }
        std::string wants;
        if (!key->set(e.value, cfg, wants)) {
            error = iniError(path, e.line, "'" + e.key + "' wants " + wants + ", got '" + e.value + "'");
            return false;
        }
    }
    error = section.error;
    return section.errorLine == 0;
}

/* Sections in file order, so the complaint is the file's first in scope.
 * A section without a name holds lines that belong nowhere, always an
 * error. */
bool applyFile(const IniFile &ini, const std::string &path, BoardFileScope scope, BoardFile &out, std::string &error) {
    for (const IniSection &s : ini.sections) {
        uint32_t n;
        if (s.name == "library") {
            if (!applySection(s, kLibraryKeys, out.library, path, error))
                return false;
        } else if (s.name.empty()) {
            error = s.error;
            return false;
        } else if (scope == BoardFileScope::Library) {
            continue;
        } else if (s.name.compare(0, 6, "board ") == 0 && parseNumber(s.name.substr(6), 0x7FFFFFFF, n)) {
            if (!s.errorLine && out.boards.count(int32_t(n))) {
                error = iniError(path, s.line, "board " + std::to_string(n) + " given twice");
                return false;
            }
            if (!applySection(s, kBoardKeys, out.boards[int32_t(n)], path, error))
                return false;
        } else {
            error = iniError(path, s.line, "unknown section [" + s.name + "]");
            return false;
        }
    }
    return true;
}

} // namespace

bool parseNumber(const std::string &s, uint32_t max, uint32_t &out) {
    bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    size_t i = hex ? 2 : 0;
    if (i == s.size())
        return false;
    uint64_t n = 0;
    for (; i < s.size(); ++i) {
        int c = (unsigned char)s[i];
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (hex && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            return false;
        n = n * (hex ? 16 : 10) + unsigned(digit);
        if (n > max)
            return false;
    }
    out = uint32_t(n);
    return true;
}

bool parseBoardFile(const std::string &text, const std::string &path, BoardFileScope scope, BoardFile &out,
                    std::string &error) {
    out = BoardFile();
    IniFile ini;
    parseIni(text, path, ini);
    return applyFile(ini, path, scope, out, error);
}

/* Missing file: the built-in configuration, no complaint. One that is
 * there but cannot be read is refused as a malformed one is. */
bool readBoardFile(const std::string &path, BoardFileScope scope, BoardFile &out, std::string &error) {
    out = BoardFile();
    IniFile ini;
    switch (readIni(path, ini, error)) {
    case FileRead::Missing:
        return true;
    case FileRead::Ok:
        return applyFile(ini, path, scope, out, error);
    default:
        return false;
    }
}

BoardConfig boardConfig(const BoardFile &file, int32_t boardNumber) {
    auto it = file.boards.find(boardNumber);
    return it == file.boards.end() ? BoardConfig() : it->second;
}
