// A write's request read into the write a board takes or the correction
// the organiser makes, and the answer turned into the write's response.
// Pure functions, safe on any thread.
#pragma once

#include <string_view>
#include <variant>

#include "accuracies.h"
#include "actions.h"
#include "answers.h"
#include "board.h"
#include "correction.h"
#include "members.h"
#include "organiser.h"

namespace game501::server {

// Reads a write of `action` to `board` from its request: the board's token
// as "Authorization: Bearer TOKEN", the command from its JSON body (a
// misspelt field is refused, never left out), its Idempotency-Key and its
// If-Match. A start's players are the register's `members`: a name it
// knows is that member's name, and every other name is new; a name the
// engine would cut, or one player on two seats, is refused. A computer
// {"like": NAME} throws with the sigma that `accuracies` has for the member
// NAME, kept in the start (likeLevel); a name without one is refused
// (no_accuracy). Returns the
// write, or the answer that refuses it: 401, 403, 415 or 400 with a stable
// code.
std::variant<Write, Response> readWrite(const Request& request, const Board& board,
                                        const Action& action, const Members& members,
                                        const Accuracies& accuracies);

// Reads a correction of `kind` from its request: the organiser's token as
// "Authorization: Bearer TOKEN", the player or match that the address names
// (`named`, percent-encoded), and the JSON body. Returns the correction, or
// the answer that refuses it: 401, 403, 404, 415 or 400 with a stable code.
std::variant<Correction, Response> readCorrection(const Request& request,
                                                  const Organiser& organiser, Correction::Kind kind,
                                                  std::string_view named);

// Returns the answer to a correction as the journal answered it: its
// document, or 404, 409 or 503.
Response correctionAnswer(CorrectionResult result, unsigned version);

// Returns the answer to a write as the board answered it: the response
// document, or 412, 422 or 503.
Response writeAnswer(WriteResult result, unsigned version);

}  // namespace game501::server
