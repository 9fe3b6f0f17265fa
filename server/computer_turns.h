// The computer players of a server's boards. After each durable change of a
// board, once a pause has passed so that people can follow, the board's
// computer makes its move (a dart, or the board clear after its own turn)
// through the same path as every write: journalled, answered to no one, and
// in the events.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "board.h"

namespace game501::server {

class ComputerTurns {
public:
    ComputerTurns(boost::asio::io_context& io, Boards& boards, std::chrono::milliseconds pause);
    ComputerTurns(const ComputerTurns&) = delete;
    ComputerTurns& operator=(const ComputerTurns&) = delete;

    // Follows every board from now on, and moves where a computer is to
    // move already (after a restart, say).
    void start();
    // Begins no move from now on, so that the io_context can run out.
    void stop();

private:
    using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;
    struct Waiting {
        explicit Waiting(boost::asio::io_context& io)
            : strand(boost::asio::make_strand(io)), timer(strand) {}
        Strand strand;
        boost::asio::steady_timer timer;
    };

    // Waits the pause after `event_id` of board `index`, then moves; a later
    // change starts the wait again.
    void changed(std::size_t index, std::uint64_t event_id);
    void move(std::size_t index, std::uint64_t event_id);

    Boards& boards_;
    const std::chrono::milliseconds pause_;
    std::vector<std::unique_ptr<Waiting>> waiting_;  // one per board
    std::atomic<bool> stopping_{false};
};

}  // namespace game501::server
