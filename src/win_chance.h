// Who will win: each of two players' chance to win the leg and the match,
// from their accuracy alone.
//
// A player throws as the computer does at the player's sigma (chooseAim in
// computer_player.h: the route with the best chance at that sigma), darts
// landing as dartboard::bedChances says. The number of visits the player
// needs to finish from a score is then a Markov chain over the score at the
// start of each visit, a bust returning the visit's start score; VisitChain
// holds its distribution for every score, computed exactly (no sampling).
// Two players' chains are independent and their visits alternate, so the
// chance to win a leg follows from the two distributions, and the chance to
// win a match from the chance of each leg, the throw passing as Match501
// passes it.
//
// Example:
//   const auto strong = visitChain(8.5);
//   const auto club = visitChain(19.0);
//   legWinChances(*strong, *club, LegStanding{});  // {0.990, 0.010}: 501 each, player 0 to throw
//   winChances(*strong, *club, {3, 1}, MatchStanding{}, LegStanding{})->match;
//   // {0.99997, 0.00003}: first to 3 legs
//
// Thread safety: every function may run on any thread at once; a VisitChain
// never changes once built.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "dartboard.h"
#include "game_501.h"
#include "match_501.h"

namespace game501 {

// The distribution of the number of visits a player of one sigma needs to
// finish from each score 2 to 501 (and 0, finished, which needs none).
class VisitChain {
public:
    static constexpr int kMaxScore = Game501::kStartScore;
    // The chain is followed until every score's chance to need more visits
    // is at most this; what lies beyond is shared evenly (see legWinChances).
    static constexpr double kTail = 1e-12;
    // ... but never beyond this many visits: about 850 are followed at 60 mm,
    // 400 at 40 mm, 40 at 8 mm. A chain holds 502 times that many doubles.
    static constexpr int kMostVisits = 1024;

    // Returns the chain for `sigma_mm`, or nothing for a sigma that is not
    // positive and finite. Takes 4 to 25 ms from 8 to 40 mm in an optimised
    // build, about 55 ms at 60 mm (longer legs, more visits to follow), and
    // the computer's tables on the first call for a sigma (chooseAim). Keeps
    // nothing: see visitChain for the cached chains.
    static std::optional<VisitChain> compute(double sigma_mm);

    // An empty chain, for a cache to fill: every chance of it is 0, and the
    // functions below refuse it.
    VisitChain() = default;

    double sigmaMm() const { return sigma_mm_; }
    // Returns the most visits the chain follows.
    int longest() const { return longest_; }

    // Returns the chance of needing more than `visits` visits (0 or more) to
    // finish from `score` (0 or 2 to 501). Beyond longest() it is that of
    // longest(), an upper bound; 0 for a score out of range.
    double moreThan(int score, int visits) const;
    // Returns the chance of needing exactly `visits` visits from `score`: 1
    // for 0 visits from 0; 0 beyond longest() and for a score out of range.
    double exactly(int score, int visits) const;
    // Returns the expected number of visits from `score` (up to longest()).
    double expectedVisits(int score) const;

private:
    friend struct WinChanceAccess;

    static constexpr std::size_t kScores = kMaxScore + 1;
    static constexpr int kDarts = static_cast<int>(Game501::kDartsPerTurn);

    // P(more than k visits) for k = 0 to longest_, the row of `score`.
    const double* row(int score) const {
        return more_.data() + static_cast<std::size_t>(score) * stride();
    }
    std::size_t stride() const { return static_cast<std::size_t>(longest_) + 1; }

    // Adds to ends[x] `weight` times the chance that the visit that began on
    // `start`, now on `remaining` with `darts_left` darts, ends on x: 0 for a
    // finish, `start` for a bust.
    void visitEnds(int start, int remaining, int darts_left, double weight,
                   std::array<double, kScores>& ends) const;

    double sigma_mm_ = 0.0;
    int longest_ = 0;
    std::vector<double> more_;  // kScores rows of longest_ + 1
    // aims_[darts_left][remaining]: the policy's aim
    std::array<std::array<std::int8_t, kScores>, kDarts + 1> aims_{};
    dartboard::BedChances chances_{};
};

// Returns the chain of `sigma_mm`, computed by the first call for that sigma
// and kept as the advice's tables are (those of the skill levels for good,
// of up to 16 other sigmas the latest); nullptr for a sigma that is not
// positive and finite. Hold the pointer for as long as the chances are
// wanted: a chain dropped from the cache lives on while it is held.
std::shared_ptr<const VisitChain> visitChain(double sigma_mm);

// Where one player stands in the leg being played.
struct LegPlace {
    // The score the player's visit starts from, which a bust returns to: 2
    // to 501, or 0 once the player has won the leg.
    int score = Game501::kStartScore;
    int points = 0;      // points of the darts thrown so far in the visit
    int darts_left = 3;  // darts left in the visit: 3 until its first dart
};

// The leg being played between two players, in the match's starting order.
struct LegStanding {
    std::array<LegPlace, 2> players{};
    int to_throw = 0;  // whose visit is being thrown or comes next: 0 or 1
};

// Returns each player's chance to win the leg, adding to 1; the chains are
// the players' in the same order. The player not to throw has no darts of a
// visit thrown. A visit part-thrown goes on by the policy from what it has
// left, and a bust in it returns its start score. Where both players would
// need more visits than the chains follow (under VisitChain::kTail), the
// chance is shared evenly. Returns nothing for a standing out of range: a
// score not 0 or 2 to 501, both 0, darts left not 1 to 3, points with 3
// darts left or more than 60 a dart thrown, a visit that would have ended
// (under 2 left), darts thrown by the player not to throw or by a player on
// 0, a thrower not 0 or 1, an empty chain. Takes well under a microsecond,
// a few microseconds in a visit part-thrown.
std::optional<std::array<double, 2>> legWinChances(const VisitChain& first,
                                                   const VisitChain& second,
                                                   const LegStanding& leg);

// Where a two-player match stands, as its match document shows it, the
// players in the starting order.
struct MatchStanding {
    std::array<int, 2> sets{};  // sets won
    // Legs won in the set of the current leg; a set just won keeps its count
    // until the next leg begins.
    std::array<int, 2> legs{};
    int starter = 0;  // who threw first in the current leg: 0 or 1
};

// Returns player 0's chance to win the match of `format` from `standing`,
// where `leg` is player 0's chance to win the current leg (not yet counted
// in the standing) and fresh[s] player 0's chance to win a leg from the
// start when player s throws first. The throw passes as Match501 passes it:
// to the other player each leg, and the first throw of a set to the other
// player each set. Returns 1 or 0 for a match already won. Returns nothing
// for a format out of Match501's range, a standing that cannot occur (sets
// beyond the format's, legs of a set at or beyond the format's while the
// match is on, a starter not 0 or 1) or a chance not in 0 to 1. Takes under
// a microsecond.
std::optional<double> matchWinChance(Match501::Format format, const MatchStanding& standing,
                                     const std::array<double, 2>& fresh, double leg);

// Each player's chances, in the match's starting order; each pair adds to 1.
struct WinChances {
    std::array<double, 2> leg{};    // to win the current leg
    std::array<double, 2> match{};  // to win the match
};

// Returns both players' chances to win the current leg and the match from
// `standing` and the current leg `leg`, as legWinChances and matchWinChance
// give them. A leg in which a player is on 0 is won and counted in the
// standing already; the match then goes on with the next leg, or the next
// set when that leg won the set. Returns nothing where either of those
// functions would, and for a won leg whose winner has no leg in the
// standing. Takes under a microsecond, a few in a visit part-thrown.
std::optional<WinChances> winChances(const VisitChain& first, const VisitChain& second,
                                     Match501::Format format, const MatchStanding& standing,
                                     const LegStanding& leg);

}  // namespace game501
