/*
 * handed_board.cpp - the replay as the answerer of a virtual board's
 * board whose section says `replay = FILE` (handed_board.h).
 */
#include "handed_board.h"

#include "replay.h"

namespace {

class ReplayedBoard final : public qalapi::HandedBoard {
public:
    explicit ReplayedBoard(std::shared_ptr<Replay> replay) : replay_(std::move(replay)) {}
    int32_t answer(const qalapi::CallArgs &call, int32_t failure) override {
        return replayAnswer(*replay_, call, failure);
    }
    void serviceGiven(int32_t handle, int32_t answered) override { replayService(*replay_, handle, answered); }
    void close() override { closeReplay(*replay_); }

private:
    std::shared_ptr<Replay> replay_;
};

} // namespace

std::shared_ptr<qalapi::HandedBoard> qalapi::handBoard(const std::string &source, bool timed, int32_t number,
                                                       TraceSink traceLine) {
    auto replay = openReplay(source, timed, number, traceLine);
    if (!replay)
        return nullptr;
    return std::make_shared<ReplayedBoard>(std::move(replay));
}
