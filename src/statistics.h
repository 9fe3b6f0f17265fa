// The figures players ask for after a match (three-dart average, first nine,
// checkout rate, big visits, highest finish, best leg), computed from the
// record of what was thrown (match_record.h) and from nothing else, so they
// are exact for legs of any length.
//
// Counts are kept apart from what is derived from them: a match's counts are
// the sum of its legs', a career's the sum of its matches', and an average
// worked out from stored counts is the same number as one worked out live.
//
// Example:
//   const std::vector<statistics::Counts> players = statistics::matchCounts(legs, 2);
//   statistics::threeDartAverage(players[0]);  // 167.0 for a nine-dart leg
//   statistics::checkoutText(players[0]);      // "1/1"
//   statistics::Counts career;
//   for (const statistics::Counts& match : stored) career += match;
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "match_record.h"

namespace game501::statistics {

// What one player threw in a leg, a match or any number of matches. Every
// member but the last two is a count that adds up; a visit still being thrown
// counts its darts and points so far.
struct Counts {
    // Every dart thrown, except that a visit that busts counts as three darts.
    std::int64_t darts = 0;
    // The points of the visits that did not bust; a bust visit scores 0.
    std::int64_t points = 0;
    // The same over the first three visits of each leg (fewer when the leg
    // ended sooner).
    std::int64_t first_nine_darts = 0;
    std::int64_t first_nine_points = 0;
    // Darts thrown, bust darts included, from a remaining score that one dart
    // can finish (isOneDartFinish).
    std::int64_t double_darts = 0;
    // Legs that have a winner; a leg being played is not counted yet.
    std::int64_t legs_played = 0;
    std::int64_t legs_won = 0;
    std::int64_t legs_won_against_throw = 0;  // won, and another player started it
    // Finished visits that did not bust, by points: 100-139, 140-179 and 180.
    // A visit still being thrown is not counted until it ends.
    std::int64_t visits_100 = 0;
    std::int64_t visits_140 = 0;
    std::int64_t visits_180 = 0;
    // The largest score checked out in one visit; 0 when none was.
    std::int64_t highest_finish = 0;
    // The fewest darts in a won leg, counted as `darts` is; 0 when none was won.
    std::int64_t best_leg = 0;

    // Adds `other`: every count summed, the larger highest finish and the
    // smaller best leg kept (a 0 meaning none).
    Counts& operator+=(const Counts& other);
};

// Every member of Counts with its name, in the order of the members, which
// is the order the server's archive stores them in: never reordered, a new
// count added last.
struct CountField {
    const char* name;
    std::int64_t Counts::*member;
};
inline constexpr std::array<CountField, 13> kCountFields = {{
    {"darts", &Counts::darts},
    {"points", &Counts::points},
    {"first_nine_darts", &Counts::first_nine_darts},
    {"first_nine_points", &Counts::first_nine_points},
    {"double_darts", &Counts::double_darts},
    {"legs_played", &Counts::legs_played},
    {"legs_won", &Counts::legs_won},
    {"legs_won_against_throw", &Counts::legs_won_against_throw},
    {"visits_100", &Counts::visits_100},
    {"visits_140", &Counts::visits_140},
    {"visits_180", &Counts::visits_180},
    {"highest_finish", &Counts::highest_finish},
    {"best_leg", &Counts::best_leg},
}};

Counts operator+(Counts left, const Counts& right);
bool operator==(const Counts& left, const Counts& right);
bool operator!=(const Counts& left, const Counts& right);

// Returns whether one dart can finish from `remaining`: a double's value,
// an even number from 2 to 40, or 50 for BULL.
bool isOneDartFinish(int remaining);

// Returns the counts of `player` (an index into the match's players) in
// `leg`: the player's visits, and whether the leg is finished, won by the
// player and started by another. A visit counts the darts dartsCharged
// gives it (rules.h); only TurnOutcome::checkout makes a finish.
Counts legCounts(const LegRecord& leg, int player);

// Returns one Counts per player of a match of `player_count` players, the sum
// of legCounts over `legs`. Visits of a player outside the match are left
// out; a count below 1 gives an empty list.
std::vector<Counts> matchCounts(const std::vector<LegRecord>& legs, int player_count);

// Returns 3 x points / darts, or nothing before the first dart.
std::optional<double> threeDartAverage(const Counts& counts);

// Returns 3 x first-nine points / first-nine darts, or nothing before the
// first dart.
std::optional<double> firstNineAverage(const Counts& counts);

// Returns legs won / darts at a double, from 0 to 1, or nothing before the
// first dart at a double.
std::optional<double> checkoutRate(const Counts& counts);

// Returns legs won and darts at a double as "3/11" ("0/0" before any).
std::string checkoutText(const Counts& counts);

// The figures worked out from counts as toJson rounds them: to 2 decimals,
// from the integer counts, halves up; each nothing when its denominator is 0.
struct Figures {
    std::optional<double> three_dart_average;
    std::optional<double> first_nine_average;
    std::optional<double> checkout_percent;  // the checkout rate in percent
    std::string checkout_text;               // checkoutText
};
Figures figures(const Counts& counts);

// Returns the counts and the figures for a program to read: every member of
// Counts under its own name as an integer, except highest_finish and
// best_leg, which are null when there is none; "three_dart_average" and
// "first_nine_average" rounded to 2 decimals, "checkout_percent" (the
// checkout rate in percent, rounded to 2 decimals), each null when its
// denominator is 0; and "checkout_text" as checkoutText. The roundings are
// worked out from the integer counts, halves up, so equal counts always give
// the same document.
nlohmann::json toJson(const Counts& counts);

}  // namespace game501::statistics
