#include "archive_reader.h"

#include <limits>

#include "server_limits.h"
#include "statement_use.h"

namespace game501::server {

namespace {

using archive::MatchEntry;
using statistics::Counts;

// Each query that gives matches selects the columns entryLocked reads, in
// their order.
const char* const kMatchQuery = R"(
    SELECT board, start_event, started, updated, legs, sets, status, winner, counts
    FROM matches
    WHERE board = :board AND start_event = :start_event)";

const char* const kPlayersQuery = R"(
    SELECT name
    FROM match_players
    WHERE board = :board AND start_event = :start_event
    ORDER BY position)";

// The matches listed: those in which a dart was thrown, or that are being
// played (the archive has their counts as of their start), of :player when
// one is named, and begun from :from up to :to.
const char* const kListQuery = R"(
    SELECT m.board, m.start_event, m.started, m.updated, m.legs, m.sets, m.status, m.winner,
           m.counts
    FROM matches m
    WHERE (m.darts > 0 OR m.status = 'playing')
      AND (:player = '' OR EXISTS (SELECT 1
                                   FROM match_players p
                                   WHERE p.board = m.board AND p.start_event = m.start_event
                                     AND p.name = :player))
      AND m.started >= :from AND m.started < :to
    ORDER BY m.started DESC, m.board DESC
    LIMIT :count OFFSET :skip)";

const char* const kCountQuery = R"(
    SELECT count(*)
    FROM matches m
    WHERE (m.darts > 0 OR m.status = 'playing')
      AND (:player = '' OR EXISTS (SELECT 1
                                   FROM match_players p
                                   WHERE p.board = m.board AND p.start_event = m.start_event
                                     AND p.name = :player))
      AND m.started >= :from AND m.started < :to)";

const char* const kCareersQuery = R"(
    SELECT p.name, p.position, m.counts, m.board, m.start_event
    FROM match_players p
    JOIN matches m ON m.board = p.board AND m.start_event = p.start_event
    ORDER BY p.name)";

// The last event of a match: the one before the board's next accepted start
// or reset; null while the match is the board's last.
const char* const kMatchEndQuery = R"(
    SELECT min(event_id) - 1
    FROM journal
    WHERE board = :board AND event_id > :start_event AND accepted
      AND operation IN ('start', 'reset'))";

const char* const kRowsQuery = R"(
    SELECT event_id, time, operation, arguments, idempotency_key, accepted
    FROM journal
    WHERE board = :board AND event_id BETWEEN :from AND :through
    ORDER BY event_id)";

std::int64_t darts(const std::vector<Counts>& players) {
    std::int64_t darts = 0;
    for (const Counts& player : players) {
        darts += player.darts;
    }
    return darts;
}

}  // namespace

std::unique_ptr<ArchiveReader> ArchiveReader::open(const std::string& path) {
    auto database = std::make_unique<SQLite::Database>(path, SQLite::OPEN_READONLY,
                                                       static_cast<int>(kArchiveReadWait.count()));
    SQLite::Database& connection = *database;
    return std::unique_ptr<ArchiveReader>(
        new ArchiveReader(std::move(database), connection, nullptr));
}

std::unique_ptr<ArchiveReader> ArchiveReader::sharing(SQLite::Database& database, Mutex& mutex) {
    return std::unique_ptr<ArchiveReader>(new ArchiveReader(nullptr, database, &mutex));
}

ArchiveReader::ArchiveReader(std::unique_ptr<SQLite::Database> own, SQLite::Database& database,
                             Mutex* shared_mutex)
    : own_(std::move(own)),
      mutex_(shared_mutex != nullptr ? *shared_mutex : own_mutex_),
      match_(database, kMatchQuery),
      players_(database, kPlayersQuery),
      list_(database, kListQuery),
      count_(database, kCountQuery),
      careers_(database, kCareersQuery),
      match_end_(database, kMatchEndQuery),
      rows_(database, kRowsQuery) {}

MatchEntry ArchiveReader::entryLocked(SQLite::Statement& query, const LiveCounts& live) {
    MatchEntry entry;
    entry.board = query.getColumn(0).getInt();
    entry.start_event = static_cast<std::uint64_t>(query.getColumn(1).getInt64());
    entry.started = query.getColumn(2).getInt64();
    entry.updated = query.getColumn(3).getInt64();
    entry.legs = query.getColumn(4).getInt();
    entry.sets = query.getColumn(5).getInt();
    entry.status = query.getColumn(6).getString();
    entry.winner = query.getColumn(7).getInt();
    entry.counts = archive::countsFromCell(query.getColumn(8).getString());
    const StatementUse use_players(players_);
    players_.bind(":board", entry.board);
    players_.bind(":start_event", static_cast<std::int64_t>(entry.start_event));
    while (players_.executeStep()) {
        entry.players.push_back(players_.getColumn(0).getString());
    }
    const auto found = live.find({entry.board, entry.start_event});
    if (found != live.end() && found->second.size() == entry.players.size()) {
        entry.counts = found->second;
    }
    return entry;
}

std::optional<MatchEntry> ArchiveReader::match(int board, std::uint64_t start_event,
                                               const LiveCounts& live) {
    const MutexLock lock(mutex_);
    const StatementUse use_match(match_);
    match_.bind(":board", board);
    match_.bind(":start_event", static_cast<std::int64_t>(start_event));
    if (!match_.executeStep()) {
        return std::nullopt;
    }
    return entryLocked(match_, live);
}

std::vector<MatchEntry> ArchiveReader::listLocked(const MatchFilter& filter, std::int64_t skip,
                                                  std::int64_t count, const LiveCounts& live) {
    const StatementUse use_list(list_);
    list_.bind(":player", filter.player);
    list_.bind(":from", filter.from);
    list_.bind(":to", filter.to);
    list_.bind(":skip", skip);
    list_.bind(":count", count);
    std::vector<MatchEntry> entries;
    while (list_.executeStep()) {
        entries.push_back(entryLocked(list_, live));
    }
    return entries;
}

std::vector<MatchEntry> ArchiveReader::matches(const MatchFilter& filter, std::size_t skip,
                                               std::size_t count, const LiveCounts& live) {
    const MutexLock lock(mutex_);
    return listLocked(filter, static_cast<std::int64_t>(skip), static_cast<std::int64_t>(count),
                      live);
}

std::size_t ArchiveReader::matchCount(const MatchFilter& filter) {
    const MutexLock lock(mutex_);
    const StatementUse use_count(count_);
    count_.bind(":player", filter.player);
    count_.bind(":from", filter.from);
    count_.bind(":to", filter.to);
    count_.executeStep();
    return static_cast<std::size_t>(count_.getColumn(0).getInt64());
}

std::vector<Appearance> ArchiveReader::appearances(const std::string& player,
                                                   const LiveCounts& live) {
    std::vector<MatchEntry> entries;
    {
        const MutexLock lock(mutex_);
        entries =
            listLocked(MatchFilter{player}, 0, std::numeric_limits<std::int64_t>::max(), live);
    }
    std::vector<Appearance> found;
    for (MatchEntry& entry : entries) {
        for (std::size_t position = 0; position < entry.players.size(); ++position) {
            if (entry.players[position] == player) {
                found.push_back(Appearance{entry, static_cast<int>(position)});
            }
        }
    }
    return found;
}

std::vector<Career> ArchiveReader::careers(const LiveCounts& live) {
    const MutexLock lock(mutex_);
    const StatementUse use_careers(careers_);
    std::vector<Career> careers;
    while (careers_.executeStep()) {
        const std::string name = careers_.getColumn(0).getString();
        const auto position = static_cast<std::size_t>(careers_.getColumn(1).getInt());
        const auto found =
            live.find({careers_.getColumn(3).getInt(),
                       static_cast<std::uint64_t>(careers_.getColumn(4).getInt64())});
        const std::vector<Counts> counts =
            found != live.end() ? found->second
                                : archive::countsFromCell(careers_.getColumn(2).getString());
        if (darts(counts) == 0 || position >= counts.size()) {
            continue;  // a match in which no dart was thrown is no match played
        }
        if (careers.empty() || careers.back().name != name) {
            careers.push_back(Career{name, 0, {}});
        }
        ++careers.back().matches;
        careers.back().counts += counts[position];
    }
    return careers;
}

std::vector<JournalRow> ArchiveReader::matchRows(int board, std::uint64_t start_event) {
    const MutexLock lock(mutex_);
    const StatementUse use_match_end(match_end_);
    match_end_.bind(":board", board);
    match_end_.bind(":start_event", static_cast<std::int64_t>(start_event));
    match_end_.executeStep();
    const std::int64_t through = match_end_.getColumn(0).isNull()
                                     ? std::numeric_limits<std::int64_t>::max()
                                     : match_end_.getColumn(0).getInt64();
    const StatementUse use_rows(rows_);
    rows_.bind(":board", board);
    rows_.bind(":from", static_cast<std::int64_t>(start_event));
    rows_.bind(":through", through);
    std::vector<JournalRow> rows;
    while (rows_.executeStep()) {
        rows.push_back(readRow(board, rows_));
    }
    return rows;
}

}  // namespace game501::server
