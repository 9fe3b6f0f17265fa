// The beds of a dartboard and how darts in them are written: every place a
// dart can land, its canonical notation and the other names scorers use for
// it, the points it scores and whether it may finish a game. The engine's
// notation and the model of the board's geometry both build on this.
//
// Example:
//   beds::parseBed(" t20 ");                 // beds::trebleBed(20)
//   beds::bedNotation(beds::kBullBed);       // "BULL"
//   beds::bedValue(beds::doubleBed(16));     // 32
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace game501::beds {

// Beds by index: S1-S20 are 0-19, D1-D20 are 20-39, T1-T20 are 40-59, then
// OUTER (the outer bull, 25), BULL (50, a double) and MISS (off the board).
inline constexpr int kSegments = 20;
inline constexpr int kOuterBed = 3 * kSegments;
inline constexpr int kBullBed = kOuterBed + 1;
inline constexpr int kMissBed = kBullBed + 1;
inline constexpr int kBedCount = kMissBed + 1;

constexpr int singleBed(int segment) { return segment - 1; }
constexpr int doubleBed(int segment) { return 19 + segment; }
constexpr int trebleBed(int segment) { return 39 + segment; }

// Returns the segment number (1 to 20) of a single, double or treble bed,
// and 0 for OUTER, BULL, MISS and anything that is not a bed.
constexpr int segmentOf(int bed) {
    return bed >= 0 && bed < 3 * kSegments ? bed % kSegments + 1 : 0;
}

// Returns the points a dart in `bed` scores; 0 for anything that is not a bed.
int bedValue(int bed);

// Returns whether a dart in `bed` may finish a game: D1-D20 and BULL.
bool isDoubleBed(int bed);

// Returns the canonical notation of `bed`: "MISS", "OUTER", "BULL", or S, D
// or T followed by 1 to 20 without leading zeros; "MISS" for anything that
// is not a bed.
std::string bedNotation(int bed);

// Reads a notation, ignoring case and surrounding ASCII white space: the
// canonical ones, "M" and "0" for MISS, "SB", "S25" and "25" for OUTER,
// "DB", "D25" and "50" for BULL, and a segment number with or without S, D
// or T before it, with any count of leading zeros. Returns nothing for any
// other text, a number beyond 32 bits included.
std::optional<int> parseBed(std::string_view notation);

}  // namespace game501::beds
