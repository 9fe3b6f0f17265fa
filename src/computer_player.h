// A computer opponent for 501 with double-out: its level of play, where a
// player of that level should aim, and the darts it throws.
//
// The computer throws like the player of the checkout advice (see
// checkout_hint.h): its darts land around the point aimed at with a circular
// Gaussian error of sigma millimetres, and the board model (dartboard.h) says
// which bed each one lands in. A level is one of the advice's skill levels or
// a target three-dart average, whose sigma is found by simulating legs.
//
// Example:
//   const std::optional<ComputerLevel> level = parseComputerLevel("70");
//   const ComputerThrower thrower(*level, 42);
//   thrower.throwDart({501, 3, 0, 1});  // {"T20", "S20", beds::singleBed(20)}, for seed 42
//   chooseAim(501, 3, 8.5);             // beds::trebleBed(20)
//   chooseAim(45, 1, 8.5);              // beds::singleBed(13): leaves D16
#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "leg.h"
#include "match.h"

namespace game501 {

// The name a computer player gets when it is given none.
inline constexpr std::string_view kComputerName = "Datorn";
// The source label of the computer's darts.
inline constexpr std::string_view kComputerSource = "dator";
// The target three-dart averages a level may ask for, both included.
inline constexpr int kMinComputerAverage = 30;
inline constexpr int kMaxComputerAverage = 110;
// How long a front end lets the computer wait before each of its darts, so
// that people see them land one by one: by default, and at most (a longer
// pause is surely a mistake, and would leave the players waiting).
inline constexpr std::chrono::milliseconds kDefaultComputerPause{1000};
inline constexpr std::chrono::milliseconds kMaxComputerPause{60000};

// How well the computer plays.
struct ComputerLevel {
    std::string id;          // a skill level's id ("club"), or the target in digits ("70")
    std::string name;        // Swedish, for players: "Klubbspelare", "Snitt 70"
    int target_average = 0;  // 30 to 110 for a target, 0 for a skill level
    double sigma_mm = 0.0;   // the Gaussian error of its darts
};

// Returns the name players read for a target three-dart average: "Snitt 70".
std::string targetAverageName(int target_average);

// Returns the level for a target three-dart average: a whole number from
// kMinComputerAverage to kMaxComputerAverage (finer targets would mean
// nothing, since the simulation matches them to within a point), or nothing
// for any other. The sigma is the one whose simulated legs average the
// target: a search over sigma (a bracket in log sigma, narrowed by false
// position) that plays 8,000 legs of 501 with double-out alone at each sigma
// it tries, the same legs (one fixed seed) at every sigma, until their
// three-dart average is within 0.1 of the target; a bust visit counts three
// darts and no points. Over many more legs the computer then averages the
// target within half a point. The first call for a target takes 0.03 to 0.5 s
// in an optimised build (2 to 6 sigmas tried); later calls look it up, and
// every run finds the same sigma. May run on any thread at once.
std::optional<ComputerLevel> computerLevelForAverage(int target_average);

// Reads a level as a front end's text gives it: a skill level's id (exact,
// lower case, see skillLevels()) or a target average in decimal digits
// ("70"). Returns nothing for anything else, a target out of range included.
std::optional<ComputerLevel> parseComputerLevel(std::string_view text);

// Reads a level from a JSON value: a string that is a skill level's id, or a
// number that is a whole target average (70 or 70.0). Returns nothing for
// anything else: another string (also "70"), a fraction, a target out of
// range, a boolean, null, an array or an object.
std::optional<ComputerLevel> computerLevelFromJson(const nlohmann::json& value);

// Returns the level as computerLevelFromJson reads it: the id as a string for
// a skill level, the target as a number.
nlohmann::json computerLevelJson(const ComputerLevel& level);

// Returns the bed (beds.h numbering; any bed but MISS, see
// dartboard::kAimCount) that a player of accuracy `sigma_mm` aims at from
// `remaining` with `darts_left` darts left in the visit (1 to 3):
//   1. When the visit can finish (the advice has a route), the checkout
//      advice's first aim.
//   2. Otherwise, far from the finish (remaining above 170 + 60 per dart
//      left, so that no visit can leave a finish), the aim whose darts score
//      the most on average: T20 for a sigma up to 16 mm, T19 up to 30 mm, T7
//      beyond.
//   3. Otherwise the aim with the best expected worth of the visit, the
//      visit's later darts chosen by these same rules: its points, plus the
//      chance that what it leaves is finished by the next visit's three darts
//      (as the advice gives it) times a finish's worth of six visits of the
//      player's best scoring (4 to 12 give legs of the fewest darts). A bust
//      (below 0, leaving 1, or 0 without a double) counts as a visit that
//      ends where that dart was thrown from, without points.
// So near the end the computer avoids busts and leaving 1 and prefers a
// leave it finishes often to a few more points: from 45 with one dart it
// aims at S13 for D16 (at 8.5 mm). Ties go to the lower bed index. Returns
// nothing for a remaining below 2, a dart count out of range or a sigma that
// is not positive and finite. The first call for a sigma computes its tables
// (about 2 ms in an optimised build, the advice's included); later calls look
// them up. Tables of up to 16 sigmas besides the three levels and the
// calibrated targets are kept, the oldest dropped first. May run on any
// thread at once.
std::optional<int> chooseAim(int remaining, int darts_left, double sigma_mm);

// The situation of one of the computer's darts. With the thrower's seed, its
// leg, visit and darts left alone decide the dart's random error, whatever
// was thrown before: a dart taken back by undo and thrown again from the same
// situation lands the same, and so the same human darts with the same seed
// give the same computer darts.
struct DartSituation {
    int remaining = 0;   // the computer's score before the dart, at least 2
    int darts_left = 0;  // darts left in its visit, this one included: 1 to 3
    int leg = 0;         // the leg of the match, any counter the caller keeps
    int visit = 0;       // the computer's visit in the leg (its round), any counter
};

// One dart of the computer.
struct ComputerDart {
    std::string aim;       // canonical notation of the bed aimed at
    std::string notation;  // canonical notation of the bed it landed in (beds::bedNotation)
    int bed = 0;           // the bed it landed in (beds.h)
};

// Throws one computer player's darts. Holds no state but its sigma and seed,
// so it may be copied, kept for a whole match, and used on any thread at once.
// Each computer player of a match throws with its own seed (seatComputers).
class ComputerThrower {
public:
    ComputerThrower(double sigma_mm, std::uint64_t seed);
    ComputerThrower(const ComputerLevel& level, std::uint64_t seed);

    // Returns the dart thrown in `situation`: the aim by chooseAim, and the bed
    // in which a dart lands that is aimed at dartboard::aimPoint(aim) and
    // misses it by a Gaussian error of sigma in x and in y. The error comes
    // from two numbers of a std::linear_congruential_engine (Knuth's 64-bit
    // constants) seeded from the seed and the situation's leg, visit and darts
    // left through the splitmix64 finaliser, turned into a Gaussian by our own
    // Box-Muller rather than the standard's distributions, which differ from
    // one library to the next: the darts are the same on every platform (up
    // to the last bit of the maths library's logarithm, sine and cosine).
    // Takes well under a microsecond once the sigma's tables exist. Returns
    // nothing when chooseAim does.
    std::optional<ComputerDart> throwDart(const DartSituation& situation) const;

private:
    double sigma_mm_;
    std::uint64_t seed_;
};

// Returns the throwers of a start's computers, by the start's players: for
// each player with a level, a thrower of that level and of `seed` plus the
// player's index (nearby seeds give unrelated darts); none for a person.
std::vector<std::optional<ComputerThrower>> seatComputers(
    const std::vector<std::optional<ComputerLevel>>& levels, std::uint64_t seed);

// Returns a seed from the system's source of randomness, for a start that
// names none.
std::uint64_t randomSeed();

// What a match's computer players do next.
struct ComputerMove {
    enum class Kind { none, dart, clear };
    Kind kind = Kind::none;
    DartValue dart;  // for a dart: where it landed, to throw as it is (Match::addDart)
};

// Returns the next move of a match's computers: the next dart of a computer
// whose turn it is (its leg counted from 1 in the match, its visit as the
// leg's round), or the board clear after a computer's own turn or its
// winning dart of a leg; none while a person is to act or the match is not
// being played. `computers` holds a thrower for each computer by the match's
// players, in their starting order (seatComputers).
ComputerMove nextComputerMove(const Match& match,
                              const std::vector<std::optional<ComputerThrower>>& computers);

}  // namespace game501
