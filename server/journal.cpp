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
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace game501::server {

namespace {

// "G501": marks the file as this server's, so that another program's
// database is never taken for an empty journal.
constexpr int kApplicationId = 0x47353031;

// The schema, one step per version: version N is reached by applying the
// first N steps in order, each in its own transaction.
const std::array<std::string, 1> kMigrations = {
    std::string(R"(CREATE TABLE boards (
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
};
constexpr int kSchemaVersion = static_cast<int>(kMigrations.size());

const char* const kRowColumns =
    "SELECT event_id, time, operation, arguments, idempotency_key, accepted FROM journal ";

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
        database.exec(kMigrations[static_cast<std::size_t>(next)]);
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

JournalRow readRow(int board, SQLite::Statement& query) {
    JournalRow row;
    row.board = board;
    row.event_id = static_cast<std::uint64_t>(query.getColumn(0).getInt64());
    row.time = query.getColumn(1).getInt64();
    const std::optional<Command> command =
        commandFrom(query.getColumn(2).getString(), query.getColumn(3).getString());
    if (!command) {
        throw std::runtime_error("journalen har en rad som inte går att läsa: tavla " +
                                 std::to_string(board) + ", händelse " +
                                 std::to_string(row.event_id));
    }
    row.command = *command;
    row.idempotency_key = query.getColumn(4).getString();
    row.accepted = query.getColumn(5).getInt() != 0;
    return row;
}

std::vector<JournalRow> readRows(SQLite::Database& database, int board, std::uint64_t from,
                                 std::uint64_t through) {
    SQLite::Statement query(database, std::string(kRowColumns) +
                                          "WHERE board = ? AND event_id BETWEEN ? AND ? "
                                          "ORDER BY event_id");
    query.bind(1, board);
    query.bind(2, static_cast<std::int64_t>(from));
    query.bind(3, static_cast<std::int64_t>(through));
    std::vector<JournalRow> rows;
    while (query.executeStep()) {
        rows.push_back(readRow(board, query));
    }
    return rows;
}

// The event a game as it was after `through` began at: its last accepted
// start or reset, or the board's first event when it has neither.
std::uint64_t gameStart(SQLite::Database& database, int board, std::uint64_t through) {
    SQLite::Statement query(database,
                            "SELECT event_id FROM journal WHERE board = ? AND event_id <= ? "
                            "AND accepted AND operation IN ('start', 'reset') "
                            "ORDER BY event_id DESC LIMIT 1");
    query.bind(1, board);
    query.bind(2, static_cast<std::int64_t>(through));
    return query.executeStep() ? static_cast<std::uint64_t>(query.getColumn(0).getInt64()) : 1;
}

}  // namespace

std::unique_ptr<Journal> Journal::open(const std::string& path, std::string& problem) {
    const bool in_memory = path == kInMemory;
    int lock_fd = -1;
    if (!in_memory) {
        lock_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lock_fd < 0) {
            problem = "kan inte öppna " + path + ": " + std::strerror(errno);
            return nullptr;
        }
        // SQLite locks with fcntl, which this lock leaves alone.
        if (flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
            problem = path + " används redan av en annan game-501-server";
            ::close(lock_fd);
            return nullptr;
        }
    }
    try {
        auto database = std::make_unique<SQLite::Database>(path, SQLite::OPEN_READWRITE);
        prepareSchema(*database, path);
        configure(*database, in_memory);
        std::unique_ptr<Journal> journal(new Journal(std::move(database), path, lock_fd));
        journal->prepareStatements();
        return journal;
    } catch (const SQLite::Exception& error) {
        problem = describe(error, path);
    } catch (const std::exception& error) {
        problem = error.what();
    }
    if (lock_fd >= 0) {
        ::close(lock_fd);
    }
    return nullptr;
}

Journal::Journal(std::unique_ptr<SQLite::Database> database, std::string path, int lock_fd)
    : path_(std::move(path)), lock_fd_(lock_fd), database_(std::move(database)) {
    struct stat status {};
    if (lock_fd_ >= 0 && fstat(lock_fd_, &status) == 0) {
        device_ = status.st_dev;
        inode_ = status.st_ino;
    }
}

Journal::~Journal() {
    {
        const std::lock_guard<std::mutex> lock(queue_mutex_);
        stopping_ = true;
    }
    queue_changed_.notify_one();
    if (writer_.joinable()) {
        writer_.join();
    }
    insert_.reset();
    archive_.reset();
    database_.reset();
    if (lock_fd_ >= 0) {
        ::close(lock_fd_);
    }
}

void Journal::prepareStatements() {
    insert_ = std::make_unique<SQLite::Statement>(
        *database_,
        "INSERT INTO journal (board, event_id, time, operation, arguments, idempotency_key, "
        "accepted) VALUES (?, ?, ?, ?, ?, ?, ?)");
    archive_ = std::make_unique<archive::Writer>(*database_);
}

std::vector<std::string> Journal::tokens() {
    const std::lock_guard<std::mutex> lock(database_mutex_);
    SQLite::Statement query(*database_, "SELECT token FROM boards ORDER BY board");
    std::vector<std::string> tokens;
    while (query.executeStep()) {
        tokens.push_back(query.getColumn(0).getString());
    }
    return tokens;
}

void Journal::setTokens(const std::vector<std::string>& tokens) {
    const std::lock_guard<std::mutex> lock(database_mutex_);
    SQLite::Transaction transaction(*database_);
    SQLite::Statement upsert(*database_,
                             "INSERT INTO boards (board, token) VALUES (?, ?) "
                             "ON CONFLICT (board) DO UPDATE SET token = excluded.token");
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        upsert.bind(1, static_cast<int>(i + 1));
        upsert.bind(2, tokens[i]);
        upsert.exec();
        upsert.reset();
    }
    transaction.commit();
}

std::uint64_t Journal::lastEventId(int board) {
    const std::lock_guard<std::mutex> lock(database_mutex_);
    SQLite::Statement query(*database_, "SELECT max(event_id) FROM journal WHERE board = ?");
    query.bind(1, board);
    query.executeStep();
    return static_cast<std::uint64_t>(query.getColumn(0).getInt64());
}

std::vector<JournalRow> Journal::currentGame(int board) {
    const std::uint64_t last = lastEventId(board);
    if (last == 0) {
        return {};
    }
    return gameThrough(board, last);
}

std::vector<JournalRow> Journal::gameThrough(int board, std::uint64_t event_id) {
    const std::lock_guard<std::mutex> lock(database_mutex_);
    return readRows(*database_, board, gameStart(*database_, board, event_id), event_id);
}

std::vector<JournalRow> Journal::matchRows(int board, std::uint64_t start_event) {
    const std::lock_guard<std::mutex> lock(database_mutex_);
    SQLite::Statement next(*database_,
                           "SELECT min(event_id) - 1 FROM journal WHERE board = ? AND event_id > ? "
                           "AND accepted AND operation IN ('start', 'reset')");
    next.bind(1, board);
    next.bind(2, static_cast<std::int64_t>(start_event));
    next.executeStep();
    const std::uint64_t through = next.getColumn(0).isNull()
                                      ? UINT64_MAX >> 1
                                      : static_cast<std::uint64_t>(next.getColumn(0).getInt64());
    return readRows(*database_, board, start_event, through);
}

std::optional<JournalRow> Journal::row(int board, std::uint64_t event_id) {
    const std::lock_guard<std::mutex> lock(database_mutex_);
    std::vector<JournalRow> rows = readRows(*database_, board, event_id, event_id);
    if (rows.empty()) {
        return std::nullopt;
    }
    return std::move(rows.front());
}

std::vector<std::pair<std::uint64_t, std::string>> Journal::recentKeys(int board,
                                                                       std::size_t count) {
    const std::lock_guard<std::mutex> lock(database_mutex_);
    SQLite::Statement query(*database_,
                            "SELECT event_id, idempotency_key FROM journal WHERE board = ? AND "
                            "idempotency_key IS NOT NULL ORDER BY event_id DESC LIMIT ?");
    query.bind(1, board);
    query.bind(2, static_cast<std::int64_t>(count));
    std::vector<std::pair<std::uint64_t, std::string>> keys;
    while (query.executeStep()) {
        keys.emplace_back(static_cast<std::uint64_t>(query.getColumn(0).getInt64()),
                          query.getColumn(1).getString());
    }
    std::reverse(keys.begin(), keys.end());
    return keys;
}

void Journal::start() {
    writer_ = std::thread([this] { writeLoop(); });
}

void Journal::append(JournalRow row, Done done) {
    {
        const std::lock_guard<std::mutex> lock(queue_mutex_);
        queue_.push_back(Pending{std::move(row), std::move(done)});
    }
    queue_changed_.notify_one();
}

void Journal::writeLoop() {
    std::unique_lock<std::mutex> lock(queue_mutex_);
    while (true) {
        queue_changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        std::vector<Pending> batch;
        batch.swap(queue_);
        lock.unlock();
        const bool durable = commit(batch);
        for (Pending& pending : batch) {
            pending.done(durable);
        }
        lock.lock();
        if (!durable) {
            // What was queued meanwhile may rest on the rows that failed; the
            // boards have gone back to what the journal holds, and rows
            // appended from now on rest on that.
            batch.clear();
            batch.swap(queue_);
            lock.unlock();
            for (Pending& pending : batch) {
                pending.done(false);
            }
            lock.lock();
        }
    }
}

bool Journal::commit(const std::vector<Pending>& batch) {
    const std::lock_guard<std::mutex> lock(database_mutex_);
    std::string problem;
    if (!fileUsable(problem)) {
        reportTrouble(true, problem);
        return false;
    }
    try {
        SQLite::Transaction transaction(*database_);
        for (const Pending& pending : batch) {
            const JournalRow& row = pending.row;
            insert_->tryReset();
            insert_->bind(1, row.board);
            insert_->bind(2, static_cast<std::int64_t>(row.event_id));
            insert_->bind(3, row.time);
            insert_->bind(4, std::string(actionOf(row.command.kind).operation));
            insert_->bind(5, argumentsJson(row.command));
            if (row.idempotency_key.empty()) {
                insert_->bind(6);
            } else {
                insert_->bind(6, row.idempotency_key);
            }
            insert_->bind(7, row.accepted ? 1 : 0);
            insert_->exec();
            for (const archive::MatchEntry& entry : row.archive) {
                archive_->write(entry);
            }
        }
        insert_->tryReset();
        transaction.commit();
    } catch (const SQLite::Exception& error) {
        insert_->tryReset();
        reportTrouble(true, error.what());
        return false;
    }
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
