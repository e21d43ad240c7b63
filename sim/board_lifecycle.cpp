/*
 * board_lifecycle.cpp - making and shutting down a board (see
 * board_lifecycle.h).
 */
#include "board_lifecycle.h"

#include "channels.h"
#include "handed_board.h"
#include "id_area.h"
#include "links.h"
#include "nodes.h"
#include "stream.h"

std::shared_ptr<VirtualBoard> makeBoard(int32_t number, const BoardConfig &cfg) {
    auto b = std::make_shared<VirtualBoard>();
    b->number = number;
    b->config = cfg;
    b->idArea = buildIdArea(cfg);
    wireLinks(*b);
    b->opened = paceNow();
    for (int path = 0; path < kPacePaths; ++path)
        b->pace[path].setRate(cfg.paceMBps[path]);
    return b;
}

/* Everything a blocked call may wait on hears of the close first; then the
 * threads the board runs are stopped and joined. */
void shutdownBoard(VirtualBoard &b) {
    {
        std::lock_guard<std::mutex> guard(b.lock);
        b.closing = true;
        b.closed = true;
        for (Node &n : b.node)
            n.stop = true;
        wakeAll(b);
    }
    if (b.handed)
        b.handed->close();
    shutdownStream(b);
    stopAllNodes(b);
}
