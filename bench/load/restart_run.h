// The restart scenario: boards full of games, then the server stopped and
// started again on their journal, timed to its first answer and checked to
// be exactly where it was.
#pragma once

#include "options.h"

namespace game501::load {

inline constexpr int kRestartFillConnections = 20;
// A start, then 75 turns of three missed darts and a clear, the last clear
// left out: 1 + 75 × 4 − 1 calls, and no game ends.
inline constexpr int kRestartCallsPerBoard = 300;

// Fills options.boards boards over options.scorers connections, then
// options.runs times: stops the server with SIGTERM, starts it on the same
// journal, times its first answer, checks that every state document is the
// same byte for byte and that a write on every board is numbered on from
// its last event. Prints the figures and the targets and returns whether
// every check held. Throws when a server cannot be started or filled.
bool runRestarts(const Options& options);

}  // namespace game501::load
