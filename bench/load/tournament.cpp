#include "tournament.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "game_501.h"
#include "http_client.h"
#include "measurements.h"
#include "server_process.h"

namespace game501::load {

namespace {

using json = Game501::json;

constexpr std::chrono::seconds kNightTime{300};
constexpr std::chrono::milliseconds kPollInterval{200};
const char* const kOrganiserToken = "tournament-organiser-0123456789abcdef";
// Computers of several levels; the last by its average.
const json kLevels = {"beginner", "club", "strong", 70};

// A competition board's rows: when its called matches started, and the
// rows before them.
struct BoardRows {
    std::vector<double> call_gaps_ms;  // from the row that freed it to the next call
    std::int64_t darts = 0;            // in its matches
    std::int64_t busy_ms = 0;          // from each match's start to its last row
};

std::string competitionBody(int pool) {
    json players = json::array();
    for (int player = 0; player < kTournamentPlayers; ++player) {
        players.push_back({{"computer", kLevels[static_cast<std::size_t>(player % 4)]},
                           {"name", "Dator " + std::to_string(player + 1)}});
    }
    json boards = json::array();
    for (int board = 1; board <= pool; ++board) {
        boards.push_back(board);
    }
    return json{{"name", "Turnering"}, {"players", players}, {"format", "groups_knockout"},
                {"groups", 4},         {"advance", 2},       {"legs", 1},
                {"boards", boards},    {"seed", 29}}
        .dump();
}

// Reads the rows of board `board` from the journal: the called matches' starts
// and what came before them, or the darts of `from` to `to` for a plain board.
BoardRows readBoard(SQLite::Database& database, int board) {
    SQLite::Statement rows(database, R"(
        SELECT time, operation, arguments, accepted FROM journal
        WHERE board = :board ORDER BY event_id)");
    rows.bind(":board", board);
    BoardRows read;
    std::int64_t previous = -1;
    std::int64_t match_start = -1;
    while (rows.executeStep()) {
        const std::int64_t time = rows.getColumn(0).getInt64();
        const std::string operation = rows.getColumn(1).getString();
        const bool called = operation == "start" && rows.getColumn(2).getString().find(
                                                        "\"competition\"") != std::string::npos;
        if (called) {
            if (previous >= 0) {
                read.call_gaps_ms.push_back(static_cast<double>(time - previous));
            }
            if (match_start >= 0) {
                read.busy_ms += previous - match_start;
            }
            match_start = time;
        }
        read.darts += operation == "dart" && rows.getColumn(3).getInt() != 0 ? 1 : 0;
        previous = time;
    }
    if (match_start >= 0) {
        read.busy_ms += previous - match_start;
    }
    return read;
}

}  // namespace

bool runTournament(const Options& options) {
    const Clock::time_point begin = Clock::now();
    TempDir dir;
    const ServerSetup setup = prepareServer(options, {options.server}, JournalKind::disk, dir);
    std::vector<std::string> args = setup.args;
    args.insert(args.end(), {"--computer-pause", "0", "--organiser-token",
                             dir.write("organiser.txt", std::string(kOrganiserToken) + "\n")});
    ServerProcess server(options.server, args);
    const Watchdog watchdog(
        begin + kServerStartTime + kNightTime + kServerStopTime + kHardTimeoutMargin, server.pid(),
        dir);
    const unsigned short port = server.waitForPort(options.boards, begin + kServerStartTime);
    const int pool = options.boards / 2;
    HttpClient client(port);
    // The other boards play one long match each, which outlasts the night.
    for (int board = pool + 1; board <= options.boards; ++board) {
        const std::string body = json{
            {"players",
             {{{"computer", "strong"}, {"name", "A"}}, {{"computer", "club"}, {"name", "B"}}}},
            {"legs", 20},
            {"sets", 10},
            {"seed", board}}.dump();
        if (client
                .post(boardPath(board, "start"), setup.tokens[static_cast<std::size_t>(board - 1)],
                      body)
                .status != kHttpOk) {
            throw std::runtime_error("a plain board did not start");
        }
    }
    const Clock::time_point night_start = Clock::now();
    const HttpAnswer made =
        client.post("/api/competitions", kOrganiserToken, competitionBody(pool));
    if (made.status != 201) {
        throw std::runtime_error("the competition was not made: " + made.body);
    }
    const int id = json::parse(made.body).at("id").get<int>();
    json document;
    bool finished = false;
    while (!finished && Clock::now() < night_start + kNightTime) {
        std::this_thread::sleep_for(kPollInterval);
        document =
            json::parse(client.get("/api/competitions/" + std::to_string(id)).body, nullptr, false);
        finished = document.is_object() && document.value("status", "") == "finished";
    }
    const double night_seconds = Seconds(Clock::now() - night_start).count();
    // The plain boards' darts are counted over the night alone.
    for (int board = pool + 1; board <= options.boards; ++board) {
        client.post(boardPath(board, "reset"), setup.tokens[static_cast<std::size_t>(board - 1)],
                    "");
    }
    const std::string stop = server.stop();

    SQLite::Database database(setup.data, SQLite::OPEN_READONLY);
    std::vector<double> gaps;
    std::int64_t pool_darts = 0;
    std::int64_t pool_busy_ms = 0;
    for (int board = 1; board <= pool; ++board) {
        const BoardRows rows = readBoard(database, board);
        gaps.insert(gaps.end(), rows.call_gaps_ms.begin(), rows.call_gaps_ms.end());
        pool_darts += rows.darts;
        pool_busy_ms += rows.busy_ms;
    }
    std::int64_t plain_darts = 0;
    for (int board = pool + 1; board <= options.boards; ++board) {
        plain_darts += readBoard(database, board).darts;
    }
    const double pool_rate = static_cast<double>(pool_darts) * 1000.0 /
                             static_cast<double>(std::max<std::int64_t>(pool_busy_ms, 1));
    const double plain_rate =
        static_cast<double>(plain_darts) / (night_seconds * (options.boards - pool));
    int played = 0;
    for (const json& match : document.value("matches", json::array())) {
        played += match.value("status", "") == "finished" ? 1 : 0;
    }
    std::cout << "tournament: " << kTournamentPlayers << " computers, 4 groups then a knockout of "
              << "8, on boards 1-" << pool << "; boards " << pool + 1 << "-" << options.boards
              << " play without a competition; no pause\n"
              << "night: " << (finished ? "finished" : "NOT finished") << " in "
              << fixed(night_seconds, 2) << " s, " << played << " matches played\n";
    if (!gaps.empty()) {
        std::cout << "a board free to its next call: " << gaps.size() << " calls, median "
                  << fixed(median(gaps), 1) << " ms, largest "
                  << fixed(*std::max_element(gaps.begin(), gaps.end()), 1) << " ms\n";
    }
    std::cout << "darts a second on a board that plays: competition " << fixed(pool_rate, 1)
              << ", without one " << fixed(plain_rate, 1) << "; ratio "
              << fixed(pool_rate / std::max(plain_rate, 1e-9), 2) << " (goal >= 0.9)\n"
              << "server: " << stop << " after SIGTERM\n";
    return finished && server.exitedCleanly();
}

}  // namespace game501::load
