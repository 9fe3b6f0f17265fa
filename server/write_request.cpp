#include "write_request.h"

#include <algorithm>
#include <boost/beast/http/field.hpp>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>

#include "ascii.h"
#include "checkout_hint.h"
#include "computer_player.h"
#include "match_501.h"
#include "match_follower.h"
#include "parsing.h"
#include "request_fields.h"
#include "rules.h"
#include "server_limits.h"

namespace game501::server {

namespace {

using json = Game501::json;

// Reads a start's optional "seed" for its computers' darts; without one the
// computers get a seed of their own.
std::optional<Response> readSeed(const json& body, std::uint64_t& seed, unsigned version) {
    const auto found = body.find("seed");
    if (found == body.end()) {
        seed = randomSeed();
        return std::nullopt;
    }
    if (!found->is_number_integer() || found->get<std::int64_t>() < 0) {
        return badField("Fältet \"seed\" ska vara ett heltal från 0", version);
    }
    seed = found->get<std::uint64_t>();
    return std::nullopt;
}

// Answers a name the engine would cut, and a blank one unless `blank` may
// be (a start's seat gets a name of its own).
std::optional<Response> refuseName(const std::string& name, bool blank, unsigned version) {
    if (!nameFits(name)) {
        return badField("Ett namn får vara högst " + std::to_string(kMaxNameBytes) + " byte; \"" +
                            name + "\" är " + std::to_string(ascii::trimmed(name).size()),
                        version);
    }
    if (!blank && ascii::trimmed(name).empty()) {
        return badField("Namnet får inte vara tomt", version);
    }
    return std::nullopt;
}

// Resolves a start's people with the register: a member under the name the
// register has, a new player under the name the engine gives it; refuses a
// name the engine would cut and one person on two seats.
std::optional<Response> resolvePlayers(Command& command, const Members& members, unsigned version) {
    std::set<std::string> seated;
    for (std::size_t seat = 0; seat < command.players.size(); ++seat) {
        std::string& name = command.players[seat];
        if (std::optional<Response> refusal = refuseName(name, true, version)) {
            return refusal;
        }
        if (seat < command.computers.size() && !command.computers[seat].empty()) {
            continue;  // the computer is no member
        }
        std::string played = playerName(name, seat);
        if (!seated.insert(nameKey(played)).second) {
            return errorResponse(http::status::bad_request, "duplicate_player",
                                 "Spelaren " + played + " har två platser i matchen", version);
        }
        // As the engine would make it: a retry of the start, resolved once
        // the name is a member, is the same start.
        name = members.find(played).value_or(std::move(played));
    }
    return std::nullopt;
}

// Reads the command of a mutating request from its body, or answers 400.
std::variant<Command, Response> readCommand(const Action& action, const Request& request,
                                            const Members& members, const Accuracies& accuracies) {
    const unsigned version = request.version();
    Command command;
    command.kind = action.kind;
    if (!action.has_body) {
        return command;
    }
    std::variant<json, Response> read = readBody(request);
    if (Response* refusal = std::get_if<Response>(&read)) {
        return std::move(*refusal);
    }
    const json& body = std::get<json>(read);
    if (action.kind == Command::Kind::start) {
        if (std::optional<Response> refusal =
                unknownField(body, {"players", "legs", "sets", "seed"}, version)) {
            return std::move(*refusal);
        }
        const auto players = body.find("players");
        if (players == body.end() || !players->is_array()) {
            return badField("Fältet \"players\" ska vara en lista med namn", version);
        }
        for (const json& player : *players) {
            std::variant<Response, std::pair<std::string, std::string>> seat =
                readPlayer(player, members, &accuracies, version);
            if (Response* refusal = std::get_if<Response>(&seat)) {
                return std::move(*refusal);
            }
            auto& [name, computer] = std::get<std::pair<std::string, std::string>>(seat);
            command.players.push_back(std::move(name));
            command.computers.push_back(std::move(computer));
        }
        if (std::all_of(command.computers.begin(), command.computers.end(),
                        [](const std::string& level) { return level.empty(); })) {
            command.computers.clear();
        } else if (std::optional<Response> refusal = readSeed(body, command.seed, version)) {
            return std::move(*refusal);
        }
        for (std::optional<Response> refusal :
             {readCount(body, "legs", Match501::kMinLegs, Match501::kMaxLegs, command.legs,
                        version),
              readCount(body, "sets", Match501::kMinSets, Match501::kMaxSets, command.sets,
                        version)}) {
            if (refusal) {
                return std::move(*refusal);
            }
        }
        return command;
    }
    if (std::optional<Response> refusal = unknownField(body, {"notation", "source"}, version)) {
        return std::move(*refusal);
    }
    const auto notation = body.find("notation");
    if (notation == body.end() || !notation->is_string()) {
        return badField("Fältet \"notation\" ska vara en sträng", version);
    }
    command.notation = notation->get<std::string>();
    command.source = "api";
    if (const auto source = body.find("source"); source != body.end()) {
        if (!source->is_string()) {
            return badField("Fältet \"source\" ska vara en sträng", version);
        }
        command.source = source->get<std::string>();
        if (command.source.size() > kMaxSourceBytes) {
            return errorResponse(
                http::status::bad_request, "source_too_long",
                "Källan får vara högst " + std::to_string(kMaxSourceBytes) + " byte", version);
        }
    }
    return command;
}

}  // namespace

std::variant<Write, Response> readWrite(const Request& request, const Board& board,
                                        const Action& action, const Members& members,
                                        const Accuracies& accuracies) {
    const unsigned version = request.version();
    if (std::optional<Response> refusal =
            refuseToken(request, board, "Fel token för tavla " + std::to_string(board.number()))) {
        return std::move(*refusal);
    }
    if ((action.has_body || !request.body().empty()) && !isJson(request)) {
        return notJson(version);
    }
    std::variant<Command, Response> command = readCommand(action, request, members, accuracies);
    if (Response* refusal = std::get_if<Response>(&command)) {
        return std::move(*refusal);
    }
    if (action.kind == Command::Kind::start) {
        if (std::optional<Response> refusal =
                resolvePlayers(std::get<Command>(command), members, version)) {
            return std::move(*refusal);
        }
    }
    std::optional<std::string> key = idempotencyKey(request);
    if (key && key->empty()) {
        return errorResponse(http::status::bad_request, "bad_idempotency_key",
                             "Idempotency-Key ska vara 1 till " +
                                 std::to_string(kMaxIdempotencyKeyBytes) +
                                 " synliga ASCII-tecken, en gång",
                             version);
    }
    return Write{std::move(std::get<Command>(command)), key ? std::move(*key) : std::string(),
                 precondition(request)};
}

Response writeAnswer(WriteResult result, unsigned version) {
    switch (result.outcome) {
        case WriteResult::Outcome::applied:
            break;
        case WriteResult::Outcome::precondition_failed: {
            Response response =
                errorResponse(http::status::precondition_failed, "precondition_failed",
                              "If-Match stämmer inte: tavlans senaste händelse är " +
                                  std::to_string(result.document.event_id) + "; inget ändrades",
                              version);
            response.set("Event-Id", std::to_string(result.document.event_id));
            response.set(http::field::etag, entityTag(result.document.event_id));
            return response;
        }
        case WriteResult::Outcome::key_reused:
            return errorResponse(http::status::unprocessable_entity, "idempotency_key_reused",
                                 "Idempotency-Key har redan använts för en annan förfrågan",
                                 version);
        case WriteResult::Outcome::storage_unavailable:
            return notWritten(version);
        case WriteResult::Outcome::outcome_unknown:
            return outcomeUnknown(version);
    }
    return documentResponse(std::move(result.document), version);
}

namespace {

// Reads a name field of a correction's body into `name`, or answers 400.
std::optional<Response> readName(const json& body, const char* field, std::string& name,
                                 unsigned version) {
    const auto found = body.find(field);
    if (found == body.end() || !found->is_string()) {
        return badField("Fältet \"" + std::string(field) + "\" ska vara ett namn", version);
    }
    name = found->get<std::string>();
    return refuseName(name, false, version);
}

// Reads a correction's fields from its body, or answers 400.
std::optional<Response> readCorrectionBody(const json& body, Correction& correction,
                                           unsigned version) {
    switch (correction.kind) {
        case Correction::Kind::add_player:
        case Correction::Kind::rename:
            if (std::optional<Response> refusal = unknownField(body, {"name"}, version)) {
                return refusal;
            }
            return readName(body, "name", correction.name, version);
        case Correction::Kind::merge:
            if (std::optional<Response> refusal = unknownField(body, {"into"}, version)) {
                return refusal;
            }
            if (std::optional<Response> refusal =
                    readName(body, "into", correction.into, version)) {
                return refusal;
            }
            if (nameKey(correction.into) == nameKey(correction.player)) {
                return badField("En spelare kan inte slås ihop med sig själv", version);
            }
            return std::nullopt;
        case Correction::Kind::void_match: {
            if (std::optional<Response> refusal = unknownField(body, {"void"}, version)) {
                return refusal;
            }
            const auto found = body.find("void");
            if (found == body.end() || !found->is_boolean()) {
                return badField("Fältet \"void\" ska vara true eller false", version);
            }
            correction.voided = found->get<bool>();
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

std::variant<Correction, Response> readCorrection(const Request& request,
                                                  const Organiser& organiser, Correction::Kind kind,
                                                  std::string_view named) {
    const unsigned version = request.version();
    if (std::optional<Response> refusal =
            refuseToken(request, organiser, "Fel token för arrangören")) {
        return std::move(*refusal);
    }
    Correction correction;
    correction.kind = kind;
    if (kind == Correction::Kind::void_match) {
        const std::optional<std::pair<int, std::uint64_t>> match = parseMatchId(named);
        if (!match) {
            return errorResponse(http::status::not_found, "not_found", "Matchen finns inte",
                                 version);
        }
        correction.board = match->first;
        correction.start_event = match->second;
    } else if (kind != Correction::Kind::add_player) {
        std::optional<std::string> player = percentDecoded(named, false);
        if (!player) {
            return notFound(version);
        }
        correction.player = std::move(*player);
    }
    if (!isJson(request)) {
        return notJson(version);
    }
    std::variant<json, Response> body = readBody(request);
    if (Response* refusal = std::get_if<Response>(&body)) {
        return std::move(*refusal);
    }
    if (std::optional<Response> refusal =
            readCorrectionBody(std::get<json>(body), correction, version)) {
        return std::move(*refusal);
    }
    return correction;
}

Response correctionAnswer(CorrectionResult result, unsigned version) {
    switch (result.outcome) {
        case CorrectionResult::Outcome::applied:
            break;
        case CorrectionResult::Outcome::unknown_player:
            return errorResponse(http::status::not_found, "unknown_player", result.message,
                                 version);
        case CorrectionResult::Outcome::unknown_match:
            return errorResponse(http::status::not_found, "not_found", result.message, version);
        case CorrectionResult::Outcome::name_taken:
            return errorResponse(http::status::conflict, "name_taken", result.message, version);
        case CorrectionResult::Outcome::storage_unavailable:
            return notWritten(version);
        case CorrectionResult::Outcome::outcome_unknown:
            // A correction has no key: whether it was made is for the
            // organiser to see in the register before making it again.
            return unavailable("outcome_unknown",
                               "Journalen kunde inte skrivas klart, så det är okänt om rättelsen "
                               "gjordes. Se efter i registret innan du gör den igen",
                               version);
    }
    return jsonResponse(std::move(result.document), version);
}

}  // namespace game501::server
