// One row of the journal: a call that reached a board's engine, as the
// journal keeps it and as both of its connections read it back.
#pragma once

#include <SQLiteCpp/Statement.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "actions.h"
#include "archive.h"
#include "leg.h"

namespace game501::server {

struct JournalRow {
    int board = 0;
    std::uint64_t event_id = 0;
    std::int64_t time = 0;  // milliseconds since the epoch, as the engine used them
    Command command;
    std::string idempotency_key;  // empty when the request had none
    bool accepted = false;
    // What the row changes in the archive, written with it: a match it ends
    // unfinished, the match it begins, one whose status it changes.
    std::vector<archive::MatchEntry> match_updates;
    // The legs of the match the row ends, finished or not, for the members'
    // accuracies; none when it ends none.
    std::shared_ptr<const std::vector<LegRecord>> ended_legs = nullptr;
};

// Returns whether a row begins a game anew (an accepted start or reset), so
// that the rows before it are no longer needed to rebuild the board.
bool beginsGame(const JournalRow& row);

// Reads the board's row at the query's current step, whose columns are the
// journal's event_id, time, operation, arguments, idempotency_key and
// accepted, in that order. Throws std::runtime_error for a row whose call
// cannot be read back.
JournalRow readRow(int board, const SQLite::Statement& query);

}  // namespace game501::server
