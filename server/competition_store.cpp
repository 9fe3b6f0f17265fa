#include "competition_store.h"

#include <SQLiteCpp/Statement.h>

#include <map>

namespace game501::server::competitions {

const char* const kSchema = R"(
    CREATE TABLE competitions (
        id INTEGER PRIMARY KEY,
        time INTEGER NOT NULL,
        name TEXT NOT NULL,
        settings TEXT NOT NULL,
        night TEXT NOT NULL
    );
    CREATE TABLE competition_events (
        competition INTEGER NOT NULL REFERENCES competitions (id),
        number INTEGER NOT NULL,
        time INTEGER NOT NULL,
        event TEXT NOT NULL,
        PRIMARY KEY (competition, number)
    ) WITHOUT ROWID;)";

void write(SQLite::Database& database, const Row& row, std::int64_t time) {
    if (row.number == 0) {
        SQLite::Statement insert(database, R"(
            INSERT INTO competitions (id, time, name, settings, night)
            VALUES (:id, :time, :name, :settings, :night))");
        insert.bind(":id", row.competition);
        insert.bind(":time", time);
        insert.bind(":name", row.name);
        insert.bind(":settings", row.settings);
        insert.bind(":night", row.night);
        insert.exec();
        return;
    }
    SQLite::Statement insert(database, R"(
        INSERT INTO competition_events (competition, number, time, event)
        VALUES (:competition, :number, :time, :event))");
    insert.bind(":competition", row.competition);
    insert.bind(":number", static_cast<std::int64_t>(row.number));
    insert.bind(":time", time);
    insert.bind(":event", row.event);
    insert.exec();
}

std::vector<Stored> readAll(SQLite::Database& database) {
    std::vector<Stored> stored;
    std::map<int, std::size_t> index;
    SQLite::Statement competitions(
        database, "SELECT id, time, name, settings, night FROM competitions ORDER BY id");
    while (competitions.executeStep()) {
        index[competitions.getColumn(0).getInt()] = stored.size();
        stored.push_back(Stored{competitions.getColumn(0).getInt(),
                                competitions.getColumn(1).getInt64(),
                                competitions.getColumn(2).getString(),
                                competitions.getColumn(3).getString(),
                                competitions.getColumn(4).getString(),
                                {}});
    }
    SQLite::Statement events(database, R"(
        SELECT competition, event FROM competition_events ORDER BY competition, number)");
    while (events.executeStep()) {
        const auto found = index.find(events.getColumn(0).getInt());
        if (found != index.end()) {
            stored[found->second].events.push_back(events.getColumn(1).getString());
        }
    }
    return stored;
}

}  // namespace game501::server::competitions
