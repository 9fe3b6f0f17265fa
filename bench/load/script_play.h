// Where a scorer is in the script: the call it makes next and, for a dart,
// which one. Each leg plays the script's next game: the players' names and
// who throws first change none of the scores its darts make.
#pragma once

#include <cstddef>
#include <string_view>

#include "script.h"

namespace game501::load {

class ScriptPlay {
public:
    // Starts a match and plays `first_game` of the script in its first leg.
    ScriptPlay(const Script& script, std::size_t first_game);

    Step next() const { return next_; }
    // The dart to throw when next() is Step::dart.
    const ScriptDart& dart() const { return script_.games[game_][dart_]; }

    // Takes the answer to the call next() named and returns the next call.
    Step onAnswer(std::string_view answer);

private:
    const Script& script_;
    std::size_t game_;
    std::size_t dart_ = 0;
    Step next_ = Step::start;
};

}  // namespace game501::load
