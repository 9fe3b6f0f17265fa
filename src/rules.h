// The rules of 501 with double-out and the limits of a game, each in one
// place: the engine plays by them, and the advice, the computer, the
// statistics and the front ends ask them here.
//
// Example:
//   dartEffect(40, 40, true);                       // DartEffect::checks_out (D20)
//   dartEffect(40, 39, false);                      // DartEffect::busts: leaves 1
//   dartsCharged(TurnOutcome::bust, 1);             // 3
//   rangeRefusal(kMinPlayers, kMaxPlayers, "spelare");  // "Välj mellan 1 och 8 spelare"
//   playerName("  Nils Berg ", 0);                  // "Nils Berg"
//   nameKey("nils berg") == nameKey("Nils Berg");   // true: one player
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace game501 {

inline constexpr int kStartScore = 501;
inline constexpr int kMinPlayers = 1;
inline constexpr int kMaxPlayers = 8;
inline constexpr int kDartsPerTurn = 3;
// The most that one visit finishes: T20 T20 BULL.
inline constexpr int kHighestFinish = 170;

// What one dart does to the remaining score of its thrower.
enum class DartEffect {
    scores,      // leaves 2 or more
    checks_out,  // leaves 0 with a double (D1-D20 or BULL): the game is won
    busts,       // leaves less than 0, 1, or 0 without a double: the visit scores nothing
};

// Returns what a dart of `value` points, a double or not, does from `remaining`.
DartEffect dartEffect(int remaining, int value, bool is_double);

// Returns who throws first in leg `leg` of set `set` (both counted from 1)
// of a match of `players`, as a place in the match's starting order: the
// throw passes on by one place a leg, and the first throw of a set by one
// place a set.
int legStarter(int set, int leg, int players);

// How a visit (a player's turn of up to three darts) stands.
enum class TurnOutcome {
    open,      // being thrown
    scored,    // ended by its third dart
    bust,      // ended by a bust: the score goes back to the visit's start
    checkout,  // ended by the winning dart
};

// Returns the outcome as documents write it: "open", "scored", "bust" or "checkout".
const char* outcomeName(TurnOutcome outcome);

// Returns the darts a visit of `thrown` darts counts for in averages: a bust
// visit counts three, however early it busted, since its player had no more
// darts of it to throw.
int dartsCharged(TurnOutcome outcome, int thrown);

// A player's name keeps at most this many bytes.
inline constexpr std::size_t kMaxNameBytes = 32;

// Returns the name the player at `seat` (from 0) plays under when given
// `name`: without white space at either end, and cut to kMaxNameBytes
// without splitting a UTF-8 character; a blank name is "Spelare N".
std::string playerName(std::string_view name, std::size_t seat);

// Returns whether playerName keeps `name` whole: at most kMaxNameBytes once
// trimmed.
bool nameFits(std::string_view name);

// Returns what tells players apart: the name as playerName keeps it, with
// ASCII letters in lower case. Two names are one player when their keys are
// equal ("nils berg" and " Nils Berg"); letters outside ASCII are compared
// as they are ("Å" is not "å").
std::string nameKey(std::string_view name);

// Returns the refusal of a count outside `low` to `high`, in Swedish:
// "Välj mellan 1 och 8 spelare".
std::string rangeRefusal(int low, int high, std::string_view unit);

}  // namespace game501
