#include "request_fields.h"

#include <algorithm>
#include <boost/beast/http/field.hpp>
#include <cstdint>

#include "checkout_hint.h"
#include "computer_player.h"
#include "match_follower.h"
#include "rules.h"

namespace game501::server {

Response badField(const std::string& message, unsigned version) {
    return errorResponse(http::status::bad_request, "bad_field", message, version);
}

// Answers a body field that is not among `known`: a misspelt field is an
// error, never silently left out.
std::optional<Response> unknownField(const Game501::json& body,
                                     std::initializer_list<std::string_view> known,
                                     unsigned version) {
    for (const auto& [key, value] : body.items()) {
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            return errorResponse(http::status::bad_request, "unknown_field",
                                 "Okänt fält \"" + key + "\"", version);
        }
    }
    return std::nullopt;
}

// Reads an optional whole number from `min` to `max` into `value`, or
// answers 400.
std::optional<Response> readCount(const Game501::json& body, const char* field, int min, int max,
                                  int& value, unsigned version) {
    const auto found = body.find(field);
    if (found == body.end()) {
        return std::nullopt;
    }
    if (!found->is_number_integer() || found->get<std::int64_t>() < min ||
        found->get<std::int64_t>() > max) {
        return badField("Fältet \"" + std::string(field) + "\" ska vara ett heltal från " +
                            std::to_string(min) + " till " + std::to_string(max),
                        version);
    }
    value = found->get<int>();
    return std::nullopt;
}

std::variant<Response, std::pair<std::string, std::string>> readLike(const Game501::json& computer,
                                                                     const Members& members,
                                                                     const Accuracies& accuracies,
                                                                     unsigned version) {
    if (std::optional<Response> refusal = unknownField(computer, {"like"}, version)) {
        return std::move(*refusal);
    }
    const auto like = computer.find("like");
    if (like == computer.end() || !like->is_string()) {
        return badField("Fältet \"like\" ska vara en spelares namn", version);
    }
    const std::optional<std::string> member = members.find(like->get<std::string>());
    const std::optional<double> sigma = member ? accuracies.sigmaOf(*member) : std::nullopt;
    if (!sigma) {
        return errorResponse(http::status::bad_request, "no_accuracy",
                             "Det finns ingen träffsäkerhet för " + like->get<std::string>() +
                                 " (för få pilar ännu)",
                             version);
    }
    std::string name = "Som " + *member;
    if (!nameFits(name)) {
        name = std::string(kComputerName);
    }
    return std::make_pair(std::move(name), likeLevel(*sigma, *member));
}

std::variant<Response, std::pair<std::string, std::string>> readPlayer(const Game501::json& player,
                                                                       const Members& members,
                                                                       const Accuracies* accuracies,
                                                                       unsigned version) {
    if (player.is_string()) {
        return std::make_pair(player.get<std::string>(), std::string());
    }
    if (!player.is_object()) {
        return badField("Fältet \"players\" ska vara en lista med namn", version);
    }
    if (std::optional<Response> refusal = unknownField(player, {"computer", "name"}, version)) {
        return std::move(*refusal);
    }
    const auto name = player.find("name");
    if (name != player.end() && !name->is_string()) {
        return badField("Fältet \"name\" ska vara en sträng", version);
    }
    const auto computer = player.find("computer");
    if (accuracies != nullptr && computer != player.end() && computer->is_object()) {
        std::variant<Response, std::pair<std::string, std::string>> like =
            readLike(*computer, members, *accuracies, version);
        if (auto* seat = std::get_if<std::pair<std::string, std::string>>(&like);
            seat && name != player.end()) {
            seat->first = name->get<std::string>();
        }
        return like;
    }
    const std::optional<ComputerLevel> level =
        computer == player.end() ? std::nullopt : computerLevelFromJson(*computer);
    if (!level) {
        std::string ids;
        for (const SkillLevel& skill : skillLevels()) {
            ids += std::string(skill.id) + ", ";
        }
        return badField("Fältet \"computer\" ska vara en nivå (" + ids + "eller ett snitt från " +
                            std::to_string(kMinComputerAverage) + " till " +
                            std::to_string(kMaxComputerAverage) + ")",
                        version);
    }
    return std::make_pair(
        name == player.end() ? std::string(kComputerName) : name->get<std::string>(), level->id);
}

// Reads a request's body as a JSON object, or answers 400.
std::variant<Game501::json, Response> readBody(const Request& request) {
    Game501::json body = Game501::json::parse(request.body(), nullptr, false);
    if (body.is_discarded()) {
        return errorResponse(http::status::bad_request, "bad_json", "Kroppen är inte giltig JSON",
                             request.version());
    }
    if (!body.is_object()) {
        return badField("Kroppen ska vara ett JSON-objekt", request.version());
    }
    return body;
}

// The answer to a write the journal could not take.
Response notWritten(unsigned version) {
    return unavailable(
        "storage_unavailable",
        "Journalen kan inte skrivas just nu; inget ändrades. Försök igen om en stund", version);
}

Response outcomeUnknown(unsigned version) {
    return unavailable("outcome_unknown",
                       "Journalen kunde inte skrivas klart, så det är okänt om skrivningen "
                       "sparades. Att skicka den igen med samma Idempotency-Key är säkert: den "
                       "räknas högst en gång",
                       version);
}

Response notJson(unsigned version) {
    return errorResponse(http::status::unsupported_media_type, "unsupported_media_type",
                         "Kroppen ska vara JSON (Content-Type: application/json)", version);
}

}  // namespace game501::server
