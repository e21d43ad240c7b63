// stream.cpp - dmaStreamTest: the DMA stream from P1 into host memory.
//
// Only a missing stream program is counted: any other failure shows as a
// message or as a missing or low rate.
#include "checks/host/host_tests.h"

#include "checks/board/dspload.h"
#include "board/qal.h"
#include "platform/platform.h"
#include "run/ending.h"
#include "run/output.h"
#include "run/record.h"
#include "run/runstate.h"

#include <cstdio>

namespace {

constexpr std::int32_t kUnit = 1;
constexpr std::uint32_t kBlocks = 16;
constexpr std::uint32_t kBlockBytes = 0x100000;
constexpr int kAddressSlots = 128;
constexpr int kQueries = 512;
constexpr std::uint32_t kQueryTimeoutMs = 5000;
constexpr std::int32_t kCaptureTimeoutMs = 5000;

// The first three words of the newest block, or zeros when the library
// names a block that was not set up.
void newestBlockWords(const StreamBufferState &state, void *const *addresses, std::uint32_t words[3]) {
    const std::uint32_t *block =
        state.blockIndex < kBlocks ? static_cast<const std::uint32_t *>(addresses[state.blockIndex]) : nullptr;
    for (int i = 0; i < 3; ++i)
        words[i] = block ? block[i] : 0;
}

} // namespace

// No block moved is a rate of 0 however little time passed, never the
// "not a number" of 0 / 0; blocks in no time at all give infinity.
double streamRate(std::uint32_t firstCount, std::uint32_t lastCount, std::uint32_t blockSize, std::uint32_t startMs,
                  std::uint32_t endMs) {
    double blocks = static_cast<double>(lastCount) - static_cast<double>(firstCount);
    if (blocks == 0)
        return 0.0;
    double ms = static_cast<double>(endMs) - static_cast<double>(startMs);
    return blocks * blockSize / 1048576.0 * 1000.0 / ms;
}

int loadStreamProgram() {
    if (loadDspProgram(runState.hBoard, 0, "tst_strm.ldr") < 0) {
        const char *text = "### ОШИБКА: Не могу загрузить файл tst_strm.ldr\n";
        conPrintf("%s", text);
        countError(); // the stream runs on, with nothing to feed it
        recordHostFault("dma", text);
        return -1;
    }
    boardCall(QAL_start, runState.hBoard, 0);
    return 0;
}

int dmaStreamTest(std::int32_t hBoard) {
    report("\n----- ТЕСТ ПОТОКА ДАННЫХ ОТ DSP К PC С ИСПОЛЬЗОВАНИЕМ DMA -----\n");

    void *addresses[kAddressSlots] = {};
    StreamBufferSetup setup{};
    setup.direction = 1;
    setup.channel = 1;
    setup.blockCount = kBlocks;
    setup.blockSize = kBlockBytes;
    setup.blockAddrs = addresses;
    StreamStartArg start{};
    start.cyclic = 1;
    std::int32_t mode = QAL_CAPTURE_EXCLUSIVE;

    ServiceEntry services[10] = {};
    std::int32_t serviceCount = 0;
    boardCall(QAL_serviceList, hBoard, kUnit, services, 0, &serviceCount);
    boardCall(QAL_serviceList, hBoard, kUnit, services, 10, &serviceCount);
    std::int32_t hService = boardCall(QAL_capture, hBoard, kUnit, &mode, services[0].name, kCaptureTimeoutMs);
    if (hService < 0) {
        recordNotTested("stream", "the DMA stream service could not be captured");
        return -1;
    }
    // A refused set-up or start still gives the service back, so that the
    // stream is not left captured by a test that has ended.
    if (boardCall(QAL_ctrl, hService, kUnit, QALctrl_STREAM_CBUF_ALLOC, &setup) < 0) {
        recordNotTested("stream", "the DMA stream's buffer could not be set up");
        boardCall(QAL_release, hService, kUnit);
        return -1;
    }
    const bool observer = mode == QAL_CAPTURE_SHARED;
    if (!observer) {
        loadStreamProgram();
        if (boardCall(QAL_ctrl, hService, kUnit, QALctrl_STREAM_CBUF_START, &start) < 0) {
            recordNotTested("stream", "the DMA stream could not be started");
            boardCall(QAL_ctrl, hService, kUnit, QALctrl_STREAM_CBUF_FREE, &setup);
            boardCall(QAL_release, hService, kUnit);
            return -1;
        }
    }

    std::uint32_t firstCount = 0, lastCount = 0;
    std::uint32_t startMs = platformMillis();
    for (int i = 0; i < kQueries; ++i) {
        StreamBufferState state{};
        state.timeoutMs = kQueryTimeoutMs;
        std::int32_t status = boardCall(QAL_ctrl, hService, kUnit, QALctrl_STREAM_CBUF_STATE, &state);
        if (status < 0) {
            char text[80];
            std::snprintf(text, sizeof text, "QALctrl_STREAM_CBUF_STATE error code %lX",
                          static_cast<unsigned long>(static_cast<std::uint32_t>(status)));
            conPrintf("\n### ERROR:  %s", text);
            recordFinding("stream", text);
            break;
        }
        std::uint32_t words[3];
        newestBlockWords(state, addresses, words);
        conPrintf("\rСостояние: 0x%X, 0x%X, 0x%X [0x%X,0x%X,0x%X]               ", state.blockIndex, state.blockCount,
                  state.state, words[0], words[1], words[2]);
        lastCount = state.blockCount;
        if (i == 0)
            firstCount = lastCount;
        if (platformKeyWaiting() && platformReadKey() == kKeyEscape)
            break;
    }
    conPrintf("\n");
    std::uint32_t endMs = platformMillis();

    if (!observer)
        boardCall(QAL_ctrl, hService, kUnit, QALctrl_STREAM_CBUF_STOP, nullptr);
    double rate = streamRate(firstCount, lastCount, setup.blockSize, startMs, endMs);
    report("Скорость обмена - %f MB/c", rate);
    recordRate("streamRate", rate);
    boardCall(QAL_ctrl, hService, kUnit, QALctrl_STREAM_CBUF_FREE, &setup);
    boardCall(QAL_release, hService, kUnit);
    return 0;
}
