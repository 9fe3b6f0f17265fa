// Commands run on a match: the board's path to its engine, and a match
// played again from journal rows.
#pragma once

#include <cstdint>
#include <vector>

#include "actions.h"
#include "journal.h"
#include "match.h"

namespace game501::server {

// Runs `command` on `match`; returns the match's answer.
Answer runCommand(Match& match, const Command& command);

// A match rebuilt from journal rows, each call stamped with its row's time,
// as the board first ran them. Made and read on one thread.
class Replay {
public:
    explicit Replay(const std::vector<JournalRow>& rows);
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    const Match& match() const { return match_; }
    // The answer to the last row's call; a refusal for no rows.
    const Answer& lastAnswer() const { return last_answer_; }

private:
    std::int64_t time_ = 0;
    Match match_;
    Answer last_answer_;
};

}  // namespace game501::server
