// The journal of a server: one SQLite database that holds the boards'
// tokens and one row for every call that reached a board's engine, accepted
// or refused, in the engine's order; and the organiser's token and one row
// for every correction the organiser made; and the competitions with their
// events (competition_store.h). It is the truth; the engines are
// a cache of it, rebuilt from it at every start, and so are the register's
// names (Members).
//
// Rows are written by one thread in group commits: whatever queues while a
// commit is being made goes into the next one, so that one fsync serves many
// darts. A row is durable once its commit returns (WAL, synchronous=FULL).
// The writers of durable rows are told on a second thread, in order, while
// the writer commits the next rows; a commit that failed is told once every
// row before it has been, and before anything after it is written.
// Before each commit the file is checked to be the one opened, writable and
// still this server's database. A commit that fails part way (an fsync's
// I/O error, say) may or may not have left its rows in the file: the journal
// then takes no writes, opens the file again, has SQLite read its log anew
// and makes what it holds durable, and only then takes writes again.
// The archive's reads go through a read-only connection of their own
// (archive_reader.h), which WAL lets read while the writer commits.
#pragma once

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "accuracies.h"
#include "actions.h"
#include "archive.h"
#include "archive_reader.h"
#include "competition_store.h"
#include "correction.h"
#include "journal_row.h"
#include "members.h"
#include "mutex.h"

namespace game501::server {

// Thread-safe.
class Journal {
public:
    // What became of a row.
    enum class Written {
        durable,      // in the journal, and it survives a crash and a power cut
        not_written,  // not in the journal: its commit wrote nothing, or came to nothing
        unknown,      // its commit failed part way: the file may hold it or not
    };
    // Called once for every appended row, on one of the journal's threads,
    // in the order the rows were appended, never two at once.
    using Done = std::function<void(Written)>;
    // Called once for every correction, as Done is: with its
    // answer once it is durable or refused, storage_unavailable when it was
    // not written, or outcome_unknown when its commit failed part way.
    using Corrected = std::function<void(CorrectionResult)>;

    // The database that lives as long as the process and is never written to
    // a disk: for comparisons of speed only.
    static constexpr const char* kInMemory = ":memory:";

    // Opens the database at `path`, creating it (mode 0600, since it holds
    // the tokens) only where neither it nor its log (-wal) nor the log's
    // index (-shm) is, and its archive's reader. Returns nothing, and says
    // why in Swedish in `problem`, for a database that is missing or empty
    // beside its log or index (which may hold rows found nowhere else), a
    // file that is not SQLite, is the database of something else, has a
    // schema version this server does not know, is damaged, or is open in
    // another server.
    static std::unique_ptr<Journal> open(const std::string& path, std::string& problem);

    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    // Writes what is queued and tells its writers, then stops the threads.
    ~Journal();

    // Whether open made a new database.
    bool created() const { return created_; }
    // Whether the journal takes writes: not from a commit that failed part
    // way until it has been opened again. A write that comes meanwhile is to
    // be refused before it runs. Any thread.
    bool takingWrites() const { return taking_writes_; }
    // Calls `listener` on the writer's thread each time the journal has been
    // opened again, before it takes writes again: to rebuild every board from
    // what the file holds. Set before the journal starts.
    void onReopened(std::function<void()> listener) { reopened_ = std::move(listener); }

    // The boards' tokens, board 1 first; empty for a new database. The reads
    // and setTokens throw SQLite::Exception when the file cannot be read or
    // written, and every read throws std::runtime_error while the journal
    // cannot be opened again.
    std::vector<std::string> tokens();
    // Keeps `tokens` as the boards' tokens, board 1 first.
    void setTokens(const std::vector<std::string>& tokens);
    // The organiser's token; none for a new database.
    std::optional<std::string> organiserToken();
    void setOrganiserToken(const std::string& token);

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
    // Returns the board's row of `event_id`, if it has one.
    std::optional<JournalRow> row(int board, std::uint64_t event_id);
    // Returns the event ids and keys of the board's last `count` rows that
    // carry an idempotency key, oldest first.
    std::vector<std::pair<std::uint64_t, std::string>> recentKeys(int board, std::size_t count);

    // The reader of the archive, which lives as long as the journal.
    ArchiveReader& reader() { return *reader_; }
    // The register's names as the journal holds them.
    const Members& members() const { return members_; }
    // The members' accuracies, brought up to date as matches end and as
    // corrections are made.
    Accuracies& accuracies() { return *accuracies_; }
    const Accuracies& accuracies() const { return *accuracies_; }

    // Starts the writer's two threads, and the accuracies' thread; rows may
    // be appended from then on.
    void start();
    // Queues a row, to be written after every row appended before it.
    // `done` tells when it is durable or failed. Never blocks on a commit.
    void append(JournalRow row, Done done);
    // Queues a competition's row, to be written after every row appended
    // before it. `done` tells when it is durable or failed. Never blocks on
    // a commit.
    void appendCompetition(competitions::Row row, Done done);
    // Returns every competition the journal holds. Throws SQLite::Exception.
    std::vector<competitions::Stored> competitions();
    // Queues a correction, to be applied and journalled after every row
    // appended before it; refuses it at once (storage_unavailable) while the
    // journal takes no writes. Never blocks on a commit.
    void correct(Correction correction, Corrected done);

private:
    struct Pending {
        JournalRow row;
        Done done;
        std::optional<Correction> correction;  // the row is none when it has one
        Corrected corrected;
        CorrectionResult result;  // the correction's, once its batch is written
        std::optional<competitions::Row> competition;  // the row is none when it has one
    };
    // The writer's connection, with each statement prepared once; made anew
    // when the journal is opened again.
    struct Connection;
    // The descriptor that holds the file's lock: one server per file. Closed
    // last, after the database, since closing any descriptor of the file
    // would drop SQLite's own locks on it.
    struct FileLock {
        FileLock() = default;
        FileLock(FileLock&& other) noexcept;
        FileLock& operator=(FileLock&&) = delete;
        ~FileLock();
        int fd = -1;
    };

    Journal(std::unique_ptr<SQLite::Database> database, std::string path, FileLock lock,
            bool created);
    // Returns the writer's connection. Throws std::runtime_error while the
    // journal cannot be opened again.
    Connection& connectionLocked() GAME501_REQUIRES(database_mutex_);
    std::vector<JournalRow> rowsLocked(int board, std::uint64_t from, std::uint64_t through)
        GAME501_REQUIRES(database_mutex_);
    void writeLoop();
    // Tells the writers of each durable batch, in order.
    void tellLoop();
    // Returns once the writers of every durable batch handed over are told.
    void waitUntilTold();
    // Writes the rows and corrections in one transaction, keeping each
    // correction's result; says what became of them.
    Written commit(std::vector<Pending>& batch);
    // Has the accuracies of the members whose match a durable batch ended
    // brought up to date, and everyone's after a correction.
    void followAccuracies(const std::vector<Pending>& batch);
    // Tells the batch's writers how it went.
    static void report(std::vector<Pending>& batch, Written written);
    // Opens the file again, has SQLite rebuild the log's index from the log
    // itself, makes the log durable and puts the register's names as the
    // file holds them in place; false, with the problem on standard error
    // once, while any step fails.
    bool reopen();
    // Whether the file is still the one opened, where it was, writable by
    // its owner and still this server's SQLite database (its header and
    // application_id): a journal that was removed, replaced, overwritten,
    // truncated or made read-only is not written to behind its owner's back.
    // A stat and a read of 100 bytes.
    bool fileUsable(std::string& problem) const;
    void reportTrouble(bool failing, const std::string& problem);

    const std::string path_;
    const FileLock lock_;
    const bool created_;
    dev_t device_ = 0;
    ino_t inode_ = 0;

    // The writer's connection, for the writer and the boards' own reads;
    // none while the journal cannot be opened again.
    Mutex database_mutex_;
    std::unique_ptr<Connection> connection_ GAME501_GUARDED_BY(database_mutex_);
    std::unique_ptr<ArchiveReader> reader_;
    Members members_;
    // Stopped before the reader it reads through goes.
    std::unique_ptr<Accuracies> accuracies_;

    Mutex queue_mutex_;
    std::condition_variable_any queue_changed_;
    std::vector<Pending> queue_ GAME501_GUARDED_BY(queue_mutex_);
    bool stopping_ GAME501_GUARDED_BY(queue_mutex_) = false;
    std::atomic<bool> taking_writes_{true};  // written by the writer alone
    std::function<void()> reopened_;
    bool failing_ = false;         // the writer's alone: whether the last commit failed
    bool reopen_failing_ = false;  // the writer's alone: whether the last reopen failed
    std::thread writer_;

    // Durable batches whose writers are still to be told, oldest first.
    Mutex told_mutex_;
    std::condition_variable_any told_changed_;
    std::deque<std::vector<Pending>> untold_ GAME501_GUARDED_BY(told_mutex_);
    bool telling_ GAME501_GUARDED_BY(told_mutex_) = false;  // a batch taken, not yet told
    bool writer_done_ GAME501_GUARDED_BY(told_mutex_) = false;
    std::thread teller_;
};

}  // namespace game501::server
