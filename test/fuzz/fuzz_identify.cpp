// fuzz_identify.cpp - the walk over the identification area and
// identifyBoard's reading of the board's entry, over any area contents.
//
// The input is the area. findIdTag gets it in a heap buffer of exactly
// kIdAreaBufferBytes, zero-padded as identifyBoard pads its own, so a read
// past the buffer is caught. identifyBoard gets it from the board: the
// three board calls it makes are stubbed here, and QAL_puRead hands out the
// input, with erased flash (0xFF) after it, as the virtual board does.
#include "checks/board/identify.h"
#include "board/qal.h"
#include "run/runstate.h"
#include "support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr std::int32_t kHandle = 1;
constexpr int kEntryCpuMask = 20; // the board entry's 16-bit processor mask, header included
constexpr std::uint32_t kBoardType = std::uint32_t(kZorvantikModel) << 16 | 0x0010; // ZORVANTIK v.1.0

const std::uint8_t *gArea = nullptr; // what QAL_puRead hands out
std::size_t gAreaSize = 0;

std::uint16_t read16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// findIdTag's answer must be -1 or an offset below the walk's limit where
// the tag stands.
void checkWalk(const std::uint8_t *area, std::uint16_t tag) {
    int at = findIdTag(area, tag);
    if (at == -1)
        return;
    if (at < 0 || at >= kIdAreaWalkLimit || read16(area + at) != tag)
        std::abort();
}

} // namespace

extern "C" {

int32_t QAL_getInfo(int32_t hBoard, BoardInfo *info) {
    if (hBoard != kHandle || info->size != QAL_BOARD_INFO_SIZE)
        std::abort();
    info->boardType = kBoardType;
    info->serialNumber = 1042;
    info->pciBus = 2;
    info->pciDevice = 9;
    info->pciCtrlMemAddr = 0xFEAFF000;
    info->pciCtrlIoAddr = 0xE001;
    info->devIoAddr = 0xD001;
    info->devMemAddr = 0xFE000000;
    info->irq = 11;
    return 0;
}

uint32_t QAL_peek(int32_t, int32_t, uint32_t) { return 0x01040200; }

// Fills all `size` bytes, so a size larger than the caller's buffer is an
// overflow the address sanitizer sees.
int32_t QAL_puRead(int32_t hBoard, int32_t unit, uint32_t offset, void *buf, uint32_t size) {
    if (hBoard != kHandle || unit != 1)
        std::abort();
    auto *out = static_cast<std::uint8_t *>(buf);
    for (uint32_t i = 0; i < size; ++i)
        out[i] = offset + i < gAreaSize ? gArea[offset + i] : 0xFF;
    return 0;
}

} // extern "C"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    enterScratchStation("identify");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // The walk alone, over as much of the input as the buffer holds.
    std::unique_ptr<std::uint8_t[]> area(new std::uint8_t[kIdAreaBufferBytes]());
    std::memcpy(area.get(), data, std::min<std::size_t>(size, kIdAreaBufferBytes));
    for (std::uint16_t tag : {kZorvantikModel, std::uint16_t(0x0610), std::uint16_t(0x00FF), std::uint16_t(0xFFFF),
                              std::uint16_t(0x0000)})
        checkWalk(area.get(), tag);
    if (size >= 2)
        checkWalk(area.get(), read16(data + size - 2));

    // identifyBoard over the board's first kIdAreaReadBytes bytes.
    gArea = data;
    gAreaSize = size;
    resetRunForBoard1WithoutLogs();
    if (identifyBoard(kHandle) != 0)
        std::abort();

    // It must have read the entry where the walk finds it in what it read.
    std::unique_ptr<std::uint8_t[]> seen(new std::uint8_t[kIdAreaBufferBytes]());
    QAL_puRead(kHandle, 1, 0, seen.get(), kIdAreaReadBytes);
    int entry = findIdTag(seen.get(), kZorvantikModel);
    std::uint32_t mask = entry >= 0 ? read16(seen.get() + entry + kEntryCpuMask) : 0;
    if (runState.cpuMask != mask)
        std::abort();
    forgetRecord();
    return 0;
}
