// The boards of a server: each one game engine, its write token, and the
// viewers of its event stream.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "actions.h"
#include "event_queue.h"
#include "game_501.h"

namespace game501_server {

// A document as the engine made it, serialised, with the id of the last
// event it includes.
struct Document {
    std::string json;
    std::uint64_t event_id = 0;
};

class Board {
public:
    Board(int number, std::string token);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    int number() const { return number_; }
    const std::string& token() const { return token_; }
    // Returns whether `token` is this board's write token, in constant time.
    bool acceptsToken(std::string_view token) const;

    // The one path from a request to the engine. Runs the command, numbers
    // its event and hands the event to every viewer, all under the board's
    // lock, so that answers and events follow the engine's order. Returns
    // the engine's response document, accepted or refused.
    Document apply(const Command& command);

    // Returns the state document.
    Document state() const;

    // Returns the board's entry in the list of boards: its number, status,
    // and players with their scores.
    Game501::json summary() const;

    // Registers a viewer and returns the event that opens its stream: the
    // board as it is now, numbered as the last event so far. Every later
    // event reaches the viewer's queue, in order.
    EventText subscribe(const std::shared_ptr<EventQueue>& viewer);

private:
    // Drops viewers that have gone, so that viewers coming and going on a
    // quiet board do not pile up.
    void forgetClosedViewersLocked();
    void publishLocked(std::string_view operation, const Game501::json& response,
                       const std::string& response_json);

    const int number_;
    const std::string token_;
    mutable std::mutex mutex_;
    Game501 game_;
    std::uint64_t last_event_id_ = 0;
    std::vector<std::weak_ptr<EventQueue>> viewers_;
};

// Serialises a document without ever throwing: text that is not valid UTF-8
// becomes U+FFFD.
std::string serialise(const Game501::json& document);

}  // namespace game501_server
