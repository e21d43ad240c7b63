// Board file of the virtual board: INI syntax, the keys and their values.
#include "board_config.h"
#include "ini.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

namespace {

const char *const kPath = "virtual-board.ini";

std::string errorOf(const std::string &text, BoardFileScope scope = BoardFileScope::All) {
    BoardFile file;
    std::string error;
    EXPECT_FALSE(parseBoardFile(text, kPath, scope, file, error)) << text;
    return error;
}

BoardFile fileOf(const std::string &text, BoardFileScope scope = BoardFileScope::All) {
    BoardFile file;
    std::string error;
    EXPECT_TRUE(parseBoardFile(text, kPath, scope, file, error)) << error;
    return file;
}

BoardConfig boardOf(const std::string &text, int32_t number = 1) { return boardConfig(fileOf(text), number); }

TEST(SimIni, AcceptsCommentsBlanksCrLfAndTrailingComments) {
    IniFile ini;
    parseIni("\xEF\xBB\xBF; board file\r\n"
             "\r\n"
             "# another comment\n"
             "  [ Board   1 ]  ; the faulty one\r\n"
             "Serial=0x412\r\n"
             "  cpu_mask   =  0x21 ; P1 and P6\n"
             "model = 5366;not-a-comment",
             kPath, ini);
    ASSERT_EQ(ini.sections.size(), 1u);
    const IniSection &s = ini.sections[0];
    EXPECT_EQ(s.error, "");
    EXPECT_EQ(s.name, "board 1");
    EXPECT_EQ(s.line, 4);
    ASSERT_EQ(s.entries.size(), 3u);
    EXPECT_EQ(s.entries[0].key, "serial");
    EXPECT_EQ(s.entries[0].value, "0x412");
    EXPECT_EQ(s.entries[0].line, 5);
    EXPECT_EQ(s.entries[1].value, "0x21");
    EXPECT_EQ(s.entries[2].value, "5366;not-a-comment");
}

// Each malformed line names the file, its line (comments and CR LF
// lines counted) and the reason.
TEST(SimIni, MalformedLinesNameFileLineAndReason) {
    const std::pair<const char *, const char *> cases[] = {
        {"[board 1]\r\n; note\r\nserial 1042\r\n", "virtual-board.ini:3: expected 'key = value'"},
        {"[board 1]\n= 5\n", "virtual-board.ini:2: expected 'key = value'"},
        {"\n[board 1\n", "virtual-board.ini:2: expected ']' after the section name"},
        {"[board 1] x\n", "virtual-board.ini:1: unexpected text after ']'"},
        {"[ ]\n", "virtual-board.ini:1: empty section name"},
        {"serial = 1\n", "virtual-board.ini:1: 'serial' stands before any [section]"},
        {"[board 1]\nserial = 1\nSERIAL = 2\n", "virtual-board.ini:3: 'serial' repeats line 2 in [board 1]"},
        {"[board 1]\n[Board  1]\n", "virtual-board.ini:2: section [board 1] already began on line 1"},
        {"[board 1]\n[board 01]\n", "virtual-board.ini:2: board 1 given twice"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(errorOf(c.first), c.second) << c.first;
}

TEST(SimBoardConfig, ReadsEveryKeyOfItsOwnSectionOnly) {
    const char *text = "[board 2]\n"
                       "present = no\nmodel = 0x1234\nversion = 0x0123\nserial = 0x412\n"
                       "pci_bus = 5\npci_device = 17\npci_ctrl_mem = 0xF0000000\n"
                       "pci_ctrl_io = 0xC001\ndevice_io = 0xB001\ndevice_mem = 0xE0000000\n"
                       "irq = 5\nfpga_version = 2.0x10.255\ncpu_mask = 0x21\ncpu_clock = 300\n"
                       "submodules = 2\nx5 = SYNX\nx6 = piox\nid_tag = 0x1111\n"
                       "id_prefix_size = 17\n"
                       "[board 3]\nx5 = 7\n";
    BoardConfig c = boardOf(text, 2);
    EXPECT_FALSE(c.present);
    EXPECT_EQ(c.model, 0x1234u);
    EXPECT_EQ(c.version, 0x0123u);
    EXPECT_EQ(c.serial, 1042u);
    EXPECT_EQ(c.pciBus, 5u);
    EXPECT_EQ(c.pciDevice, 17u);
    EXPECT_EQ(c.pciCtrlMem, 0xF0000000u);
    EXPECT_EQ(c.pciCtrlIo, 0xC001u);
    EXPECT_EQ(c.deviceIo, 0xB001u);
    EXPECT_EQ(c.deviceMem, 0xE0000000u);
    EXPECT_EQ(c.irq, 5u);
    EXPECT_EQ(c.fpgaVersion, 0x0210FF00u);
    EXPECT_EQ(c.cpuMask, 0x21u);
    EXPECT_EQ(c.cpuClockMHz, 300u);
    EXPECT_EQ(c.submodules, 2u);
    EXPECT_EQ(c.x5Type, 1u);
    EXPECT_EQ(c.x6Type, 1u);
    EXPECT_EQ(c.idTag, 0x1111u);
    EXPECT_EQ(c.idPrefixSize, 17u);

    EXPECT_EQ(boardOf(text, 3).x5Type, 7u);
    BoardConfig other = boardOf(text, 1);
    EXPECT_TRUE(other.present);
    EXPECT_EQ(other.serial, BoardConfig().serial);
}

TEST(SimBoardConfig, ReadsTheHostInterfaceAndFaultKeys) {
    // The host interface's switches: DPRAM, interrupts to the host and to
    // the DSPs, the cluster's SDRAM signal, stream capture, stream mode and
    // the stream state's first failing read.
    auto hostInterface = [](const BoardConfig &c) {
        return std::make_tuple(c.dpram, c.interruptsToHost, c.interruptsToDsp, c.csdramSignal, c.streamCapture,
                               c.streamMode, c.streamStateFailFrom);
    };
    BoardConfig healthy = boardOf("[board 1]\n");
    EXPECT_EQ(hostInterface(healthy), std::make_tuple(true, true, true, true, true, 1u, 0u));
    EXPECT_EQ(healthy.csdramCycles, 20000000u);
    EXPECT_TRUE(healthy.stuckBits.empty());
    for (uint32_t chip : healthy.sdramChips)
        EXPECT_EQ(chip, 0x100000u);
    for (uint32_t mbps : healthy.paceMBps)
        EXPECT_EQ(mbps, 0u);

    BoardConfig c = boardOf("[board 1]\ndpram = no\ninterrupts = DEAD\ncsdram_signal = no\n"
                            "stream_capture = refused\nstream_mode = 2\nstream_state_fail_from = 7\n"
                            "p1_sdram_chips = 0x80100000,0x100000 , 0, 4\nsdrcon = 0x4A51\ncsdram_cycles = 2000000\n"
                            "ram_stuck_bit = P1:0x80003:0:1, p7:0x80000-0x80FFF:31:0\n"
                            "host_port_mbps = 60\ndpram_mbps = 40\nfifo_bus_mbps = 100\nfifo_link_mbps = 41\n"
                            "messages_mbps = 80\nstream_mbps = 120\n");
    EXPECT_EQ(hostInterface(c), std::make_tuple(false, false, true, false, false, 2u, 7u));
    EXPECT_EQ(c.sdramChips[0], 0x80100000u);
    EXPECT_EQ(c.sdramChips[1], 0x100000u);
    EXPECT_EQ(c.sdramChips[2], 0u);
    EXPECT_EQ(c.sdramChips[3], 4u);
    EXPECT_EQ(c.sdrcon, 0x4A51u);
    EXPECT_EQ(c.csdramCycles, 2000000u);
    ASSERT_EQ(c.stuckBits.size(), 2u);
    const StuckBit &a = c.stuckBits[0], &b = c.stuckBits[1];
    EXPECT_EQ(a.node, 0);
    EXPECT_EQ(a.first, 0x80003u);
    EXPECT_EQ(a.last, 0x80003u);
    EXPECT_EQ(a.bit, 0u);
    EXPECT_EQ(a.value, 1u);
    EXPECT_EQ(b.node, 6);
    EXPECT_EQ(b.first, 0x80000u);
    EXPECT_EQ(b.last, 0x80FFFu);
    EXPECT_EQ(b.bit, 31u);
    EXPECT_EQ(b.value, 0u);
    const uint32_t pace[kPacePaths] = {60, 40, 100, 41, 80, 120};
    for (int path = 0; path < kPacePaths; ++path)
        EXPECT_EQ(c.paceMBps[path], pace[path]) << path;
}

TEST(SimBoardConfig, RefusesMalformedFaultValues) {
    const std::string stuckWants = "wants P<n>:address[-address]:bit:value, ...";
    for (const char *bad : {"P0:0x10:0:1", "P8:0x10:0:1", "P1:0x10:32:1", "P1:0x10:0:2", "P1:0x20-0x10:0:1",
                            "P1:0x10:0", "1:0x10:0:1", "P1:0x10:0:1,", "P1:0x10:0:1:0"})
        EXPECT_NE(errorOf(std::string("[board 1]\nram_stuck_bit = ") + bad + "\n").find(stuckWants), std::string::npos)
            << bad;
    EXPECT_EQ(errorOf("[board 1]\np1_sdram_chips = 1, 2, 3\n"),
              "virtual-board.ini:2: 'p1_sdram_chips' wants four numbers separated by commas, got '1, 2, 3'");
    EXPECT_EQ(errorOf("[board 1]\nstream_mode = 3\n"), "virtual-board.ini:2: 'stream_mode' wants 1 or 2, got '3'");
    EXPECT_EQ(errorOf("[board 1]\ninterrupts = off\n"),
              "virtual-board.ini:2: 'interrupts' wants ok, dead or to_dsp_dead, got 'off'");
    EXPECT_EQ(errorOf("[board 1]\nstream_capture = no\n"),
              "virtual-board.ini:2: 'stream_capture' wants ok or refused, got 'no'");
    EXPECT_EQ(errorOf("[board 1]\nstream_mbps = 100001\n"),
              "virtual-board.ini:2: 'stream_mbps' wants a number from 0 to 100000, got '100001'");
}

// Only firmware whose host side waits with a limit may hang; the last
// item for a processor and firmware wins.
TEST(SimBoardConfig, SilentFirmwareAndOneWayDeadInterrupts) {
    BoardConfig c = boardOf("[board 1]\ninterrupts = to_dsp_dead\n"
                            "dsp_silent = P1:csdram:1, p3:CFFT:0, P1:linkrelay:0x10\n");
    EXPECT_TRUE(c.interruptsToHost);
    EXPECT_FALSE(c.interruptsToDsp);
    ASSERT_EQ(c.silent.size(), 3u);
    EXPECT_EQ(c.silent[0].node, 0);
    EXPECT_EQ(c.silent[0].firmware, "csdram");
    EXPECT_EQ(c.silent[0].count, 1u);
    EXPECT_EQ(c.silent[1].node, 2);
    EXPECT_EQ(c.silent[1].firmware, "cfft");
    EXPECT_EQ(c.silent[2].count, 16u);
    for (const char *bad : {"P1:drvwrite:3", "P1:sdram:3", "P8:cfft:1", "P1:cfft", "P1:cfft:1:2", "cfft:1", "P1:cfft:x"})
        EXPECT_NE(errorOf(std::string("[board 1]\ndsp_silent = ") + bad + "\n")
                      .find("'dsp_silent' wants P<n>:firmware:count, ... (firmware csdram, pcdspint, dsppcint, "
                            "linkcheck, linkrelay or cfft)"),
                  std::string::npos)
            << bad;
}

// Their good values show in what the board does (sim_sets_test.cpp).
TEST(SimBoardConfig, RefusesMalformedLinkAndFftFaults) {
    for (const char *bad : {"P2:dead", "P2.4:dead", "P0.1:dead", "P2.1:stuck:32:1", "P2.1:stuck:5:2", "P2.1:stuck:5",
                            "P2.1:flip", "P2.1:dead:3", "P2.1:stop", "P2.1:stop:-1", "P2.1:broken", "P2.1:dead,"})
        EXPECT_NE(errorOf(std::string("[board 1]\nlink_fault = ") + bad + "\n").find("'link_fault' wants P<n>.<port>"),
                  std::string::npos)
            << bad;
    EXPECT_EQ(errorOf("[board 1]\nfft_cycles = P4=12000\n"),
              "virtual-board.ini:2: 'fft_cycles' wants cycles or P<n>:cycles, ..., got 'P4=12000'");
    EXPECT_EQ(errorOf("[board 1]\nfft_wrong = P3, 4\n"),
              "virtual-board.ini:2: 'fft_wrong' wants P<n>, ..., got 'P3, 4'");
    EXPECT_EQ(errorOf("[board 1]\nfront_cable = yes\n"),
              "virtual-board.ini:2: 'front_cable' wants plugged or unplugged, got 'yes'");
    EXPECT_EQ(boardOf("[board 1]\nfft_cycles = P4:12000, 9000\n").fftCycles[3], 9000u); // later items win
}

TEST(SimBoardConfig, RefusesBadValuesWithTheKeyAndWhatItWants) {
    EXPECT_EQ(errorOf("[board 1]\n\n\nserial = abc\n"), "virtual-board.ini:4: 'serial' wants a number, got 'abc'");
    EXPECT_EQ(errorOf("[board 1]\nmodel = 0x10000\n"),
              "virtual-board.ini:2: 'model' wants a number from 0 to 65535, got '0x10000'");
    EXPECT_EQ(errorOf("[board 1]\npresent = maybe\n"), "virtual-board.ini:2: 'present' wants yes or no, got 'maybe'");
    EXPECT_EQ(errorOf("[board 1]\nx5 = piox\n"),
              "virtual-board.ini:2: 'x5' wants link, synx or a number from 0 to 255, got 'piox'");
    EXPECT_EQ(errorOf("[board 1]\nfpga_version = 1.4\n"),
              "virtual-board.ini:2: 'fpga_version' wants major.minor.build, each from 0 to "
              "255, got '1.4'");

    for (const char *bad : {"", "-1", "+1", "0x", "12abc", "1 2", "4294967296", "0x1FFFFFFFF"})
        EXPECT_NE(errorOf(std::string("[board 1]\nirq = ") + bad + "\n"), "") << bad;
    for (const char *bad : {"1.4.256", "1..2", "1.4.2.0", ".1.2", "1.4.2."})
        EXPECT_NE(errorOf(std::string("[board 1]\nfpga_version = ") + bad + "\n"), "") << bad;
    EXPECT_EQ(boardOf("[board 1]\nirq = 4294967295\n").irq, 0xFFFFFFFFu);
}

TEST(SimBoardConfig, RefusesUnknownKeysAndSections) {
    EXPECT_EQ(errorOf("[board 1]\ncpu_mak = 1\n"), "virtual-board.ini:2: unknown key 'cpu_mak' in [board 1]");
    EXPECT_EQ(errorOf("[library]\nserial = 1\n"), "virtual-board.ini:2: unknown key 'serial' in [library]");
    EXPECT_EQ(errorOf("[bord 1]\n"), "virtual-board.ini:1: unknown section [bord 1]");
    EXPECT_EQ(errorOf("[board x]\n"), "virtual-board.ini:1: unknown section [board x]");
    // A typo in another board's section still makes the file malformed.
    EXPECT_NE(errorOf("[board 1]\nserial = 1\n[board 2]\nirq = x\n"), "");
}

// The complaint is the first malformed line of the file, whether the line
// is malformed in itself or its key or value is wrong.
TEST(SimBoardConfig, ReportsTheFirstMalformedLineOfTheFile) {
    EXPECT_EQ(errorOf("[board 1]\nirq = x\ncpu_mask\n"), "virtual-board.ini:2: 'irq' wants a number, got 'x'");
    EXPECT_EQ(errorOf("[board 1]\ncpu_mask\nirq = x\n"), "virtual-board.ini:2: expected 'key = value'");
    EXPECT_EQ(errorOf("[board 1]\nirq = x\n[board 2]\ncpu_mask\n"),
              "virtual-board.ini:2: 'irq' wants a number, got 'x'");
}

TEST(SimBoardConfig, LibraryScopeReadsInitAndIgnoresBoardSections) {
    const auto library = BoardFileScope::Library;
    EXPECT_FALSE(fileOf("[library]\ninit = FAIL\n", library).library.initOk);
    EXPECT_TRUE(fileOf("[library]\ninit = ok\n", library).library.initOk);
    EXPECT_EQ(errorOf("[library]\ninit = no\n", library), "virtual-board.ini:2: 'init' wants ok or fail, got 'no'");

    const char *brokenBoard = "[board 1]\ncpu_mask 0x7F\n[bord 2]\n[library]\ninit = fail\n";
    EXPECT_FALSE(fileOf(brokenBoard, library).library.initOk);
    EXPECT_EQ(errorOf(brokenBoard), "virtual-board.ini:2: expected 'key = value'");

    // Lines that belong to no known section concern the library too.
    EXPECT_EQ(errorOf("init = fail\n[library]\n", library), "virtual-board.ini:1: 'init' stands before any [section]");
    EXPECT_EQ(errorOf("[library\ninit = fail\n", library), "virtual-board.ini:1: expected ']' after the section name");
    EXPECT_EQ(errorOf("[library]\n[library]\n", library),
              "virtual-board.ini:2: section [library] already began on line 1");
}

TEST(SimBoardConfig, FileOnDiskMissingOrMalformed) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() /
                   ("sim_board_config_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    fs::path path = dir / "virtual-board.ini";
    BoardFile file;
    std::string error;

    const auto all = BoardFileScope::All;
    fs::remove(path);
    ASSERT_TRUE(readBoardFile(path.string(), all, file, error));
    EXPECT_TRUE(file.boards.empty());
    EXPECT_TRUE(file.library.initOk);

    std::ofstream(path) << "[board 4]\ncpu_clock = 300\n";
    ASSERT_TRUE(readBoardFile(path.string(), all, file, error)) << error;
    EXPECT_EQ(boardConfig(file, 4).cpuClockMHz, 300u);
    EXPECT_EQ(boardConfig(file, 1).cpuClockMHz, 250u);

    std::ofstream(path) << "[board 4]\ncpu_clock\n";
    EXPECT_FALSE(readBoardFile(path.string(), all, file, error));
    EXPECT_EQ(error, path.string() + ":2: expected 'key = value'");
    fs::remove_all(dir);
}

} // namespace
