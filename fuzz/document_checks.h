// Checks of the engine's documents against the rules every document must
// keep, whatever sequence of calls produced it. Each check returns an empty
// string when the document holds, or a description of the first problem, so
// fuzz targets and unit tests can report it in their own way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "game_501.h"

namespace game501::check {

using json = Game501::json;

constexpr int kStartScore = 501;
constexpr std::size_t kMaxPlayers = 8;
constexpr std::size_t kShownHistory = 20;
constexpr std::size_t kMaxNameBytes = 32;

// Points and double flag of a canonical notation, read independently of the
// engine's parser; nothing for any text that is not canonical.
inline std::optional<Game501::DartValue> canonicalDart(const std::string& notation) {
    if (notation == "MISS") {
        return Game501::DartValue{notation, 0, false};
    }
    if (notation == "OUTER") {
        return Game501::DartValue{notation, 25, false};
    }
    if (notation == "BULL") {
        return Game501::DartValue{notation, 50, true};
    }
    if (notation.size() < 2 || notation.size() > 3) {
        return std::nullopt;
    }
    const std::string digits = notation.substr(1);
    for (int segment = 1; segment <= 20; ++segment) {
        if (digits != std::to_string(segment)) {
            continue;
        }
        switch (notation[0]) {
            case 'S':
                return Game501::DartValue{notation, segment, false};
            case 'D':
                return Game501::DartValue{notation, 2 * segment, true};
            case 'T':
                return Game501::DartValue{notation, 3 * segment, false};
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

inline bool sameDart(const std::optional<Game501::DartValue>& a,
                     const std::optional<Game501::DartValue>& b) {
    if (!a || !b) {
        return a.has_value() == b.has_value();
    }
    return a->notation == b->notation && a->value == b->value && a->is_double == b->is_double;
}

// Whether the text would survive serialisation, judged by the JSON library
// itself rather than by the engine's own idea of UTF-8.
inline bool isValidUtf8(const std::string& text) {
    try {
        (void)json(text).dump();
        return true;
    } catch (const json::type_error&) {
        return false;
    }
}

enum class Kind { string, integer, boolean, array, object };

inline bool hasKind(const json& value, Kind kind) {
    switch (kind) {
        case Kind::string:
            return value.is_string();
        case Kind::integer:
            // Signed only: an unsigned integer would mean a size leaked through.
            return value.type() == json::value_t::number_integer;
        case Kind::boolean:
            return value.is_boolean();
        case Kind::array:
            return value.is_array();
        case Kind::object:
            return value.is_object();
    }
    return false;
}

// The object must have exactly these keys, each holding its kind.
inline std::string shapeProblem(const json& object,
                                const std::vector<std::pair<const char*, Kind>>& keys,
                                const std::string& where) {
    if (!object.is_object()) {
        return where + " is not an object";
    }
    if (object.size() != keys.size()) {
        return where + " has " + std::to_string(object.size()) + " keys, expected " +
               std::to_string(keys.size());
    }
    for (const auto& [key, kind] : keys) {
        if (!object.contains(key)) {
            return where + " lacks \"" + key + "\"";
        }
        if (!hasKind(object[key], kind)) {
            return where + " \"" + key + "\" has the wrong kind";
        }
    }
    return "";
}

inline std::string dartProblem(const json& dart, const std::string& where) {
    std::string problem = shapeProblem(dart,
                                       {{"notation", Kind::string},
                                        {"value", Kind::integer},
                                        {"double", Kind::boolean},
                                        {"bust", Kind::boolean},
                                        {"source", Kind::string},
                                        {"timestamp", Kind::integer}},
                                       where);
    if (!problem.empty()) {
        return problem;
    }
    const auto canonical = canonicalDart(dart["notation"].get<std::string>());
    if (!canonical) {
        return where + " notation is not canonical";
    }
    if (dart["value"] != canonical->value || dart["double"] != canonical->is_double) {
        return where + " value or double flag disagrees with its notation";
    }
    return "";
}

// Checks every dart of an array; sums their values into `total`.
inline std::string dartsProblem(const json& darts, const std::string& where, int& total) {
    total = 0;
    for (std::size_t i = 0; i < darts.size(); ++i) {
        const std::string problem = dartProblem(darts[i], where + " dart " + std::to_string(i));
        if (!problem.empty()) {
            return problem;
        }
        total += darts[i]["value"].get<int>();
    }
    return "";
}

inline std::string historyEntryProblem(const json& entry, const json& players,
                                       const std::string& where) {
    std::string problem = shapeProblem(entry,
                                       {{"player_index", Kind::integer},
                                        {"player", Kind::string},
                                        {"round", Kind::integer},
                                        {"start_score", Kind::integer},
                                        {"end_score", Kind::integer},
                                        {"outcome", Kind::string},
                                        {"darts", Kind::array}},
                                       where);
    if (!problem.empty()) {
        return problem;
    }
    const auto index = entry["player_index"].get<long long>();
    if (index < 0 || index >= static_cast<long long>(players.size())) {
        return where + " names no player";
    }
    if (entry["player"] != players[static_cast<std::size_t>(index)]["name"]) {
        return where + " player name differs from the player list";
    }
    if (entry["round"].get<long long>() < 1) {
        return where + " round below 1";
    }
    const json& darts = entry["darts"];
    if (darts.empty() || darts.size() > 3) {
        return where + " does not hold 1 to 3 darts";
    }
    int total = 0;
    problem = dartsProblem(darts, where, total);
    if (!problem.empty()) {
        return problem;
    }
    const std::string outcome = entry["outcome"].get<std::string>();
    for (std::size_t i = 0; i + 1 < darts.size(); ++i) {
        if (darts[i]["bust"].get<bool>()) {
            return where + " has a bust dart before its last dart";
        }
    }
    if (darts.back()["bust"].get<bool>() != (outcome == "bust")) {
        return where + " last dart's bust flag disagrees with the outcome";
    }
    const int start = entry["start_score"].get<int>();
    const int end = entry["end_score"].get<int>();
    if (start < 2 || start > kStartScore) {
        return where + " start score out of range";
    }
    if (outcome == "bust") {
        if (end != start) {
            return where + " bust does not end at its start score";
        }
    } else if (outcome == "checkout") {
        if (end != 0 || start != total || !darts.back()["double"].get<bool>()) {
            return where + " checkout does not reach 0 with a double";
        }
    } else if (outcome == "scored") {
        if (darts.size() != 3 || end != start - total || end < 2) {
            return where + " scored turn does not add up";
        }
    } else {
        return where + " unknown outcome";
    }
    return "";
}

// Every rule of the state document that a single document can show.
inline std::string stateProblem(const json& state) {
    std::string problem = shapeProblem(state,
                                       {{"status", Kind::string},
                                        {"variant", Kind::string},
                                        {"double_out", Kind::boolean},
                                        {"round", Kind::integer},
                                        {"active_player", Kind::integer},
                                        {"winner", Kind::integer},
                                        {"awaiting_clear", Kind::boolean},
                                        {"can_undo", Kind::boolean},
                                        {"players", Kind::array},
                                        {"current_turn", Kind::object},
                                        {"history", Kind::array}},
                                       "state");
    if (!problem.empty()) {
        return problem;
    }
    if (state["variant"] != "501" || state["double_out"] != true) {
        return "variant or double_out changed";
    }
    const std::string status = state["status"].get<std::string>();
    const bool idle = status == "idle";
    const bool playing = status == "playing";
    const bool finished = status == "finished";
    if (!idle && !playing && !finished) {
        return "unknown status";
    }

    const json& players = state["players"];
    const long long count = static_cast<long long>(players.size());
    if (idle != players.empty() || players.size() > kMaxPlayers) {
        return "player count does not fit the status";
    }
    const long long active = state["active_player"].get<long long>();
    if (players.empty() ? active != 0 : (active < 0 || active >= count)) {
        return "active_player is not a valid index";
    }
    const long long round = state["round"].get<long long>();
    if (round < 1) {
        return "round below 1";
    }
    const long long winner = state["winner"].get<long long>();
    if (finished ? (winner < 0 || winner >= count) : winner != -1) {
        return "winner does not fit the status";
    }
    for (long long i = 0; i < count; ++i) {
        const std::string where = "player " + std::to_string(i);
        const json& player = players[static_cast<std::size_t>(i)];
        problem = shapeProblem(player,
                               {{"name", Kind::string},
                                {"score", Kind::integer},
                                {"active", Kind::boolean},
                                {"winner", Kind::boolean}},
                               where);
        if (!problem.empty()) {
            return problem;
        }
        const std::string name = player["name"].get<std::string>();
        if (name.empty() || name.size() > kMaxNameBytes) {
            return where + " name is empty or longer than 32 bytes";
        }
        const int score = player["score"].get<int>();
        if (score < 0 || score == 1 || score > kStartScore) {
            return where + " score out of range";
        }
        if ((score == 0) != (finished && winner == i)) {
            return where + " has score 0 without being the winner, or the reverse";
        }
        if (player["active"] != (playing && active == i) || player["winner"] != (winner == i)) {
            return where + " active or winner flag is wrong";
        }
    }

    const bool awaiting = state["awaiting_clear"].get<bool>();
    if (awaiting && !playing) {
        return "awaiting_clear outside play";
    }
    if (idle && state["can_undo"].get<bool>()) {
        return "can_undo while idle";
    }

    const json& turn = state["current_turn"];
    problem = shapeProblem(
        turn, {{"start_score", Kind::integer}, {"total", Kind::integer}, {"darts", Kind::array}},
        "current_turn");
    if (!problem.empty()) {
        return problem;
    }
    const json& darts = turn["darts"];
    int total = 0;
    problem = dartsProblem(darts, "current_turn", total);
    if (!problem.empty()) {
        return problem;
    }
    for (const json& dart : darts) {
        if (dart["bust"].get<bool>()) {
            return "a bust dart in the current turn";
        }
    }
    if (turn["total"] != total) {
        return "current_turn total is not the sum of its darts";
    }
    if (idle && (turn["start_score"] != kStartScore || !darts.empty())) {
        return "idle turn is not empty at 501";
    }
    if (playing && darts.size() > 2) {
        return "three darts in a turn still in play";
    }
    if (awaiting && !darts.empty()) {
        return "darts in the turn while waiting for a clear";
    }
    if (finished && (darts.empty() || darts.size() > 3 || active != winner)) {
        return "finished game does not keep its winning turn";
    }
    if (!players.empty()) {
        const int score = players[static_cast<std::size_t>(active)]["score"].get<int>();
        if (score != turn["start_score"].get<int>() - total) {
            return "active score is not start_score - total";
        }
    }

    const json& history = state["history"];
    if (history.size() > kShownHistory) {
        return "more than 20 history entries";
    }
    if (idle && !history.empty()) {
        return "history while idle";
    }
    for (std::size_t i = 0; i < history.size(); ++i) {
        problem = historyEntryProblem(history[i], players, "history " + std::to_string(i));
        if (!problem.empty()) {
            return problem;
        }
        if (i > 0 && history[i]["outcome"] == "checkout") {
            return "a turn archived after the checkout";
        }
        // Newest first: each entry is the turn right after the one below it.
        if (i + 1 < history.size()) {
            const long long later = history[i]["player_index"].get<long long>();
            const long long earlier = history[i + 1]["player_index"].get<long long>();
            const long long later_round = history[i]["round"].get<long long>();
            const long long earlier_round = history[i + 1]["round"].get<long long>();
            if (later != (earlier + 1) % count ||
                later_round != earlier_round + (later == 0 ? 1 : 0)) {
                return "history " + std::to_string(i) + " does not follow the turn before it";
            }
        }
    }
    if (!history.empty()) {
        const json& newest = history[0];
        const long long thrower = newest["player_index"].get<long long>();
        if (finished) {
            if (newest["outcome"] != "checkout" || thrower != winner || newest["darts"] != darts ||
                newest["round"] != round) {
                return "finished game's newest turn is not its checkout";
            }
        } else if (active != (thrower + 1) % count ||
                   round != newest["round"].get<long long>() + (active == 0 ? 1 : 0)) {
            return "the turn in play does not follow the newest archived turn";
        }
    } else if (!idle && (finished || active != 0 || round != 1)) {
        return "first turn of a game is not player 0 in round 1";
    }
    return "";
}

inline std::string responseProblem(const json& response) {
    const std::string problem = shapeProblem(
        response, {{"accepted", Kind::boolean}, {"message", Kind::string}, {"game", Kind::object}},
        "response");
    return problem.empty() ? stateProblem(response["game"]) : problem;
}

// Returns the state document of an engine that has no game: new, or reset.
inline json idleState() {
    return json{{"status", "idle"},
                {"variant", "501"},
                {"double_out", true},
                {"round", 1},
                {"active_player", 0},
                {"winner", -1},
                {"awaiting_clear", false},
                {"can_undo", false},
                {"players", json::array()},
                {"current_turn", {{"start_score", 501}, {"total", 0}, {"darts", json::array()}}},
                {"history", json::array()}};
}

}  // namespace game501::check
