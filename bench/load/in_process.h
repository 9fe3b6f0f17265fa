// The same darts in process: the engine's speed without the network, the
// yardstick of the figures measured on the network.
#pragma once

#include <utility>
#include <vector>

#include "match_501.h"
#include "script.h"

namespace game501::load {

// Plays the script on one engine, on this thread, on each CPU the generator
// may use in turn for its share of `seconds`, and returns accepted darts per
// second of addDart plus serialising its answer per CPU number; one figure
// for CPU -1 when the CPUs cannot be read. A single game is played on
// Game501, as a server before matches did, a match on Match501.
std::vector<std::pair<int, double>> inProcessByCpu(const Script& script,
                                                   const Match501::Format& format, double seconds);

}  // namespace game501::load
