// The organiser's requests about competitions read into what the
// competitions take, and their answers. Pure functions, safe on any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <variant>

#include "answers.h"
#include "competition.h"
#include "competition_document.h"
#include "competitions.h"
#include "organiser.h"

namespace game501::server {

struct NewCompetition {
    CompetitionFacts facts;
    competition::Settings settings;
};

// Returns the id in an address (a competition's or a match's): 1 to
// 999,999,999; nothing for any other text.
std::optional<int> competitionNumber(std::string_view text);

// Reads POST /api/competitions: the organiser's token and the JSON body
// ("name", "players", "format", "groups", "advance", "league", "legs",
// "sets", "final_legs", "boards", "points", "tiebreakers", "seeded",
// "seed"), each person among the register's `members` (named as the
// register names them) and each board one of `boards`. Returns the
// competition to make, or the answer that refuses it: 401, 403, 404
// ("unknown_player"), 415 or 400 with a stable code.
std::variant<NewCompetition, Response> readNewCompetition(const Request& request,
                                                          const Organiser& organiser,
                                                          std::size_t boards);

// Reads POST /api/competitions/ID/rounds: {"open": [round, ...]}.
std::variant<competition::Event, Response> readRounds(const Request& request,
                                                      const Organiser& organiser);

// Reads POST /api/competitions/ID/matches/MID/result: {"walkover": 0 or 1}
// (who goes through), or {"winner": 0 or 1, "legs": [a, b]} with "sets":
// [a, b] for a format of sets.
std::variant<competition::Event, Response> readResult(const Request& request,
                                                      const Organiser& organiser, int match);

// Returns the answer to a competition's write: its document (201 when
// `created`), or 404, 409 ("refused") or 503; a refused creation is 400
// ("invalid_competition").
Response competitionAnswer(CompetitionResult result, bool created, unsigned version);

}  // namespace game501::server
