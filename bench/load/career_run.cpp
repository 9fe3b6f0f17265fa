#include "career_run.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "board_fill.h"
#include "http_client.h"
#include "journal_files.h"
#include "report.h"
#include "run_kind.h"
#include "script.h"
#include "script_play.h"
#include "server_process.h"
#include "server_setup.h"
#include "targets.h"
#include "temp_dir.h"
#include "units.h"
#include "watchdog.h"

namespace game501::load {
namespace {

constexpr std::chrono::seconds kFillTime{300};
constexpr std::chrono::seconds kReadTime{60};
constexpr std::chrono::seconds kHardTimeoutMargin{30};
const std::vector<std::string> kCareerPlayers = {"Ymma", "Sjörk"};
// The first player's name needs no percent-encoding.
const std::string kCareerPath = "/api/players/" + kCareerPlayers[0];

struct FillCounts {
    std::uint64_t calls = 0;
    std::uint64_t darts = 0;
    std::uint64_t visits = 0;  // each ends with its board clear

    FillCounts& operator+=(const FillCounts& other) {
        calls += other.calls;
        darts += other.darts;
        visits += other.visits;
        return *this;
    }
};

// Plays `matches` whole matches on board `number`, each started with
// `start_body`, and returns the calls they took.
FillCounts playMatches(HttpClient& client, int number, const std::string& token,
                       const Script& script, const std::string& start_body, int matches,
                       Clock::time_point deadline) {
    FillCounts counts;
    ScriptPlay play(script, static_cast<std::size_t>(number));
    for (int finished = 0; finished < matches;) {
        if (Clock::now() >= deadline) {
            throw std::runtime_error("the matches were not played in time");
        }
        const Step step = play.next();
        const BoardCall call = step == Step::start   ? BoardCall{"start", start_body}
                               : step == Step::clear ? BoardCall{"clear", ""}
                                                     : BoardCall{"darts", play.dart().body};
        const HttpAnswer answer = sendAccepted(client, number, token, call);
        ++counts.calls;
        counts.darts += step == Step::dart ? 1 : 0;
        counts.visits += step == Step::clear ? 1 : 0;
        finished += play.onAnswer(answer.body) == Step::start ? 1 : 0;
    }
    return counts;
}

// Spreads the matches evenly over the boards, and the boards over the
// connections.
FillCounts fillMatches(unsigned short port, const std::vector<std::string>& tokens,
                       const Script& script, const std::string& start_body, int connections,
                       Clock::time_point deadline) {
    const int boards = static_cast<int>(tokens.size());
    std::mutex mutex;
    FillCounts total;
    runShares(std::min(connections, boards), [&](std::size_t first, std::size_t stride) {
        HttpClient client(port);
        for (std::size_t board = first; board < tokens.size(); board += stride) {
            const int index = static_cast<int>(board);
            const int matches = kCareerMatches / boards + (index < kCareerMatches % boards ? 1 : 0);
            const FillCounts counts = playMatches(client, index + 1, tokens[board], script,
                                                  start_body, matches, deadline);
            const std::lock_guard<std::mutex> lock(mutex);
            total += counts;
        }
    });
    return total;
}

int finishedBoards(HttpClient& client, int boards) {
    int finished = 0;
    for (int number = 1; number <= boards; ++number) {
        const HttpAnswer answer = client.get(boardPath(number, "match"));
        const Game501::json match = Game501::json::parse(answer.body, nullptr, false);
        finished +=
            answer.status == kHttpOk && match.is_object() && match.value("status", "") == "finished"
                ? 1
                : 0;
    }
    return finished;
}

struct CareerReads {
    std::vector<double> ms;
    std::size_t bytes = 0;
    bool rows_right = true;  // every answer 200 with a row per match
};

// Reads the career once untimed, then kCareerReads times timed.
CareerReads readCareer(HttpClient& client) {
    CareerReads reads;
    for (int read = 0; read <= kCareerReads; ++read) {
        const Clock::time_point start = Clock::now();
        const HttpAnswer answer = client.get(kCareerPath);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const Game501::json career = Game501::json::parse(answer.body, nullptr, false);
        const bool right = answer.status == kHttpOk && career.is_object() &&
                           career.contains("matches") && career["matches"].is_array() &&
                           career["matches"].size() == static_cast<std::size_t>(kCareerMatches);
        reads.rows_right = reads.rows_right && right;
        reads.bytes = answer.body.size();
        if (read > 0) {
            reads.ms.push_back(ms);
        }
    }
    return reads;
}

}  // namespace

bool runCareer(const Options& options) {
    const Clock::time_point begin = Clock::now();
    TempDir dir;
    const ServerSetup setup = prepareServer(options, {options.server}, JournalKind::disk, dir);
    ServerProcess server(options.server, setup.args);
    const Clock::duration hard_limit =
        kServerStartTime + kFillTime + kReadTime + kServerStopTime + kHardTimeoutMargin;
    const Watchdog watchdog(begin + hard_limit, server.pid(), dir);
    const unsigned short port = server.waitForPort(options.boards, begin + kServerStartTime);

    const Script script = buildScript(kCareerOpeningMisses);
    printScript(script);
    std::cout << "career: " << kCareerMatches << " matches of " << kCareerPlayers[0] << " and "
              << kCareerPlayers[1] << " (each " << formatName(options.format) << ") on "
              << options.boards << " boards over " << std::min(options.scorers, options.boards)
              << " connections" << std::endl;
    const Clock::time_point fill_start = Clock::now();
    const FillCounts counts =
        fillMatches(port, setup.tokens, script, startBody(kCareerPlayers, options.format),
                    options.scorers, fill_start + kFillTime);
    const double fill_seconds = Seconds(Clock::now() - fill_start).count();
    std::cout << "fill: " << counts.calls << " calls accepted in " << fixed(fill_seconds, 2)
              << " s = " << fixed(static_cast<double>(counts.calls) / fill_seconds, 0)
              << " calls/s (" << counts.darts << " darts in " << counts.visits << " visits, "
              << fixed(static_cast<double>(counts.visits) / kCareerMatches, 1) << " visits a match)"
              << std::endl;

    HttpClient client(port);
    const int finished = finishedBoards(client, options.boards);
    const CareerReads reads = readCareer(client);
    const double median_ms = median(reads.ms);
    const double largest_ms = *std::max_element(reads.ms.begin(), reads.ms.end());
    std::cout << "career: GET " << kCareerPath << " " << kCareerReads
              << " times after one to warm up: median " << fixed(median_ms, 2) << " ms, largest "
              << fixed(largest_ms, 2) << " ms; " << reads.bytes << " bytes, "
              << (reads.rows_right ? "a row for each of the " + std::to_string(kCareerMatches) +
                                         " matches every time"
                                   : std::string("NOT a row for each match every time"))
              << "\n";

    const std::string stop = server.stop();
    std::cout << "server: " << stop << " after SIGTERM\n";
    printJournal(setup.data, static_cast<double>(counts.calls));
    const bool all_finished = finished == options.boards;
    printCareerTargets(median_ms, largest_ms, reads.rows_right, all_finished);
    return server.exitedCleanly() && reads.rows_right && all_finished;
}

}  // namespace game501::load
