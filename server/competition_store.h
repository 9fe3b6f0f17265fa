// The competitions as the journal keeps them: each one's row (its name, its
// settings in the library's stable form, and the night's: the boards of its
// pool and its computers) and its accepted events in order. A competition is
// rebuilt from these at every start (competition::Competition::replay).
#pragma once

#include <SQLiteCpp/Database.h>

#include <cstdint>
#include <string>
#include <vector>

namespace game501::server::competitions {

// The statements that make the journal's third schema from its second.
extern const char* const kSchema;

// One row: a competition made (number 0, with name, settings and night), or
// its event `number` (from 1, in the order of its events).
struct Row {
    int competition = 0;
    std::uint64_t number = 0;
    std::string name;      // number 0
    std::string settings;  // number 0: competition::toJson(Settings), compact
    std::string night;     // number 0: {"boards", "computers"}, compact
    std::string event;     // otherwise: competition::toJson(Event), compact
};

// A competition as stored: its row and its events, oldest first.
struct Stored {
    int id = 0;
    std::int64_t time = 0;  // when it was made, milliseconds since the epoch
    std::string name;
    std::string settings;
    std::string night;
    std::vector<std::string> events;
};

// Writes `row`, made at `time`, inside the caller's transaction. Throws
// SQLite::Exception.
void write(SQLite::Database& database, const Row& row, std::int64_t time);

// Returns every stored competition, by id. Throws SQLite::Exception.
std::vector<Stored> readAll(SQLite::Database& database);

}  // namespace game501::server::competitions
