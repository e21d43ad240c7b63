// Board identification: the walk over the identification area, the board
// title, and the description printed for the board the library reports.
#include "checks/board/identify.h"
#include "board/qal.h"
#include "run/runstate.h"
#include "support/station.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// An identification area under construction, with the buffer's slack.
struct Area {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kIdAreaBufferBytes, 0);
    int end = 0;

    Area &entry(std::uint16_t tag, std::uint16_t size, int dataBytes = -1) {
        bytes[end] = tag & 0xFF;
        bytes[end + 1] = tag >> 8;
        bytes[end + 2] = size & 0xFF;
        bytes[end + 3] = size >> 8;
        end += 4 + (dataBytes < 0 ? size : dataBytes);
        return *this;
    }
    int find(std::uint16_t tag) const { return findIdTag(bytes.data(), tag); }
};

TEST(IdAreaWalk, FirstEntryIsFoundAtZero) { EXPECT_EQ(Area().entry(0x5366, 22).find(0x5366), 0); }

TEST(IdAreaWalk, EntriesArePassedBySize) {
    EXPECT_EQ(Area().entry(0x1111, 10).entry(0x2222, 0).entry(0x5366, 22).find(0x5366), 18);
    EXPECT_EQ(Area().entry(0x1111, 10).entry(0x2222, 0).entry(0x5366, 22).find(0x2222), 14);
}

TEST(IdAreaWalk, Entry0610WithSizeOtherThan18CarriesOneByteMore) {
    EXPECT_EQ(Area().entry(0x0610, 18).entry(0x5366, 22).find(0x5366), 22);
    EXPECT_EQ(Area().entry(0x0610, 17, 18).entry(0x5366, 22).find(0x5366), 22);
    EXPECT_EQ(Area().entry(0x0610, 19, 20).entry(0x5366, 22).find(0x5366), 24);
    // Other tags get no extra byte.
    EXPECT_EQ(Area().entry(0x0611, 17).entry(0x5366, 22).find(0x5366), 21);
}

TEST(IdAreaWalk, MissingTagGivesMinusOne) { EXPECT_EQ(Area().entry(0x0610, 18).entry(0x00FF, 0).find(0x5366), -1); }

TEST(IdAreaWalk, TagsAreLookedForBelowOffset256Only) {
    Area area;
    for (int i = 0; i < 7; ++i)
        area.entry(0x1111, 32); // entries at 0, 36, ..., 216; next at 252
    area.entry(0x5366, 0);
    EXPECT_EQ(area.find(0x5366), 252);

    Area beyond;
    for (int i = 0; i < 8; ++i)
        beyond.entry(0x1111, 28); // next at 256
    beyond.entry(0x5366, 0);
    EXPECT_EQ(beyond.find(0x5366), -1);
}

TEST(IdAreaWalk, SizeThatWrapsTheOffsetEndsTheWalk) {
    // 0xFFFC + 4 brings the 16-bit offset back to where it was.
    Area area;
    area.entry(0x1111, 0xFFFC, 0);
    EXPECT_EQ(area.find(0x5366), -1);
    // From a later entry a wrap leads backwards.
    Area later;
    later.entry(0x1111, 4).entry(0x2222, 0xFFF8, 0); // 8 + 0xFFF8 + 4 wraps to 4
    EXPECT_EQ(later.find(0x5366), -1);
    // And a 0x0610 entry of size 0xFFFF wraps to 0 + 4: still forward.
    Area quirk;
    quirk.entry(0x0610, 0xFFFF, 0).entry(0x5366, 22);
    EXPECT_EQ(quirk.find(0x5366), 4);
}

TEST(BoardTitle, VersionIsMajorAndMinorInHex) {
    EXPECT_EQ(boardTitle(0x53660010), toCp1251("Модуль ZORVANTIK v.1.0"));
    EXPECT_EQ(boardTitle(0x53660123), toCp1251("Модуль ZORVANTIK v.12.3"));
    EXPECT_EQ(boardTitle(0x5366FFFF), toCp1251("Модуль ZORVANTIK v.FFF.F"));
    EXPECT_EQ(boardTitle(0x53660000), toCp1251("Модуль ZORVANTIK v.0.0"));
}

// identifyBoard against the virtual board described by `board`.
class Identify : public ::testing::Test {
protected:
    void SetUp() override { freshRunState(); }
    void TearDown() override { resetRunState(); }

    int identify(const std::string &board) {
        station_.write("virtual-board.ini", "[board 1]\n" + board);
        ScopedDir in(station_.path());
        std::int32_t handle = QAL_open(1, 0, 0);
        EXPECT_GT(handle, 0);
        ::testing::internal::CaptureStdout();
        int rc = identifyBoard(handle);
        console_ = ::testing::internal::GetCapturedStdout();
        QAL_close(handle);
        return rc;
    }
    std::string screen() const { return station_.read("screen1.log"); }
    std::string protocol() const { return station_.read("protoc1.log"); }

    TempStation station_{false};
    std::string console_;
};

TEST_F(Identify, OtherModelIsRefusedSilently) {
    EXPECT_EQ(identify("model = 0x5367\n"), kNotThisBoard);
    EXPECT_EQ(identify("model = 0x1234\nversion = 0x5366\n"), kNotThisBoard);
    EXPECT_EQ(console_, "");
    EXPECT_FALSE(station_.exists("screen1.log"));
    EXPECT_FALSE(station_.exists("protoc1.log"));
    EXPECT_EQ(runState.cpuMask, 0u);
}

TEST_F(Identify, AnyVersionOfTheModelIsAccepted) {
    EXPECT_EQ(identify("version = 0xFFFF\n"), 0);
    EXPECT_NE(screen().find(toCp1251("Модуль ZORVANTIK v.FFF.F  ")), std::string::npos);
}

TEST_F(Identify, DescriptionFieldsAreFormatted) {
    ASSERT_EQ(identify("version = 0x0123\nserial = 42\nfpga_version = 3.10.255\npci_bus = 4\npci_device = 17\n"
                       "pci_ctrl_mem = 0xFEAFF000\npci_ctrl_io = 0xE0F1\n"
                       "device_mem = 0xFE000000\ndevice_io = 0xFFFFFFFF\nirq = 5\n"),
              0);
    std::string head = "\n------------------------------------------------------------"
                       "\n       Т Е С Т   М О Д У Л Я   Модуль ZORVANTIK v.12.3  "
                       "\n             Серийный номер - 00042      "
                       "\n             Версия ПЛИС HOST - 3.10.255      "
                       "\n------------------------------------------------------------"
                       "\nШина = 4, Устройство = 17"
                       "\nАдреса контpоллеpа PCI: память = 0xFEAFF000, в/в = 0x0000E0F0"
                       "\nАдреса устpойства     : память = 0xFE000000, в/в = 0x0000FFFE"
                       "\nНомер прерывания = 5"
                       "\n------------------------------------------------------------";
    EXPECT_EQ(console_.substr(0, toCp866(head).size()), toCp866(head));
    EXPECT_EQ(screen().substr(0, asLog(head).size()), asLog(head));
    std::string protocolHead = "\n------------------------------------------------------------"
                               "\n*      ПРОТОКОЛ ИСПЫТАНИЙ МОДУЛЯ Модуль ZORVANTIK v.12.3  "
                               "\n             Серийный номер - 00042      "
                               "\n             Версия ПЛИС HOST - 3.10.255      "
                               "\n------------------------------------------------------------";
    EXPECT_EQ(protocol().substr(0, asLog(protocolHead).size()), asLog(protocolHead));
}

TEST_F(Identify, SerialNumberKeepsAllItsDigits) {
    ASSERT_EQ(identify("serial = 1234567\n"), 0);
    EXPECT_NE(protocol().find(toCp1251("Серийный номер - 1234567      ")), std::string::npos);
}

std::string tail(const char *count, const char *clock, const char *marks, const char *qdx, const char *x5,
                 const char *x6) {
    return std::string("\n\tВсего процессоров = ") + count + ", Частота процессоров = " + clock + " MHz" +
           "\nНаличие процессоров:\nP1\tP2\tP3\tP4\tP5\tP6\tP7\n" + marks + "\nНаличие интерфейсов QDX:" + qdx +
           "\nТип разъема X5:" + x5 + "\nТип разъема X6:" + x6 + "\n";
}

TEST_F(Identify, FullBoardFindings) {
    ASSERT_EQ(identify("cpu_mask = 0x7F\ncpu_clock = 300\nsubmodules = 2\nx5 = synx\nx6 = piox\n"), 0);
    std::string expected = tail("7", "300", "XX\tXX\tXX\tXX\tXX\tXX\tXX\t", "   QDX1   QDX2", "   SYNX", "   PIOX");
    EXPECT_TRUE(endsWith(console_, toCp866(expected))) << fromCodePage(console_, "CP866");
    EXPECT_TRUE(endsWith(screen(), asLog(expected)));
    EXPECT_TRUE(endsWith(protocol(), asLog(expected)));
    EXPECT_EQ(runState.cpuMask, 0x7Fu);
    EXPECT_EQ(runState.cpuFreqMHz, 300u);
    EXPECT_EQ(runState.qdx1Present, 1);
    EXPECT_EQ(runState.qdx2Present, 1);
    EXPECT_NE(runState.x5Type, 0);
    EXPECT_NE(runState.x6Type, 0);
}

TEST_F(Identify, PartialBoardFindings) {
    ASSERT_EQ(identify("cpu_mask = 0x21\nsubmodules = 3\n"), 0);
    std::string expected = tail("2", "250", "XX\t--\t--\t--\t--\tXX\t--\t", "   QDX1", "   LINK", "   LINK");
    EXPECT_TRUE(endsWith(protocol(), asLog(expected))) << fromCodePage(protocol(), "CP1251");
    EXPECT_EQ(runState.qdx1Present, 1);
    EXPECT_EQ(runState.qdx2Present, 0);
}

TEST_F(Identify, SubmoduleCodeZeroPrintsTheHeadingAlone) {
    ASSERT_EQ(identify("submodules = 0\n"), 0);
    EXPECT_NE(screen().find(asLog("\nНаличие интерфейсов QDX:\nТип разъема X5:")), std::string::npos);
}

TEST_F(Identify, EntryBehindAnOddSized0610EntryIsFound) {
    ASSERT_EQ(identify("id_prefix_size = 17\ncpu_mask = 0x03\n"), 0);
    EXPECT_EQ(runState.cpuMask, 0x03u);
}

// A board whose area does not say what it carries is described as usual,
// then stands out as one error: nothing on it would be tested.
TEST_F(Identify, BoardWithoutItsEntryIsDescribedThenCountedAsAnError) {
    ASSERT_EQ(identify("id_tag = 0x1234\ncpu_mask = 0x7F\nsubmodules = 2\nx5 = synx\n"), 0);
    std::string expected = tail("0", "0", "--\t--\t--\t--\t--\t--\t--\t", "", "   LINK", "   LINK") +
                           "\n### ОШИБКА: Нет описания модуля в области идентификации.";
    EXPECT_TRUE(endsWith(console_, toCp866(expected))) << fromCodePage(console_, "CP866");
    EXPECT_TRUE(endsWith(screen(), asLog(expected)));
    EXPECT_TRUE(endsWith(protocol(), asLog(expected))) << fromCodePage(protocol(), "CP1251");
    EXPECT_EQ(runState.cpuMask, 0u);
    EXPECT_EQ(runState.cpuFreqMHz, 0u);
    EXPECT_EQ(runState.errorCount, 1);
}

TEST_F(Identify, EntryWithoutAnyOfTheSevenProcessorsIsAnError) {
    const std::string noProcessor = "\n### ОШИБКА: Не обнаружено ни одного процессора.";
    ASSERT_EQ(identify("cpu_mask = 0\n"), 0);
    EXPECT_TRUE(endsWith(protocol(), asLog(tail("0", "250", "--\t--\t--\t--\t--\t--\t--\t", "", "   LINK",
                                                "   LINK") +
                                           noProcessor)))
        << fromCodePage(protocol(), "CP1251");
    EXPECT_EQ(runState.errorCount, 1);
    // Mask bits above P7 are counted in the description but are no processor.
    ASSERT_EQ(identify("cpu_mask = 0x180\n"), 0);
    EXPECT_TRUE(endsWith(screen(), asLog("\n\tВсего процессоров = 2, Частота процессоров = 250 MHz"
                                         "\nНаличие процессоров:\nP1\tP2\tP3\tP4\tP5\tP6\tP7\n"
                                         "--\t--\t--\t--\t--\t--\t--\t\nНаличие интерфейсов QDX:"
                                         "\nТип разъема X5:   LINK\nТип разъема X6:   LINK\n" +
                                         noProcessor)));
    EXPECT_EQ(runState.errorCount, 2);
    // One processor is enough.
    ASSERT_EQ(identify("cpu_mask = 0x40\n"), 0);
    EXPECT_TRUE(endsWith(protocol(), asLog("\nТип разъема X6:   LINK\n")));
    EXPECT_EQ(runState.errorCount, 2);
}

} // namespace
