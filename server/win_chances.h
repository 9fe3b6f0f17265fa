// The chances to win that a board's match document and a match's report
// show (match_chances.h): what each player's chances are worked out from,
// and their documents.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accuracies.h"
#include "computer_player.h"
#include "game_501.h"
#include "match.h"
#include "match_chances.h"
#include "win_chance.h"

namespace game501::server {

// The skill level whose sigma stands in for a person without an estimate
// of their own: a guest, or a member with too few darts.
inline constexpr std::string_view kStandInLevel = "club";

// What one player's chances are worked out from. Only the sigma is kept:
// its chain (visitChain), up to 25 ms to make and a few MB to keep, is
// made when the chances are read, never under a board's lock.
struct PlayerAccuracy {
    double sigma_mm = 0;
    // Whether the sigma is the stand-in level's, so that pages call the
    // chances "uppskattad".
    bool estimated = false;
};

// Returns what each of a match's players' chances are worked out from, by
// the match's players: a computer's level (`levels`, per player, none for a
// person; empty when only people play), a person's own sigma as `members`
// has it now (Accuracies::sigmaOf, from memory: it is asked under a board's
// lock), or the stand-in level. Returns none unless there are two players,
// the only matches whose chances are worked out. Takes a microsecond or
// less: a board asks it when a match starts.
std::vector<PlayerAccuracy> playerAccuracies(
    const std::vector<std::string>& players,
    const std::vector<std::optional<ComputerLevel>>& levels, const Accuracies& members);

// Returns where `match` stands for its players' chances (matchPoint); none
// while it is not being played (idle or won), where they are not two and
// where their `accuracies` are not known. Takes a microsecond or less: a
// board asks it with every write, the chances themselves being worked out
// only when read.
std::optional<MatchPoint> livePoint(const Match& match,
                                    const std::vector<PlayerAccuracy>& accuracies);

// Returns both players' chances at `point` of a match of `format`, with the
// players' `accuracies`; none for no point. A sigma met for the first time
// takes up to 25 ms (visitChain).
std::optional<WinChances> liveWinChances(const std::optional<MatchPoint>& point,
                                         Match::Format format,
                                         const std::vector<PlayerAccuracy>& accuracies);

// Returns a match document's "win_chance": per player in the starting
// order {"estimated", "leg", "match"}, each chance rounded to four decimals
// and the second player's the rest of 1; null for no chances.
Game501::json winChanceJson(const std::optional<WinChances>& chances,
                            const std::vector<PlayerAccuracy>& accuracies);

// Returns a report's "win_chance" for a match of `format` with `legs` and
// the players' `accuracies`: {"estimated": per player, "points": [{"set",
// "leg", "visit", "match": per player}]}, the points at the match's start
// and after each visit (matchWinChanceCourse); null where the match's
// chances are not worked out.
Game501::json winChanceCourseJson(Match::Format format, const std::vector<LegRecord>& legs,
                                  const std::vector<PlayerAccuracy>& accuracies);

}  // namespace game501::server
