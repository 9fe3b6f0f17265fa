#include "archive.h"

#include <SQLiteCpp/Statement.h>

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <utility>

#include "ascii.h"

namespace game501::server::archive {

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

// A match's counts as the archive keeps them: per player an array of the
// counts in the order of kCountColumns, "[[9,501,...],[...]]".
std::string countsJson(const std::vector<Counts>& players) {
    std::string text = "[";
    for (const Counts& counts : players) {
        text += text.size() == 1 ? "[" : ",[";
        for (const auto& [name, member] : kCountColumns) {
            text += (text.back() == '[' ? "" : ",") + std::to_string(counts.*member);
        }
        text += ']';
    }
    return text + "]";
}

std::vector<Counts> countsFrom(const std::string& text) {
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    std::vector<Counts> players;
    if (!document.is_array()) {
        return players;
    }
    for (const nlohmann::json& values : document) {
        Counts& counts = players.emplace_back();
        for (std::size_t i = 0; i < kCountColumns.size() && values.is_array() && i < values.size();
             ++i) {
            if (values[i].is_number_integer()) {
                counts.*(kCountColumns[i].second) = values[i].get<std::int64_t>();
            }
        }
    }
    return players;
}

const char* const kMatchColumns =
    "m.board, m.start_event, m.started, m.updated, m.legs, m.sets, m.status, m.winner, m.counts";

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
    entry.counts = countsFrom(query.getColumn(8).getString());
    return entry;
}

// Fills in the players' names of `entries`.
void readPlayers(SQLite::Database& database, std::vector<MatchEntry>& entries) {
    SQLite::Statement query(database,
                            "SELECT name FROM match_players WHERE board = ? AND start_event = ? "
                            "ORDER BY position");
    for (MatchEntry& entry : entries) {
        query.bind(1, entry.board);
        query.bind(2, static_cast<std::int64_t>(entry.start_event));
        while (query.executeStep()) {
            entry.players.push_back(query.getColumn(0).getString());
        }
        query.reset();
    }
}

// The matches in which a dart was thrown, or that are being played (the
// archive has their counts as of their start), and of `player` when one is
// named.
const char* const kListed =
    " FROM matches m WHERE (m.darts > 0 OR m.status = 'playing') AND (?1 = '' OR EXISTS (SELECT 1 "
    "FROM match_players p "
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
        counts TEXT NOT NULL,
        PRIMARY KEY (board, start_event)
    ) WITHOUT ROWID;
    CREATE INDEX matches_by_start ON matches (started);
    CREATE TABLE match_players (
        board INTEGER NOT NULL,
        start_event INTEGER NOT NULL,
        position INTEGER NOT NULL,
        name TEXT NOT NULL,
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
             "INSERT INTO matches (board, start_event, started, updated, legs, sets, status, "
             "winner, darts, counts) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (board, "
             "start_event) DO UPDATE SET updated = excluded.updated, status = excluded.status, "
             "winner = excluded.winner, darts = excluded.darts, counts = excluded.counts"),
      player_(database,
              "INSERT OR IGNORE INTO match_players (board, start_event, position, name) VALUES "
              "(?, ?, ?, ?)") {}

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
    match_.bind(10, countsJson(entry.counts));
    match_.exec();
    // The names stay as the start gave them.
    if (!entry.begins) {
        return;
    }
    for (std::size_t position = 0; position < entry.players.size(); ++position) {
        player_.reset();
        player_.bind(1, entry.board);
        player_.bind(2, static_cast<std::int64_t>(entry.start_event));
        player_.bind(3, static_cast<int>(position));
        player_.bind(4, entry.players[position]);
        player_.exec();
    }
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

void overlay(std::vector<MatchEntry>& entries, const Live& live) {
    for (MatchEntry& entry : entries) {
        const auto found = live.find({entry.board, entry.start_event});
        if (found != live.end() && found->second.size() == entry.players.size()) {
            entry.counts = found->second;
        }
    }
}

std::vector<Career> careers(SQLite::Database& database, const Live& live) {
    SQLite::Statement query(database,
                            "SELECT p.name, p.position, m.counts, m.board, m.start_event FROM "
                            "match_players p JOIN matches m ON m.board = p.board AND "
                            "m.start_event = p.start_event ORDER BY p.name");
    std::vector<Career> careers;
    while (query.executeStep()) {
        const std::string name = query.getColumn(0).getString();
        const auto position = static_cast<std::size_t>(query.getColumn(1).getInt());
        const auto found = live.find({query.getColumn(3).getInt(),
                                      static_cast<std::uint64_t>(query.getColumn(4).getInt64())});
        const std::vector<Counts> counts =
            found != live.end() ? found->second : countsFrom(query.getColumn(2).getString());
        std::int64_t darts = 0;
        for (const Counts& player : counts) {
            darts += player.darts;
        }
        if (darts == 0 || position >= counts.size()) {
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

}  // namespace game501::server::archive
