// Reads what clients and operators write: numbers, board numbers, match
// ids, percent escapes, queries and the headers of a write. Each is strict:
// what is not exactly in its form is refused, never guessed at. Pure
// functions, safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "actions.h"
#include "answers.h"

namespace game501::server {

// Reads 1 to `max_digits` ASCII digits as a number (leading zeros allowed);
// nothing for any other text, a sign or a number past 64 bits included.
std::optional<std::uint64_t> decimal(std::string_view text, std::size_t max_digits);

// Reads a board number as the addresses print it: 1 to `count`, in decimal
// without leading zeros. Returns 0 for anything else.
std::size_t boardNumber(std::string_view text, std::size_t count);

// A match's id in addresses: its board and the event of its start, "1-57".
std::string matchId(int board, std::uint64_t start_event);
// Reads an id back: a board from 1 to kMaxBoards and an event of at most
// kMaxMatchIdDigits digits, each without leading zeros; nothing for any other
// text.
std::optional<std::pair<int, std::uint64_t>> parseMatchId(std::string_view id);

// Decodes %XX escapes (and '+' as a space in a query); nothing for a broken
// escape.
std::optional<std::string> percentDecoded(std::string_view text, bool plus_is_space);

// Returns the decoded value of the first `name` in a query ("a=1&b=2"): ""
// for a name without "=", nothing when the query has no such name or its
// value has a broken escape.
std::optional<std::string> queryValue(std::string_view query, std::string_view name);

// Reads a date as YYYY-MM-DD and returns the moment, in milliseconds since
// the epoch, at which the day `days_after` days after it begins in the
// server's local time (at 0 the day itself); nothing for any other text or a
// day no calendar has ("2026-02-30").
std::optional<std::int64_t> dayStart(std::string_view date, int days_after = 0);

// Returns the query of a request target, without the "?"; empty for none.
std::string_view queryOf(std::string_view target);

// Returns whether the request's Content-Type is application/json, with any
// parameters, in any letter case.
bool isJson(const Request& request);

// Returns the token of "Authorization: Bearer TOKEN" (the scheme in any
// letter case), or nothing when the request carries no bearer token.
std::optional<std::string_view> bearerToken(const Request& request);

// Reads "Idempotency-Key: KEY": nothing when the request has none, an empty
// key when it is not 1 to kMaxIdempotencyKeyBytes visible ASCII characters or
// is given twice.
std::optional<std::string> idempotencyKey(const Request& request);

// Reads If-Match: "*" or a list of entity tags, in one field or several.
// Nothing when the request has none. A weak tag or one that is not a
// board's (a quoted event id of at most kMaxEntityTagDigits digits) never
// matches.
std::optional<Precondition> precondition(const Request& request);

// Returns whether an If-None-Match field's value, `list`, holds `tag` or
// "*": a list of entity tags, compared weakly (W/ ignored), as a GET
// compares them.
bool listsTag(std::string_view list, std::string_view tag);

// Returns the entity tag of a board as it is after `event_id`: "\"57\"".
std::string entityTag(std::uint64_t event_id);

}  // namespace game501::server
