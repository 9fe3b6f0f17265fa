// A player's accuracy learnt from their darts: the sigma of the circular
// Gaussian throw that the checkout advice and the computer use (dartboard.h),
// estimated by maximum likelihood from the beds their darts landed in, and
// where a player of a sigma should aim to score.
//
// Where a dart was aimed is not recorded, so the model says it:
//   - a finish: from an even score of 2 to 40, the double that finishes;
//     from 50 with the visit's last dart, BULL;
//   - the scoring phase: while the remaining score is above 170 plus 60 for
//     each dart left in the visit, this one included, so that the visit
//     cannot leave a finish and no dart is thrown to set one up. The darts of
//     one visit share one aim of kScoringAims, which the estimate learns with
//     sigma: the chance of each aim, and sigma, are those that make the darts
//     most likely (the aim of each visit a mixture over the aims);
//   - every other dart is left out: its aim depends on the route a player
//     takes, which differs from player to player.
// A dart lands in any bed by accident (a slip, a wrong key) with the chance
// kStrayChance, shared equally by the beds, so that one wrong entry cannot
// move sigma far.
//
// Example:
//   accuracy::Tally tally;
//   tally.add({{beds::trebleBed(20), 501, 3, 1}, {beds::singleBed(20), 441, 2, 1}});
//   const std::optional<accuracy::Estimate> estimate = accuracy::estimate(tally);
//   // nothing: fewer than kMinUsableDarts darts
//   accuracy::bestScoringAim(40.0)->aim;  // beds::trebleBed(7)
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "beds.h"
#include "dartboard.h"
#include "match_record.h"

namespace game501::accuracy {

// Fewer usable darts than this give no estimate.
inline constexpr int kMinUsableDarts = 60;
// The sigmas the estimate considers; an estimate at a bound means that the
// darts ask for a sigma beyond it.
inline constexpr double kLeastSigmaMm = 1.0;
inline constexpr double kMostSigmaMm = 200.0;
// The chance that a dart lands in a bed by accident, shared by all beds.
inline constexpr double kStrayChance = 0.001;
// The aims of the scoring phase: the usual ones (T20, T19, T18, the bull),
// and T7, where a dart scores the most for a sigma from 30.2 to 49.6 mm.
inline constexpr std::array<int, 5> kScoringAims = {beds::trebleBed(20), beds::trebleBed(19),
                                                    beds::trebleBed(18), beds::trebleBed(7),
                                                    beds::kBullBed};

// A dart as typed, with its situation.
struct ThrownDart {
    int bed = beds::kMissBed;  // where it landed (beds.h numbering)
    int remaining = 0;         // the player's score before the dart
    int darts_left = 0;        // darts left in the visit, this one included: 1 to 3
    std::int64_t visit = 0;    // the same for the darts of one visit, another for each visit
};

// Returns the darts of `player` (an index into the match's players) in the
// legs of a match, each with its situation as the records give it: a
// separate visit key for each of the player's visits. A dart whose notation
// names no bed is left out.
std::vector<ThrownDart> thrownDarts(const std::vector<LegRecord>& legs, int player);

// Returns the aim (beds.h numbering) of a dart thrown from `remaining` with
// `darts_left` darts left when it is a finish (see above), and nothing
// otherwise.
std::optional<int> finishingAim(int remaining, int darts_left);

// Returns whether a dart thrown from `remaining` with `darts_left` darts left
// (1 to 3) belongs to the scoring phase (see above).
bool inScoringPhase(int remaining, int darts_left);

// What the estimate needs of a player's darts: counts that add, so that an
// estimate is brought up to date by adding the darts of a match to the tally
// kept so far, and tallies of months add up to a year's. A value; not
// synchronised.
class Tally {
public:
    // Adds the usable darts of `darts` and leaves out the others: a dart in
    // neither a finish nor the scoring phase, or with a bed, a remaining score
    // or darts left out of range. The darts of one visit must come in one
    // call: the same visit key in two calls counts as two visits. Their order
    // does not matter.
    void add(const std::vector<ThrownDart>& darts);
    // Adds the darts of another tally.
    void add(const Tally& other);

    // Returns the count of darts used.
    int usableDarts() const { return usable_darts_; }

    bool operator==(const Tally& other) const;
    bool operator!=(const Tally& other) const { return !(*this == other); }

private:
    // The beds of a visit's scoring darts, in ascending order, kBedCount for
    // none.
    using VisitBeds = std::array<std::uint8_t, 3>;
    // finishes_[{finish, bed}]: darts at a finish by its double (D1 to D20,
    // then BULL) and where they landed; only the pairs that were hit, for a
    // member's tallies are kept for every month they played.
    std::map<std::pair<std::uint8_t, std::uint8_t>, int> finishes_;
    std::map<VisitBeds, int> scoring_visits_;
    int usable_darts_ = 0;

    friend class Likelihood;
};

// A player's accuracy.
struct Estimate {
    double sigma_mm = 0.0;  // the maximum-likelihood sigma
    double low_mm = 0.0;    // the 95 % interval (the likelihood ratio's): low end
    double high_mm = 0.0;   //   and high end
    int darts = 0;          // the darts used
    // The chance of each of kScoringAims as a visit's aim in the scoring phase
    // (all 0 when no dart was in the scoring phase).
    std::array<double, kScoringAims.size()> aim_shares{};
};

// Returns the estimate from the tally's darts, or nothing from fewer than
// kMinUsableDarts. Sigma is found within kLeastSigmaMm to kMostSigmaMm to
// 0.1 %, and so is each end of the interval: the sigmas whose likelihood,
// the aims' chances chosen anew for each, is 1.92 (half the 95 % point of
// chi-squared with one degree of freedom) below the greatest in log. Takes
// about 15 ms of CPU in an optimised build (some 45 sigmas tried), little
// more for many darts than for few. May run on any thread at once.
std::optional<Estimate> estimate(const Tally& tally);

// Returns the estimate from the darts of a list (see Tally::add).
std::optional<Estimate> estimate(const std::vector<ThrownDart>& darts);

// The best aim in the scoring phase for a sigma.
struct ScoringAim {
    int aim = 0;                       // beds.h numbering; the centre is named BULL
    double points_per_dart = 0.0;      // expected points of a dart aimed there
    double points_per_dart_t20 = 0.0;  // expected points of a dart aimed at T20
};

// Returns the aim of the board model (any bed but MISS) whose darts score the
// most on average for `sigma_mm`, as the computer chooses it far from the
// finish (ties go to the lower bed index, and the centre is named BULL), or
// nothing for a sigma that is not positive and finite: T20 up to 16.7 mm,
// T19 up to 30.1 mm, T7 up to 49.6 mm, then BULL. Takes about a
// millisecond. May run on any thread at once.
std::optional<ScoringAim> bestScoringAim(double sigma_mm);

}  // namespace game501::accuracy
