#include "members.h"

#include <SQLiteCpp/Statement.h>

#include <nlohmann/json.hpp>
#include <utility>

#include "actions.h"
#include "archive.h"
#include "parsing.h"
#include "rules.h"

namespace game501::server {

namespace members {

const char* const kSchema = R"(
    CREATE TABLE players (
        player INTEGER PRIMARY KEY,
        name TEXT NOT NULL,
        name_key TEXT NOT NULL UNIQUE
    );
    -- Null for a seat that is no member: the computer's.
    ALTER TABLE match_players ADD COLUMN player INTEGER;
    DROP INDEX match_players_by_name;
    CREATE INDEX match_players_by_player ON match_players (player);
    ALTER TABLE matches ADD COLUMN void INTEGER NOT NULL DEFAULT 0;
    CREATE TABLE organiser (
        id INTEGER PRIMARY KEY CHECK (id = 1),
        token TEXT NOT NULL
    );
    CREATE TABLE corrections (
        event_id INTEGER PRIMARY KEY,
        time INTEGER NOT NULL,
        operation TEXT NOT NULL,
        arguments TEXT NOT NULL
    );)";

void upgrade(SQLite::Database& database) {
    SQLite::Statement seats(database, R"(
        SELECT p.board, p.start_event, p.position, p.name, j.operation, j.arguments
        FROM match_players p
        JOIN matches m ON m.board = p.board AND m.start_event = p.start_event
        LEFT JOIN journal j ON j.board = p.board AND j.event_id = p.start_event
        ORDER BY m.started, m.board, m.start_event, p.position)");
    SQLite::Statement seat(database, R"(
        UPDATE match_players SET player = :player
        WHERE board = :board AND start_event = :start_event AND position = :position)");
    SQLite::Statement rename(database, "UPDATE players SET name = :name WHERE player = :player");
    Writer writer(database);
    while (seats.executeStep()) {
        const auto position = static_cast<std::size_t>(seats.getColumn(2).getInt());
        const std::string name = seats.getColumn(3).getString();
        const std::optional<Command> start =
            commandFrom(seats.getColumn(4).getString(), seats.getColumn(5).getString());
        if (start && position < start->computers.size() && !start->computers[position].empty()) {
            continue;
        }
        const std::int64_t player = writer.seat({name}, {false}).front();
        rename.bind(":name", name);
        rename.bind(":player", player);
        rename.exec();
        rename.reset();
        seat.bind(":player", player);
        seat.bind(":board", seats.getColumn(0).getInt());
        seat.bind(":start_event", seats.getColumn(1).getInt64());
        seat.bind(":position", static_cast<int>(position));
        seat.exec();
        seat.reset();
    }
}

}  // namespace members

std::optional<std::string> Members::find(std::string_view name) const {
    const MutexLock lock(mutex_);
    const auto found = names_.find(nameKey(name));
    if (found == names_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void Members::apply(const std::vector<NameChange>& changes) {
    const MutexLock lock(mutex_);
    applyLocked(changes);
}

void Members::replace(const std::vector<NameChange>& everyone) {
    const MutexLock lock(mutex_);
    names_.clear();
    applyLocked(everyone);
}

void Members::applyLocked(const std::vector<NameChange>& changes) {
    for (const NameChange& change : changes) {
        if (!change.removed_key.empty()) {
            names_.erase(change.removed_key);
        }
        if (!change.key.empty()) {
            names_.insert_or_assign(change.key, change.name);
        }
    }
}

namespace members {

namespace {

using json = nlohmann::json;

CorrectionResult refusal(CorrectionResult::Outcome outcome, std::string message) {
    return CorrectionResult{outcome, std::move(message), ""};
}

CorrectionResult unknownPlayer(const std::string& name) {
    return refusal(CorrectionResult::Outcome::unknown_player, "Spelaren " + name + " finns inte");
}

CorrectionResult nameTaken(const std::string& name) {
    return refusal(CorrectionResult::Outcome::name_taken,
                   "Det finns redan en spelare som heter " + name);
}

CorrectionResult applied(const json& document) {
    return CorrectionResult{CorrectionResult::Outcome::applied, "", document.dump()};
}

}  // namespace

std::vector<NameChange> Writer::everyone() {
    SQLite::Statement query(database_, "SELECT name_key, name FROM players");
    std::vector<NameChange> members;
    while (query.executeStep()) {
        members.push_back(
            NameChange{"", query.getColumn(0).getString(), query.getColumn(1).getString()});
    }
    return members;
}

std::optional<Writer::Member> Writer::find(std::string_view name) {
    SQLite::Statement query(database_, "SELECT player, name FROM players WHERE name_key = :key");
    query.bind(":key", nameKey(name));
    if (!query.executeStep()) {
        return std::nullopt;
    }
    return Member{query.getColumn(0).getInt64(), query.getColumn(1).getString()};
}

std::int64_t Writer::add(const std::string& name) {
    const std::string key = nameKey(name);
    SQLite::Statement insert(database_,
                             "INSERT INTO players (name, name_key) VALUES (:name, :key)");
    insert.bind(":name", name);
    insert.bind(":key", key);
    insert.exec();
    changes_.push_back(NameChange{"", key, name});
    return database_.getLastInsertRowid();
}

std::vector<std::int64_t> Writer::seat(const std::vector<std::string>& players,
                                       const std::vector<bool>& computers) {
    std::vector<std::int64_t> seated;
    for (std::size_t position = 0; position < players.size(); ++position) {
        if (position < computers.size() && computers[position]) {
            seated.push_back(0);
        } else if (const std::optional<Member> member = find(players[position])) {
            seated.push_back(member->id);
        } else {
            seated.push_back(add(players[position]));
        }
    }
    return seated;
}

CorrectionResult Writer::apply(const Correction& correction, std::int64_t time) {
    CorrectionResult result;
    switch (correction.kind) {
        case Correction::Kind::add_player:
            result = addPlayer(correction);
            break;
        case Correction::Kind::rename:
            result = rename(correction);
            break;
        case Correction::Kind::merge:
            result = merge(correction);
            break;
        case Correction::Kind::void_match:
            result = voidMatch(correction);
            break;
    }
    if (result.outcome == CorrectionResult::Outcome::applied) {
        SQLite::Statement journal(database_, R"(
            INSERT INTO corrections (time, operation, arguments)
            VALUES (:time, :operation, :arguments))");
        journal.bind(":time", time);
        journal.bind(":operation", std::string(operationOf(correction.kind)));
        journal.bind(":arguments", argumentsJson(correction));
        journal.exec();
    }
    return result;
}

std::vector<NameChange> Writer::takeChanges() { return std::exchange(changes_, {}); }

CorrectionResult Writer::addPlayer(const Correction& correction) {
    if (const std::optional<Member> taken = find(correction.name)) {
        return nameTaken(taken->name);
    }
    const std::string name = playerName(correction.name, 0);
    add(name);
    return applied({{"name", name}});
}

CorrectionResult Writer::rename(const Correction& correction) {
    const std::optional<Member> member = find(correction.player);
    if (!member) {
        return unknownPlayer(correction.player);
    }
    const std::optional<Member> taken = find(correction.name);
    if (taken && taken->id != member->id) {
        return nameTaken(taken->name);
    }
    const std::string name = playerName(correction.name, 0);
    const std::string key = nameKey(name);
    SQLite::Statement update(database_,
                             "UPDATE players SET name = :name, name_key = :key WHERE player = :id");
    update.bind(":name", name);
    update.bind(":key", key);
    update.bind(":id", member->id);
    update.exec();
    changes_.push_back(NameChange{nameKey(member->name), key, name});
    return applied({{"name", name}});
}

CorrectionResult Writer::merge(const Correction& correction) {
    const std::optional<Member> member = find(correction.player);
    if (!member) {
        return unknownPlayer(correction.player);
    }
    const std::optional<Member> into = find(correction.into);
    if (!into) {
        return unknownPlayer(correction.into);
    }
    SQLite::Statement move(database_,
                           "UPDATE match_players SET player = :into WHERE player = :player");
    move.bind(":into", into->id);
    move.bind(":player", member->id);
    move.exec();
    SQLite::Statement remove(database_, "DELETE FROM players WHERE player = :player");
    remove.bind(":player", member->id);
    remove.exec();
    changes_.push_back(NameChange{nameKey(member->name), "", ""});
    return applied({{"name", into->name}});
}

CorrectionResult Writer::voidMatch(const Correction& correction) {
    SQLite::Statement update(database_, R"(
        UPDATE matches SET void = :void
        WHERE board = :board AND start_event = :start_event
        RETURNING status)");
    update.bind(":void", correction.voided ? 1 : 0);
    update.bind(":board", correction.board);
    update.bind(":start_event", static_cast<std::int64_t>(correction.start_event));
    if (!update.executeStep()) {
        return refusal(CorrectionResult::Outcome::unknown_match, "Matchen finns inte");
    }
    archive::MatchEntry entry;
    entry.status = update.getColumn(0).getString();
    entry.voided = correction.voided;
    update.reset();
    SQLite::Statement seats(database_, R"(
        SELECT coalesce(player, 0)
        FROM match_players
        WHERE board = :board AND start_event = :start_event
        ORDER BY position)");
    seats.bind(":board", correction.board);
    seats.bind(":start_event", static_cast<std::int64_t>(correction.start_event));
    while (seats.executeStep()) {
        entry.members.push_back(seats.getColumn(0).getInt64());
    }
    return applied({{"counts", archive::counts(entry)},
                    {"id", matchId(correction.board, correction.start_event)},
                    {"void", entry.voided}});
}

}  // namespace members

}  // namespace game501::server
