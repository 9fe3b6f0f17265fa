#include "journal.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <utility>

#include "competition_store.h"
#include "statement_use.h"

namespace game501::server {

namespace {

// "G501": marks the file as this server's, so that another program's
// database is never taken for an empty journal.
constexpr int kApplicationId = 0x47353031;

// One step of the schema: statements, then what they leave to do.
struct Migration {
    std::string statements;
    void (*then)(SQLite::Database& database);
};

// The schema, one step per version: version N is reached by applying the
// first N steps in order, each in its own transaction.
const std::array<Migration, 3> kMigrations = {{
    {std::string(R"(CREATE TABLE boards (
           board INTEGER PRIMARY KEY,
           token TEXT NOT NULL
       );
       CREATE TABLE journal (
           board INTEGER NOT NULL,
           event_id INTEGER NOT NULL,
           time INTEGER NOT NULL,
           operation TEXT NOT NULL,
           arguments TEXT NOT NULL,
           idempotency_key TEXT,
           accepted INTEGER NOT NULL,
           PRIMARY KEY (board, event_id)
       ) WITHOUT ROWID;
       -- A restart reads each board's last keyed writes without reading
       -- every row of the board.
       CREATE INDEX journal_keys ON journal (board, event_id, idempotency_key)
           WHERE idempotency_key IS NOT NULL;)") +
         archive::kSchema,
     nullptr},
    {members::kSchema, &members::upgrade},
    // A journal of an earlier version had no competitions: nothing to fill.
    {competitions::kSchema, nullptr},
}};
constexpr int kSchemaVersion = static_cast<int>(kMigrations.size());

int integerPragma(SQLite::Database& database, const char* name) {
    return database.execAndGet(std::string("PRAGMA ") + name).getInt();
}

// Brings a new database to the current schema, or checks that an existing
// one is this server's and of a version it knows.
void prepareSchema(SQLite::Database& database, const std::string& path) {
    const int application_id = integerPragma(database, "application_id");
    const int version = integerPragma(database, "user_version");
    const bool blank = application_id == 0 && version == 0 &&
                       database.execAndGet("SELECT count(*) FROM sqlite_schema").getInt() == 0;
    if (!blank && application_id != kApplicationId) {
        throw std::runtime_error(path + " är inte en databas för game-501-server");
    }
    if (version > kSchemaVersion) {
        throw std::runtime_error(path + " har schemaversion " + std::to_string(version) +
                                 ", som den här servern inte känner till (högst " +
                                 std::to_string(kSchemaVersion) + ")");
    }
    for (int next = version; next < kSchemaVersion; ++next) {
        SQLite::Transaction transaction(database);
        const Migration& migration = kMigrations[static_cast<std::size_t>(next)];
        database.exec(migration.statements);
        if (migration.then != nullptr) {
            migration.then(database);
        }
        database.exec("PRAGMA application_id = " + std::to_string(kApplicationId));
        database.exec("PRAGMA user_version = " + std::to_string(next + 1));
        transaction.commit();
    }
}

void configure(SQLite::Database& database, bool in_memory) {
    // A row counts as written only once it would survive a power cut.
    const std::string mode = database.execAndGet("PRAGMA journal_mode = WAL").getString();
    if (mode != (in_memory ? "memory" : "wal")) {
        throw std::runtime_error("databasen kan inte skrivas med WAL (journal_mode " + mode + ")");
    }
    database.exec("PRAGMA synchronous = FULL");
    const std::string check = database.execAndGet("PRAGMA quick_check").getString();
    if (check != "ok") {
        throw std::runtime_error("databasen är skadad: " + check);
    }
}

std::int64_t wallClockMillis() {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    using std::chrono::system_clock;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string describe(const SQLite::Exception& error, const std::string& path) {
    switch (error.getErrorCode()) {
        case SQLITE_NOTADB:
            return path + " är ingen SQLite-databas";
        case SQLITE_CORRUPT:
            return path + " är skadad: " + error.what();
        default:
            return path + ": " + error.what();
    }
}

}  // namespace

std::unique_ptr<Journal> Journal::open(const std::string& path, std::string& problem) {
    const bool in_memory = path == kInMemory;
    FileLock lock;
    if (!in_memory) {
        lock.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lock.fd < 0) {
            problem = "kan inte öppna " + path + ": " + std::strerror(errno);
            return nullptr;
        }
        // SQLite locks with fcntl, which this lock leaves alone.
        if (flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
            problem = path + " används redan av en annan game-501-server";
            return nullptr;
        }
    }
    try {
        auto database = std::make_unique<SQLite::Database>(path, SQLite::OPEN_READWRITE);
        prepareSchema(*database, path);
        configure(*database, in_memory);
        return std::unique_ptr<Journal>(new Journal(std::move(database), path, std::move(lock)));
    } catch (const SQLite::Exception& error) {
        problem = describe(error, path);
    } catch (const std::exception& error) {
        problem = error.what();
    }
    return nullptr;
}

Journal::FileLock::FileLock(FileLock&& other) noexcept : fd(std::exchange(other.fd, -1)) {}

Journal::FileLock::~FileLock() {
    if (fd >= 0) {
        ::close(fd);
    }
}

Journal::Journal(std::unique_ptr<SQLite::Database> database, std::string path, FileLock lock)
    : path_(std::move(path)),
      lock_(std::move(lock)),
      database_(std::move(database)),
      insert_(*database_, R"(
          INSERT INTO journal (board, event_id, time, operation, arguments, idempotency_key,
                               accepted)
          VALUES (:board, :event_id, :time, :operation, :arguments, :idempotency_key,
                  :accepted))"),
      archive_(*database_),
      register_(*database_),
      last_event_(*database_, R"(
          SELECT max(event_id)
          FROM journal
          WHERE board = :board)"),
      // The event a game as it was after :through began at: its last
      // accepted start or reset, if any.
      game_start_(*database_, R"(
          SELECT event_id
          FROM journal
          WHERE board = :board AND event_id <= :through AND accepted
            AND operation IN ('start', 'reset')
          ORDER BY event_id DESC
          LIMIT 1)"),
      rows_(*database_, R"(
          SELECT event_id, time, operation, arguments, idempotency_key, accepted
          FROM journal
          WHERE board = :board AND event_id BETWEEN :from AND :through
          ORDER BY event_id)"),
      recent_keys_(*database_, R"(
          SELECT event_id, idempotency_key
          FROM journal
          WHERE board = :board AND idempotency_key IS NOT NULL
          ORDER BY event_id DESC
          LIMIT :count)"),
      reader_(path_ == kInMemory ? ArchiveReader::sharing(*database_, database_mutex_)
                                 : ArchiveReader::open(path_)) {
    struct stat status {};
    if (lock_.fd >= 0 && fstat(lock_.fd, &status) == 0) {
        device_ = status.st_dev;
        inode_ = status.st_ino;
    }
    const MutexLock database_lock(database_mutex_);
    members_.apply(register_.everyone());
}

Journal::~Journal() {
    {
        const MutexLock lock(queue_mutex_);
        stopping_ = true;
    }
    queue_changed_.notify_one();
    if (writer_.joinable()) {
        writer_.join();
    }
}

std::vector<std::string> Journal::tokens() {
    const MutexLock lock(database_mutex_);
    SQLite::Statement query(*database_, "SELECT token FROM boards ORDER BY board");
    std::vector<std::string> tokens;
    while (query.executeStep()) {
        tokens.push_back(query.getColumn(0).getString());
    }
    return tokens;
}

void Journal::setTokens(const std::vector<std::string>& tokens) {
    const MutexLock lock(database_mutex_);
    SQLite::Transaction transaction(*database_);
    SQLite::Statement upsert(*database_, R"(
        INSERT INTO boards (board, token)
        VALUES (:board, :token)
        ON CONFLICT (board) DO UPDATE SET token = excluded.token)");
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        upsert.bind(":board", static_cast<int>(i + 1));
        upsert.bind(":token", tokens[i]);
        upsert.exec();
        upsert.reset();
    }
    transaction.commit();
}

std::optional<std::string> Journal::organiserToken() {
    const MutexLock lock(database_mutex_);
    SQLite::Statement query(*database_, "SELECT token FROM organiser");
    if (!query.executeStep()) {
        return std::nullopt;
    }
    return query.getColumn(0).getString();
}

void Journal::setOrganiserToken(const std::string& token) {
    const MutexLock lock(database_mutex_);
    SQLite::Statement upsert(*database_, R"(
        INSERT INTO organiser (id, token)
        VALUES (1, :token)
        ON CONFLICT (id) DO UPDATE SET token = excluded.token)");
    upsert.bind(":token", token);
    upsert.exec();
}

std::uint64_t Journal::lastEventId(int board) {
    const MutexLock lock(database_mutex_);
    const StatementUse use_last_event(last_event_);
    last_event_.bind(":board", board);
    last_event_.executeStep();
    return static_cast<std::uint64_t>(last_event_.getColumn(0).getInt64());
}

std::vector<JournalRow> Journal::currentGame(int board) {
    const std::uint64_t last = lastEventId(board);
    if (last == 0) {
        return {};
    }
    return gameThrough(board, last);
}

std::vector<JournalRow> Journal::gameThrough(int board, std::uint64_t event_id) {
    const MutexLock lock(database_mutex_);
    const StatementUse use_game_start(game_start_);
    game_start_.bind(":board", board);
    game_start_.bind(":through", static_cast<std::int64_t>(event_id));
    // A board that has neither began with its first event.
    const std::uint64_t start =
        game_start_.executeStep() ? static_cast<std::uint64_t>(game_start_.getColumn(0).getInt64())
                                  : 1;
    return rowsLocked(board, start, event_id);
}

std::optional<JournalRow> Journal::row(int board, std::uint64_t event_id) {
    const MutexLock lock(database_mutex_);
    std::vector<JournalRow> rows = rowsLocked(board, event_id, event_id);
    if (rows.empty()) {
        return std::nullopt;
    }
    return std::move(rows.front());
}

std::vector<JournalRow> Journal::rowsLocked(int board, std::uint64_t from, std::uint64_t through) {
    const StatementUse use_rows(rows_);
    rows_.bind(":board", board);
    rows_.bind(":from", static_cast<std::int64_t>(from));
    rows_.bind(":through", static_cast<std::int64_t>(through));
    std::vector<JournalRow> rows;
    while (rows_.executeStep()) {
        rows.push_back(readRow(board, rows_));
    }
    return rows;
}

std::vector<std::pair<std::uint64_t, std::string>> Journal::recentKeys(int board,
                                                                       std::size_t count) {
    const MutexLock lock(database_mutex_);
    const StatementUse use_recent_keys(recent_keys_);
    recent_keys_.bind(":board", board);
    recent_keys_.bind(":count", static_cast<std::int64_t>(count));
    std::vector<std::pair<std::uint64_t, std::string>> keys;
    while (recent_keys_.executeStep()) {
        keys.emplace_back(static_cast<std::uint64_t>(recent_keys_.getColumn(0).getInt64()),
                          recent_keys_.getColumn(1).getString());
    }
    std::reverse(keys.begin(), keys.end());
    return keys;
}

void Journal::start() {
    writer_ = std::thread([this] { writeLoop(); });
}

void Journal::append(JournalRow row, Done done) {
    {
        const MutexLock lock(queue_mutex_);
        queue_.push_back(
            Pending{std::move(row), std::move(done), std::nullopt, nullptr, {}, std::nullopt});
    }
    queue_changed_.notify_one();
}

void Journal::appendCompetition(competitions::Row row, Done done) {
    {
        const MutexLock lock(queue_mutex_);
        queue_.push_back(Pending{{}, std::move(done), std::nullopt, nullptr, {}, std::move(row)});
    }
    queue_changed_.notify_one();
}

std::vector<competitions::Stored> Journal::competitions() {
    const MutexLock lock(database_mutex_);
    return competitions::readAll(*database_);
}

void Journal::correct(Correction correction, Corrected done) {
    {
        const MutexLock lock(queue_mutex_);
        queue_.push_back(
            Pending{{}, nullptr, std::move(correction), std::move(done), {}, std::nullopt});
    }
    queue_changed_.notify_one();
}

void Journal::report(std::vector<Pending>& batch, bool durable) {
    for (Pending& pending : batch) {
        if (!pending.correction) {
            pending.done(durable);
        } else if (durable) {
            pending.corrected(std::move(pending.result));
        } else {
            pending.corrected(
                CorrectionResult{CorrectionResult::Outcome::storage_unavailable, "", ""});
        }
    }
}

void Journal::writeLoop() {
    ReleasableMutexLock lock(queue_mutex_);
    while (true) {
        while (!stopping_ && queue_.empty()) {
            queue_changed_.wait(lock);
        }
        if (queue_.empty()) {
            return;
        }
        std::vector<Pending> batch;
        batch.swap(queue_);
        lock.unlock();
        const bool durable = commit(batch);
        report(batch, durable);
        lock.lock();
        if (!durable) {
            // What was queued meanwhile may rest on the rows that failed; the
            // boards have gone back to what the journal holds, and rows
            // appended from now on rest on that.
            batch.clear();
            batch.swap(queue_);
            lock.unlock();
            report(batch, false);
            lock.lock();
        }
    }
}

bool Journal::commit(std::vector<Pending>& batch) {
    const MutexLock lock(database_mutex_);
    std::string problem;
    if (!fileUsable(problem)) {
        reportTrouble(true, problem);
        return false;
    }
    try {
        SQLite::Transaction transaction(*database_);
        const std::int64_t time = wallClockMillis();
        for (Pending& pending : batch) {
            if (pending.correction) {
                pending.result = register_.apply(*pending.correction, time);
                continue;
            }
            if (pending.competition) {
                competitions::write(*database_, *pending.competition, time);
                continue;
            }
            const JournalRow& row = pending.row;
            const StatementUse use_insert(insert_);
            insert_.bind(":board", row.board);
            insert_.bind(":event_id", static_cast<std::int64_t>(row.event_id));
            insert_.bind(":time", row.time);
            insert_.bind(":operation", std::string(actionOf(row.command.kind).operation));
            insert_.bind(":arguments", argumentsJson(row.command));
            if (row.idempotency_key.empty()) {
                insert_.bind(":idempotency_key");
            } else {
                insert_.bind(":idempotency_key", row.idempotency_key);
            }
            insert_.bind(":accepted", row.accepted ? 1 : 0);
            insert_.exec();
            for (const archive::MatchEntry& entry : row.match_updates) {
                archive_.write(entry, entry.begins ? register_.seat(entry.players, entry.computers)
                                                   : std::vector<std::int64_t>());
            }
        }
        transaction.commit();
    } catch (const SQLite::Exception& error) {
        register_.takeChanges();
        reportTrouble(true, error.what());
        return false;
    }
    members_.apply(register_.takeChanges());
    reportTrouble(false, "");
    return true;
}

bool Journal::fileUsable(std::string& problem) const {
    if (path_ == kInMemory) {
        return true;
    }
    struct stat status {};
    if (stat(path_.c_str(), &status) != 0) {
        problem = path_ + " finns inte längre";
        return false;
    }
    if (status.st_dev != device_ || status.st_ino != inode_) {
        problem = path_ + " har bytts ut mot en annan fil";
        return false;
    }
    if ((status.st_mode & S_IWUSR) == 0) {
        problem = path_ + " är skrivskyddad";
        return false;
    }
    return true;
}

void Journal::reportTrouble(bool failing, const std::string& problem) {
    if (failing == failing_) {
        return;
    }
    failing_ = failing;
    if (failing) {
        std::cerr << "game-501-server: journalen kan inte skrivas (" << problem
                  << "); skrivningar nekas tills den kan det igen\n";
    } else {
        std::cerr << "game-501-server: journalen skrivs igen\n";
    }
}

}  // namespace game501::server
