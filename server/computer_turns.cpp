#include "computer_turns.h"

#include <boost/asio/post.hpp>
#include <utility>

namespace game501::server {

namespace net = boost::asio;

ComputerTurns::ComputerTurns(net::io_context& io, Boards& boards, std::chrono::milliseconds pause)
    : boards_(boards), pause_(pause) {
    for (std::size_t i = 0; i < boards_.size(); ++i) {
        waiting_.push_back(std::make_unique<Waiting>(io));
    }
}

void ComputerTurns::start() {
    for (std::size_t index = 0; index < boards_.size(); ++index) {
        boards_[index]->onDurable(
            [this, index](std::uint64_t event_id) { changed(index, event_id); });
        changed(index, boards_[index]->view().state().event_id);
    }
}

void ComputerTurns::stop() {
    stopping_ = true;
    for (const std::unique_ptr<Waiting>& waiting : waiting_) {
        net::post(waiting->strand, [&timer = waiting->timer] { timer.cancel(); });
    }
}

void ComputerTurns::changed(std::size_t index, std::uint64_t event_id) {
    if (stopping_) {
        return;
    }
    Waiting& waiting = *waiting_[index];
    net::post(waiting.strand, [this, &waiting, index, event_id] {
        if (stopping_) {
            return;
        }
        waiting.timer.expires_after(pause_);
        waiting.timer.async_wait([this, index, event_id](const boost::system::error_code& error) {
            if (!error && !stopping_) {
                move(index, event_id);
            }
        });
    });
}

void ComputerTurns::move(std::size_t index, std::uint64_t event_id) {
    Board& board = *boards_[index];
    std::optional<Write> move = board.computerMove(event_id);
    if (!move) {
        return;
    }
    board.apply(std::move(*move), [this, index, event_id](const WriteResult& result) {
        // Nothing changed, or nothing is known to have, so no change will
        // call again: try again later (a move the journal kept is not made
        // twice, since the board's last event is then another).
        if (result.outcome == WriteResult::Outcome::storage_unavailable ||
            result.outcome == WriteResult::Outcome::outcome_unknown) {
            changed(index, event_id);
        }
    });
}

}  // namespace game501::server
