// A club's server without its sockets, on a database file: the archive as
// its boards write it and its reader reads it back, damaged cells, the
// schema and the boards' tokens, restarts, failed writes and what the
// operator reads in the log, and what each address is routed to.
#include <SQLiteCpp/Database.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <boost/beast/http/write.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "api.h"
#include "board.h"
#include "journal.h"
#include "replay.h"
#include "server_limits.h"

namespace game501::server {
namespace {

using statistics::Counts;

// A match's entry as a list shows it, without its counts.
struct Listed {
    int board;
    std::uint64_t start_event;
    int legs;
    int sets;
    std::string status;
    int winner;
    std::vector<std::string> players;
    bool operator==(const Listed& other) const {
        return board == other.board && start_event == other.start_event && legs == other.legs &&
               sets == other.sets && status == other.status && winner == other.winner &&
               players == other.players;
    }
};

void PrintTo(const Listed& match, std::ostream* out) {
    *out << match.board << "-" << match.start_event << " " << match.status;
}

Listed listed(const archive::MatchEntry& entry) {
    return {entry.board,  entry.start_event, entry.legs,   entry.sets,
            entry.status, entry.winner,      entry.players};
}

Command start(std::vector<std::string> players, int legs = 1, int sets = 1) {
    Command command;
    command.kind = Command::Kind::start;
    command.players = std::move(players);
    command.legs = legs;
    command.sets = sets;
    return command;
}

Command dart(std::string notation) {
    Command command;
    command.kind = Command::Kind::dart;
    command.notation = std::move(notation);
    command.source = "api";
    return command;
}

Command plain(Command::Kind kind) {
    Command command;
    command.kind = kind;
    return command;
}

// Visits ("T20 T20 T20"), each followed by the board's clear.
std::vector<Command> visits(const std::vector<std::string>& lines) {
    std::vector<Command> commands;
    for (const std::string& line : lines) {
        std::size_t at = 0;
        while (at < line.size()) {
            const std::size_t end = std::min(line.find(' ', at), line.size());
            commands.push_back(dart(line.substr(at, end - at)));
            at = end + 1;
        }
        commands.push_back(plain(Command::Kind::clear));
    }
    return commands;
}

// Returns `first` followed by `then`.
std::vector<Command> joined(std::vector<Command> first, const std::vector<Command>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// The first player checks out in nine darts; the second scores three a visit.
const std::vector<std::string> kNine = {"T20 T20 T20", "S1 S1 S1", "T20 T20 T20", "S1 S1 S1",
                                        "T20 T19 D12"};

// A directory of its own, removed with what it holds.
struct Scratch {
    Scratch() {
        char name[] = "/tmp/game501-archive-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            throw std::runtime_error("no temporary directory");
        }
        directory = name;
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { std::filesystem::remove_all(directory); }
    std::string directory;
};

// Appends a row to the journal and waits until it is durable or failed.
bool appendDurably(Journal& journal, JournalRow row) {
    std::promise<bool> durable;
    journal.append(std::move(row), [&durable](Journal::Written written) {
        durable.set_value(written == Journal::Written::durable);
    });
    return durable.get_future().get();
}

// A server's database in a directory of its own, with its boards, opened
// again as a restart would.
class Club {
public:
    // On a file of its own, or in memory (Journal::kInMemory), which no
    // restart keeps.
    explicit Club(int count, const std::string& path = "")
        : boards_(count), path_(path.empty() ? scratch_.directory + "/game501.db" : path) {
        open();
    }
    Club(const Club&) = delete;
    Club& operator=(const Club&) = delete;
    ~Club() { close(); }

    // Stops the server as SIGTERM does, and starts it again.
    void restart() {
        close();
        open();
    }

    // Applies `write` on `board` and waits for its answer.
    WriteResult apply(int board, Write write) {
        std::promise<WriteResult> answered;
        boards[static_cast<std::size_t>(board - 1)]->apply(
            std::move(write),
            [&answered](WriteResult result) { answered.set_value(std::move(result)); });
        return answered.get_future().get();
    }

    // Runs `commands` on `board`; returns the event of the last.
    std::uint64_t run(int board, const std::vector<Command>& commands) {
        std::uint64_t event_id = 0;
        for (const Command& command : commands) {
            if (command.kind == Command::Kind::start) {
                // Every match begins at a time of its own: lists go by it.
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            const WriteResult result = apply(board, Write{command, "", std::nullopt});
            if (result.outcome != WriteResult::Outcome::applied) {
                throw std::runtime_error("a write was not applied");
            }
            event_id = result.document.event_id;
        }
        return event_id;
    }

    // The boards' counts of the matches they play, as the reports take them.
    LiveCounts live() const {
        LiveCounts live;
        for (const std::unique_ptr<Board>& board : boards) {
            if (std::optional<LiveMatch> match = board->view().liveMatch()) {
                live.emplace(std::make_pair(board->number(), match->start_event), match->counts);
            }
        }
        return live;
    }

    // Returns each player's counts of a match, played again from its rows.
    std::vector<Counts> replayed(int board, std::uint64_t start_event) {
        return Replay(journal->reader().matchRows(board, start_event)).match().figures().match;
    }

    const std::string& path() const { return path_; }

    std::unique_ptr<Journal> journal;
    Boards boards;

private:
    void open() {
        std::string problem;
        journal = Journal::open(path_, problem);
        if (!journal) {
            throw std::runtime_error(problem);
        }
        for (int number = 1; number <= boards_; ++number) {
            boards.push_back(std::make_unique<Board>(number, "token", *journal));
            boards.back()->restore();
        }
        journal->start();
    }

    void close() {
        journal.reset();  // writes what is queued first
        boards.clear();
    }

    const Scratch scratch_;
    const int boards_;
    const std::string path_;
};

// An evening on two boards: no match begins at the event of its board's
// number, and Ymma plays on both. Each match as it must be listed, newest
// first, and the one begun without a dart, which is listed nowhere.
struct Played {
    std::vector<Listed> listed;
    Listed dartless;
};

Played playTheEvening(Club& club) {
    const std::vector<Command> nine = visits(kNine);
    // Board 2: two refusals, a first-to-2 match won 2-1 (the second leg's
    // opener wins it in nine darts too), then a match being played.
    club.run(2, {dart("T20"), plain(Command::Kind::undo)});
    const std::uint64_t two = club.run(2, {start({"Ymma", "Sjörk"}, 2)});
    for (int leg = 0; leg < 3; ++leg) {
        club.run(2, nine);
    }
    const std::uint64_t playing = club.run(2, {start({"Åsa", "Ymma"})});
    club.run(2, visits({"T20 T20 T20", "S5 S5 S5", "T19"}));
    // Board 1: a match abandoned by a reset, one begun without a dart, one finished.
    const std::uint64_t abandoned = club.run(1, {start({"Nils", "Ymma"})});
    club.run(1, visits({"T20 T20 T20", "S20"}));
    club.run(1, {plain(Command::Kind::reset)});
    const std::uint64_t dartless = club.run(1, {start({"Ymma"})});
    const std::uint64_t finished = club.run(1, {start({"Ymma", "Nils"})});
    club.run(1, nine);
    return Played{{{1, finished, 1, 1, "finished", 0, {"Ymma", "Nils"}},
                   {1, abandoned, 1, 1, "abandoned", -1, {"Nils", "Ymma"}},
                   {2, playing, 1, 1, "playing", -1, {"Åsa", "Ymma"}},
                   {2, two, 2, 1, "finished", 0, {"Ymma", "Sjörk"}}},
                  {1, dartless, 1, 1, "abandoned", -1, {"Ymma"}}};
}

Counts at(const std::vector<Counts>& counts, int position) {
    return counts.at(static_cast<std::size_t>(position));
}

// Checks that the reader gives every match as its board played it, with
// the counts its rows give, in the list, the report and the careers.
void expectReadAsPlayed(Club& club, const Played& played) {
    ArchiveReader& reader = club.journal->reader();
    const LiveCounts live = club.live();
    std::vector<Listed> list;
    for (const archive::MatchEntry& entry : reader.matches(MatchFilter{}, 0, 100, live)) {
        list.push_back(listed(entry));
        EXPECT_EQ(entry.counts, club.replayed(entry.board, entry.start_event))
            << entry.board << "-" << entry.start_event;
    }
    EXPECT_EQ(list, played.listed);
    EXPECT_EQ(reader.matchCount(MatchFilter{}), played.listed.size());
    for (const Listed& match : played.listed) {
        const std::optional<archive::MatchEntry> entry =
            reader.match(match.board, match.start_event, live);
        ASSERT_TRUE(entry.has_value()) << match.start_event;
        EXPECT_EQ(listed(*entry), match);
        EXPECT_EQ(entry->counts, club.replayed(match.board, match.start_event));
    }
    EXPECT_EQ(listed(*reader.match(1, played.dartless.start_event, live)), played.dartless);

    // Ymma's seats, each with the counts of its own match.
    const std::optional<Member> ymma = reader.member("ymma");
    ASSERT_TRUE(ymma.has_value());
    Counts career;
    std::int64_t counted = 0;
    std::vector<Listed> seats;
    for (const Appearance& appearance : reader.appearances(ymma->id, live)) {
        const archive::MatchEntry& match = appearance.match;
        seats.push_back(listed(match));
        const Counts counts =
            at(club.replayed(match.board, match.start_event), appearance.position);
        EXPECT_EQ(at(match.counts, appearance.position), counts) << match.start_event;
        if (archive::counts(match)) {
            career += counts;
            ++counted;
        }
    }
    EXPECT_EQ(seats, played.listed);
    const std::vector<Career> careers = reader.careers();
    const auto found = std::find_if(careers.begin(), careers.end(),
                                    [](const Career& member) { return member.name == "Ymma"; });
    ASSERT_NE(found, careers.end());
    EXPECT_EQ(found->matches, counted);
    EXPECT_EQ(found->counts, career);
}

TEST(Archive, ReadsEveryMatchAsItsBoardPlayedIt) {
    Club club(2);
    const Played played = playTheEvening(club);
    // A healthy archive is read without a word in the log.
    testing::internal::CaptureStderr();
    expectReadAsPlayed(club, played);
    club.restart();
    expectReadAsPlayed(club, played);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Archive, InMemoryReadsWhatItsBoardsWrote) {
    Club club(2, Journal::kInMemory);
    expectReadAsPlayed(club, playTheEvening(club));
}

// Replaces a match's counts cell behind the server's back.
void damage(const std::string& path, const Listed& match, const std::string& cell) {
    SQLite::Database database(path, SQLite::OPEN_READWRITE);
    SQLite::Statement update(database,
                             "UPDATE matches SET counts = ? WHERE board = ? AND start_event = ?");
    update.bind(1, cell);
    update.bind(2, match.board);
    update.bind(3, static_cast<std::int64_t>(match.start_event));
    ASSERT_EQ(update.exec(), 1);
}

TEST(Archive, DamagedCountsAreRebuiltFromTheJournalAndLogged) {
    Club club(2);
    const Played played = playTheEvening(club);
    const Listed& finished = played.listed[3];  // board 2's, in Sjörk's career alone
    const std::string named =
        "tavla 2, start " + std::to_string(finished.start_event) + " är skadade";
    ArchiveReader& reader = club.journal->reader();
    const std::int64_t sjork = reader.member("Sjörk")->id;
    const std::vector<Counts> counts = club.replayed(finished.board, finished.start_event);
    const Counts& sjorks = counts.at(1);
    // Each read that meets the match says so once.
    const std::function<void()> reads[] = {
        [&] { EXPECT_EQ(reader.match(2, finished.start_event, {})->counts, counts); },
        [&] { EXPECT_EQ(reader.matches(MatchFilter{sjork}, 0, 100, {}).at(0).counts, counts); },
        [&] { EXPECT_EQ(reader.appearances(sjork, {}).at(0).match.counts, counts); },
        [&] {
            for (const Career& career : reader.careers()) {
                if (career.name == "Sjörk") {
                    EXPECT_EQ(career.counts, sjorks);
                }
            }
        },
    };
    const std::string cells[] = {
        "inte json", "[]", "{}", "[1,2]", "[[9,501]]", "[[1],[2],[3]]", "[[1],7]",
    };
    for (const std::string& cell : cells) {
        damage(club.path(), finished, cell);
        for (std::size_t read = 0; read < std::size(reads); ++read) {
            testing::internal::CaptureStderr();
            reads[read]();
            const std::string log = testing::internal::GetCapturedStderr();
            EXPECT_NE(log.find(named), std::string::npos) << cell << ", read " << read;
            EXPECT_EQ(log.find(named), log.rfind(named)) << cell << ", read " << read;
        }
    }
    // Counts that the journal's rows cannot rebuild are refused, not made up.
    SQLite::Database database(club.path(), SQLite::OPEN_READWRITE);
    database.exec("DELETE FROM journal WHERE board = 2 AND event_id >= " +
                  std::to_string(finished.start_event));
    testing::internal::CaptureStderr();
    EXPECT_THROW(reader.match(2, finished.start_event, {}), DamagedMatch);
    EXPECT_THROW(reader.careers(), DamagedMatch);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(named), std::string::npos);
}

TEST(ArchiveReader, SeesEachCommitAtOnce) {
    const Scratch scratch;
    std::string problem;
    const std::unique_ptr<Journal> journal =
        Journal::open(scratch.directory + "/game501.db", problem);
    ASSERT_NE(journal, nullptr) << problem;
    journal->start();
    archive::MatchEntry entry{1,  1,        1000, 1000, 1,       1,  "playing",
                              -1, {"Ymma"}, {{}}, true, {false}, {}, false};
    ASSERT_TRUE(
        appendDurably(*journal, JournalRow{1, 1, 1000, start({"Ymma"}), "", true, {entry}}));
    ASSERT_EQ(journal->reader().matchCount(MatchFilter{}), 1U);

    // A read that stopped on its row must not hold the reader to the
    // database as it was.
    entry.status = "finished";
    entry.winner = 0;
    entry.begins = false;
    ASSERT_TRUE(appendDurably(*journal, JournalRow{1, 2, 2000, dart("D20"), "", true, {entry}}));
    const std::optional<archive::MatchEntry> read = journal->reader().match(1, 1, {});
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->status, "finished");
    EXPECT_EQ(read->players, std::vector<std::string>{"Ymma"});
    EXPECT_EQ(journal->reader().matchRows(1, 1).size(), 2U);
}

int userVersion(const std::string& path) {
    SQLite::Database database(path, SQLite::OPEN_READONLY);
    return database.execAndGet("PRAGMA user_version").getInt();
}

std::vector<std::pair<int, std::string>> boardRows(const std::string& path) {
    SQLite::Database database(path, SQLite::OPEN_READONLY);
    SQLite::Statement query(database, "SELECT board, token FROM boards ORDER BY board");
    std::vector<std::pair<int, std::string>> rows;
    while (query.executeStep()) {
        rows.emplace_back(query.getColumn(0).getInt(), query.getColumn(1).getString());
    }
    return rows;
}

// previous.db: one board, whose token is the first of tests/harness.py's.
const std::string kPreviousToken = "0123456789abcdef0123456789abcdef";

TEST(Journal, NewAndPreviousDatabasesOpenAgainAtOneVersion) {
    const Scratch scratch;
    const std::string fresh = scratch.directory + "/new.db";
    const std::string previous = scratch.directory + "/previous.db";
    std::filesystem::copy_file(GAME501_FIXTURES "/previous.db", previous);
    const int written = userVersion(previous);
    for (const std::string& path : {fresh, previous, fresh, previous}) {
        std::string problem;
        EXPECT_NE(Journal::open(path, problem), nullptr) << path << ": " << problem;
    }
    // The version docs/server.md gives: a later server upgrades from it.
    EXPECT_EQ(userVersion(fresh), 3);
    EXPECT_GT(userVersion(previous), written);
    EXPECT_EQ(userVersion(fresh), userVersion(previous));
}

// A crash may leave the file's header older than its log's: the file is
// checked once the log is in it.
TEST(Journal, OpensADatabaseWhoseHeaderIsNewerInItsLog) {
    const Scratch scratch;
    const std::string path = scratch.directory + "/game501.db";
    std::string problem;
    ASSERT_NE(Journal::open(path, problem), nullptr) << problem;
    {
        SQLite::Database database(path, SQLite::OPEN_READWRITE);
        const int id = database.execAndGet("PRAGMA application_id").getInt();
        database.exec("PRAGMA application_id = 0");
        database.exec("PRAGMA wal_checkpoint(TRUNCATE)");
        database.exec("PRAGMA application_id = " + std::to_string(id));
        sqlite3_db_config(database.getHandle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    EXPECT_NE(Journal::open(path, problem), nullptr) << problem;
}

TEST(Archive, APreviousDatabaseReadsAsItsJournalPlaysIt) {
    const Scratch scratch;
    const std::string path = scratch.directory + "/previous.db";
    std::filesystem::copy_file(GAME501_FIXTURES "/previous.db", path);
    std::string problem;
    const std::unique_ptr<Journal> journal = Journal::open(path, problem);
    ASSERT_NE(journal, nullptr) << problem;
    ArchiveReader& reader = journal->reader();
    // Its last match is the board's, which no live counts stand for here.
    const std::vector<archive::MatchEntry> matches = reader.matches(MatchFilter{}, 0, 100, {});
    ASSERT_EQ(matches.size(), 6U);
    for (const archive::MatchEntry& entry : matches) {
        SCOPED_TRACE(std::to_string(entry.start_event));
        const Replay replay(reader.matchRows(entry.board, entry.start_event));
        const Match& match = replay.match();
        // The names are the register's now, which one member's seats share.
        EXPECT_EQ(entry.players.size(), match.players().size());
        EXPECT_EQ((std::pair{entry.legs, entry.sets}),
                  (std::pair{match.format().legs, match.format().sets}));
        if (entry.status != "abandoned") {
            EXPECT_EQ(entry.status, statusName(match.standing().status));
            EXPECT_EQ(entry.winner, match.standing().winner);
        }
        EXPECT_EQ(entry.counts, match.figures().match);
    }
}

TEST(Journal, BoardsAreNumberedFromOneInTheOrderOfTheirTokens) {
    using Rows = std::vector<std::pair<int, std::string>>;
    const struct {
        std::string name;
        bool previous;                   // previous.db, else a new database
        std::vector<std::string> added;  // after the tokens it holds
        Rows expected;
    } rows[] = {
        {"new, two boards", false, {"a", "b"}, {{1, "a"}, {2, "b"}}},
        {"previous, as it was", true, {}, {{1, kPreviousToken}}},
        {"previous, a board more", true, {"b"}, {{1, kPreviousToken}, {2, "b"}}},
    };
    for (const auto& row : rows) {
        const Scratch scratch;
        const std::string path = scratch.directory + "/game501.db";
        if (row.previous) {
            std::filesystem::copy_file(GAME501_FIXTURES "/previous.db", path);
        }
        for (int opening = 0; opening < 2; ++opening) {  // a restart keeps them
            std::string problem;
            const std::unique_ptr<Journal> journal = Journal::open(path, problem);
            ASSERT_NE(journal, nullptr) << problem;
            std::vector<std::string> tokens = journal->tokens();
            if (opening == 0) {
                tokens.insert(tokens.end(), row.added.begin(), row.added.end());
            }
            journal->setTokens(tokens);
        }
        EXPECT_EQ(boardRows(path), row.expected) << row.name;
    }
}

TEST(Board, ComesBackAfterARestartAsItsJournalLeftIt) {
    const struct {
        std::string name;
        std::vector<Command> commands;
    } rows[] = {
        {"one start", {start({"Ymma", "Sjörk"}, 3, 2)}},
        {"one refused dart", {dart("T20")}},
        {"one reset", {plain(Command::Kind::reset)}},
        {"a start and a dart", {start({"Ymma"}), dart("T20")}},
        {"a dart and a start", {dart("T20"), start({"Ymma"})}},
        {"a match and a reset", {start({"Ymma"}), dart("T20"), plain(Command::Kind::reset)}},
        {"a refused start after a match",
         {start({"Ymma"}), dart("T20"), start({"Ymma"}, 0), dart("T19")}},
        {"a finished match",
         joined({start({"Ymma"})}, visits({"T20 T20 T20", "T20 T20 T20", "T20 T19 D12"}))},
    };
    for (const auto& row : rows) {
        Club club(1);
        club.run(1, row.commands);
        const BoardView& view = club.boards[0]->view();
        const std::string state = *view.state().json;
        const Document match = view.match();
        const bool free = club.boards[0]->settled().free;
        club.restart();
        EXPECT_EQ(club.boards[0]->settled().free, free) << row.name;
        EXPECT_EQ(*club.boards[0]->view().state().json, state) << row.name;
        EXPECT_EQ(*club.boards[0]->view().match().json, *match.json) << row.name;
        EXPECT_EQ(club.boards[0]->view().match().event_id, match.event_id) << row.name;
    }
}

TEST(Board, AReadOrAnswerKeepsItsTextAsSentWhileTheBoardMovesOn) {
    Club club(1);
    club.run(1, {start({"Ymma"})});
    const WriteResult answer = club.apply(1, Write{dart("T20"), "", std::nullopt});
    const std::vector<Document> kept = {answer.document, club.boards[0]->view().state(),
                                        club.boards[0]->view().match()};
    std::vector<std::string> then;
    for (const Document& document : kept) {
        then.push_back(*document.json);
    }
    club.run(1, {dart("T19"), dart("S5")});
    ASSERT_NE(*club.boards[0]->view().state().json, then[1]);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(*kept[i].json, then[i]) << i;
        // On the wire: its length, then its bytes as they were.
        Response response = documentResponse(kept[i], 11);
        finish(response, true);
        std::ostringstream wire;
        wire << response;
        const std::string sent = wire.str();
        EXPECT_NE(sent.find("Content-Length: " + std::to_string(then[i].size())), std::string::npos)
            << i;
        EXPECT_EQ(sent.substr(sent.size() - then[i].size()), then[i]) << i;
    }
}

TEST(Board, ARetryAfterARestartGetsEveryWritesFirstAnswer) {
    // Before any start, in a match, after a reset, refused and accepted.
    const std::vector<Command> commands = {
        dart("T20"), start({"Ymma"}),    dart("T20"), dart("X"), plain(Command::Kind::reset),
        dart("T19"), start({"Ymma"}, 2), dart("D20"),
    };
    Club club(1);
    const auto write = [&club](std::size_t key, const Command& command) {
        return club.apply(1, Write{command, "key-" + std::to_string(key), std::nullopt}).document;
    };
    std::vector<Document> first;
    for (std::size_t key = 0; key < commands.size(); ++key) {
        first.push_back(write(key, commands[key]));
    }
    const std::string state = *club.boards[0]->view().state().json;
    club.restart();
    for (std::size_t key = 0; key < commands.size(); ++key) {
        const Document again = write(key, commands[key]);
        EXPECT_EQ(*again.json, *first[key].json) << key;
        EXPECT_EQ(again.event_id, first[key].event_id) << key;
    }
    EXPECT_EQ(*club.boards[0]->view().state().json, state);
}

TEST(Board, RemembersTheNewestKeysAfterARestart) {
    const std::size_t rows = kRememberedKeysPerBoard + 1;
    Club club(1);
    std::promise<bool> written;
    for (std::size_t event_id = 1; event_id <= rows; ++event_id) {
        JournalRow row{1,     event_id, 1000, dart("T20"), "key-" + std::to_string(event_id),
                       false, {}};
        const bool last = event_id == rows;
        club.journal->append(std::move(row), [&written, last](Journal::Written outcome) {
            if (last) {
                written.set_value(outcome == Journal::Written::durable);
            }
        });
    }
    ASSERT_TRUE(written.get_future().get());
    club.restart();
    // A new key comes in; the newest before the restart is still known.
    const auto write = [&club](const std::string& key) {
        return club.apply(1, Write{dart("T20"), key, std::nullopt}).document.event_id;
    };
    EXPECT_EQ(write("new"), rows + 1);
    EXPECT_EQ(write("key-" + std::to_string(rows)), rows);
    EXPECT_EQ(write("key-" + std::to_string(rows - 1)), rows - 1);
}

TEST(Board, AResetLeavesTheMatchAsANewBoardHasIt) {
    Club club(2);
    club.run(1, joined({start({"Ymma", "Sjörk"}, 3, 2)}, visits(kNine)));
    club.run(1, {plain(Command::Kind::reset)});
    // Board 2 has never played.
    EXPECT_EQ(*club.boards[0]->view().match().json, *club.boards[1]->view().match().json);
}

// Returns the journal on `path`, started.
std::unique_ptr<Journal> started(const std::string& path) {
    std::string problem;
    std::unique_ptr<Journal> journal = Journal::open(path, problem);
    if (!journal) {
        throw std::runtime_error(problem);
    }
    journal->start();
    return journal;
}

TEST(Journal, TellsTheOperatorOnceWhenItCannotWriteAndOnceWhenItWritesAgain) {
    const struct {
        std::string fault;
        std::string problem;  // after the file's name
        std::function<void(const std::string& path)> make;
        std::function<void(const std::string& path)> mend;
    } rows[] = {
        {"read-only", " är skrivskyddad",
         [](const std::string& path) { ASSERT_EQ(chmod(path.c_str(), 0400), 0); },
         [](const std::string& path) { ASSERT_EQ(chmod(path.c_str(), 0600), 0); }},
        {"removed", " finns inte längre",
         [](const std::string& path) { std::filesystem::rename(path, path + ".away"); },
         [](const std::string& path) { std::filesystem::rename(path + ".away", path); }},
        {"replaced", " har bytts ut mot en annan fil",
         [](const std::string& path) {
             std::filesystem::rename(path, path + ".away");
             std::filesystem::copy_file(path + ".away", path);
         },
         [](const std::string& path) { std::filesystem::rename(path + ".away", path); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        const Scratch scratch;
        const std::string path = scratch.directory + "/game501.db";
        std::unique_ptr<Journal> journal = started(path);
        const auto append = [&journal](std::uint64_t event_id) {
            return appendDurably(*journal,
                                 JournalRow{1, event_id, 1000, dart("T20"), "", false, {}});
        };
        row.make(path);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(append(1));
        EXPECT_FALSE(append(1));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "game-501-server: journalen kan inte skrivas (" + path + row.problem +
                      "); skrivningar nekas tills den kan det igen\n");
        row.mend(path);
        testing::internal::CaptureStderr();
        // A row the writer finds queued behind a failed commit is refused
        // too, as one resting on it would be: a client sends it again.
        EXPECT_TRUE(append(1) || append(1));
        EXPECT_TRUE(append(2));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "game-501-server: journalen skrivs igen\n");
        EXPECT_EQ(journal->lastEventId(1), 2U);
        // Mended, a stop puts the log into the file again: a copy of it alone
        // holds every row.
        journal.reset();
        EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    }
}

TEST(Journal, AnswersAFailedRowOnceTheRowsBeforeItAreTold) {
    const Scratch scratch;
    const std::string path = scratch.directory + "/game501.db";
    std::unique_ptr<Journal> journal = started(path);
    std::promise<void> telling;
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    journal->append(JournalRow{1, 1, 1000, dart("T20"), "", false, {}},
                    [&telling, released](Journal::Written) {
                        telling.set_value();
                        released.wait();
                    });
    telling.get_future().wait();
    ASSERT_EQ(chmod(path.c_str(), 0400), 0);
    testing::internal::CaptureStderr();
    std::promise<Journal::Written> failed;
    journal->append(JournalRow{1, 2, 1000, dart("T20"), "", false, {}},
                    [&failed](Journal::Written written) { failed.set_value(written); });
    // Most often the writer waits for the first row's telling by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    release.set_value();
    std::future<Journal::Written> answer = failed.get_future();
    const bool answered = answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    if (!answered) {
        static_cast<void>(journal.release());  // its writer waits for good
        FAIL() << "the failed row was never answered";
    }
    EXPECT_EQ(answer.get(), Journal::Written::not_written);
}

TEST(Board, AFailedWriteLeavesItAsTheJournalHoldsIt) {
    Club club(1);
    const std::uint64_t last = club.run(1, {start({"Ymma", "Sjörk"}), dart("T20")});
    Board& board = *club.boards[0];
    const Document before = board.view().match();
    const auto write = [&club](const Command& command) {
        return club.apply(1, Write{command, "key-" + command.notation, std::nullopt});
    };
    ASSERT_EQ(chmod(club.path().c_str(), 0400), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(write(dart("T19")).outcome, WriteResult::Outcome::storage_unavailable);
    EXPECT_EQ(*board.view().match().json, *before.json);
    ASSERT_EQ(chmod(club.path().c_str(), 0600), 0);
    // The next write that is applied is the next event. One sent at once
    // may still be refused with the rows that failed: a client tries again.
    WriteResult written;
    for (int tries = 0; tries < 10; ++tries) {
        written = write(dart("T19"));
        if (written.outcome == WriteResult::Outcome::applied) {
            break;
        }
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(written.outcome, WriteResult::Outcome::applied);
    EXPECT_EQ(written.document.event_id, last + 1);
    const Document after = board.view().match();
    EXPECT_NE(*after.json, *before.json);
    club.restart();
    EXPECT_EQ(*club.boards[0]->view().match().json, *after.json);
}

// Returns what a server of `club`'s boards, with the pages of `web`, routes `request` to.
Routed routed(Club& club, const WebFiles* web, const Request& request) {
    const Reports reports(club.journal->reader(), club.boards, club.journal->accuracies());
    const Organiser organiser("organiser", *club.journal);
    Competitions competitions(*club.journal, club.boards);
    const Api api(club.boards, reports, organiser, competitions, web);
    return api.route(request);
}

TEST(Api, RoutesEachAddressToWhatAnswersIt) {
    using http::verb;
    const struct {
        int boards;
        verb method;
        std::string target;
        unsigned status;
        std::string field;  // a header it must have, with `value`; or "body" for the body's
        std::string value;
    } rows[] = {
        {1, verb::get, "/", 302, "Location", "/boards/1"},  // one board: its page
        {1, verb::head, "/", 302, "Location", "/boards/1"},
        {2, verb::get, "/", 200, "Content-Type", "text/html; charset=utf-8"},
        {1, verb::post, "/", 405, "Allow", "GET, HEAD"},
        {1, verb::delete_, "/api/players", 405, "Allow", "GET, HEAD, POST"},
        {1, verb::delete_, "/api/players/Ymma/rename", 405, "Allow", "POST, GET, HEAD"},
        {1, verb::get, "/api/matches/1-1/void", 404, "body",
         R"({"error":{"code":"not_found","message":"Matchen finns inte"}})"},
        {1, verb::get, "/matches/", 200, "Content-Type", "text/html; charset=utf-8"},
        {1, verb::get, "/players", 200, "Content-Type", "text/html; charset=utf-8"},
        {1, verb::get, "/organiser", 200, "Content-Type", "text/html; charset=utf-8"},
        {1, verb::get, "/competitions", 200, "Content-Type", "text/html; charset=utf-8"},
        {1, verb::get, "/competitions/1", 200, "Content-Type", "text/html; charset=utf-8"},
        {1, verb::get, "/players/Ymma/x", 404, "Content-Type", "application/json"},
        {1, verb::get, "/web/app.css/", 404, "Content-Type", "application/json"},
        {1, verb::get, "/api/boards/2/events", 404, "body",
         R"({"error":{"code":"not_found","message":"Tavlan finns inte"}})"},
        {1, verb::get, "/api/boards/1/nothing", 404, "body",
         R"({"error":{"code":"not_found","message":"Det finns inget här"}})"},
        {1, verb::head, "/api/boards/1/nothing", 404, "body", ""},  // a 404 made last, bare
        {2, verb::head, "/api/boards/3", 404, "body", ""},
        {1, verb::get, "/api/matches/1-1", 404, "body",
         R"({"error":{"code":"not_found","message":"Matchen finns inte"}})"},
    };
    std::string problem;
    const std::optional<WebFiles> web = WebFiles::load(GAME501_WEB, problem);
    ASSERT_TRUE(web.has_value()) << problem;
    Club one(1);
    Club two(2);
    for (const auto& row : rows) {
        const std::string name = std::string(http::to_string(row.method)) + " " + row.target +
                                 " on " + std::to_string(row.boards);
        const Routed answer =
            routed(row.boards == 1 ? one : two, &*web, Request{row.method, row.target, 11});
        const Response* response = std::get_if<Response>(&answer);
        ASSERT_NE(response, nullptr) << name;
        EXPECT_EQ(response->result_int(), row.status) << name;
        const std::string value = row.field == "body" ? std::string(response->body().view())
                                                      : std::string((*response)[row.field]);
        EXPECT_EQ(value, row.value) << name;
    }
}

TEST(Api, TheWallReadsEveryBoardsOpeningInTheirOrder) {
    Club club(2);
    club.run(2, {start({"Ymma"})});
    const Routed answer = routed(club, nullptr, Request{http::verb::get, "/api/boards/live", 11});
    const Response* response = std::get_if<Response>(&answer);
    ASSERT_NE(response, nullptr);
    nlohmann::json boards = nlohmann::json::array();
    for (const std::unique_ptr<Board>& board : club.boards) {
        boards.push_back(nlohmann::json::parse(*board->view().opening().json));
    }
    EXPECT_EQ(nlohmann::json::parse(response->body().view()), nlohmann::json({{"boards", boards}}));
}

}  // namespace
}  // namespace game501::server
