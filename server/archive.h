// The archive: the match tables of the journal's database, one entry per
// match a board has played with each player's counts, written in the same
// transaction as the journal row that changed it, so that the two always
// agree. Every figure of a player's career is a sum of these counts.
//
// Here are the tables, what an entry holds and how it is written; the
// reads are archive_reader.h's.
#pragma once

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <cstdint>
#include <string>
#include <vector>

#include "statistics.h"

namespace game501::server::archive {

// A match as a journal row leaves it.
struct MatchEntry {
    int board = 0;
    std::uint64_t start_event = 0;  // the event of its start on the board
    std::int64_t started = 0;       // milliseconds since the epoch
    std::int64_t updated = 0;       // the time of its last row
    int legs = 1;
    int sets = 1;
    std::string status;  // "playing", "finished" or "abandoned"
    int winner = -1;     // index into players
    std::vector<std::string> players;
    std::vector<statistics::Counts> counts;  // one per player
    bool begins = false;                     // written by the row of its start
    // Per player, whether the computer plays the seat: as its start seats it.
    std::vector<bool> computers;
    // Per player, read back: the seat's member of the register, 0 for none
    // (the computer).
    std::vector<std::int64_t> members;
    bool voided = false;  // read back: made void by the organiser
};

// Returns whether a match counts in careers: played to its end, not void,
// and between members, each on one seat.
bool counts(const MatchEntry& entry);
// Returns whether a match was practice: a seat is no member (the computer's).
bool practice(const MatchEntry& entry);

// The statements that create the archive's tables, for the journal's first
// schema; the register adds to them (members.h).
extern const char* const kSchema;

// Returns a match's counts as the archive keeps them: per player an array of
// the counts in the order of statistics::kCountFields, "[[9,501,...],[...]]".
std::string countsCell(const std::vector<statistics::Counts>& players);
// Reads a cell back; a count that is missing or not an integer reads 0, and
// a cell that is not such an array of arrays reads as no players.
std::vector<statistics::Counts> countsFromCell(const std::string& cell);

// Writes entries with statements prepared once, for the journal's writer.
// Used on the writer's thread alone.
class Writer {
public:
    explicit Writer(SQLite::Database& database);

    // Writes `entry`, replacing what the archive held of that match; the
    // entry that begins it seats `members` (per player, 0 for none).
    void write(const MatchEntry& entry, const std::vector<std::int64_t>& members);

private:
    SQLite::Statement match_;
    SQLite::Statement player_;
};

}  // namespace game501::server::archive
