#include "competition_request.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "parsing.h"
#include "request_fields.h"
#include "rules.h"
#include "server_limits.h"

namespace game501::server {

namespace {

using json = Game501::json;
namespace cm = competition;

constexpr std::size_t kMaxIdDigits = 9;

// Reads the organiser's token and the body, then what `read` makes of the
// body, or answers.
template <typename Made, typename Read>
std::variant<Made, Response> fromOrganiser(const Request& request, const Organiser& organiser,
                                           const Read& read) {
    if (std::optional<Response> refusal =
            refuseToken(request, organiser, "Fel token för arrangören")) {
        return std::move(*refusal);
    }
    if (!isJson(request)) {
        return notJson(request.version());
    }
    std::variant<json, Response> body = readBody(request);
    if (Response* refusal = std::get_if<Response>(&body)) {
        return std::move(*refusal);
    }
    return read(std::get<json>(body), request.version());
}

std::optional<Response> readFlag(const json& body, const char* field, bool& value,
                                 unsigned version) {
    const auto found = body.find(field);
    if (found == body.end()) {
        return std::nullopt;
    }
    if (!found->is_boolean()) {
        return badField("Fältet \"" + std::string(field) + "\" ska vara true eller false", version);
    }
    value = found->get<bool>();
    return std::nullopt;
}

// Reads a list of whole numbers from `min` to `max`, empty only when `empty`
// may be.
std::optional<Response> readNumbers(const json& body, const char* field, int min, int max,
                                    bool empty, std::vector<int>& numbers, unsigned version) {
    const auto found = body.find(field);
    const Response refusal =
        badField("Fältet \"" + std::string(field) + "\" ska vara en lista med heltal från " +
                     std::to_string(min) + " till " + std::to_string(max),
                 version);
    if (found == body.end() || !found->is_array() || (found->empty() && !empty) ||
        found->size() > static_cast<std::size_t>(max - min + 1)) {
        return refusal;
    }
    for (const json& number : *found) {
        if (!number.is_number_integer() || number.get<std::int64_t>() < min ||
            number.get<std::int64_t>() > max) {
            return refusal;
        }
        numbers.push_back(number.get<int>());
    }
    return std::nullopt;
}

std::optional<Response> readPoints(const json& body, cm::Points& points, unsigned version) {
    const auto found = body.find("points");
    if (found == body.end()) {
        return std::nullopt;
    }
    if (!found->is_object()) {
        return badField("Fältet \"points\" ska vara {\"win\", \"loss\", \"leg\"}", version);
    }
    if (std::optional<Response> refusal = unknownField(*found, {"win", "loss", "leg"}, version)) {
        return refusal;
    }
    for (std::optional<Response> refusal :
         {readCount(*found, "win", 0, cm::kMaxPoints, points.win, version),
          readCount(*found, "loss", 0, cm::kMaxPoints, points.loss, version),
          readCount(*found, "leg", 0, cm::kMaxPoints, points.leg, version)}) {
        if (refusal) {
            return refusal;
        }
    }
    return std::nullopt;
}

std::optional<Response> readTiebreakers(const json& body, std::vector<cm::Tiebreaker>& list,
                                        unsigned version) {
    const auto found = body.find("tiebreakers");
    if (found == body.end()) {
        return std::nullopt;
    }
    const Response refusal = badField(
        "Fältet \"tiebreakers\" ska vara en lista av \"points\", \"leg_difference\", "
        "\"legs_won\", \"head_to_head\" och \"average\", var och en högst en gång",
        version);
    if (!found->is_array()) {
        return refusal;
    }
    list.clear();
    for (const json& name : *found) {
        const std::optional<cm::Tiebreaker> tiebreaker =
            name.is_string() ? cm::parseTiebreaker(name.get<std::string>()) : std::nullopt;
        if (!tiebreaker || std::find(list.begin(), list.end(), *tiebreaker) != list.end()) {
            return refusal;
        }
        list.push_back(*tiebreaker);
    }
    return std::nullopt;
}

// Reads the players: people by their names in the register, computers by
// {"computer", "name"}.
std::optional<Response> readPlayers(const json& body, const Members& members, NewCompetition& made,
                                    unsigned version) {
    const auto found = body.find("players");
    if (found == body.end() || !found->is_array() || found->size() > kMaxPlayersPerCompetition) {
        return badField("Fältet \"players\" ska vara en lista med högst " +
                            std::to_string(kMaxPlayersPerCompetition) + " namn",
                        version);
    }
    for (const json& player : *found) {
        std::variant<Response, std::pair<std::string, std::string>> seat =
            readPlayer(player, members, nullptr, version);
        if (Response* refusal = std::get_if<Response>(&seat)) {
            return std::move(*refusal);
        }
        auto& [name, computer] = std::get<std::pair<std::string, std::string>>(seat);
        if (!nameFits(name)) {
            return badField("Ett namn får vara högst " + std::to_string(kMaxNameBytes) + " byte",
                            version);
        }
        if (computer.empty()) {
            std::optional<std::string> member = members.find(name);
            if (!member) {
                return errorResponse(http::status::not_found, "unknown_player",
                                     "Spelaren " + name + " finns inte i registret", version);
            }
            name = std::move(*member);
        }
        made.settings.players.push_back(std::move(name));
        made.facts.computers.push_back(std::move(computer));
    }
    return std::nullopt;
}

std::optional<Response> readName(const json& body, std::string& name, unsigned version) {
    const auto found = body.find("name");
    if (found == body.end() || !found->is_string() || found->get<std::string>().empty() ||
        found->get<std::string>().size() > kMaxCompetitionNameBytes) {
        return badField("Fältet \"name\" ska vara ett namn på 1 till " +
                            std::to_string(kMaxCompetitionNameBytes) + " byte",
                        version);
    }
    name = found->get<std::string>();
    return std::nullopt;
}

std::optional<Response> readFormat(const json& body, cm::Format& format, unsigned version) {
    const auto found = body.find("format");
    if (found == body.end()) {
        return std::nullopt;
    }
    const std::optional<cm::Format> read =
        found->is_string() ? cm::parseFormat(found->get<std::string>()) : std::nullopt;
    if (!read) {
        return badField(
            "Fältet \"format\" ska vara \"round_robin\", \"knockout\" eller \"groups_knockout\"",
            version);
    }
    format = *read;
    return std::nullopt;
}

std::optional<Response> readSeedField(const json& body, std::uint64_t& seed, unsigned version) {
    const auto found = body.find("seed");
    if (found == body.end()) {
        return std::nullopt;
    }
    if (!found->is_number_integer() || found->get<std::int64_t>() < 0) {
        return badField("Fältet \"seed\" ska vara ett heltal från 0", version);
    }
    seed = found->get<std::uint64_t>();
    return std::nullopt;
}

std::variant<NewCompetition, Response> readSettings(const json& body, const Members& members,
                                                    std::size_t boards, unsigned version) {
    NewCompetition made;
    cm::Settings& settings = made.settings;
    int legs = settings.group_match.legs;
    int sets = settings.group_match.sets;
    int final_legs = 0;
    std::uint64_t seed = 0;
    for (std::optional<Response> refusal :
         {unknownField(body,
                       {"name", "players", "format", "groups", "advance", "league", "legs", "sets",
                        "final_legs", "boards", "points", "tiebreakers", "seeded", "seed"},
                       version),
          readName(body, made.facts.name, version), readPlayers(body, members, made, version),
          readFormat(body, settings.format, version),
          readCount(body, "groups", 1, cm::kMaxPlayers, settings.groups, version),
          readCount(body, "advance", 1, cm::kMaxPlayers, settings.advance, version),
          readFlag(body, "league", settings.league, version),
          readCount(body, "legs", Match::kMinLegs, Match::kMaxLegs, legs, version),
          readCount(body, "sets", Match::kMinSets, Match::kMaxSets, sets, version),
          readCount(body, "final_legs", Match::kMinLegs, Match::kMaxLegs, final_legs, version),
          readNumbers(body, "boards", 1, static_cast<int>(boards), true, made.facts.boards,
                      version),
          readPoints(body, settings.points, version),
          readTiebreakers(body, settings.tiebreakers, version),
          readFlag(body, "seeded", settings.seeded, version), readSeedField(body, seed, version)}) {
        if (refusal) {
            return std::move(*refusal);
        }
    }
    if (std::set<int>(made.facts.boards.begin(), made.facts.boards.end()).size() !=
        made.facts.boards.size()) {
        return badField("En tavla står två gånger i \"boards\"", version);
    }
    settings.seed = seed;
    settings.group_match = {legs, sets};
    settings.knockout_match = {legs, sets};
    if (final_legs != 0) {
        settings.final_match = Match501::Format{final_legs, sets};
    }
    return made;
}

std::variant<cm::Event, Response> readOpen(const json& body, unsigned version) {
    cm::Event event;
    event.kind = cm::Event::Kind::OpenRounds;
    for (std::optional<Response> refusal :
         {unknownField(body, {"open"}, version),
          readNumbers(body, "open", 1, cm::kMaxPlayers, false, event.rounds, version)}) {
        if (refusal) {
            return std::move(*refusal);
        }
    }
    return event;
}

std::variant<cm::Event, Response> readMatchResult(const json& body, int match, unsigned version) {
    cm::Event event;
    event.kind = cm::Event::Kind::Record;
    event.match = match;
    if (std::optional<Response> refusal =
            unknownField(body, {"walkover", "winner", "legs", "sets"}, version)) {
        return std::move(*refusal);
    }
    const bool walkover = body.contains("walkover");
    if (walkover == body.contains("winner")) {
        return badField("Ange antingen \"walkover\" eller \"winner\" och \"legs\"", version);
    }
    const char* const winner = walkover ? "walkover" : "winner";
    const json& who = body.at(winner);
    if (!who.is_number_integer() ||
        (who.get<std::int64_t>() != 0 && who.get<std::int64_t>() != 1)) {
        return badField("Fältet \"" + std::string(winner) + "\" ska vara 0 eller 1", version);
    }
    event.result.winner = who.get<int>();
    event.result.walkover = walkover;
    if (walkover) {
        if (body.contains("legs") || body.contains("sets")) {
            return badField("En walkover har inga \"legs\" eller \"sets\"", version);
        }
        return event;
    }
    for (const char* field : {"legs", "sets"}) {
        const auto found = body.find(field);
        if (found == body.end()) {
            if (std::string_view(field) == "legs") {
                return badField("Fältet \"legs\" saknas", version);
            }
            continue;
        }
        if (!found->is_array() || found->size() != 2 || !(*found)[0].is_number_integer() ||
            !(*found)[1].is_number_integer() || (*found)[0].get<std::int64_t>() < 0 ||
            (*found)[1].get<std::int64_t>() < 0 ||
            (*found)[0].get<std::int64_t>() > Match::kMaxLegs * Match::kMaxSets * 2 ||
            (*found)[1].get<std::int64_t>() > Match::kMaxLegs * Match::kMaxSets * 2) {
            return badField("Fältet \"" + std::string(field) + "\" ska vara två heltal", version);
        }
        std::array<int, 2>& into =
            std::string_view(field) == "legs" ? event.result.legs : event.result.sets;
        into = {(*found)[0].get<int>(), (*found)[1].get<int>()};
    }
    return event;
}

}  // namespace

std::optional<int> competitionNumber(std::string_view text) {
    const std::optional<std::uint64_t> number = decimal(text, kMaxIdDigits);
    if (!number || *number == 0) {
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

std::variant<NewCompetition, Response> readNewCompetition(const Request& request,
                                                          const Organiser& organiser,
                                                          std::size_t boards) {
    return fromOrganiser<NewCompetition>(
        request, organiser, [&](const json& body, unsigned version) {
            return readSettings(body, organiser.members(), boards, version);
        });
}

std::variant<cm::Event, Response> readRounds(const Request& request, const Organiser& organiser) {
    return fromOrganiser<cm::Event>(request, organiser, readOpen);
}

std::variant<cm::Event, Response> readResult(const Request& request, const Organiser& organiser,
                                             int match) {
    return fromOrganiser<cm::Event>(request, organiser,
                                    [match](const json& body, unsigned version) {
                                        return readMatchResult(body, match, version);
                                    });
}

Response competitionAnswer(CompetitionResult result, bool created, unsigned version) {
    switch (result.outcome) {
        case CompetitionResult::Outcome::applied:
            break;
        case CompetitionResult::Outcome::not_found:
            return errorResponse(http::status::not_found, "not_found", result.message, version);
        case CompetitionResult::Outcome::refused:
            return created
                       ? errorResponse(http::status::bad_request, "invalid_competition",
                                       result.message, version)
                       : errorResponse(http::status::conflict, "refused", result.message, version);
        case CompetitionResult::Outcome::storage_unavailable:
            return notWritten(version);
    }
    Response response = jsonResponse(std::move(result.document), version);
    if (created) {
        response.result(http::status::created);
    }
    return response;
}

}  // namespace game501::server
