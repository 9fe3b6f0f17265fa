// The career scenario: one server filled with whole matches of two players,
// as fast as it takes them, then one player's career read on the warm
// server and timed.
#pragma once

#include "options.h"

namespace game501::load {

inline constexpr int kCareerMatches = 1000;
inline constexpr int kCareerReads = 20;
inline constexpr int kCareerBoards = 10;
// Visits of three missed darts by each player before each scripted game:
// about 30 visits a match of one leg.
inline constexpr int kCareerOpeningMisses = 10;

// Plays kCareerMatches matches of two players in options.format, spread over
// options.boards boards and options.scorers connections, with the journal on
// disk; then reads the first player's career once to warm up and
// kCareerReads times timed, and checks that every answer has a row per match
// and that every board's last match finished. Prints the figures and the
// targets and returns whether every check held. Throws when the server
// cannot be started or filled.
bool runCareer(const Options& options);

}  // namespace game501::load
