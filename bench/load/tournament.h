// The tournament scenario: a night of computers run by the server on a pool
// of boards, beside boards that play without a competition.
#pragma once

#include "options.h"

namespace game501::load {

// Plays a groups-then-knockout competition of kTournamentPlayers computers
// with no pause on the first half of options.boards boards, while computers
// play long matches without one on the other half; then reads the journal
// for the time from a board becoming free to its next call (median and
// largest) and the darts a second of a board that plays, on competition
// boards against the others. Prints the figures and returns whether the
// competition finished in time with every match played. Throws when the
// server cannot be started.
bool runTournament(const Options& options);

inline constexpr int kTournamentPlayers = 16;
inline constexpr int kTournamentBoards = 8;

}  // namespace game501::load
