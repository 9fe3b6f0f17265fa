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

#include "accuracies.h"
#include "answers.h"
#include "members.h"
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

// Reads a computer that throws like a member, {"like": NAME}: returns its
// level (likeLevel) and the name it gets by default, "Som NAME", or answers
// 400 when NAME is no member with an estimate.
std::variant<Response, std::pair<std::string, std::string>> readLike(const Game501::json& computer,
                                                                     const Members& members,
                                                                     const Accuracies& accuracies,
                                                                     unsigned version);

// Reads one entry of a start's or a competition's "players": a person's
// name, or a computer {"computer": LEVEL, "name": NAME}, the name optional,
// LEVEL a level or, with `accuracies`, {"like": MEMBER}. Returns the name
// and the computer's level ("" for a person), or answers 400.
std::variant<Response, std::pair<std::string, std::string>> readPlayer(const Game501::json& player,
                                                                       const Members& members,
                                                                       const Accuracies* accuracies,
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

// The answer to a write whose commit failed part way (503): the journal has
// been opened again since, and a retry with the same key finds the row if it
// is there, or applies the write once if it is not.
Response outcomeUnknown(unsigned version);

// The answer to a body that is not JSON (415).
Response notJson(unsigned version);

}  // namespace game501::server
