#include "archive_reader.h"

#include <iostream>
#include <limits>

#include "replay.h"
#include "rules.h"
#include "server_limits.h"
#include "statement_use.h"

namespace game501::server {

namespace {

using archive::MatchEntry;
using statistics::Counts;

// Each query that gives matches selects the columns entryLocked reads, in
// their order.
const char* const kMatchQuery = R"(
    SELECT board, start_event, started, updated, legs, sets, status, winner, counts, void
    FROM matches
    WHERE board = :board AND start_event = :start_event)";

// A member's seat under the member's name as it is now; the computer's
// under the name its start gave it.
const char* const kPlayersQuery = R"(
    SELECT coalesce(r.name, p.name), coalesce(p.player, 0)
    FROM match_players p
    LEFT JOIN players r ON r.player = p.player
    WHERE p.board = :board AND p.start_event = :start_event
    ORDER BY p.position)";

// The matches listed: those in which a dart was thrown, or that are being
// played (the archive has their counts as of their start), of the member
// :player when it is not 0, and begun from :from up to :to.
const char* const kListQuery = R"(
    SELECT m.board, m.start_event, m.started, m.updated, m.legs, m.sets, m.status, m.winner,
           m.counts, m.void
    FROM matches m
    WHERE (m.darts > 0 OR m.status = 'playing')
      AND (:player = 0 OR EXISTS (SELECT 1
                                  FROM match_players p
                                  WHERE p.board = m.board AND p.start_event = m.start_event
                                    AND p.player = :player))
      AND m.started >= :from AND m.started < :to
    ORDER BY m.started DESC, m.board DESC
    LIMIT :count OFFSET :skip)";

const char* const kCountQuery = R"(
    SELECT count(*)
    FROM matches m
    WHERE (m.darts > 0 OR m.status = 'playing')
      AND (:player = 0 OR EXISTS (SELECT 1
                                  FROM match_players p
                                  WHERE p.board = m.board AND p.start_event = m.start_event
                                    AND p.player = :player))
      AND m.started >= :from AND m.started < :to)";

// Every seat of every match, a match's seats together in their order.
const char* const kSeatsQuery = R"(
    SELECT m.board, m.start_event, m.status, m.void, m.counts, coalesce(p.player, 0)
    FROM matches m
    JOIN match_players p ON p.board = m.board AND p.start_event = m.start_event
    ORDER BY m.board, m.start_event, p.position)";

const char* const kMembersQuery = R"(
    SELECT player, name
    FROM players
    ORDER BY name_key)";

const char* const kMemberQuery = R"(
    SELECT player, name
    FROM players
    WHERE name_key = :key)";

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
      seats_(database, kSeatsQuery),
      members_(database, kMembersQuery),
      member_(database, kMemberQuery),
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
    entry.voided = query.getColumn(9).getInt() != 0;
    const StatementUse use_players(players_);
    players_.bind(":board", entry.board);
    players_.bind(":start_event", static_cast<std::int64_t>(entry.start_event));
    while (players_.executeStep()) {
        entry.players.push_back(players_.getColumn(0).getString());
        entry.members.push_back(players_.getColumn(1).getInt64());
    }
    const auto found = live.find({entry.board, entry.start_event});
    if (found != live.end() && found->second.size() == entry.players.size()) {
        entry.counts = found->second;
    }
    if (entry.counts.size() != entry.players.size()) {
        entry.counts = rebuiltLocked(entry.board, entry.start_event, entry.players.size());
    }
    return entry;
}

std::vector<Counts> ArchiveReader::rebuiltLocked(int board, std::uint64_t start_event,
                                                 std::size_t seats) {
    const std::string damaged = "game-501-server: arkivets siffror för matchen på tavla " +
                                std::to_string(board) + ", start " + std::to_string(start_event) +
                                " är skadade";
    const Replay replay(matchRowsLocked(board, start_event));
    std::vector<Counts> counts = replay.match().figures().match;
    if (replay.match().players().size() != seats || counts.size() != seats) {
        std::cerr << damaged + ", och journalens rader ger inte dess spelare\n";
        throw DamagedMatch(damaged);
    }
    std::cerr << damaged + "; de räknas om från journalens rader\n";
    return counts;
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

std::vector<Appearance> ArchiveReader::appearances(std::int64_t player, const LiveCounts& live) {
    std::vector<MatchEntry> entries;
    {
        const MutexLock lock(mutex_);
        entries =
            listLocked(MatchFilter{player}, 0, std::numeric_limits<std::int64_t>::max(), live);
    }
    std::vector<Appearance> found;
    for (MatchEntry& entry : entries) {
        for (std::size_t position = 0; position < entry.players.size(); ++position) {
            if (entry.members[position] == player) {
                found.push_back(Appearance{entry, static_cast<int>(position)});
            }
        }
    }
    return found;
}

std::optional<Member> ArchiveReader::member(std::string_view name) {
    const MutexLock lock(mutex_);
    const StatementUse use_member(member_);
    member_.bind(":key", nameKey(name));
    if (!member_.executeStep()) {
        return std::nullopt;
    }
    return Member{member_.getColumn(0).getInt64(), member_.getColumn(1).getString()};
}

void ArchiveReader::addToCareersLocked(const MatchEntry& match, const std::string& cell,
                                       std::map<std::int64_t, Career>& careers) {
    if (!archive::counts(match)) {
        return;
    }
    std::vector<Counts> counts = archive::countsFromCell(cell);
    if (counts.size() != match.members.size()) {
        counts = rebuiltLocked(match.board, match.start_event, match.members.size());
    }
    for (std::size_t position = 0; position < match.members.size(); ++position) {
        Career& career = careers[match.members[position]];
        ++career.matches;
        career.counts += counts[position];
    }
}

std::vector<Member> ArchiveReader::members() {
    const MutexLock lock(mutex_);
    const StatementUse use_members(members_);
    std::vector<Member> members;
    while (members_.executeStep()) {
        members.push_back(
            Member{members_.getColumn(0).getInt64(), members_.getColumn(1).getString()});
    }
    return members;
}

std::vector<Career> ArchiveReader::careers() {
    const MutexLock lock(mutex_);
    std::map<std::int64_t, Career> careers;
    const StatementUse use_seats(seats_);
    // The seats of one match, gathered until the next match's come.
    MatchEntry match;
    std::string cell;
    while (seats_.executeStep()) {
        const int board = seats_.getColumn(0).getInt();
        const auto start_event = static_cast<std::uint64_t>(seats_.getColumn(1).getInt64());
        if (board != match.board || start_event != match.start_event) {
            addToCareersLocked(match, cell, careers);
            match = MatchEntry{};
            match.board = board;
            match.start_event = start_event;
            match.status = seats_.getColumn(2).getString();
            match.voided = seats_.getColumn(3).getInt() != 0;
            cell = seats_.getColumn(4).getString();
        }
        match.members.push_back(seats_.getColumn(5).getInt64());
    }
    addToCareersLocked(match, cell, careers);
    std::vector<Career> members;
    const StatementUse use_members(members_);
    while (members_.executeStep()) {
        Career& career = members.emplace_back(careers[members_.getColumn(0).getInt64()]);
        career.name = members_.getColumn(1).getString();
    }
    return members;
}

std::vector<JournalRow> ArchiveReader::matchRows(int board, std::uint64_t start_event) {
    const MutexLock lock(mutex_);
    return matchRowsLocked(board, start_event);
}

std::vector<JournalRow> ArchiveReader::matchRowsLocked(int board, std::uint64_t start_event) {
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
