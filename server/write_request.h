// A write's request read into the write a board takes, and the board's
// answer turned into the write's response. Pure functions, safe on any
// thread.
#pragma once

#include <variant>

#include "actions.h"
#include "answers.h"
#include "board.h"

namespace game501::server {

// Reads a write of `action` to `board` from its request: the board's token
// as "Authorization: Bearer TOKEN", the command from its JSON body (a
// misspelt field is refused, never left out), its Idempotency-Key and its
// If-Match. Returns the write, or the answer that refuses it: 401, 403, 415
// or 400 with a stable code.
std::variant<Write, Response> readWrite(const Request& request, const Board& board,
                                        const Action& action);

// Returns the answer to a write as the board answered it: the response
// document, or 412, 422 or 503.
Response writeAnswer(WriteResult result, unsigned version);

}  // namespace game501::server
