// links.cpp - internalLinksTest, externalLinksTest and what they share.
//
// A DSP program set on the pair's processors sends test words over the
// link; P1 reports one status word per check. Per-pair lines go to the
// console and the screen log; the protocol log gets the header and the
// verdict with the total.
#include "checks/links/links.h"

#include "board/qal.h"
#include "platform/platform.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

namespace {

constexpr std::int32_t kStatusTimeoutMs = 1000;
// The two words after an error word follow it at once on the board; a
// program that sends the error word and then no values has hung.
constexpr std::int32_t kErrorValuesTimeoutMs = 5000;
constexpr int kInternalWords = 100;
constexpr int kExternalWords = 1000;

struct LinkPair {
    const char *label;     // printed before the pair's result
    const char *file;      // the pair's program set
    std::uint32_t mask;    // processors looked at
    std::uint32_t present; // the pair runs when (cpuMask & mask) == present
    LinkEnds ends;         // as the label names them
};

// In order. The last two serve boards without P2 or P3: P1's link runs
// against P6 or P7 with the programs of the first two pairs.
const LinkPair kLinkPairs[] = {
    {"\nПpоцессоp P1 линк 1 <---> Пpоцессоp P2 линк 0: ", "p1l1p2l0.tsx", 0x03, 0x03, {0, 1, 1, 0}},
    {"\nПpоцессоp P1 линк 2 <---> Пpоцессоp P3 линк 0: ", "p1l2p3l0.tsx", 0x05, 0x05, {0, 2, 2, 0}},
    {"\nПpоцессоp P2 линк 2 <---> Пpоцессоp P3 линк 2: ", "p2l2p3l2.tsx", 0x07, 0x07, {1, 2, 2, 2}},
    {"\nПpоцессоp P2 линк 3 <---> Пpоцессоp P4 линк 0: ", "p2l3p4l0.tsx", 0x0B, 0x0B, {1, 3, 3, 0}},
    {"\nПpоцессоp P2 линк 1 <---> Пpоцессоp P6 линк 0: ", "p2l1p6l0.tsx", 0x23, 0x23, {1, 1, 5, 0}},
    {"\nПpоцессоp P4 линк 1 <---> Пpоцессоp P6 линк 2: ", "p4l1p6l2.tsx", 0x2B, 0x2B, {3, 1, 5, 2}},
    {"\nПpоцессоp P3 линк 3 <---> Пpоцессоp P5 линк 0: ", "p3l3p5l0.tsx", 0x15, 0x15, {2, 3, 4, 0}},
    {"\nПpоцессоp P3 линк 1 <---> Пpоцессоp P7 линк 0: ", "p3l1p7l0.tsx", 0x45, 0x45, {2, 1, 6, 0}},
    {"\nПpоцессоp P5 линк 1 <---> Пpоцессоp P7 линк 2: ", "p5l1p7l2.tsx", 0x55, 0x55, {4, 1, 6, 2}},
    {"\nПpоцессоp P1 линк 1 <---> Пpоцессоp P6 линк 0: ", "p1l1p2l0.tsx", 0x23, 0x21, {0, 1, 5, 0}},
    {"\nПpоцессоp P1 линк 2 <---> Пpоцессоp P7 линк 0: ", "p1l2p3l0.tsx", 0x45, 0x41, {0, 2, 6, 0}},
};

// The front-panel pair, joined by the operator's cable.
constexpr LinkEnds kFrontPanel = {5, 1, 6, 1};

// A fault of the pair that gave no words, for the record.
void recordSilentPair(const LinkEnds &ends, const char *text) {
    recordLinkFault(ends.fromCpu, ends.fromLink, ends.toCpu, ends.toLink, false, 0, 0, text);
}

// After the directory is restored: a failed load is reported and counted;
// a loaded set is started on every processor.
bool startLinkSet(std::int32_t hBoard, std::int32_t loadResult, const LinkEnds &ends) {
    if (loadResult < 0) {
        const char *text = "\n### ОШИБКА: Не могу загрузить тестовую программу";
        reportScreen("%s", text);
        countError();
        recordSilentPair(ends, text);
        return false;
    }
    boardCall(QAL_start, hBoard, -1);
    return true;
}

std::uint32_t getStatusWord(std::int32_t hBoard, std::uint32_t *size, std::int32_t timeoutMs) {
    std::uint32_t word = 0;
    boardCall(QAL_getMsg, hBoard, 0, &word, size, timeoutMs);
    return word;
}

} // namespace

void changeDirOrPause(const std::string &path) {
    if (platformChangeDir(path))
        return;
    conPrintf("\n###ERROR CHANGE DIR");
    platformReadKey();
}

// A status word that does not come ends the row as one fault. So do the
// two values after an error word; the processors, which hung in the
// middle of a report, are then stopped so that the next row starts clean.
long readLinkStatus(std::int32_t hBoard, int words, const LinkEnds &ends) {
    long faults = 0;
    auto noAnswer = [&] {
        const char *text = "\n### ОШИБКА: Нет ответа от программы";
        reportScreen("%s", text);
        countError();
        recordSilentPair(ends, text);
        return faults + 1;
    };
    for (int i = 0; i < words; ++i) {
        std::uint32_t size = 4;
        std::uint32_t word = getStatusWord(hBoard, &size, kStatusTimeoutMs);
        if (size == 0)
            return noAnswer();
        if (word != kLinkErrorWord)
            continue;
        size = 4;
        std::uint32_t written = getStatusWord(hBoard, &size, kErrorValuesTimeoutMs);
        std::uint32_t read = size == 0 ? 0 : getStatusWord(hBoard, &size, kErrorValuesTimeoutMs);
        if (size == 0) {
            boardCall(QAL_reset, hBoard, -1);
            return noAnswer();
        }
        reportScreen("\n### ОШИБКА: записано %08lX != прочитано %08lX", static_cast<unsigned long>(written),
                     static_cast<unsigned long>(read));
        countError();
        recordLinkFault(ends.fromCpu, ends.fromLink, ends.toCpu, ends.toLink, true, written, read, "");
        ++faults;
    }
    return faults;
}

int internalLinksTest(std::int32_t hBoard) {
    std::string station = platformCurrentDir();
    report("\n -----   TЕСТ ВНУТРЕННИХ ЛИНКОВ ----- ");
    long faults = 0;
    int pairs = 0;
    for (const LinkPair &pair : kLinkPairs) {
        if ((runState.cpuMask & pair.mask) != pair.present)
            continue;
        ++pairs;
        long before = faults;
        reportScreen("%s", pair.label);
        changeDirOrPause(platformDspProgramDir());
        std::int32_t result = boardCall(QAL_load, hBoard, 0, pair.file, 0, nullptr);
        changeDirOrPause(station);
        if (startLinkSet(hBoard, result, pair.ends))
            faults += readLinkStatus(hBoard, kInternalWords, pair.ends);
        else
            ++faults;
        if (faults == before)
            reportScreen(" Ошибок нет.");
    }
    if (pairs == 0)
        recordNotApplicable("no pair of present processors joined by a link");
    if (faults == 0)
        report("\n TЕСТ ВНУТРЕННИХ ЛИНКОВ ЗАВЕРШЕН УСПЕШНО ");
    else
        report("\n TЕСТ ВНУТРЕННИХ ЛИНКОВ ЗАВЕРШЕН C ОШИБКАМИ: %ld ОШИБОК ", faults);
    return 0;
}

int externalLinksTest(std::int32_t hBoard) {
    if (runState.x5Type != 0 || runState.x6Type != 0) {
        const char *text = "\n -----   ВНЕШНИЕ РАЗЪЕМЫ - НЕ LINK ----- ";
        report("%s", text);
        recordNotApplicable(text);
        return 0;
    }
    std::string station = platformCurrentDir();
    report("\n -----   TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ----- ");
    conPrintf("\nСоедините кабелем P6 линк 1 и P7 линк 1");
    conPrintf("\nи нажмите любую клавишу . . .");
    platformReadKey();
    reportScreen("\nP6 линк 1 <---> P7 линк 1: ");

    changeDirOrPause(platformDspProgramDir());
    const char *file = nullptr;
    switch (runState.cpuMask & 0x67) {
    case 0x67:
        file = "p6l1p7l1.tsx";
        break;
    case 0x61:
        file = "p6l1p7l1_c.tsx"; // P2 and P3 absent
        break;
    default:
        changeDirOrPause(station);
        const char *text = "\n -----   НЕТ НУЖНЫХ МЕЖПРОЦЕССОРНЫХ СВЯЗЕЙ ----- ";
        report("%s", text);
        recordNotApplicable(text);
        return 0;
    }
    std::int32_t result = boardCall(QAL_load, hBoard, 0, file, 0, nullptr);
    changeDirOrPause(station);
    long faults = startLinkSet(hBoard, result, kFrontPanel) ? readLinkStatus(hBoard, kExternalWords, kFrontPanel) : 1;
    if (faults == 0) {
        reportScreen(" Ошибок нет.");
        report("\n TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ЗАВЕРШЕН УСПЕШНО ");
    } else {
        report("\n TЕСТ ВНЕШНИХ ЛИНКОВ НА ФРОНТ-ПАНЕЛИ ЗАВЕРШЕН C ОШИБКАМИ: %ld ОШИБОК ", faults);
    }
    return 0;
}
