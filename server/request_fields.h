// The pieces every written request is read with: its token, its JSON body
// and its fields, each refusal an answer with a stable code. Pure
// functions, safe on any thread.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "answers.h"
#include "parsing.h"

namespace game501::server {

// Returns 400 "bad_field" with `message`.
Response badField(const std::string& message, unsigned version);

// Answers a body field that is not among `known`: a misspelt field is an
// error, never silently left out.
std::optional<Response> unknownField(const Game501::json& body,
                                     std::initializer_list<std::string_view> known,
                                     unsigned version);

// Reads an optional whole number from `min` to `max` into `value`, or
// answers 400.
std::optional<Response> readCount(const Game501::json& body, const char* field, int min, int max,
                                  int& value, unsigned version);

// Reads one entry of a start's or a competition's "players": a person's
// name, or a computer {"computer": LEVEL, "name": NAME}, the name optional.
// Returns the name and the computer's level ("" for a person), or answers 400.
std::variant<Response, std::pair<std::string, std::string>> readPlayer(const Game501::json& player,
                                                                       unsigned version);

// Reads a request's body as a JSON object, or answers 400.
std::variant<Game501::json, Response> readBody(const Request& request);

// Answers a request without the token of `accepts` (401), or with another
// one (403, `wrong`).
template <typename Holder>
std::optional<Response> refuseToken(const Request& request, const Holder& accepts,
                                    const std::string& wrong) {
    const unsigned version = request.version();
    const std::optional<std::string_view> token = bearerToken(request);
    if (!token) {
        Response response =
            errorResponse(http::status::unauthorized, "unauthorized",
                          "Token saknas: skicka \"Authorization: Bearer TOKEN\"", version);
        response.set(http::field::www_authenticate, "Bearer");
        return response;
    }
    if (!accepts.acceptsToken(*token)) {
        return errorResponse(http::status::forbidden, "forbidden", wrong, version);
    }
    return std::nullopt;
}

// The answer to a write the journal could not take (503).
Response notWritten(unsigned version);

// The answer to a body that is not JSON (415).
Response notJson(unsigned version);

}  // namespace game501::server
