// Checkout advice for 501 with double-out: what a player should aim at to
// finish from a remaining score with the darts left in the turn.
//
// checkoutAdvice weighs every aim by the player's accuracy, sigma: darts land
// around the point aimed at with a circular Gaussian error of sigma
// millimetres (see dartboard.h), and the advice is the aim with the best
// chance of finishing in this turn. checkoutHint gives one fixed route per
// score for a player of the club level.
//
// Example:
//   checkoutAdvice(59, 3, 19.0);  // {{"S19", "D20"}, 0.198...}
//   checkoutHint(170, 3);         // {"T20", "T20", "BULL"}
//   checkoutHint(169, 3);         // {}: no three darts finish 169
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace game501 {

// Advice for one dart, and the rest of the turn as planned.
struct CheckoutAdvice {
    std::vector<std::string> route;  // canonical notations aimed at, in throwing order
    double probability = 0.0;        // chance of finishing this turn by following the advice
};

// Returns the advice from `remaining` points (2 to 170) with `darts_left`
// darts (1 to 3) for a player whose darts land with a Gaussian error of
// `sigma_mm` millimetres. The first notation of the route is the aim with the
// highest chance of finishing in this turn when every later dart follows the
// advice again for what is then left; a bust ends the turn without a finish.
// The notations after it are the aims that follow if each dart hits its bed,
// down to the finishing double or BULL. When that first aim is thrown for
// what its misses leave rather than for its own bed (its own bed busts or
// leaves no finish), the route holds that aim alone. Aims are the middle of a
// single's outer bed, of a treble or a double, and the centre for OUTER and
// BULL. Of aims whose chances differ only by rounding, the one that finishes
// most often by hitting its own bed is named (so the centre is OUTER or BULL
// by what it is thrown for), then the one that checkoutHint's rules prefer.
// `probability` is the chance of finishing by following the advice dart
// by dart; the route is empty exactly when it is 0, which is also the answer
// for a score, a dart count or a sigma (not positive or not finite) out of
// range. The first call for a sigma computes its tables (a few
// milliseconds); later calls look them up. Tables of up to 16 sigmas besides
// the three levels are kept, the oldest dropped first. May run on any thread
// at once.
CheckoutAdvice checkoutAdvice(int remaining, int darts_left, double sigma_mm);

// A player's accuracy by name, for people who do not know their sigma.
struct SkillLevel {
    const char* id;    // stable lower-case English word, for options and JSON
    const char* name;  // Swedish, for players
    double sigma_mm;   // the Gaussian error of the player's darts
};

// Returns the three levels, least accurate first. The sigmas are chosen for
// the chance the model gives one dart at T20 of hitting it, one in 30, one in
// 10 and one in 3, the usual measure of a player:
//   beginner, "Nybörjare", 35 mm: T20 3.2 %, D16 or D20 4.9 %, BULL 1.6 %, and
//     one dart in five aimed at S20 misses the board;
//   club, "Klubbspelare", 19 mm: T20 10 %, D16 or D20 14 %, BULL 5.4 %;
//   strong, "Stark spelare", 8.5 mm: T20 34 %, D16 or D20 36 %, BULL 24 %.
const std::array<SkillLevel, 3>& skillLevels();

// Returns the level whose id is `id` (exact, lower case), or nullptr when
// there is none.
const SkillLevel* findSkillLevel(std::string_view id);

// Returns the route from `remaining` points with at most `darts_left` darts
// (1 to 3): canonical dart notations in throwing order whose sum is
// `remaining` and whose last dart is a double (D1-D20 or BULL). The route has
// as few darts as possible. Among routes of that length it is the one with the
// best chance of finishing in this turn for a player of the club level (19 mm)
// who throws its first dart and then follows checkoutHint again for what is
// left, chances weighed by the same model as checkoutAdvice's. Chances within
// 0.001 of the best count as equal (the model is no guide to differences that
// small); among those the preferred route is, rule by rule, the one with
//   1. the fewest set-up darts (all but the last) on a double or BULL;
//   2. the finishing double that best forgives a near miss: a dart in the single
//      bed of D16 leaves 16, itself a double, and so on down to D1. Segments rank
//      by how often they halve, the larger first on a tie (D16, D8, D20, D12, D4,
//      D18, D14, D10, D6, D2, then D19 down to D1), and BULL comes last;
//   3. the larger set-up dart first, compared dart by dart in throwing order;
//   4. for set-up darts of equal value, the single before the treble before the
//      double (the wider bed).
// So 170 is T20 T20 BULL, 59 is S19 D20 (a wide single leaves D20 as well as
// the narrow T9 leaves D16), 40 is D20.
// Returns an empty list when no route exists (above 170, for 169, 168, 166,
// 165, 163, 162 and 159 with three darts, below 2) or when `darts_left` is not
// 1 to 3. Changes nothing and may run on any thread at once.
std::vector<std::string> checkoutHint(int remaining, int darts_left);

}  // namespace game501
