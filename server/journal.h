// The journal of a server: one SQLite database that holds the boards'
// tokens and one row for every call that reached a board's engine, accepted
// or refused, in the engine's order. It is the truth; the engines are a
// cache of it, rebuilt from it at every start.
//
// Rows are written by one thread in group commits: whatever queues while a
// commit is being made goes into the next one, so that one fsync serves many
// darts. A row is durable once its commit returns (WAL, synchronous=FULL).
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "actions.h"
#include "archive.h"

namespace SQLite {
class Database;
class Statement;
}  // namespace SQLite

namespace game501::server {

struct JournalRow {
    int board = 0;
    std::uint64_t event_id = 0;
    std::int64_t time = 0;  // milliseconds since the epoch, as the engine used them
    Command command;
    std::string idempotency_key;  // empty when the request had none
    bool accepted = false;
    // What the row changes in the archive of matches, written with it: a
    // match it ends unfinished, the match it begins, one whose status it
    // changes.
    std::vector<archive::MatchEntry> archive;
};

class Journal {
public:
    // Called once for every appended row, on the writer's thread, in the
    // order the rows were appended: true once the row is durable, false when
    // its commit failed and the row is not in the journal.
    using Done = std::function<void(bool durable)>;

    // The database that lives as long as the process and is never written to
    // a disk: for comparisons of speed only.
    static constexpr const char* kInMemory = ":memory:";

    // Opens the database at `path`, creating it (mode 0600, since it holds
    // the tokens) when there is none. Returns nothing, and says why in
    // Swedish in `problem`, for a file that is not SQLite, is the database of
    // something else, has a schema version this server does not know, is
    // damaged, or is open in another server.
    static std::unique_ptr<Journal> open(const std::string& path, std::string& problem);

    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    // Writes what is queued, then stops the writer.
    ~Journal();

    // The boards' tokens, board 1 first; empty for a new database. The reads
    // and setTokens throw SQLite::Exception when the file cannot be read or
    // written.
    std::vector<std::string> tokens();
    // Keeps `tokens` as the boards' tokens, board 1 first.
    void setTokens(const std::vector<std::string>& tokens);

    // Returns the id of the board's last event, 0 when it has none.
    std::uint64_t lastEventId(int board);
    // Returns the rows that rebuild the board's game as it is now: from its
    // last accepted start or reset through its last row (every row, when it
    // has neither).
    std::vector<JournalRow> currentGame(int board);
    // Returns the rows that rebuild the board's game as it was after
    // `event_id`: from the last accepted start or reset at or before it,
    // through it.
    std::vector<JournalRow> gameThrough(int board, std::uint64_t event_id);
    // Returns the rows of the board's match that began at `start_event`:
    // from that start up to the next accepted start or reset.
    std::vector<JournalRow> matchRows(int board, std::uint64_t start_event);
    // Returns the board's row of `event_id`, if it has one.
    std::optional<JournalRow> row(int board, std::uint64_t event_id);
    // Returns the event ids and keys of the board's last `count` rows that
    // carry an idempotency key, oldest first.
    std::vector<std::pair<std::uint64_t, std::string>> recentKeys(int board, std::size_t count);

    // Runs `read(database)` between two commits and returns what it does;
    // for the archive's queries. Throws what they throw.
    template <typename Read>
    auto read(Read&& read) {
        const std::lock_guard<std::mutex> lock(database_mutex_);
        return read(*database_);
    }

    // Starts the writer thread; rows may be appended from then on.
    void start();
    // Queues a row, to be written after every row appended before it.
    // `done` tells when it is durable or failed. Never blocks on a commit.
    void append(JournalRow row, Done done);

private:
    struct Pending {
        JournalRow row;
        Done done;
    };

    Journal(std::unique_ptr<SQLite::Database> database, std::string path, int lock_fd);
    void prepareStatements();
    void writeLoop();
    // Writes the rows in one transaction; false when they are not durable.
    bool commit(const std::vector<Pending>& batch);
    // Whether the file is still the one opened, where it was, and writable
    // by its owner: a journal that was removed, replaced or made read-only
    // is not written to behind its owner's back.
    bool fileUsable(std::string& problem) const;
    void reportTrouble(bool failing, const std::string& problem);

    const std::string path_;
    const int lock_fd_;  // held for the journal's life: one server per file
    dev_t device_ = 0;
    ino_t inode_ = 0;

    // The one connection, for the writer and for the rare reads alike.
    std::mutex database_mutex_;
    std::unique_ptr<SQLite::Database> database_;
    std::unique_ptr<SQLite::Statement> insert_;
    std::unique_ptr<archive::Writer> archive_;

    std::mutex queue_mutex_;
    std::condition_variable queue_changed_;
    std::vector<Pending> queue_;
    bool stopping_ = false;
    bool failing_ = false;  // the writer's alone: whether the last commit failed
    std::thread writer_;
};

}  // namespace game501::server
