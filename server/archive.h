// The archive of matches: one entry per match a board has played, with each
// player's counts, kept in the journal's database and written in the same
// transaction as the journal row that changed it, so that the two always
// agree. Every figure of a player's career is a sum of these counts.
#pragma once

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <cstdint>
#include <map>
#include <optional>
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
};

// A match's id in addresses: its board and the event of its start, "1-57".
std::string matchId(int board, std::uint64_t start_event);
// Reads an id back; nothing for any other text.
std::optional<std::pair<int, std::uint64_t>> parseMatchId(const std::string& id);

// The statements that create the archive's tables, for the journal's schema.
extern const char* const kSchema;

// Writes entries with statements prepared once, for the journal's writer.
class Writer {
public:
    explicit Writer(SQLite::Database& database);

    // Writes `entry`, replacing what the archive held of that match.
    void write(const MatchEntry& entry);

private:
    SQLite::Statement match_;
    SQLite::Statement player_;
};

// Returns the entry of a match, if the archive has it.
std::optional<MatchEntry> find(SQLite::Database& database, int board, std::uint64_t start_event);

// Returns the matches in which a dart was thrown, newest first, `count`
// after the first `skip`; only those of `player` when it is not empty.
std::vector<MatchEntry> matches(SQLite::Database& database, const std::string& player,
                                std::size_t skip, std::size_t count);
// Returns how many matches `matches` would list in all.
std::size_t matchCount(SQLite::Database& database, const std::string& player);

// One player's part in one match.
struct Appearance {
    MatchEntry match;
    int position = 0;  // the player's index in match.players
};

// Returns every match of `player` in which a dart was thrown, newest first.
std::vector<Appearance> appearances(SQLite::Database& database, const std::string& player);

// Returns the names of every player of a match in which a dart was thrown,
// with how many such matches each played and the sum of their counts, the
// matches being played counted with their live counts.
struct Career {
    std::string name;
    std::int64_t matches = 0;
    statistics::Counts counts;
};
// The counts of the matches being played, by board and start event, which
// are newer than the archive's (it writes a match as its status changes).
using Live = std::map<std::pair<int, std::uint64_t>, std::vector<statistics::Counts>>;
// Puts the live counts of the matches being played in `entries`.
void overlay(std::vector<MatchEntry>& entries, const Live& live);

std::vector<Career> careers(SQLite::Database& database, const Live& live);

}  // namespace game501::server::archive
