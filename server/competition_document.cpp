#include "competition_document.h"

#include <cmath>
#include <optional>

namespace game501::server {

namespace {

using json = Game501::json;
namespace cm = competition;

json nameOf(const cm::Competition& competition, std::optional<int> player) {
    if (!player) {
        return nullptr;
    }
    return competition.settings().players[static_cast<std::size_t>(*player)];
}

json groupName(int group) {
    if (group < 0) {
        return nullptr;
    }
    return std::string(1, static_cast<char>('A' + group));
}

// Two decimals, as every average the server shows.
json rounded(std::optional<double> value) {
    if (!value) {
        return nullptr;
    }
    return std::round(*value * 100.0) / 100.0;
}

json matchJson(const cm::Competition& competition, const cm::Match& match) {
    json players = json::array();
    for (const std::optional<int>& player : match.players) {
        players.push_back(nameOf(competition, player));
    }
    const cm::Result* result = match.result ? &*match.result : nullptr;
    return {{"board", match.board == 0 ? json(nullptr) : json(match.board)},
            {"format", {{"legs", match.format.legs}, {"sets", match.format.sets}}},
            {"group", groupName(match.group)},
            {"id", match.id},
            {"legs", result ? json(result->legs) : json::array({0, 0})},
            {"match", result && !result->archive_match.empty() ? json(result->archive_match)
                                                               : json(nullptr)},
            {"players", std::move(players)},
            {"round", match.round},
            {"sets", result ? json(result->sets) : json::array({0, 0})},
            {"stage", cm::name(match.stage)},
            {"status", cm::name(match.status)},
            {"winner", result ? json(result->winner) : json(nullptr)}};
}

json tableJson(const cm::Competition& competition, const cm::Table& table) {
    json rows = json::array();
    for (const cm::Row& row : table.rows) {
        rows.push_back({{"average", rounded(row.average)},
                        {"by_draw", row.by_draw},
                        {"highest_finish", row.counts.highest_finish},
                        {"leg_difference", row.leg_difference},
                        {"legs_against", row.legs_against},
                        {"legs_for", row.legs_for},
                        {"lost", row.lost},
                        {"one_eighties", row.counts.visits_180},
                        {"played", row.played},
                        {"player", nameOf(competition, row.player)},
                        {"points", row.points},
                        {"won", row.won}});
    }
    return {{"complete", table.complete}, {"group", groupName(table.group)}, {"rows", rows}};
}

json bracketJson(const cm::Competition& competition) {
    json rounds = json::array();
    for (const std::vector<cm::Pairing>& round : competition.bracket()) {
        json pairings = json::array();
        for (const cm::Pairing& pairing : round) {
            pairings.push_back({{"match", pairing.match == 0 ? json(nullptr) : json(pairing.match)},
                                {"players",
                                 {nameOf(competition, pairing.players[0]),
                                  nameOf(competition, pairing.players[1])}}});
        }
        rounds.push_back(std::move(pairings));
    }
    return rounds;
}

// Each match a board gave back (a reset or a start over it), with the board,
// oldest first.
json returnedJson(const cm::Competition& competition) {
    json returned = json::array();
    std::vector<int> boards(competition.matches().size() + 1, 0);
    for (const cm::Event& event : competition.events()) {
        if (event.kind == cm::Event::Kind::Begin) {
            boards[static_cast<std::size_t>(event.match)] = event.board;
        } else if (event.kind == cm::Event::Kind::Requeue) {
            const int board = boards[static_cast<std::size_t>(event.match)];
            returned.push_back(
                {{"board", board == 0 ? json(nullptr) : json(board)}, {"match", event.match}});
        }
    }
    return returned;
}

}  // namespace

json competitionDocument(const CompetitionFacts& facts, const cm::Competition& competition) {
    const cm::Settings& settings = competition.settings();
    json players = json::array();
    for (std::size_t player = 0; player < settings.players.size(); ++player) {
        const bool computer = player < facts.computers.size() && !facts.computers[player].empty();
        players.push_back({{"computer", computer ? json(facts.computers[player]) : json(nullptr)},
                           {"name", settings.players[player]}});
    }
    json matches = json::array();
    for (const cm::Match& match : competition.matches()) {
        matches.push_back(matchJson(competition, match));
    }
    json tables = json::array();
    for (const cm::Table& table : competition.tables()) {
        tables.push_back(tableJson(competition, table));
    }
    json open_rounds = json::array();
    for (int round = 1; round <= competition.rounds(); ++round) {
        if (competition.roundOpen(round)) {
            open_rounds.push_back(round);
        }
    }
    return {{"boards", facts.boards},
            {"bracket", bracketJson(competition)},
            {"format", cm::name(settings.format)},
            {"id", facts.id},
            {"league", settings.league},
            {"matches", std::move(matches)},
            {"name", facts.name},
            {"open_rounds", std::move(open_rounds)},
            {"order_of_play", competition.orderOfPlay()},
            {"players", std::move(players)},
            {"returned", returnedJson(competition)},
            {"rounds", competition.rounds()},
            {"status", competition.finished() ? "finished" : "playing"},
            {"tables", std::move(tables)},
            {"winner", nameOf(competition, competition.winner())}};
}

json nightJson(const CompetitionFacts& facts) {
    return {{"boards", facts.boards}, {"computers", facts.computers}};
}

bool readNight(const json& night, CompetitionFacts& facts) {
    try {
        facts.boards = night.at("boards").get<std::vector<int>>();
        facts.computers = night.at("computers").get<std::vector<std::string>>();
    } catch (const json::exception&) {
        return false;
    }
    return true;
}

}  // namespace game501::server
