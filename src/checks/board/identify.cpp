// identify.cpp - identifyBoard and the walk over the identification area.
#include "checks/board/identify.h"

#include "board/processors.h"
#include "board/qal.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

#include <cstdio>

namespace {

constexpr std::uint32_t kHostFpgaVersionAddress = 0x80000010; // on P1's bus
constexpr std::uint16_t kTagPrefixedEntry = 0x0610;           // entry with a quirky size
constexpr std::uint16_t kPrefixedEntryRegularSize = 18;

// Offsets inside the board's own entry, header included.
constexpr int kEntrySubmodules = 4;
constexpr int kEntryClock = 5;    // 16-bit, not aligned
constexpr int kEntryCpuMask = 20; // 16-bit
constexpr int kEntryX5 = 24;
constexpr int kEntryX6 = 25;

constexpr std::uint32_t kAllCpus = 0x7F; // P1..P7; other mask bits stand for no processor

std::uint16_t read16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

long asLong(std::uint32_t v) { return static_cast<long>(static_cast<std::int32_t>(v)); }

unsigned long asHex(std::uint32_t v) { return static_cast<unsigned long>(v); }

void printPresenceTable() {
    // The console gets the whole table first, then each log.
    char table[64];
    int length = 0;
    for (int i = 0; i < kCpuCount; ++i)
        length += std::snprintf(table + length, sizeof table - static_cast<std::size_t>(length), "%s",
                                (runState.cpuMask >> i) & 1 ? "XX\t" : "--\t");
    report("\nНаличие процессоров:");
    report("\nP1\tP2\tP3\tP4\tP5\tP6\tP7\n");
    report("%s", table);
}

} // namespace

std::string boardTitle(std::uint32_t boardType) {
    char version[16];
    std::snprintf(version, sizeof version, "v.%1X.%1X", static_cast<unsigned>((boardType >> 4) & 0xFFF),
                  static_cast<unsigned>(boardType & 0xF));
    return std::string("Модуль ZORVANTIK ") + version;
}

// The entries are packed one after the other: tag, data size, data. An
// entry 0x0610 whose size is not 18 carries one data byte more than its
// size says. Offsets are 16-bit, as the board's own reader has them, so a
// size near 0xFFFF wraps: one that wraps to a later offset (0xFFFD..0xFFFF
// from offset 0) steps on by a few bytes and the walk goes on; one that
// wraps back to the same or an earlier offset ends the walk, which would
// otherwise go round in a circle for ever. It also ends at offset 256.
int findIdTag(const std::uint8_t *area, std::uint16_t tag) {
    std::uint16_t offset = 0;
    if (read16(area) == tag)
        return 0;
    for (;;) {
        std::uint16_t size = read16(area + offset + 2);
        if (read16(area + offset) == kTagPrefixedEntry && size != kPrefixedEntryRegularSize)
            size = static_cast<std::uint16_t>(size + 1);
        std::uint16_t next = static_cast<std::uint16_t>(offset + size + 4);
        if (next >= kIdAreaWalkLimit || next <= offset)
            return -1;
        offset = next;
        if (read16(area + offset) == tag)
            return offset;
    }
}

int identifyBoard(std::int32_t handle) {
    BoardInfo info{};
    info.size = QAL_BOARD_INFO_SIZE;
    boardCall(QAL_getInfo, handle, &info);
    if ((info.boardType >> 16) != kZorvantikModel)
        return kNotThisBoard;

    std::string title = boardTitle(info.boardType);
    std::uint32_t fpga = boardCall(QAL_peek, handle, 0, kHostFpgaVersionAddress);

    report("\n------------------------------------------------------------");
    reportScreen("\n       Т Е С Т   М О Д У Л Я   %s  ", title.c_str());
    logProtocol("\n*      ПРОТОКОЛ ИСПЫТАНИЙ МОДУЛЯ %s  ", title.c_str());
    report("\n             Серийный номер - %05ld      ", asLong(info.serialNumber));
    report("\n             Версия ПЛИС HOST - %ld.%ld.%ld      ", long(fpga >> 24), long((fpga >> 16) & 0xFF),
           long((fpga >> 8) & 0xFF));
    reportScreen("\n------------------------------------------------------------");
    reportScreen("\nШина = %ld, Устройство = %ld", asLong(info.pciBus), asLong(info.pciDevice));
    reportScreen("\nАдреса контpоллеpа PCI: память = 0x%08lX, в/в = 0x%08lX", asHex(info.pciCtrlMemAddr),
                 asHex(info.pciCtrlIoAddr & 0xFFFE));
    reportScreen("\nАдреса устpойства     : память = 0x%08lX, в/в = 0x%08lX", asHex(info.devMemAddr),
                 asHex(info.devIoAddr & 0xFFFE));
    reportScreen("\nНомер прерывания = %d", static_cast<int>(info.irq));
    report("\n------------------------------------------------------------");

    // A board without its own entry shows as one with no processors found,
    // and is then an error of its own: nothing on it would be tested.
    std::uint8_t area[kIdAreaBufferBytes] = {};
    boardCall(QAL_puRead, handle, 1, 0, area, kIdAreaReadBytes);
    int entry = findIdTag(area, kZorvantikModel);
    if (entry >= 0) {
        const std::uint8_t *e = area + entry;
        if (e[kEntrySubmodules] >= 1)
            runState.qdx1Present = 1;
        if (e[kEntrySubmodules] == 2)
            runState.qdx2Present = 1;
        runState.cpuFreqMHz = read16(e + kEntryClock);
        runState.cpuMask = read16(e + kEntryCpuMask);
        runState.x5Type = e[kEntryX5];
        runState.x6Type = e[kEntryX6];
    }
    recordBoard(info, fpga, title, entry >= 0);

    long processors = 0;
    for (int i = 0; i < 16; ++i)
        processors += (runState.cpuMask >> i) & 1;
    report("\n\tВсего процессоров = %ld, ", processors);
    report("Частота процессоров = %ld MHz", asLong(runState.cpuFreqMHz));

    printPresenceTable();
    report("\nНаличие интерфейсов QDX:");
    if (runState.qdx1Present)
        report("   QDX1");
    if (runState.qdx2Present)
        report("   QDX2");
    report("\nТип разъема X5:");
    report(runState.x5Type == 0 ? "   LINK" : "   SYNX");
    report("\nТип разъема X6:");
    report(runState.x6Type == 0 ? "   LINK" : "   PIOX");
    logScreen("\n");
    logProtocol("\n");
    conPrintf("\n");

    if (entry < 0) {
        report("\n### ОШИБКА: Нет описания модуля в области идентификации.");
        countError();
    } else if ((runState.cpuMask & kAllCpus) == 0) {
        report("\n### ОШИБКА: Не обнаружено ни одного процессора.");
        countError();
    }
    return 0;
}
