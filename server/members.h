// The register of the club's players: a member for every person who has
// played a match here or whom the organiser added, each under a name that
// no other member's equals by nameKey (rules.h). Here are its tables in the
// journal's database, its writes on the journal's writer (the new players
// of a start, the organiser's corrections, each in the transaction of its
// journal row) and the names that the boards' starts are resolved with.
#pragma once

#include <SQLiteCpp/Database.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "correction.h"
#include "mutex.h"

namespace game501::server {

namespace members {

// The statements that make the journal's second schema from its first: the
// register, each seat's member, void matches, the organiser's token and the
// journal of corrections.
extern const char* const kSchema;

// Fills the register of a database that had none, after kSchema: a member
// for every name a person played under (the computer's seats, as their
// starts gave them, have none), names equal by nameKey being one member
// under the name last played; every seat gets its member. Throws
// SQLite::Exception.
void upgrade(SQLite::Database& database);

}  // namespace members

// A change of the names by key: a key that goes, a key that comes with its
// name, or both (a rename).
struct NameChange {
    std::string removed_key;  // empty: none goes
    std::string key;          // empty: none comes
    std::string name;
};

// The register's names by key, so that a start is resolved without the
// database. Thread-safe.
class Members {
public:
    // Returns the name of the member who is `name` by nameKey, if any.
    std::optional<std::string> find(std::string_view name) const;
    // Puts durable changes in place, in order.
    void apply(const std::vector<NameChange>& changes);
    // Puts `everyone` (Writer::everyone) in place of every name.
    void replace(const std::vector<NameChange>& everyone);

private:
    void applyLocked(const std::vector<NameChange>& changes) GAME501_REQUIRES(mutex_);

    mutable Mutex mutex_;
    std::map<std::string, std::string, std::less<>> names_ GAME501_GUARDED_BY(mutex_);
};

namespace members {

// The register's writes, made on the journal writer's connection inside
// its transaction. Each throws SQLite::Exception when the database fails.
// Used on the writer's thread alone.
class Writer {
public:
    explicit Writer(SQLite::Database& database) : database_(database) {}

    // Returns every member as a change that adds it: what Members starts from.
    std::vector<NameChange> everyone();
    // Returns the members of a beginning match's seats, per player, 0 for
    // the computer's (`computers`, per player), adding a member for every
    // name the register does not know.
    std::vector<std::int64_t> seat(const std::vector<std::string>& players,
                                   const std::vector<bool>& computers);
    // Applies `correction`, journalled at `time`, or refuses it and changes
    // nothing.
    CorrectionResult apply(const Correction& correction, std::int64_t time);
    // Returns the changes of names made since the last call: to put in
    // Members once their commit is durable, or to drop.
    std::vector<NameChange> takeChanges();

private:
    struct Member {
        std::int64_t id = 0;
        std::string name;
    };
    std::optional<Member> find(std::string_view name);
    std::int64_t add(const std::string& name);
    CorrectionResult addPlayer(const Correction& correction);
    CorrectionResult rename(const Correction& correction);
    CorrectionResult merge(const Correction& correction);
    CorrectionResult voidMatch(const Correction& correction);

    SQLite::Database& database_;
    std::vector<NameChange> changes_;
};

}  // namespace members

}  // namespace game501::server
