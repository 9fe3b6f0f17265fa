#include "archive.h"

#include <SQLiteCpp/Statement.h>

#include <array>
#include <cstdint>
#include <utility>

#include "ascii.h"

namespace game501_server::archive {

namespace {

using statistics::Counts;

// Every count of a player in a match, in the order of its columns.
constexpr std::array<std::pair<const char*, std::int64_t Counts::*>, 13> kCountColumns = {{
    {"darts", &Counts::darts},
    {"points", &Counts::points},
    {"first_nine_darts", &Counts::first_nine_darts},
    {"first_nine_points", &Counts::first_nine_points},
    {"double_darts", &Counts::double_darts},
    {"legs_played", &Counts::legs_played},
    {"legs_won", &Counts::legs_won},
    {"legs_won_against_throw", &Counts::legs_won_against_throw},
    {"visits_100", &Counts::visits_100},
    {"visits_140", &Counts::visits_140},
    {"visits_180", &Counts::visits_180},
    {"highest_finish", &Counts::highest_finish},
    {"best_leg", &Counts::best_leg},
}};

std::string countColumns(const std::string& prefix) {
    std::string columns;
    for (const auto& [name, member] : kCountColumns) {
        columns += (columns.empty() ? "" : ", ") + prefix + name;
    }
    return columns;
}

const char* const kMatchColumns =
    "m.board, m.start_event, m.started, m.updated, m.legs, m.sets, m.status, m.winner";

// Reads the columns of kMatchColumns, from the first.
MatchEntry readMatch(SQLite::Statement& query) {
    MatchEntry entry;
    entry.board = query.getColumn(0).getInt();
    entry.start_event = static_cast<std::uint64_t>(query.getColumn(1).getInt64());
    entry.started = query.getColumn(2).getInt64();
    entry.updated = query.getColumn(3).getInt64();
    entry.legs = query.getColumn(4).getInt();
    entry.sets = query.getColumn(5).getInt();
    entry.status = query.getColumn(6).getString();
    entry.winner = query.getColumn(7).getInt();
    return entry;
}

Counts readCounts(SQLite::Statement& query, int first_column) {
    Counts counts;
    int column = first_column;
    for (const auto& [name, member] : kCountColumns) {
        counts.*member = query.getColumn(column++).getInt64();
    }
    return counts;
}

// Fills in the players and their counts of `entries`.
void readPlayers(SQLite::Database& database, std::vector<MatchEntry>& entries) {
    SQLite::Statement query(database, "SELECT name, " + countColumns("") +
                                          " FROM match_players WHERE board = ? AND "
                                          "start_event = ? ORDER BY position");
    for (MatchEntry& entry : entries) {
        query.bind(1, entry.board);
        query.bind(2, static_cast<std::int64_t>(entry.start_event));
        while (query.executeStep()) {
            entry.players.push_back(query.getColumn(0).getString());
            entry.counts.push_back(readCounts(query, 1));
        }
        query.reset();
    }
}

// The matches in which a dart was thrown, and of `player` when one is named.
const char* const kListed =
    " FROM matches m WHERE m.darts > 0 AND (?1 = '' OR EXISTS (SELECT 1 FROM match_players p "
    "WHERE p.board = m.board AND p.start_event = m.start_event AND p.name = ?1))";

}  // namespace

const char* const kSchema = R"(
    CREATE TABLE matches (
        board INTEGER NOT NULL,
        start_event INTEGER NOT NULL,
        started INTEGER NOT NULL,
        updated INTEGER NOT NULL,
        legs INTEGER NOT NULL,
        sets INTEGER NOT NULL,
        status TEXT NOT NULL,
        winner INTEGER NOT NULL,
        darts INTEGER NOT NULL,
        PRIMARY KEY (board, start_event)
    ) WITHOUT ROWID;
    CREATE INDEX matches_by_start ON matches (started);
    CREATE TABLE match_players (
        board INTEGER NOT NULL,
        start_event INTEGER NOT NULL,
        position INTEGER NOT NULL,
        name TEXT NOT NULL,
        darts INTEGER NOT NULL,
        points INTEGER NOT NULL,
        first_nine_darts INTEGER NOT NULL,
        first_nine_points INTEGER NOT NULL,
        double_darts INTEGER NOT NULL,
        legs_played INTEGER NOT NULL,
        legs_won INTEGER NOT NULL,
        legs_won_against_throw INTEGER NOT NULL,
        visits_100 INTEGER NOT NULL,
        visits_140 INTEGER NOT NULL,
        visits_180 INTEGER NOT NULL,
        highest_finish INTEGER NOT NULL,
        best_leg INTEGER NOT NULL,
        PRIMARY KEY (board, start_event, position)
    ) WITHOUT ROWID;
    CREATE INDEX match_players_by_name ON match_players (name);)";

std::string matchId(int board, std::uint64_t start_event) {
    return std::to_string(board) + "-" + std::to_string(start_event);
}

std::optional<std::pair<int, std::uint64_t>> parseMatchId(const std::string& id) {
    const std::size_t dash = id.find('-');
    const auto number = [](std::string_view digits) -> std::optional<std::uint64_t> {
        if (digits.empty() || digits.size() > 18 || digits.front() == '0') {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (const char c : digits) {
            if (!ascii::isDigit(c)) {
                return std::nullopt;
            }
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return value;
    };
    if (dash == std::string::npos) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> board = number(std::string_view(id).substr(0, dash));
    const std::optional<std::uint64_t> event = number(std::string_view(id).substr(dash + 1));
    if (!board || !event || *board > 1000) {
        return std::nullopt;
    }
    return std::make_pair(static_cast<int>(*board), *event);
}

Writer::Writer(SQLite::Database& database)
    : match_(database,
             "INSERT OR REPLACE INTO matches (board, start_event, started, updated, legs, sets, "
             "status, winner, darts) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
      player_(
          database, "INSERT OR REPLACE INTO match_players (board, start_event, position, name, " +
                        countColumns("") + ") VALUES (?, ?, ?, ?" +
                        [] {
                            std::string placeholders;
                            for (std::size_t i = 0; i < kCountColumns.size(); ++i) {
                                placeholders += ", ?";
                            }
                            return placeholders;
                        }() +
                        ")"),
      abandon_(database,
               "UPDATE matches SET status = 'abandoned' WHERE board = ? AND start_event = ? AND "
               "status = 'playing'") {}

void Writer::write(const MatchEntry& entry) {
    std::int64_t darts = 0;
    for (const Counts& counts : entry.counts) {
        darts += counts.darts;
    }
    match_.reset();
    match_.bind(1, entry.board);
    match_.bind(2, static_cast<std::int64_t>(entry.start_event));
    match_.bind(3, entry.started);
    match_.bind(4, entry.updated);
    match_.bind(5, entry.legs);
    match_.bind(6, entry.sets);
    match_.bind(7, entry.status);
    match_.bind(8, entry.winner);
    match_.bind(9, darts);
    match_.exec();
    for (std::size_t position = 0; position < entry.players.size(); ++position) {
        player_.reset();
        player_.bind(1, entry.board);
        player_.bind(2, static_cast<std::int64_t>(entry.start_event));
        player_.bind(3, static_cast<int>(position));
        player_.bind(4, entry.players[position]);
        int column = 5;
        for (const auto& [name, member] : kCountColumns) {
            player_.bind(column++, entry.counts[position].*member);
        }
        player_.exec();
    }
}

void Writer::abandon(int board, std::uint64_t start_event) {
    abandon_.reset();
    abandon_.bind(1, board);
    abandon_.bind(2, static_cast<std::int64_t>(start_event));
    abandon_.exec();
}

std::optional<MatchEntry> find(SQLite::Database& database, int board, std::uint64_t start_event) {
    SQLite::Statement query(database,
                            std::string("SELECT ") + kMatchColumns +
                                " FROM matches m WHERE m.board = ? AND m.start_event = ?");
    query.bind(1, board);
    query.bind(2, static_cast<std::int64_t>(start_event));
    if (!query.executeStep()) {
        return std::nullopt;
    }
    std::vector<MatchEntry> entries{readMatch(query)};
    readPlayers(database, entries);
    return std::move(entries.front());
}

std::vector<MatchEntry> matches(SQLite::Database& database, const std::string& player,
                                std::size_t skip, std::size_t count) {
    SQLite::Statement query(database, std::string("SELECT ") + kMatchColumns + kListed +
                                          " ORDER BY m.started DESC, m.board DESC LIMIT ?2 "
                                          "OFFSET ?3");
    query.bind(1, player);
    query.bind(2, static_cast<std::int64_t>(count));
    query.bind(3, static_cast<std::int64_t>(skip));
    std::vector<MatchEntry> entries;
    while (query.executeStep()) {
        entries.push_back(readMatch(query));
    }
    readPlayers(database, entries);
    return entries;
}

std::size_t matchCount(SQLite::Database& database, const std::string& player) {
    SQLite::Statement query(database, std::string("SELECT count(*)") + kListed);
    query.bind(1, player);
    query.executeStep();
    return static_cast<std::size_t>(query.getColumn(0).getInt64());
}

std::vector<Appearance> appearances(SQLite::Database& database, const std::string& player) {
    std::vector<MatchEntry> entries = matches(database, player, 0, SIZE_MAX >> 1);
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

std::vector<Career> careers(SQLite::Database& database) {
    SQLite::Statement query(database, "SELECT p.name, " + countColumns("p.") +
                                          " FROM match_players p JOIN matches m ON m.board = "
                                          "p.board AND m.start_event = p.start_event WHERE "
                                          "m.darts > 0 ORDER BY p.name");
    std::vector<Career> careers;
    while (query.executeStep()) {
        const std::string name = query.getColumn(0).getString();
        if (careers.empty() || careers.back().name != name) {
            careers.push_back(Career{name, 0, {}});
        }
        ++careers.back().matches;
        careers.back().counts += readCounts(query, 1);
    }
    return careers;
}

}  // namespace game501_server::archive
