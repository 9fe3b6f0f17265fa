// A competition as the API and its event stream show it. Pure functions,
// safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "competition.h"
#include "game_501.h"

namespace game501::server {

// What the server keeps of a competition beside the library's value: its
// id, name and the night's settings.
struct CompetitionFacts {
    int id = 0;
    std::string name;
    std::vector<int> boards;  // the pool, in the order boards are tried
    // Per player of the settings: a computer's level ("club", "70"), empty
    // for a person.
    std::vector<std::string> computers;
};

// Returns the competition's document: "id", "name", "format", "status"
// ("playing", "finished"), "boards", "players" (with each one's "computer"
// level or null), "league", "rounds" and "open_rounds" of the group stage,
// "matches", "tables", "bracket", "order_of_play", "returned" (each match
// a board gave back to the queue: {"board", "match"}) and "winner". Names stand
// for players everywhere; a place decided by the draw is marked "by_draw".
Game501::json competitionDocument(const CompetitionFacts& facts,
                                  const competition::Competition& competition);

// Returns the night's settings as the journal keeps them: {"boards",
// "computers"}; and reads them back into `facts`, false for a document that
// is not one.
Game501::json nightJson(const CompetitionFacts& facts);
bool readNight(const Game501::json& night, CompetitionFacts& facts);

}  // namespace game501::server
