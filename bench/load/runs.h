// The runs of a load of scorers and viewers: each a server of its own, the
// load on it over the network, and the same darts in process.
#pragma once

#include "options.h"

namespace game501::load {

// Runs the load options.runs times with each kind of run, by turns, and
// prints each run's figures, the medians of each kind, their comparisons and
// the scenario's targets. Returns whether all was well: no errors, every
// server stopped cleanly and every viewer connected, and for --smoke no
// event lost nor, with one scorer a board, a dart refused. Throws when a
// server cannot be started or a run is interrupted.
bool runLoads(const Options& options);

}  // namespace game501::load
