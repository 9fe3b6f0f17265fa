// The medians of runs of different kinds side by side: each format against
// the first, and this server against the other, the rest of the kind held.
#pragma once

#include <vector>

#include "figures.h"
#include "options.h"
#include "run_kind.h"

namespace game501::load {

// Returns the median of the runs of `kind`, or null when none ran.
const RunFigures* medianOf(const std::vector<RunFigures>& medians, const RunKind& kind);

// Returns the accepted darts a second of `of` over those of `over`, -1 when
// `over` has none.
double dartsRatio(const RunFigures& of, const RunFigures& over);

// Prints, for every median whose kind differs from another's only in its
// format or only in its server, its accepted darts a second over the other's.
void printComparisons(const Options& options, const std::vector<RunFigures>& medians);

}  // namespace game501::load
