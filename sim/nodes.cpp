/*
 * nodes.cpp - the firmware of the processors (see nodes.h).
 */
#include "nodes.h"

#include "channels.h"
#include "firmware.h"
#include "ini.h"
#include "links.h"
#include "program.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

void complain(std::string line) {
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void firmwareFault(int32_t node, const Firmware &fw, const char *why) {
    std::fprintf(stderr, "P%d: firmware '%s' stopped: %s\n", int(node) + 1, fw.name, why);
    std::fflush(stderr);
}

/* The body of the node's coroutine: runs the firmware to its end, then
 * tells anyone waiting for a signal that nothing will raise one any
 * more. A firmware the host machine cannot serve (no memory left when it
 * first touches its dynamic memory, say) ends there, as a processor that
 * stopped: an exception must not leave the coroutine, whose stack has no
 * caller to take it. */
void runFirmware(void *arg) {
    NodeFiber &f = *static_cast<NodeFiber *>(arg);
    VirtualBoard &b = f.board;
    try {
        FirmwareContext ctx(b, f.node, f.params, silentAllowance(b.config, f.node, *f.firmware));
        f.firmware->run(ctx);
    } catch (const std::bad_alloc &) {
        firmwareFault(f.node, *f.firmware, "out of memory");
    } catch (const std::exception &e) {
        firmwareFault(f.node, *f.firmware, e.what());
    } catch (...) {
        firmwareFault(f.node, *f.firmware, "unknown failure");
    }
    std::lock_guard<std::mutex> guard(b.lock);
    Node &n = b.node[f.node];
    n.running = false;
    touch(n.signals);
    touch(n.toHost);
    touch(b.stream);
    touch(b.wake);
}

/* What a stop leaves of the node's channels and links: nothing in
 * flight. Under the board lock. */
void clearNode(VirtualBoard &b, int32_t node) {
    clearNodeChannels(b, node);
    clearNodeLinks(b, node);
}

/* Stops the node's firmware and empties its channels. The firmware
 * returns from the wait it is in, run to its end by this call or by
 * whichever thread runs the board's firmware; one that never began is
 * dropped as it is. The caller holds the node's control lock. */
void stopNode(VirtualBoard &b, int32_t node) {
    Node &n = b.node[node];
    std::unique_lock<std::mutex> lk(b.lock);
    n.stop = true;
    ++n.epoch;
    clearNode(b, node);
    wakeAll(b);
    // Whether the firmware began is asked only while no thread runs the
    // board's firmware: a resume marks it begun outside the board lock.
    if (n.fiber && !b.sched.busy && !n.fiber->co.started()) {
        n.fiber.reset();
        n.running = false;
        touch(b.wake);
    }
    waitOn(
        lk, b, nullptr, b.wake, deadlineAfter(-1), [] { return kQalOk; }, [&] { return !n.fiber; });
    n.launched = false;
    n.stop = b.closing;
    n.running = false;
    clearNode(b, node);
}

int32_t startNode(VirtualBoard &b, int32_t node) {
    Node &n = b.node[node];
    std::lock_guard<std::mutex> control(n.control);
    if (!n.firmware)
        return kQalNoProgram;
    if (n.launched)
        stopNode(b, node);
    // No memory for its stack or its copy of the parameters: the node
    // does not start.
    std::unique_ptr<NodeFiber> fiber;
    try {
        fiber.reset(new NodeFiber(b, node, n.firmware, n.params, runFirmware));
    } catch (const std::exception &) {
        return kQalFailed;
    }
    std::lock_guard<std::mutex> guard(b.lock);
    if (b.closing)
        return kQalBadHandle;
    n.running = true;
    n.launched = true;
    n.fiber = std::move(fiber);
    touch(b.wake);
    return kQalOk;
}

/* The text of a program file. A missing file fails quietly; one that
 * cannot be read, or is too long to be a program (told from its size,
 * before anything is read), fails with its complaint. */
bool readProgramFile(const char *fileName, std::string &text) {
    std::string error;
    switch (readTextFile(fileName, kMaxProgramFileBytes, text, error)) {
    case FileRead::Ok:
        return true;
    case FileRead::Missing:
        break;
    case FileRead::TooLong:
        complain(std::string(fileName) + ":1: too long for a program file");
        break;
    case FileRead::Unreadable:
        complain(error);
        break;
    }
    return false;
}

/* The processor that runs programs made for `named` on this board: the
 * named one when fitted, else its partner, when P1 and the partner are
 * fitted (P6 for P2, P7 for P3), else none (-1). */
int32_t takerOf(const VirtualBoard &b, int32_t named) {
    if (checkNode(b, named) == kQalOk)
        return named;
    int32_t partner = named == 1 ? 5 : named == 2 ? 6 : -1;
    if (partner < 0 || checkNode(b, 0) != kQalOk || checkNode(b, partner) != kQalOk)
        return -1;
    return partner;
}

/* Moves each section of a set onto the processor that takes it. A part
 * nobody can take, or two parts for one processor, fail the load with
 * kQalNoCpu; through a node other than 0 a set may load that node only,
 * else kQalBadArgument. Either way before anything is stopped. */
int32_t placeSet(const VirtualBoard &b, int32_t through, std::vector<Placement> &placements) {
    uint32_t taken = 0;
    for (Placement &p : placements) {
        p.node = takerOf(b, p.node);
        if (p.node < 0 || (taken >> p.node & 1))
            return kQalNoCpu;
        taken |= 1u << p.node;
    }
    if (through != 0 && taken != 1u << through)
        return kQalBadArgument;
    return kQalOk;
}

} // namespace

int32_t loadProgram(VirtualBoard &b, int32_t node, const char *fileName) {
    int32_t status = checkNode(b, node);
    if (status != kQalOk)
        return status;
    if (!fileName)
        return kQalBadArgument;
    if (b.config.loadMs > 0) {
        // The boot loader's time; a close ends it as it ends every wait.
        std::unique_lock<std::mutex> lk(b.lock);
        int32_t waited = waitOn(
            lk, b, nullptr, b.wake, deadlineAfter(static_cast<int32_t>(b.config.loadMs)),
            [&] { return b.closing ? kQalBadHandle : kQalOk; }, [] { return false; });
        if (waited == kQalBadHandle)
            return waited;
    }

    // A file refused for any reason places nothing: the load fails as
    // for a missing file, whatever parts of it were sound.
    std::string text, error;
    std::vector<Placement> placements;
    bool isSet = false;
    if (readProgramFile(fileName, text) && !parseProgram(text, fileName, node, placements, isSet, error))
        complain(error);
    if (isSet && !placements.empty()) {
        status = placeSet(b, node, placements);
        if (status != kQalOk)
            return status;
    }
    for (const Placement &p : placements)
        if (checkNode(b, p.node) != kQalOk)
            return kQalNoCpu;

    /* Loading resets the processor first, whether the program comes or
     * not; a set through node 0 resets them all. */
    bool boot = isSet && node == 0 && !placements.empty();
    for (int32_t i = 0; i < kNodes; ++i) {
        if (i != node && !(boot && checkNode(b, i) == kQalOk))
            continue;
        Placement *p = nullptr;
        for (Placement &q : placements)
            if (q.node == i)
                p = &q;
        Node &n = b.node[i];
        std::lock_guard<std::mutex> control(n.control);
        stopNode(b, i);
        n.firmware = p ? p->firmware : nullptr;
        n.params = p ? std::move(p->params) : ProgramParams(); /* a move: nothing to allocate once stopped */
    }
    std::lock_guard<std::mutex> guard(b.lock);
    if (b.closing)
        return kQalBadHandle;
    return placements.empty() ? kQalNoProgram : kQalOk;
}

int32_t startNodes(VirtualBoard &b, int32_t node) {
    if (node != -1) {
        int32_t status = checkNode(b, node);
        return status != kQalOk ? status : startNode(b, node);
    }
    bool any = false;
    int32_t status = kQalOk;
    for (int32_t i = 0; i < kNodes; ++i) {
        int32_t one = checkNode(b, i) == kQalOk ? startNode(b, i) : kQalNoProgram;
        if (one == kQalNoProgram)
            continue;
        any = true;
        if (one != kQalOk)
            status = one;
    }
    return any ? status : kQalNoProgram;
}

int32_t resetNodes(VirtualBoard &b, int32_t node) {
    if (node != -1 && checkNode(b, node) != kQalOk)
        return kQalNoCpu;
    for (int32_t i = 0; i < kNodes; ++i) {
        if ((node != -1 && i != node) || checkNode(b, i) != kQalOk)
            continue;
        std::lock_guard<std::mutex> control(b.node[i].control);
        stopNode(b, i);
    }
    std::lock_guard<std::mutex> guard(b.lock);
    return b.closing ? kQalBadHandle : kQalOk;
}

void stopAllNodes(VirtualBoard &b) {
    for (int32_t i = 0; i < kNodes; ++i) {
        std::lock_guard<std::mutex> control(b.node[i].control);
        stopNode(b, i);
    }
}
