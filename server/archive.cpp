#include "archive.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "statement_use.h"

namespace game501::server::archive {

using statistics::Counts;
using statistics::kCountFields;

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

bool practice(const MatchEntry& entry) {
    return std::find(entry.members.begin(), entry.members.end(), 0) != entry.members.end();
}

bool counts(const MatchEntry& entry) {
    if (entry.status != "finished" || entry.voided || practice(entry)) {
        return false;
    }
    std::set<std::int64_t> seated(entry.members.begin(), entry.members.end());
    return seated.size() == entry.members.size();
}

std::string countsCell(const std::vector<Counts>& players) {
    std::string text = "[";
    for (const Counts& counts : players) {
        text += text.size() == 1 ? "[" : ",[";
        for (const auto& [name, member] : kCountFields) {
            text += (text.back() == '[' ? "" : ",") + std::to_string(counts.*member);
        }
        text += ']';
    }
    return text + "]";
}

std::vector<Counts> countsFromCell(const std::string& cell) {
    const nlohmann::json document = nlohmann::json::parse(cell, nullptr, false);
    std::vector<Counts> players;
    if (!document.is_array()) {
        return players;
    }
    for (const nlohmann::json& values : document) {
        if (!values.is_array()) {
            return {};
        }
        Counts& counts = players.emplace_back();
        for (std::size_t i = 0; i < kCountFields.size() && i < values.size(); ++i) {
            if (values[i].is_number_integer()) {
                counts.*(kCountFields[i].member) = values[i].get<std::int64_t>();
            }
        }
    }
    return players;
}

Writer::Writer(SQLite::Database& database)
    : match_(database, R"(
        INSERT INTO matches (board, start_event, started, updated, legs, sets, status, winner,
                             darts, counts)
        VALUES (:board, :start_event, :started, :updated, :legs, :sets, :status, :winner,
                :darts, :counts)
        ON CONFLICT (board, start_event) DO UPDATE SET
            updated = excluded.updated, status = excluded.status, winner = excluded.winner,
            darts = excluded.darts, counts = excluded.counts)"),
      player_(database, R"(
        INSERT OR IGNORE INTO match_players (board, start_event, position, name, player)
        VALUES (:board, :start_event, :position, :name, :player))") {}

void Writer::write(const MatchEntry& entry, const std::vector<std::int64_t>& members) {
    std::int64_t darts = 0;
    for (const Counts& counts : entry.counts) {
        darts += counts.darts;
    }
    const StatementUse use_match(match_);
    match_.bind(":board", entry.board);
    match_.bind(":start_event", static_cast<std::int64_t>(entry.start_event));
    match_.bind(":started", entry.started);
    match_.bind(":updated", entry.updated);
    match_.bind(":legs", entry.legs);
    match_.bind(":sets", entry.sets);
    match_.bind(":status", entry.status);
    match_.bind(":winner", entry.winner);
    match_.bind(":darts", darts);
    match_.bind(":counts", countsCell(entry.counts));
    match_.exec();
    // The names stay as the start gave them.
    if (!entry.begins) {
        return;
    }
    for (std::size_t position = 0; position < entry.players.size(); ++position) {
        const StatementUse use_player(player_);
        player_.bind(":board", entry.board);
        player_.bind(":start_event", static_cast<std::int64_t>(entry.start_event));
        player_.bind(":position", static_cast<int>(position));
        player_.bind(":name", entry.players[position]);
        if (position < members.size() && members[position] != 0) {
            player_.bind(":player", members[position]);
        } else {
            player_.bind(":player");
        }
        player_.exec();
    }
}

}  // namespace game501::server::archive
