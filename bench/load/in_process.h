// The same darts in process: the engine's speed without the network, the
// yardstick of the figures measured on the network.
#pragma once

#include <utility>
#include <vector>

#include "script.h"

namespace load {

// Plays the script on one engine, on this thread, on each CPU the generator
// may use in turn for its share of `seconds`, and returns accepted darts per
// second of addDart plus serialising its answer per CPU number; one figure
// for CPU -1 when the CPUs cannot be read.
std::vector<std::pair<int, double>> inProcessByCpu(const Script& script, double seconds);

}  // namespace load
