/*
 * nodes.cpp - the firmware threads of the processors (see nodes.h).
 */
#include "nodes.h"

#include "channels.h"
#include "firmware.h"
#include "program.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace {

/* The node's thread: runs the firmware to its end, then tells anyone
 * waiting for a signal that nothing will raise one any more. */
void runFirmware(VirtualBoard *b, int32_t node, const Firmware *fw, ProgramParams params) {
    FirmwareContext ctx(*b, node, params);
    fw->run(ctx);
    std::lock_guard<std::mutex> guard(b->lock);
    b->node[node].running = false;
    touch(b->node[node].signals);
    touch(b->wake);
}

/* Stops and joins the node's firmware and empties its channels. The
 * caller holds the node's control lock. */
void stopNode(VirtualBoard &b, int32_t node) {
    Node &n = b.node[node];
    {
        std::lock_guard<std::mutex> guard(b.lock);
        n.stop = true;
        ++n.epoch;
        clearNodeChannels(b, node);
        wakeAll(b);
    }
    if (n.thread.joinable())
        n.thread.join();
    std::lock_guard<std::mutex> guard(b.lock);
    n.stop = b.closing;
    n.running = false;
    clearNodeChannels(b, node);
}

int32_t startNode(VirtualBoard &b, int32_t node) {
    Node &n = b.node[node];
    std::lock_guard<std::mutex> control(n.control);
    if (!n.firmware)
        return kQalNoProgram;
    if (n.thread.joinable())
        stopNode(b, node);
    {
        std::lock_guard<std::mutex> guard(b.lock);
        if (b.closing)
            return kQalBadHandle;
        n.running = true;
    }
    try {
        n.thread = std::thread(runFirmware, &b, node, n.firmware, n.params);
    } catch (const std::system_error &) {
        std::lock_guard<std::mutex> guard(b.lock);
        n.running = false;
        return kQalFailed;
    }
    return kQalOk;
}

bool readProgramFile(const char *fileName, std::string &text) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

void complain(std::string line) {
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace

int32_t loadProgram(VirtualBoard &b, int32_t node, const char *fileName) {
    int32_t status = checkNode(b, node);
    if (status != kQalOk)
        return status;
    if (!fileName)
        return kQalBadArgument;

    std::string text, error;
    std::vector<Placement> placements;
    bool found = readProgramFile(fileName, text);
    if (found && text.size() > kMaxProgramFileBytes) {
        complain(std::string(fileName) + ":1: too long for a program file");
        found = false;
    } else if (found && !parseProgram(text, fileName, node, placements, error)) {
        complain(error);
    }
    for (const Placement &p : placements)
        if (checkNode(b, p.node) != kQalOk)
            return kQalNoCpu;

    /* Loading resets the processor first, whether the program comes or not. */
    if (placements.empty())
        placements.push_back({node, nullptr, {}});
    for (const Placement &p : placements) {
        Node &n = b.node[p.node];
        std::lock_guard<std::mutex> control(n.control);
        stopNode(b, p.node);
        n.firmware = p.firmware;
        n.params = p.params;
    }
    std::lock_guard<std::mutex> guard(b.lock);
    if (b.closing)
        return kQalBadHandle;
    return placements[0].firmware ? kQalOk : kQalNoProgram;
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
