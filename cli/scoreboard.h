// Text for a person at a terminal: the scoreboard of a state document or a
// match document, and user text made safe to print.
#pragma once

#include <string>
#include <vector>

#include "checkout_hint.h"
#include "game_501.h"

namespace game501::cli {

// Returns `text` with every byte sequence that is not valid UTF-8, and every
// control character, replaced by U+FFFD, so that names and notations from
// any caller can neither break the terminal's text nor steer it.
std::string displayText(const std::string& text);

// Returns the scoreboard lines for a state document, each ending in a line
// feed: the round, every player with score (the active player marked ">",
// the winner "*"), the darts of the turn in progress with their total, while
// the board must be cleared the visit just thrown with its total and a line
// asking for the clear, and the checkout
// route when the active player can finish with the darts left in the turn:
// checkoutHint's, or with a `level` the advice for that level followed by its
// chance in whole percent ("Utgång: S19 D20 (41 %)").
std::string scoreboard(const Game501::json& state, const SkillLevel* level = nullptr);

// Returns the scoreboard of a match document: for a match of one leg exactly
// the leg's scoreboard; otherwise the set and leg being played and the
// format above it, the sets and legs each player has won beside the score,
// who started the leg marked "(började)", and once the leg is over who won
// the leg, the set or the match. `tags` holds, by the match's players in
// their starting order, text shown right after a player's name (a
// computer's level).
std::string matchScoreboard(const Game501::json& match, const SkillLevel* level = nullptr,
                            const std::vector<std::string>& tags = {});

}  // namespace game501::cli
