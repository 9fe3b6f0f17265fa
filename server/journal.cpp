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
#include "server_limits.h"
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

// Checks that a database opened again is still this server's, of the
// version it was: one is never made anew in a file that has changed.
void checkSchema(SQLite::Database& database, const std::string& path) {
    if (integerPragma(database, "application_id") != kApplicationId ||
        integerPragma(database, "user_version") != kSchemaVersion) {
        throw std::runtime_error(path + " är inte längre databasen som servern öppnade");
    }
}

void configure(SQLite::Database& database, bool in_memory) {
    // A row counts as written only once it would survive a power cut.
    const std::string mode = database.execAndGet("PRAGMA journal_mode = WAL").getString();
    if (mode != (in_memory ? "memory" : "wal")) {
        throw std::runtime_error("databasen kan inte skrivas med WAL (journal_mode " + mode + ")");
    }
    database.exec("PRAGMA synchronous = FULL");
    if (!in_memory) {
        // The writer appends: the pages it needs again are few, and the
        // system's file cache holds the rest.
        database.exec("PRAGMA cache_size = -" + std::to_string(kWriterCacheKiB));
    }
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

bool exists(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 || errno != ENOENT;
}

// Refuses to make or use a database that is missing or empty while its log
// or the log's index is there: SQLite would drop the log, and with it rows
// that may be found nowhere else. Returns the problem, or nothing.
std::optional<std::string> orphanedLog(const std::string& path, bool missing) {
    std::vector<std::string> left;
    for (const char* suffix : {"-wal", "-shm"}) {
        if (exists(path + suffix)) {
            left.push_back(path + suffix);
        }
    }
    if (left.empty()) {
        return std::nullopt;
    }
    const std::string files = left.size() == 1 ? left[0] : left[0] + " och " + left[1];
    return path + (missing ? " saknas" : " är tom") + ", men " + files +
           " finns kvar och kan hålla skrivningar som inte finns någon annanstans, så ingen ny "
           "databas görs. Lägg tillbaka just den databasfil som de hör till och starta igen. "
           "För att i stället börja om med en tom databas, eller lägga tillbaka en "
           "säkerhetskopia, flytta först undan " +
           files;
}

// The file's first 100 bytes are SQLite's header: its format string, and
// the application_id at offset 68, big-endian.
constexpr std::size_t kHeaderBytes = 100;
constexpr char kHeaderString[] = "SQLite format 3";  // with its NUL, 16 bytes
constexpr std::size_t kApplicationIdOffset = 68;

// Says what is wrong with a database's header, or nothing.
std::optional<std::string> headerProblem(int fd) {
    std::array<unsigned char, kHeaderBytes> header{};
    const ssize_t read = pread(fd, header.data(), header.size(), 0);
    if (read < 0) {
        return std::string("kan inte läsas: ") + std::strerror(errno);
    }
    if (static_cast<std::size_t>(read) < header.size()) {
        return std::string("har kortats av");
    }
    if (std::memcmp(header.data(), kHeaderString, sizeof kHeaderString) != 0) {
        return std::string("är inte längre en SQLite-databas");
    }
    std::uint32_t id = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        id = (id << 8) | header[kApplicationIdOffset + i];
    }
    if (id != static_cast<std::uint32_t>(kApplicationId)) {
        return std::string("är inte längre en databas för game-501-server");
    }
    return std::nullopt;
}

// The log's index (-shm) begins with two copies of a 48-byte header; a copy
// whose byte 12 (isInit) is 0 is one that was never made, so that the next
// reader rebuilds the index from the log, as the first connection to a
// database does.
constexpr off_t kIndexHeaderBytes = 48;
constexpr off_t kIndexIsInit = 12;

// Has SQLite read the log anew at the next read, so that what it shows is
// what the log holds, a commit that failed part way included; to be called
// with the write lock held. Returns whether the index could be marked.
bool forgetLogIndex(const std::string& path) {
    const int fd = ::open((path + "-shm").c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT;  // no index: the next reader makes one from the log
    }
    const unsigned char zero = 0;
    const bool marked = pwrite(fd, &zero, 1, kIndexIsInit) == 1 &&
                        pwrite(fd, &zero, 1, kIndexHeaderBytes + kIndexIsInit) == 1;
    ::close(fd);  // SQLite keeps no lock of its own on this descriptor
    return marked;
}

// Makes what the log holds durable; true when there is no log.
bool syncLog(const std::string& path, std::string& problem) {
    const int fd = ::open((path + "-wal").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true;
        }
        problem = path + "-wal: " + std::strerror(errno);
        return false;
    }
    const bool synced = fdatasync(fd) == 0;
    if (!synced) {
        problem = path + "-wal: " + std::strerror(errno);
    }
    ::close(fd);
    return synced;
}

// Whether the connection's close, when it is the last one, leaves the log
// as it is rather than put its pages into the database and remove it.
void keepLogOnClose(SQLite::Database& database, bool keep) {
    sqlite3_db_config(database.getHandle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, keep ? 1 : 0,
                      nullptr);
}

}  // namespace

struct Journal::Connection {
    explicit Connection(std::unique_ptr<SQLite::Database> opened)
        : database(std::move(opened)),
          insert(*database, R"(
              INSERT INTO journal (board, event_id, time, operation, arguments,
                                   idempotency_key, accepted)
              VALUES (:board, :event_id, :time, :operation, :arguments, :idempotency_key,
                      :accepted))"),
          archive(*database),
          register_(*database),
          last_event(*database, R"(
              SELECT max(event_id)
              FROM journal
              WHERE board = :board)"),
          // The event a game as it was after :through began at: its last
          // accepted start or reset, if any.
          game_start(*database, R"(
              SELECT event_id
              FROM journal
              WHERE board = :board AND event_id <= :through AND accepted
                AND operation IN ('start', 'reset')
              ORDER BY event_id DESC
              LIMIT 1)"),
          rows(*database, R"(
              SELECT event_id, time, operation, arguments, idempotency_key, accepted
              FROM journal
              WHERE board = :board AND event_id BETWEEN :from AND :through
              ORDER BY event_id)"),
          recent_keys(*database, R"(
              SELECT event_id, idempotency_key
              FROM journal
              WHERE board = :board AND idempotency_key IS NOT NULL
              ORDER BY event_id DESC
              LIMIT :count)") {}

    const std::unique_ptr<SQLite::Database> database;
    SQLite::Statement insert;
    archive::Writer archive;
    members::Writer register_;
    SQLite::Statement last_event;
    SQLite::Statement game_start;
    SQLite::Statement rows;
    SQLite::Statement recent_keys;
};

std::unique_ptr<Journal> Journal::open(const std::string& path, std::string& problem) {
    const bool in_memory = path == kInMemory;
    FileLock lock;
    bool created = false;
    if (!in_memory) {
        struct stat status {};
        const bool missing = stat(path.c_str(), &status) != 0 && errno == ENOENT;
        if (missing || (S_ISREG(status.st_mode) && status.st_size == 0)) {
            if (std::optional<std::string> orphaned = orphanedLog(path, missing)) {
                problem = std::move(*orphaned);
                return nullptr;
            }
            created = true;
        }
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
        if (!in_memory) {
            // The file's own header is what each commit checks: the log's
            // pages go into it first, a new application_id included.
            database->exec("PRAGMA wal_checkpoint(TRUNCATE)");
            if (std::optional<std::string> wrong = headerProblem(lock.fd)) {
                throw std::runtime_error(path + " " + *wrong);
            }
        }
        return std::unique_ptr<Journal>(
            new Journal(std::move(database), path, std::move(lock), created));
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

Journal::Journal(std::unique_ptr<SQLite::Database> database, std::string path, FileLock lock,
                 bool created)
    : path_(std::move(path)), lock_(std::move(lock)), created_(created) {
    struct stat status {};
    if (lock_.fd >= 0 && fstat(lock_.fd, &status) == 0) {
        device_ = status.st_dev;
        inode_ = status.st_ino;
    }
    const MutexLock database_lock(database_mutex_);
    connection_ = std::make_unique<Connection>(std::move(database));
    reader_ = path_ == kInMemory ? ArchiveReader::sharing(*connection_->database, database_mutex_)
                                 : ArchiveReader::open(path_);
    accuracies_ = std::make_unique<Accuracies>(*reader_);
    members_.apply(connection_->register_.everyone());
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
    {
        const MutexLock lock(told_mutex_);
        writer_done_ = true;
    }
    told_changed_.notify_all();
    if (teller_.joinable()) {
        teller_.join();
    }
}

Journal::Connection& Journal::connectionLocked() {
    if (!connection_) {
        throw std::runtime_error(path_ + " kan inte öppnas igen just nu");
    }
    return *connection_;
}

std::vector<std::string> Journal::tokens() {
    const MutexLock lock(database_mutex_);
    SQLite::Statement query(*connectionLocked().database,
                            "SELECT token FROM boards ORDER BY board");
    std::vector<std::string> tokens;
    while (query.executeStep()) {
        tokens.push_back(query.getColumn(0).getString());
    }
    return tokens;
}

void Journal::setTokens(const std::vector<std::string>& tokens) {
    const MutexLock lock(database_mutex_);
    SQLite::Database& database = *connectionLocked().database;
    SQLite::Transaction transaction(database);
    SQLite::Statement upsert(database, R"(
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
    SQLite::Statement query(*connectionLocked().database, "SELECT token FROM organiser");
    if (!query.executeStep()) {
        return std::nullopt;
    }
    return query.getColumn(0).getString();
}

void Journal::setOrganiserToken(const std::string& token) {
    const MutexLock lock(database_mutex_);
    SQLite::Statement upsert(*connectionLocked().database, R"(
        INSERT INTO organiser (id, token)
        VALUES (1, :token)
        ON CONFLICT (id) DO UPDATE SET token = excluded.token)");
    upsert.bind(":token", token);
    upsert.exec();
}

std::uint64_t Journal::lastEventId(int board) {
    const MutexLock lock(database_mutex_);
    SQLite::Statement& last_event = connectionLocked().last_event;
    const StatementUse use_last_event(last_event);
    last_event.bind(":board", board);
    last_event.executeStep();
    return static_cast<std::uint64_t>(last_event.getColumn(0).getInt64());
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
    SQLite::Statement& game_start = connectionLocked().game_start;
    const StatementUse use_game_start(game_start);
    game_start.bind(":board", board);
    game_start.bind(":through", static_cast<std::int64_t>(event_id));
    // A board that has neither began with its first event.
    const std::uint64_t start = game_start.executeStep()
                                    ? static_cast<std::uint64_t>(game_start.getColumn(0).getInt64())
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
    SQLite::Statement& query = connectionLocked().rows;
    const StatementUse use_rows(query);
    query.bind(":board", board);
    query.bind(":from", static_cast<std::int64_t>(from));
    query.bind(":through", static_cast<std::int64_t>(through));
    std::vector<JournalRow> rows;
    while (query.executeStep()) {
        rows.push_back(readRow(board, query));
    }
    return rows;
}

std::vector<std::pair<std::uint64_t, std::string>> Journal::recentKeys(int board,
                                                                       std::size_t count) {
    const MutexLock lock(database_mutex_);
    SQLite::Statement& recent_keys = connectionLocked().recent_keys;
    const StatementUse use_recent_keys(recent_keys);
    recent_keys.bind(":board", board);
    recent_keys.bind(":count", static_cast<std::int64_t>(count));
    std::vector<std::pair<std::uint64_t, std::string>> keys;
    while (recent_keys.executeStep()) {
        keys.emplace_back(static_cast<std::uint64_t>(recent_keys.getColumn(0).getInt64()),
                          recent_keys.getColumn(1).getString());
    }
    std::reverse(keys.begin(), keys.end());
    return keys;
}

void Journal::start() {
    teller_ = std::thread([this] { tellLoop(); });
    writer_ = std::thread([this] { writeLoop(); });
    accuracies_->start();
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
    return competitions::readAll(*connectionLocked().database);
}

void Journal::correct(Correction correction, Corrected done) {
    if (!taking_writes_) {
        done(CorrectionResult{CorrectionResult::Outcome::storage_unavailable, "", ""});
        return;
    }
    {
        const MutexLock lock(queue_mutex_);
        queue_.push_back(
            Pending{{}, nullptr, std::move(correction), std::move(done), {}, std::nullopt});
    }
    queue_changed_.notify_one();
}

void Journal::report(std::vector<Pending>& batch, Written written) {
    for (Pending& pending : batch) {
        if (!pending.correction) {
            pending.done(written);
        } else if (written == Written::durable) {
            pending.corrected(std::move(pending.result));
        } else {
            pending.corrected(CorrectionResult{written == Written::unknown
                                                   ? CorrectionResult::Outcome::outcome_unknown
                                                   : CorrectionResult::Outcome::storage_unavailable,
                                               "", ""});
        }
    }
}

void Journal::writeLoop() {
    ReleasableMutexLock lock(queue_mutex_);
    while (true) {
        if (!taking_writes_) {
            lock.unlock();
            const bool reopened = reopen();
            if (reopened && reopened_) {
                reopened_();
            }
            lock.lock();
            if (reopened) {
                taking_writes_ = true;
            } else if (!stopping_) {
                queue_changed_.wait_for(lock, kReopenPause);
                continue;
            }
        }
        while (!stopping_ && queue_.empty()) {
            queue_changed_.wait(lock);
        }
        if (queue_.empty()) {
            return;
        }
        std::vector<Pending> batch;
        batch.swap(queue_);
        lock.unlock();
        const Written written = commit(batch);
        if (written == Written::durable) {
            {
                const MutexLock told_lock(told_mutex_);
                untold_.push_back(std::move(batch));
            }
            told_changed_.notify_all();
            lock.lock();
            continue;
        }
        if (written == Written::unknown) {
            // Refused from now on, until the file is open again.
            taking_writes_ = false;
        }
        // The rows before these are told first, so that each board hears of
        // its rows in order.
        waitUntilTold();
        report(batch, written);
        // What was queued meanwhile may rest on the rows that failed; the
        // boards have gone back to what the journal holds, and rows appended
        // from now on rest on that.
        lock.lock();
        batch.clear();
        batch.swap(queue_);
        lock.unlock();
        report(batch, Written::not_written);
        lock.lock();
    }
}

void Journal::tellLoop() {
    ReleasableMutexLock lock(told_mutex_);
    while (true) {
        while (!writer_done_ && untold_.empty()) {
            told_changed_.wait(lock);
        }
        if (untold_.empty()) {
            return;
        }
        std::vector<Pending> batch = std::move(untold_.front());
        untold_.pop_front();
        telling_ = true;
        lock.unlock();
        report(batch, Written::durable);
        lock.lock();
        telling_ = false;
        told_changed_.notify_all();
    }
}

void Journal::waitUntilTold() {
    ReleasableMutexLock lock(told_mutex_);
    while (!untold_.empty() || telling_) {
        told_changed_.wait(lock);
    }
}

Journal::Written Journal::commit(std::vector<Pending>& batch) {
    const MutexLock lock(database_mutex_);
    std::string problem;
    if (!connection_) {
        return Written::not_written;
    }
    Connection& connection = *connection_;
    if (!fileUsable(problem)) {
        // Nor does the last close put the log's pages into a file that is
        // not the journal's: the log stays, with what was acknowledged.
        keepLogOnClose(*connection.database, true);
        reportTrouble(true, problem);
        return Written::not_written;
    }
    try {
        SQLite::Transaction transaction(*connection.database);
        const std::int64_t time = wallClockMillis();
        for (Pending& pending : batch) {
            if (pending.correction) {
                pending.result = connection.register_.apply(*pending.correction, time);
                continue;
            }
            if (pending.competition) {
                competitions::write(*connection.database, *pending.competition, time);
                continue;
            }
            const JournalRow& row = pending.row;
            SQLite::Statement& insert = connection.insert;
            const StatementUse use_insert(insert);
            insert.bind(":board", row.board);
            insert.bind(":event_id", static_cast<std::int64_t>(row.event_id));
            insert.bind(":time", row.time);
            insert.bind(":operation", std::string(actionOf(row.command.kind).operation));
            insert.bind(":arguments", argumentsJson(row.command));
            if (row.idempotency_key.empty()) {
                insert.bind(":idempotency_key");
            } else {
                insert.bind(":idempotency_key", row.idempotency_key);
            }
            insert.bind(":accepted", row.accepted ? 1 : 0);
            insert.exec();
            for (const archive::MatchEntry& entry : row.match_updates) {
                connection.archive.write(
                    entry, entry.begins ? connection.register_.seat(entry.players, entry.computers)
                                        : std::vector<std::int64_t>());
            }
        }
        try {
            transaction.commit();
        } catch (const SQLite::Exception& error) {
            connection.register_.takeChanges();
            reportTrouble(true, error.what());
            // A full disk stops the log's pages before its commit's last
            // one; any other failure of a commit (an fsync's, say) may come
            // after the file holds it. A database in memory rolls back.
            const bool rolled_back =
                (error.getErrorCode() & 0xff) == SQLITE_FULL || path_ == kInMemory;
            return rolled_back ? Written::not_written : Written::unknown;
        }
    } catch (const SQLite::Exception& error) {
        connection.register_.takeChanges();
        reportTrouble(true, error.what());
        return Written::not_written;
    }
    members_.apply(connection.register_.takeChanges());
    followAccuracies(batch);
    if (failing_) {
        keepLogOnClose(*connection.database, false);
        reportTrouble(false, "");
    }
    return Written::durable;
}

bool Journal::reopen() {
    const MutexLock lock(database_mutex_);
    connection_.reset();
    std::string problem;
    try {
        if (!fileUsable(problem)) {
            throw std::runtime_error(problem);
        }
        auto database = std::make_unique<SQLite::Database>(path_, SQLite::OPEN_READWRITE);
        configure(*database, false);
        {
            // The write lock keeps every other connection off the index
            // while it is marked.
            SQLite::Transaction hold(*database, SQLite::TransactionBehavior::IMMEDIATE);
            if (!forgetLogIndex(path_)) {
                throw std::runtime_error(path_ + "-shm kan inte skrivas: " + std::strerror(errno));
            }
        }
        checkSchema(*database, path_);
        if (!syncLog(path_, problem)) {
            throw std::runtime_error(problem);
        }
        connection_ = std::make_unique<Connection>(std::move(database));
        members_.replace(connection_->register_.everyone());
    } catch (const std::exception& error) {
        connection_.reset();
        if (!reopen_failing_) {
            std::cerr << "game-501-server: journalen kan inte öppnas igen (" << error.what()
                      << "); försöker igen om en stund\n";
        }
        reopen_failing_ = true;
        return false;
    }
    reopen_failing_ = false;
    failing_ = false;
    std::cerr << "game-501-server: journalen är öppnad igen och tavlorna byggs om från den; "
                 "skrivningar tas emot igen\n";
    return true;
}

void Journal::followAccuracies(const std::vector<Pending>& batch) {
    for (const Pending& pending : batch) {
        if (pending.correction && pending.result.outcome == CorrectionResult::Outcome::applied) {
            accuracies_->changed();
        }
        for (const archive::MatchEntry& entry : pending.row.match_updates) {
            if (entry.status != "playing") {
                accuracies_->ended(entry.board, entry.start_event, entry.updated,
                                   pending.row.ended_legs);
            }
        }
    }
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
    if (std::optional<std::string> wrong = headerProblem(lock_.fd)) {
        problem = path_ + " " + *wrong;
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
