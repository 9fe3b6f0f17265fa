// What every front end (the terminal scorer, the server and the pages it
// serves) needs beside the engine's documents, worked out in one place.
//
// Example:
//   const Game501::json checkout = front_end::checkoutFor(game.state());
//   front_end::checkoutText(checkout["route"], std::nullopt);  // "Utgång: T20 T19 D12"
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "game_501.h"

namespace game501::front_end {

// Source labels come from people and programs a front end does not control,
// and an engine keeps each one with its dart for as long as the match, so a
// front end refuses a longer label before it reaches the engine.
inline constexpr std::size_t kMaxSourceBytes = 1024;

// Where the active player of a game being played stands, as the checkout
// is worked out from it.
struct CheckoutSituation {
    int player = 0;  // its position in the leg's throwing order
    int remaining = 0;
    int darts_left = 0;  // in its visit: 1 to 3
};

// Returns the situation of `leg`'s active player; none when no game is being
// played.
std::optional<CheckoutSituation> checkoutSituation(const Leg& leg);

// Returns what a scoreboard shows of the active player's finish beside a
// state document: {"player", "remaining", "darts_left", "route" (checkoutHint's,
// empty when there is none), "advice": one {"chance" (chanceText of the
// probability, for pages to show as it is), "level", "name", "probability",
// "route"} per skill level, least accurate first}. Null when no game is
// being played.
Game501::json checkoutFor(const Game501::json& state);
// Returns the same document from the situation (checkoutSituation); null
// for none.
Game501::json checkoutFor(const std::optional<CheckoutSituation>& situation);

// Returns the rules a page needs to draw and check what it sends:
// {"darts_per_turn", "min_players", "max_players", "max_name_bytes" (a
// longer name would be cut), "max_source_bytes", the
// formats of a match: "min_legs", "max_legs", "min_sets", "max_sets", and
// what a start may seat as the computer: "computer": {"levels": [{"id",
// "name"}] (skillLevels()), "min_average", "max_average" (the target
// averages), "name" (its name when given none), "targets": [{"average",
// "name"}] (every target average with the name players read for it, so that
// a page need not make the name up)}}.
Game501::json rules();

// Returns `document` as compact JSON text without ever throwing: text that
// is not valid UTF-8 (a name, a notation or a source label exactly as a
// caller passed it) becomes U+FFFD instead of failing the whole document.
std::string serialise(const Game501::json& document);

// Returns a chance in whole percent ("41 %"); a chance that rounds to
// nothing but is not nothing reads "< 1 %".
std::string chanceText(double probability);

// Returns the line that shows a route, "Utgång: S19 D20", followed by its
// chance (" (41 %)") when there is one; empty for an empty route.
std::string checkoutText(const std::vector<std::string>& route, std::optional<double> chance);

}  // namespace game501::front_end
