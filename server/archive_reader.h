// The reads of what has been played, for the reports: the archive's
// matches, players and careers, and the journal rows of one match. Its own
// read-only connection, beside the writer's, with every statement prepared
// once and kept: WAL lets it read while the writer commits, so that a
// report never waits for a commit's fsync.
#pragma once

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive.h"
#include "journal_row.h"
#include "mutex.h"
#include "statistics.h"

namespace game501::server {

// The counts of the matches being played, by board and start event, which
// are newer than the archive's (it writes a match as its status changes).
using LiveCounts = std::map<std::pair<int, std::uint64_t>, std::vector<statistics::Counts>>;

// One player's part in one match.
struct Appearance {
    archive::MatchEntry match;
    int position = 0;  // the player's index in match.players
};

// A member of the register, by its id and its name.
struct Member {
    std::int64_t id = 0;
    std::string name;
};

// A member with how many matches that count (archive::counts) they played
// and the sum of their counts in those.
struct Career {
    std::string name;
    std::int64_t matches = 0;
    statistics::Counts counts;
};

// Which matches a list holds: those of the member `player` when it is not
// 0, begun from `from` up to but not including `to` (milliseconds since the
// epoch).
struct MatchFilter {
    std::int64_t player = 0;
    std::int64_t from = std::numeric_limits<std::int64_t>::min();
    std::int64_t to = std::numeric_limits<std::int64_t>::max();
};

// Thrown by a read that meets a match whose counts in the archive are
// damaged and whose journal rows do not seat its players either.
class DamagedMatch : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thread-safe; one read at a time. Every read throws SQLite::Exception
// when the database cannot be read, and reads the matches being played with
// their live counts where those have one per player. A match whose counts
// cell does not hold one entry per seat is damaged: each read that meets it
// says so once on standard error, naming its board and start event, and
// takes its counts from the match played again from its journal rows
// (DamagedMatch when those seat other players).
class ArchiveReader {
public:
    // Opens a read-only connection of its own to the database at `path`,
    // which the writer has made. Throws SQLite::Exception.
    static std::unique_ptr<ArchiveReader> open(const std::string& path);
    // Reads through the writer's own connection, under the writer's
    // `mutex`, which it holds while it commits: for a database in memory,
    // which no second connection can see.
    static std::unique_ptr<ArchiveReader> sharing(SQLite::Database& database, Mutex& mutex);

    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // Returns the entry of a match, if the archive has it.
    std::optional<archive::MatchEntry> match(int board, std::uint64_t start_event,
                                             const LiveCounts& live);
    // Returns the matches in which a dart was thrown or that are being
    // played, newest first, `count` after the first `skip`; only those that
    // `filter` holds.
    std::vector<archive::MatchEntry> matches(const MatchFilter& filter, std::size_t skip,
                                             std::size_t count, const LiveCounts& live);
    // Returns how many matches `matches` would list in all.
    std::size_t matchCount(const MatchFilter& filter);
    // Returns every seat of the member `player` in a match that `matches`
    // lists, newest first.
    std::vector<Appearance> appearances(std::int64_t player, const LiveCounts& live);
    // Returns the member who is `name` by nameKey, if any.
    std::optional<Member> member(std::string_view name);
    // Returns every member of the register, by name.
    std::vector<Member> members();
    // Returns every member of the register, by name, with the matches that
    // count.
    std::vector<Career> careers();
    // Returns the journal rows of the board's match that began at
    // `start_event`: from that start up to the next accepted start or reset.
    std::vector<JournalRow> matchRows(int board, std::uint64_t start_event);

private:
    ArchiveReader(std::unique_ptr<SQLite::Database> own, SQLite::Database& database,
                  Mutex* shared_mutex);
    std::vector<archive::MatchEntry> listLocked(const MatchFilter& filter, std::int64_t skip,
                                                std::int64_t count, const LiveCounts& live)
        GAME501_REQUIRES(mutex_);
    archive::MatchEntry entryLocked(SQLite::Statement& query, const LiveCounts& live)
        GAME501_REQUIRES(mutex_);
    // Adds a match read from seats_ to the careers of its members, when it
    // counts.
    void addToCareersLocked(const archive::MatchEntry& match, const std::string& cell,
                            std::map<std::int64_t, Career>& careers) GAME501_REQUIRES(mutex_);
    // Returns the counts of a damaged match with `seats` players, played
    // again from its journal rows, and logs it. Throws DamagedMatch.
    std::vector<statistics::Counts> rebuiltLocked(int board, std::uint64_t start_event,
                                                  std::size_t seats) GAME501_REQUIRES(mutex_);
    std::vector<JournalRow> matchRowsLocked(int board, std::uint64_t start_event)
        GAME501_REQUIRES(mutex_);

    Mutex own_mutex_;
    const std::unique_ptr<SQLite::Database> own_;  // none when sharing the writer's
    Mutex& mutex_;
    SQLite::Statement match_ GAME501_GUARDED_BY(mutex_);
    SQLite::Statement players_ GAME501_GUARDED_BY(mutex_);
    SQLite::Statement list_ GAME501_GUARDED_BY(mutex_);
    SQLite::Statement count_ GAME501_GUARDED_BY(mutex_);
    SQLite::Statement seats_ GAME501_GUARDED_BY(mutex_);
    SQLite::Statement members_ GAME501_GUARDED_BY(mutex_);
    SQLite::Statement member_ GAME501_GUARDED_BY(mutex_);
    SQLite::Statement match_end_ GAME501_GUARDED_BY(mutex_);
    SQLite::Statement rows_ GAME501_GUARDED_BY(mutex_);
};

}  // namespace game501::server
