// Reports of a match from its record (match_record.h): each leg's visits and
// figures for a page, and every dart as a CSV file for a spreadsheet.
//
// Example:
//   const Game501::json legs = match_report::legs(match.legs(), 2);
//   const std::string csv = match_report::dartsCsv("1-57", match.legs(), match.players());
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game_501.h"
#include "match_record.h"

namespace game501::match_report {

// Returns one entry per leg: {"leg", "set", "starter", "winner", "players":
// one per player in the starting order, {"figures" (statistics::toJson of the
// player's counts in the leg), "visits": [{"darts" (notations), "outcome",
// "points" (0 for a bust), "start_score"}]}}.
Game501::json legs(const std::vector<LegRecord>& legs, int player_count);

// Returns every dart of the record as RFC 4180 CSV in UTF-8, with a header
// row: match, set, leg, visit (counted in the leg, every player's visits in
// throwing order), player, dart (in its visit), notation, points, remaining
// (before the dart), bust, source and time (ISO 8601, UTC). Lines end in CR
// LF. A field with a comma, a quote or a line break is quoted, and a text
// that a spreadsheet would take for a formula (beginning with =, +, -, @, a
// tab or a carriage return) is preceded by an apostrophe.
std::string dartsCsv(const std::string& match_id, const std::vector<LegRecord>& legs,
                     const std::vector<std::string>& players);

// Returns dartsCsv's lines without its header row, so that the darts of many
// matches make one file under one header (dartsCsvHeader).
std::string dartsCsvRows(const std::string& match_id, const std::vector<LegRecord>& legs,
                         const std::vector<std::string>& players);
// Returns dartsCsv's header row, with its line end.
std::string dartsCsvHeader();

// Returns `millis` since the epoch as ISO 8601 in UTC with milliseconds:
// "2026-12-09T18:04:05.123Z".
std::string isoTime(std::int64_t millis);

}  // namespace game501::match_report
