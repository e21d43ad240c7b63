/*
 * virtual_board.cpp - the simulated hardware behind the host port.
 */
#include "virtual_board.h"

#include "scheduler.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace {

/* The run of words from `a` that lies in one bank, or in one hole between
 * banks (bank -1). Addresses are 64-bit so a block never wraps past 2^32. */
struct Run {
    int bank;
    uint64_t words;
};

Run runAt(uint64_t a, uint64_t end) {
    uint64_t next = end;
    for (int i = 0; i < kBanks; ++i) {
        uint64_t lo = kBankBase[i], hi = lo + kBankWords;
        if (a >= lo && a < hi)
            return {i, std::min(end, hi) - a};
        if (lo > a)
            next = std::min(next, lo);
    }
    return {-1, next - a};
}

uint32_t *bankAt(Processor &p, int bank, uint64_t address) {
    std::vector<uint32_t> &words = p.bank[bank];
    if (words.empty())
        words.assign(kBankWords, 0);
    return words.data() + (address - kBankBase[bank]);
}

/* A stuck bit shows in every read of its words, whatever was written:
 * the cell cannot hold the other value. `out` holds the words read from
 * `address` on. */
void applyStuckBits(const VirtualBoard &b, int32_t node, uint64_t address, uint64_t words, uint8_t *out) {
    for (const StuckBit &s : b.config.stuckBits) {
        if (s.node != node || s.last < address || s.first >= address + words)
            continue;
        uint64_t from = std::max<uint64_t>(s.first, address), to = std::min<uint64_t>(s.last, address + words - 1);
        for (uint64_t a = from; a <= to; ++a) {
            uint8_t *byte = out + (a - address) * 4 + s.bit / 8; /* words are little-endian */
            uint8_t mask = uint8_t(1u << s.bit % 8);
            *byte = s.value ? uint8_t(*byte | mask) : uint8_t(*byte & ~mask);
        }
    }
}

/* Moves `words` words between processor memory and the host: into `toHost`
 * or out of `fromHost`, whichever is given. Run by run, so a block that
 * strays out of a bank still moves its mapped part. */
int32_t transfer(VirtualBoard &b, int32_t node, uint32_t address, uint32_t words, uint8_t *toHost,
                 const uint8_t *fromHost) {
    int32_t status = checkNode(b, node);
    if (status != kQalOk)
        return status;
    std::unique_lock<std::mutex> guard(b.lock);
    if (b.closing)
        return kQalBadHandle;

    Processor &p = b.cpu[node];
    size_t done = 0;
    for (uint64_t a = address, end = a + words; a < end;) {
        Run run = runAt(a, end);
        size_t bytes = size_t(run.words) * 4;
        if (run.bank < 0) {
            if (toHost)
                std::memset(toHost + done, 0xFF, bytes);
            status = kQalUnmapped;
        } else if (uint32_t ignored = b.config.ramAddressFault[node]) {
            // An address line that is not decoded: word by word, each to
            // the cell its offset reaches without that line.
            uint32_t *bank = bankAt(p, run.bank, kBankBase[run.bank]);
            for (uint64_t i = 0; i < run.words; ++i) {
                uint32_t *cell = bank + ((a + i - kBankBase[run.bank]) & ~uint64_t(ignored));
                if (toHost)
                    std::memcpy(toHost + done + i * 4, cell, 4);
                else
                    std::memcpy(cell, fromHost + done + i * 4, 4);
            }
        } else if (toHost) {
            std::memcpy(toHost + done, bankAt(p, run.bank, a), bytes);
        } else {
            std::memcpy(bankAt(p, run.bank, a), fromHost + done, bytes);
        }
        done += bytes;
        a += run.words;
    }
    if (toHost)
        applyStuckBits(b, node, address, words, toHost);
    guard.unlock();
    paceHost(b.pace[kPaceHostPort], uint64_t(words) * 4);
    return status;
}

/* The status register reads the board's status; writes to it vanish. */
uint8_t statusByte(uint64_t offset) { return uint8_t(kDpramStatus >> 8 * (offset - kDpramStatusOffset)); }

/* Into `toHost` or out of `fromHost`. The DPRAM sits between the host and
 * P1, so node 0 is its only node. Bytes beyond the DPRAM, or all of them
 * on a board without one, read 0xFF and fail the call. A write may land
 * in the status register's cell: nothing reads that cell. */
int32_t dpramTransfer(VirtualBoard &b, int32_t node, uint32_t offset, uint8_t *toHost, const uint8_t *fromHost,
                      uint32_t size) {
    uint64_t end = uint64_t(offset) + size;
    uint64_t mappedEnd = b.config.dpram ? std::max<uint64_t>(offset, std::min<uint64_t>(end, kDpramBytes)) : offset;
    std::size_t n = node == 0 ? std::size_t(mappedEnd - offset) : 0; /* the bytes that answer */
    if (toHost && n < size)
        std::memset(toHost + n, 0xFF, size - n);
    if (node != 0)
        return kQalNoCpu;
    if (b.closed.load(std::memory_order_acquire)) {
        if (toHost)
            std::memset(toHost, 0xFF, n);
        return kQalBadHandle;
    }
    while (b.dpramBusy.test_and_set(std::memory_order_acquire))
        std::this_thread::yield();
    int32_t status = mappedEnd < end ? kQalUnmapped : kQalOk;
    if (n) {
        if (toHost) {
            std::memcpy(toHost, b.dpram + offset, n);
            if (offset < kDpramStatusOffset + 4 && mappedEnd > kDpramStatusOffset)
                for (uint64_t at = kDpramStatusOffset; at < kDpramStatusOffset + 4; ++at)
                    if (at >= offset && at < mappedEnd)
                        toHost[at - offset] = statusByte(at);
        } else {
            std::memcpy(b.dpram + offset, fromHost, n);
        }
    }
    b.dpramBusy.clear(std::memory_order_release);
    paceHost(b.pace[kPaceDpram], size);
    return status;
}

} // namespace

VirtualBoard::VirtualBoard() { attachChannels(*this); }

/* Processors answer only when fitted; cpu_mask is the board's wiring. */
int32_t checkNode(const VirtualBoard &b, int32_t node) {
    if (node < 0 || node >= kNodes || !(b.config.cpuMask >> node & 1))
        return kQalNoCpu;
    return kQalOk;
}

/* Unused members stay zero so callers that look further see no garbage. */
void fillBoardInfo(const VirtualBoard &b, BoardInfo &info) {
    const BoardConfig &c = b.config;
    std::memset(&info, 0, sizeof info);
    info.size = QAL_BOARD_INFO_SIZE;
    info.boardType = c.model << 16 | c.version;
    info.serialNumber = c.serial;
    info.pciBus = c.pciBus;
    info.pciDevice = c.pciDevice;
    info.pciCtrlMemAddr = c.pciCtrlMem;
    info.pciCtrlIoAddr = c.pciCtrlIo;
    info.devIoAddr = c.deviceIo;
    info.devMemAddr = c.deviceMem;
    info.irq = c.irq;
}

void readIdArea(const VirtualBoard &b, uint32_t offset, uint8_t *dst, uint32_t size) {
    for (uint64_t i = 0; i < size; ++i) {
        uint64_t at = offset + i;
        dst[i] = at < b.idArea.size() ? b.idArea[size_t(at)] : 0xFF;
    }
}

/* The FPGA version word belongs to the host interface, not to P1, so it
 * answers on node 0 even when P1 is not fitted. */
int32_t boardPeek(VirtualBoard &b, int32_t node, uint32_t address, uint32_t &value) {
    value = kUnmappedWord;
    if (node == 0 && address == kFpgaVersionAddress) {
        value = b.config.fpgaVersion;
        return kQalOk;
    }
    uint8_t word[4];
    int32_t status = transfer(b, node, address, 1, word, nullptr);
    if (status == kQalOk)
        std::memcpy(&value, word, 4);
    return status;
}

/* Writing the read-only FPGA word is a real bus cycle the FPGA ignores. */
int32_t boardPoke(VirtualBoard &b, int32_t node, uint32_t address, uint32_t value) {
    if (node == 0 && address == kFpgaVersionAddress)
        return kQalOk;
    uint8_t word[4];
    std::memcpy(word, &value, 4);
    return transfer(b, node, address, 1, nullptr, word);
}

int32_t boardReadWords(VirtualBoard &b, int32_t node, uint32_t address, void *dst, uint32_t words) {
    return transfer(b, node, address, words, static_cast<uint8_t *>(dst), nullptr);
}

int32_t boardWriteWords(VirtualBoard &b, int32_t node, uint32_t address, const void *src, uint32_t words) {
    return transfer(b, node, address, words, nullptr, static_cast<const uint8_t *>(src));
}

int32_t dpramRead(VirtualBoard &b, int32_t node, uint32_t offset, void *dst, uint32_t size) {
    if (!dst && size)
        return kQalBadArgument;
    return dpramTransfer(b, node, offset, static_cast<uint8_t *>(dst), nullptr, size);
}

int32_t dpramWrite(VirtualBoard &b, int32_t node, uint32_t offset, const void *src, uint32_t size) {
    if (!src && size)
        return kQalBadArgument;
    return dpramTransfer(b, node, offset, nullptr, static_cast<const uint8_t *>(src), size);
}
