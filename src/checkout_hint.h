// Checkout hints for 501 with double-out: the darts a player would aim for to
// finish from a remaining score with the darts left in the turn.
//
// Example:
//   checkoutHint(170, 3);  // {"T20", "T20", "BULL"}
//   checkoutHint(61, 2);   // {"T15", "D8"}
//   checkoutHint(169, 3);  // {}: no three darts finish 169
#pragma once

#include <string>
#include <vector>

// Returns the route from `remaining` points with at most `darts_left` darts
// (1 to 3): canonical dart notations in throwing order whose sum is
// `remaining` and whose last dart is a double (D1-D20 or BULL). The route has
// as few darts as possible. Among routes of that length the preferred one is,
// rule by rule, the route with
//   1. the fewest set-up darts (all but the last) on a double or BULL: both are
//      narrow, and a double that misses outwards scores nothing;
//   2. the finishing double that best forgives a near miss: a dart in the single
//      bed of D16 leaves 16, itself a double, and so on down to D1. Segments rank
//      by how often they halve, the larger first on a tie (D16, D8, D20, D12, D4,
//      D18, D14, D10, D6, D2, then D19 down to D1), and BULL comes last;
//   3. the larger set-up dart first, compared dart by dart in throwing order;
//   4. for set-up darts of equal value, the single before the treble before the
//      double (the wider bed).
// So 170 is T20 T20 BULL, 160 is T20 T20 D20, 100 is T20 D20, 40 is D20.
// Returns an empty list when no route exists (above 170, for 169, 168, 166,
// 165, 163, 162 and 159 with three darts, below 2) or when `darts_left` is not
// 1 to 3. Changes nothing and may run on any thread at once.
std::vector<std::string> checkoutHint(int remaining, int darts_left);
