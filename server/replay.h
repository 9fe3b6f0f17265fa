// Commands run on a match: the board's path to its engine, and a match
// played again from journal rows.
#pragma once

#include <cstdint>
#include <vector>

#include "actions.h"
#include "game_501.h"
#include "journal.h"
#include "match_501.h"

namespace game501::server {

// Runs `command` on `match`; returns the engine's response document.
Game501::json runCommand(Match501& match, const Command& command);

// A match rebuilt from journal rows, each call stamped with its row's time,
// as the board first ran them. Made and read on one thread.
class Replay {
public:
    explicit Replay(const std::vector<JournalRow>& rows);
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    const Match501& match() const { return match_; }
    // The response document of the last row's call; null for no rows.
    const Game501::json& lastResponse() const { return last_response_; }

private:
    std::int64_t time_ = 0;
    Match501 match_;
    Game501::json last_response_;
};

}  // namespace game501::server
