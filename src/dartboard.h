// A model of the regulation dartboard and of a throw: where each scoring bed
// lies, what a dart scores where it lands, and the chance of each bed when a
// player aims at a point and the dart lands around it with a circular
// Gaussian error of standard deviation sigma millimetres.
//
// Example:
//   dartboard::bedAt({0.0, 103.0});                  // beds::trebleBed(20)
//   const dartboard::BedChances chances = dartboard::bedChances(20.0);
//   chances[beds::trebleBed(20)][beds::trebleBed(20)];  // about 0.09
#pragma once

#include <array>

#include "beds.h"

namespace game501::dartboard {

// Distances from the centre in millimetres. A dart on the edge between two
// rings scores in the outer one; one beyond the double ring scores nothing.
inline constexpr double kBullRadius = 6.35;
inline constexpr double kOuterBullRadius = 15.9;
inline constexpr double kTrebleInnerRadius = 99.0;
inline constexpr double kTrebleOuterRadius = 107.0;
inline constexpr double kDoubleInnerRadius = 162.0;
inline constexpr double kDoubleOuterRadius = 170.0;

// Where the aims lie: the middle of the outer single bed, of the treble ring
// and of the double ring, on the middle line of their segment.
inline constexpr double kSingleAimRadius = 134.5;
inline constexpr double kTrebleAimRadius = 103.0;
inline constexpr double kDoubleAimRadius = 166.0;

// Segment numbers clockwise from the top; each segment is 18 degrees wide and
// 20 is centred on the top.
inline constexpr std::array<int, 20> kSegmentOrder = {20, 1,  18, 4,  13, 6,  10, 15, 2,  17,
                                                      3,  19, 7,  16, 8,  11, 14, 9,  12, 5};

// Every bed but MISS (see beds.h) is also an aim, numbered as its bed; OUTER
// and BULL are both aimed at the centre of the board.
inline constexpr int kAimCount = beds::kMissBed;

// A point on the board face in millimetres: the origin at the centre, x to
// the right, y up towards the 20.
struct Point {
    double x = 0.0;
    double y = 0.0;
};

// Returns the point aimed at for `aim` (0 to kAimCount - 1); the centre for
// anything else.
Point aimPoint(int aim);

// Returns the bed a dart landing at `point` scores in; MISS beyond the double
// ring and for a point that is not finite.
int bedAt(Point point);

// chances[aim][bed]: the chance that a dart aimed at `aim` lands in `bed`.
// Every row sums to 1.
using BedChances = std::array<std::array<double, beds::kBedCount>, kAimCount>;

// Returns the chance of every bed for every aim when darts land with a
// circular Gaussian error of `sigma_mm` around the point aimed at. Each
// chance is within 1e-6 of the exact integral, and aims that see a bed from
// the same place, rotated or mirrored, get exactly the same chance for it, so
// that they tie exactly. Takes under a millisecond. A `sigma_mm` below 0.01
// is taken as 0.01 (every dart then lands in the bed aimed at); one that is
// not positive and finite gives every aim a certain miss.
BedChances bedChances(double sigma_mm);

}  // namespace game501::dartboard
