/*
 * firmware.cpp - the firmware table and the context firmware run in.
 */
#include "firmware.h"

#include "channels.h"
#include "links.h"
#include "stream.h"

#include <cstring>

namespace {

// clang-format off
const Firmware kFirmware[] = {
    /* configuration check, fw_config.cpp */
    {"csdram",   csdram,   ""},
    /* exchange with the host, fw_exchange.cpp */
    {"rfifo",    rfifo,    ""},
    {"rfifol",   rfifol,   ""},
    {"wfifo",    wfifo,    ""},
    {"wfifol",   wfifol,   ""},
    {"drvread",  drvread,  ""},
    {"drvwrite", drvwrite, "size"},
    {"echo",     echo,     ""},
    /* interrupts, fw_interrupts.cpp */
    {"pcdspint", pcdspint, ""},
    {"dsppcint", dsppcint, ""},
    /* link ports, fw_links.cpp */
    {"linksend",  linksend,  "port words"},
    {"linkcheck", linkcheck, "port words"},
    {"linkrelay", linkrelay, ""},
    /* processor test, fw_fft.cpp */
    {"cfft",     cfft,     ""},
    /* dynamic memory, fw_sdram.cpp */
    {"sdram",      sdram,      ""},
    {"clast",      clast,      "members"},
    {"clastrelay", clastrelay, "members"},
    /* DMA stream, fw_stream.cpp */
    {"tst_strm", tstStrm,  ""},
};
// clang-format on

} // namespace

const Firmware *findFirmware(const std::string &name) {
    for (const Firmware &fw : kFirmware)
        if (name == fw.name)
            return &fw;
    return nullptr;
}

bool firmwareTakes(const Firmware &fw, const std::string &key) {
    for (const char *p = fw.params; *p;) {
        while (*p == ' ')
            ++p;
        size_t n = std::strcspn(p, " ");
        if (n && key.size() == n && key.compare(0, n, p, n) == 0)
            return true;
        p += n;
    }
    return false;
}

uint32_t silentAllowance(const BoardConfig &cfg, int32_t node, const Firmware &fw) {
    uint32_t allowance = FirmwareContext::kNeverSilent;
    for (const SilentFirmware &s : cfg.silent)
        if (s.node == node && s.firmware == fw.name)
            allowance = s.count;
    return allowance;
}

uint32_t FirmwareContext::param(const char *key, uint32_t fallback) const {
    auto it = params_.find(key);
    return it == params_.end() ? fallback : it->second;
}

bool FirmwareContext::stopped() const { return board_.node[node_].stop; }

bool FirmwareContext::mayTalk() {
    if (allowance_ == kNeverSilent)
        return true;
    if (allowance_ == 0)
        return false;
    --allowance_;
    return true;
}

int32_t FirmwareContext::getMsg(void *buf, uint32_t &size) { return dspGetMsg(board_, node_, buf, size); }

int32_t FirmwareContext::putMsg(const void *buf, uint32_t size) {
    return mayTalk() ? dspPutMsg(board_, node_, buf, size) : kQalStopped;
}

int32_t FirmwareContext::waitSignal(int32_t signal) { return dspWaitSignal(board_, node_, signal); }

int32_t FirmwareContext::raiseSignal(int32_t signal) {
    return mayTalk() ? dspRaiseSignal(board_, node_, signal) : kQalStopped;
}

int32_t FirmwareContext::writeFifo(PacePath via, const void *buf, uint32_t size) {
    return dspWriteFifo(board_, node_, via, buf, size);
}

int32_t FirmwareContext::readFifo(PacePath via, void *buf, uint32_t &size) {
    return dspReadFifo(board_, node_, via, buf, size);
}

int32_t FirmwareContext::produceStream(void (*fill)(uint32_t *, size_t, uint64_t)) {
    return streamProduce(board_, board_.node[node_].fiber.get(), board_.node[node_].stop, fill);
}

int32_t FirmwareContext::linkSend(int32_t port, uint32_t word) { return dspLinkSend(board_, node_, port, word, -1); }

int32_t FirmwareContext::linkReceive(int32_t port, uint32_t &word) {
    return dspLinkReceive(board_, node_, port, word, -1);
}

/* P1's report is a message per word to the host, each counted; another
 * processor's goes to the mailbox whole, as one. */
int32_t FirmwareContext::report(const uint32_t *words, uint32_t count) {
    if (node_ != 0)
        return mayTalk() ? dspReport(board_, node_, words, count) : kQalStopped;
    for (uint32_t i = 0; i < count; ++i) {
        int32_t status = mayTalk() ? dspReport(board_, node_, &words[i], 1) : kQalStopped;
        if (status != kQalOk)
            return status;
    }
    return kQalOk;
}

int32_t FirmwareContext::takeReport(uint32_t *words, uint32_t &count, int32_t from) {
    return dspTakeReport(board_, node_, from, words, count);
}

uint64_t FirmwareContext::cycleCounter() const {
    int64_t ns = paceNow() - board_.opened;
    return uint64_t(ns) * board_.config.cpuClockMHz / 1000;
}
