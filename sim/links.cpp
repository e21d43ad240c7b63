/*
 * links.cpp - link ports: wiring, faults, and the words in flight (see
 * links.h).
 */
#include "links.h"

#include "channels.h"

#include <algorithm>

namespace {

struct Wire {
    int32_t nodeA, portA, nodeB, portB;
};

// clang-format off
const Wire kInternal[] = {
    {0, 1, 1, 0}, {0, 2, 2, 0}, {1, 2, 2, 2}, {1, 3, 3, 0}, {1, 1, 5, 0},
    {3, 1, 5, 2}, {2, 3, 4, 0}, {2, 1, 6, 0}, {4, 1, 6, 2},
};
const Wire kWithoutP2 = {0, 1, 5, 0};
const Wire kWithoutP3 = {0, 2, 6, 0};
const Wire kFrontPanel = {5, 1, 6, 1};
// clang-format on

bool fitted(const VirtualBoard &b, int32_t node) { return checkNode(b, node) == kQalOk; }

void applyFault(LinkConnection &l, const LinkFault &f) {
    uint32_t bit = 1u << f.bit;
    switch (f.kind) {
    case LinkFault::Stuck:
        if (f.value)
            l.setMask |= bit;
        else
            l.clearMask &= ~bit;
        break;
    case LinkFault::Flip:
        l.flipMask ^= bit;
        break;
    case LinkFault::Dead:
        l.limit = 0;
        break;
    case LinkFault::Stop:
        l.limit = std::min<uint64_t>(l.limit, f.count);
        break;
    }
}

void wire(VirtualBoard &b, const Wire &w) {
    if (!fitted(b, w.nodeA) || !fitted(b, w.nodeB) || b.links == kMaxLinks)
        return;
    int c = b.links++;
    LinkConnection &l = b.link[c];
    l.end[0] = w.nodeA * kLinkPorts + w.portA;
    l.end[1] = w.nodeB * kLinkPorts + w.portB;
    b.portLink[w.nodeA][w.portA] = int8_t(c);
    b.portLink[w.nodeB][w.portB] = int8_t(c);
    for (const LinkFault &f : b.config.linkFaults) {
        int32_t port = f.node * kLinkPorts + int32_t(f.port);
        if (port == l.end[0] || port == l.end[1])
            applyFault(l, f);
    }
}

void emptyLane(LinkLane &lane) {
    lane.head = lane.count = 0;
    touch(lane);
}

/* The lane from `node`'s `port` (out) or into it, nullptr when the port
 * is unwired. */
LinkLane *laneOf(VirtualBoard &b, int32_t node, int32_t port, bool out, LinkConnection *&l) {
    int c = b.portLink[node][port];
    if (c < 0)
        return nullptr;
    l = &b.link[c];
    int side = l->end[0] == node * kLinkPorts + port ? 0 : 1;
    return &l->lane[out ? side : 1 - side];
}

} // namespace

void wireLinks(VirtualBoard &b) {
    for (auto &ports : b.portLink)
        std::fill(std::begin(ports), std::end(ports), int8_t(-1));
    for (const Wire &w : kInternal)
        wire(b, w);
    if (!fitted(b, 1))
        wire(b, kWithoutP2);
    if (!fitted(b, 2))
        wire(b, kWithoutP3);
    const BoardConfig &c = b.config;
    if (c.x5Type == 0 && c.x6Type == 0 && c.frontCable)
        wire(b, kFrontPanel);
}

int32_t dspLinkSend(VirtualBoard &b, int32_t node, int32_t port, uint32_t word, int32_t timeoutMs) {
    if (port < 0 || port >= kLinkPorts)
        return kQalBadArgument;
    Deadline d = deadlineAfter(timeoutMs);
    Node &n = b.node[node];
    std::unique_lock<std::mutex> lk(b.lock);
    auto ended = [&] { return dspEnded(b, n); };
    LinkConnection *l = nullptr;
    LinkLane *lane = laneOf(b, node, port, true, l);
    if (!lane)
        return waitOn(lk, b, n.fiber.get(), b.wake, d, ended, [] { return false; });
    int32_t status =
        waitOn(lk, b, n.fiber.get(), *lane, d, ended, [&] { return l->passed < l->limit && lane->count < kLinkDepth; });
    if (status != kQalOk)
        return status;
    lane->ring[(lane->head + lane->count) % kLinkDepth] = ((word ^ l->flipMask) & l->clearMask) | l->setMask;
    ++lane->count;
    ++l->passed;
    touch(*lane);
    return kQalOk;
}

int32_t dspLinkReceive(VirtualBoard &b, int32_t node, int32_t port, uint32_t &word, int32_t timeoutMs) {
    if (port < 0 || port >= kLinkPorts)
        return kQalBadArgument;
    Deadline d = deadlineAfter(timeoutMs);
    Node &n = b.node[node];
    std::unique_lock<std::mutex> lk(b.lock);
    auto ended = [&] { return dspEnded(b, n); };
    LinkConnection *l = nullptr;
    LinkLane *lane = laneOf(b, node, port, false, l);
    if (!lane)
        return waitOn(lk, b, n.fiber.get(), b.wake, d, ended, [] { return false; });
    int32_t status = waitOn(lk, b, n.fiber.get(), *lane, d, ended, [&] { return lane->count > 0; });
    if (status != kQalOk)
        return status;
    word = lane->ring[lane->head];
    lane->head = (lane->head + 1) % kLinkDepth;
    --lane->count;
    touch(*lane);
    return kQalOk;
}

void clearNodeLinks(VirtualBoard &b, int32_t node) {
    for (int32_t port = 0; port < kLinkPorts; ++port) {
        int c = b.portLink[node][port];
        if (c < 0)
            continue;
        LinkConnection &l = b.link[c];
        emptyLane(l.lane[0]);
        emptyLane(l.lane[1]);
        l.passed = 0;
    }
}
