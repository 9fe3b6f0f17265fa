// Each player's chance to win a two-player match, read from its record
// (match_record.h): where the match stands now, and after each visit. The
// chances are those of win_chance.h; this reads the standing from the legs
// as Match counts it.
//
// Example:
//   const auto club = visitChain(19.0);
//   matchWinChances(*club, *club, match.format(), match.legs())->match;  // {0.55, 0.45}
//
// Thread safety: as win_chance.h.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "match.h"
#include "match_record.h"
#include "win_chance.h"

namespace game501 {

// Returns both players' chances where the match of `format` stands after
// `legs` (Match::legs(): every leg so far, oldest first, the last one being
// played or just won); the chains are the players' in the starting order. A
// visit part-thrown counts its darts and its player throws on; after a
// visit that ended the other player throws. The record must be of two
// players: one player's reads as two of whom the second has not thrown.
// Returns nothing for no legs, a visit or a starter of a player other than
// 0 or 1 (a third player), and where winChances gives nothing.
std::optional<WinChances> matchWinChances(const VisitChain& first, const VisitChain& second,
                                          Match::Format format, const std::vector<LegRecord>& legs);

// Where a two-player match stands, all that its chances are worked out from.
struct MatchPoint {
    MatchStanding standing;  // a leg won in `leg` counted in it
    LegStanding leg;
};

// Returns where the match of `format` stands after `legs`, read as
// matchWinChances reads them, which is winChances of this point; nothing
// where matchWinChances returns nothing before any chain is asked. For an
// owner that works the chances out only when they are read.
std::optional<MatchPoint> matchPoint(Match::Format format, const std::vector<LegRecord>& legs);

// The chances to win the match after a visit.
struct WinChancePoint {
    int set = 1;
    int leg = 1;
    int visit = 0;  // visits ended in the leg, counted from 1; 0 at the match's start
    std::array<double, 2> match{};
};

// Returns each player's chance to win the match at its start and after
// every visit that ended, in the order thrown (a visit part-thrown is left
// out); the last point of a won match is 1 and 0. Returns nothing where
// matchWinChances would for any of its points.
std::optional<std::vector<WinChancePoint>> matchWinChanceCourse(const VisitChain& first,
                                                                const VisitChain& second,
                                                                Match::Format format,
                                                                const std::vector<LegRecord>& legs);

}  // namespace game501
