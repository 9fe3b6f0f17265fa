// The games the scorers play: a fixed script of whole two-player games, the
// same in every run, and how a scorer reads an answer to know what comes
// next.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "match_501.h"

namespace game501::load {

extern const std::vector<std::string> kPlayers;
extern const std::string kSource;

// Answers and events are compact JSON with sorted keys, so an accepted one
// starts with this.
inline constexpr std::string_view kAccepted = R"({"accepted":true)";

enum class Step { start, dart, clear };

bool startsWith(std::string_view text, std::string_view prefix);

// Returns what a scorer sends after `answer`, the answer to `answered`: the
// board clear after a turn or a leg that ended, a new match when none is
// being played or that clear left the leg finished, else the next dart.
Step nextStep(std::string_view answer, Step answered);

bool isSingleGame(const Match501::Format& format);

// Returns the request body that starts a match of `players` in `format`; a
// single game's names no format, as servers before matches take it.
std::string startBody(const std::vector<std::string>& players, const Match501::Format& format);
// Returns the request body that throws `notation` with the script's label.
std::string dartBody(const std::string& notation);

struct ScriptDart {
    std::string notation;
    std::string body;  // the request body that throws it
};

// The darts each game takes to its checkout, as the engine scored them.
struct Script {
    std::vector<std::vector<ScriptDart>> games;
    std::size_t darts = 0;
    std::size_t turns = 0;
    std::size_t busts = 0;
};

// Plays the script's games on an engine, each opening with
// `opening_misses` visits of three missed darts by each player, which make
// a game longer and leave its end as it was. Throws std::logic_error if the
// engine refuses a dart or a game does not end.
Script buildScript(int opening_misses = 0);

}  // namespace game501::load
