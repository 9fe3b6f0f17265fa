#include "scenarios.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <iostream>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "beds.h"
#include "http_client.h"
#include "measurements.h"
#include "options.h"
#include "script.h"
#include "server_process.h"
#include "tournament.h"

namespace game501::load {
namespace {

// The targets, judged on the medians of a scenario's runs.
constexpr double kTargetDartsPerSecond = 5000;
constexpr double kTargetAnswerP99Ms = 25;
constexpr double kTargetDiskShare = 0.5;
constexpr double kTargetNetworkShare = 0.25;
constexpr double kTargetDeliveryP99Ms = 100;
constexpr double kTargetIdleViewersMb = 50;
constexpr double kFlatMemoryTolerance = 0.10;
constexpr double kTargetRestartSeconds = 2;
constexpr double kTargetMatchShare = 0.9;
constexpr double kTargetCareerMs = 50;
constexpr double kTargetReportMs = 5;
constexpr double kTargetReadersP99Ratio = 2;

std::string verdict(bool met) { return met ? "met" : "MISSED"; }

// The median of --server's runs of the chosen format with `journal`.
const RunFigures* medianWith(const Options& options, const std::vector<RunFigures>& medians,
                             JournalKind journal) {
    return medianOf(medians, RunKind{journal, options.format, false});
}

// With the journal on disk: accepted darts a second and the answers' p99;
// its darts a second against the same with the journal in memory; and the
// network's share of the same darts in process. That share was first judged
// on a server that kept nothing; the journal in memory comes closest to it,
// so it is judged there when it ran.
void printThroughputTargets(const Options& options, const std::vector<RunFigures>&,
                            const std::vector<RunFigures>& medians) {
    const RunFigures* const disk = medianWith(options, medians, JournalKind::disk);
    const RunFigures* const memory = medianWith(options, medians, JournalKind::memory);
    const RunFigures& network = memory != nullptr ? *memory : medians.front();
    const double disk_share = disk != nullptr && memory != nullptr && memory->darts_per_second > 0
                                  ? disk->darts_per_second / memory->darts_per_second
                                  : -1;
    std::cout << "targets\n"
              << "  >= " << kTargetDartsPerSecond << " darts/s with the journal on disk: "
              << (disk == nullptr ? "n/a"
                                  : verdict(disk->darts_per_second >= kTargetDartsPerSecond))
              << "\n  answer p99 <= " << kTargetAnswerP99Ms << " ms with the journal on disk: "
              << (disk == nullptr ? "n/a"
                                  : verdict(disk->answer_p99_ms >= 0 &&
                                            disk->answer_p99_ms <= kTargetAnswerP99Ms))
              << "\n  disk >= " << kTargetDiskShare << " of memory: "
              << (disk_share < 0 ? "n/a" : verdict(disk_share >= kTargetDiskShare)) << " ("
              << fixed(disk_share, 3) << ")"
              << "\n  network >= " << kTargetNetworkShare << " of in process (journal "
              << journalName(network.kind.journal)
              << "): " << verdict(network.network_share >= kTargetNetworkShare) << "\n";
}

// For each journal, the chosen format's accepted darts a second against a
// single game's in the same invocation.
void printMatchTargets(const Options& options, const std::vector<RunFigures>&,
                       const std::vector<RunFigures>& medians) {
    std::cout << "targets\n";
    for (const JournalKind journal : options.journals) {
        const RunFigures* const match = medianWith(options, medians, journal);
        const RunFigures* const single = medianOf(medians, RunKind{journal, {}, false});
        const double share = match != nullptr && single != nullptr && match != single
                                 ? dartsRatio(*match, *single)
                                 : -1;
        std::cout << "  " << formatName(options.format) << " >= " << kTargetMatchShare
                  << " of a single game's darts/s, journal " << journalName(journal) << ": "
                  << (share < 0 ? "n/a" : verdict(share >= kTargetMatchShare)) << " ("
                  << fixed(share, 3) << ")\n";
    }
}

// No event lost in any run, and the delivery p99.
void printDeliveryTargets(const Options&, const std::vector<RunFigures>& runs,
                          const std::vector<RunFigures>& medians) {
    const RunFigures& f = medians.front();
    std::uint64_t lost = 0;
    for (const RunFigures& run : runs) {
        lost += run.events_lost;
    }
    std::cout << "targets\n"
              << "  no event lost in any run: " << verdict(lost == 0)
              << "\n  delivery p99 <= " << kTargetDeliveryP99Ms << " ms: "
              << verdict(f.delivery_p99_ms >= 0 && f.delivery_p99_ms <= kTargetDeliveryP99Ms)
              << "\n";
}

// The server's memory with idle viewers, and that it stays flat under the load.
void printMemoryTargets(const Options& options, const std::vector<RunFigures>&,
                        const std::vector<RunFigures>& medians) {
    const RunFigures& f = medians.front();
    const double viewers_mb = f.rss_viewers_mib * kKibPerMib * kBytesPerKib / kBytesPerMb;
    std::cout << "targets\n"
              << "  " << options.viewers << " idle viewers <= " << kTargetIdleViewersMb
              << " MB: " << verdict(viewers_mb >= 0 && viewers_mb <= kTargetIdleViewersMb) << " ("
              << fixed(viewers_mb, 1) << " MB)\n"
              << "  flat (end within " << kFlatMemoryTolerance * 100 << " % of the RSS after "
              << kWarmShare * 100 << " % of the load): "
              << verdict(f.rss_warm_mib >= 0 &&
                         f.rss_end_mib <= f.rss_warm_mib * (1 + kFlatMemoryTolerance))
              << "\n";
}

// The career's answer time, median and largest, its rows and the matches.
void printCareerTargets(double median_ms, double largest_ms, bool rows_right, bool all_finished) {
    std::cout << "targets\n"
              << "  the career's median answer <= " << kTargetCareerMs
              << " ms: " << verdict(median_ms >= 0 && median_ms <= kTargetCareerMs)
              << "\n  the career's largest answer <= " << kTargetCareerMs
              << " ms: " << verdict(largest_ms >= 0 && largest_ms <= kTargetCareerMs)
              << "\n  a row for every match: " << verdict(rows_right)
              << "\n  every board's last match finished: " << verdict(all_finished) << "\n";
}

// The median time of a restart to its first answer, and that the restarts
// left every board as it was.
void printRestartTargets(double median_seconds, bool documents_same, bool ids_continue) {
    std::cout << "targets\n"
              << "  first answer <= " << kTargetRestartSeconds << " s after the start: "
              << verdict(median_seconds >= 0 && median_seconds <= kTargetRestartSeconds)
              << "\n  every state document the same byte for byte: " << verdict(documents_same)
              << "\n  event ids go on from the last: " << verdict(ids_continue) << "\n";
}

// One write to a board: its action ("start", "darts", "clear") and body.
struct BoardCall {
    std::string action;
    std::string body;
};

struct BoardAnswer {
    Reading reading;
    std::uint64_t event_id = 0;
};

// Sends `call` to board `number` and returns what the answer says, read to
// the leg's status when `status_needed`. Throws std::runtime_error unless
// the engine accepted it.
BoardAnswer sendAccepted(HttpClient& client, int number, const std::string& token,
                         const BoardCall& call, bool status_needed) {
    const HttpAnswer answer = client.post(boardPath(number, call.action), token, call.body);
    const std::optional<Reading> reading =
        answer.status == kHttpOk ? readAnswer(answer.body, status_needed) : std::nullopt;
    if (!reading || !reading->accepted) {
        throw std::runtime_error("board " + std::to_string(number) + " answered " + call.action +
                                 " with HTTP " + std::to_string(answer.status) + ": " +
                                 answer.body.substr(0, kErrorExcerptBytes));
    }
    return {*reading, answer.event_id};
}

// Returns the call that follows `document`, an answer or state document: a
// new game when there is none, the clear after a turn, else a missed dart.
// Read as the answer to a clear, a finished game asks for a new one too.
BoardCall missAfter(const Reading& document) {
    switch (nextStep(document, Step::clear)) {
        case Step::start:
            return {"start", startBody(kPlayers, {})};
        case Step::clear:
            return {"clear", ""};
        case Step::dart:
            break;
    }
    return {"darts", dartBody(beds::bedNotation(beds::kMissBed))};
}

// Runs `share(first, stride)` on `connections` threads at once, `first` from
// 0 to `connections` − 1, each to write to every `stride`-th board from
// `first`; throws the first error any of them threw, once all have ended.
void runShares(int connections,
               const std::function<void(std::size_t first, std::size_t stride)>& share) {
    const auto stride = static_cast<std::size_t>(connections);
    std::mutex mutex;
    std::string first_error;
    std::vector<std::thread> threads;
    for (std::size_t first = 0; first < stride; ++first) {
        threads.emplace_back([&, first] {
            try {
                share(first, stride);
            } catch (const std::exception& error) {
                const std::lock_guard<std::mutex> lock(mutex);
                if (first_error.empty()) {
                    first_error = error.what();
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (!first_error.empty()) {
        throw std::runtime_error(first_error);
    }
}

// Plays `calls` calls on every board, over `connections` connections at
// once, each connection its share of the boards: a start, then turns of
// missed darts each followed by a clear. Missed darts never end a game, so
// the answers are read only up to awaiting_clear; a game that ended would
// refuse the next dart. Throws std::runtime_error when a call fails or
// `deadline` passes.
void fillBoards(unsigned short port, const std::vector<std::string>& tokens, int calls,
                int connections, Clock::time_point deadline) {
    const int used = std::min(connections, static_cast<int>(tokens.size()));
    runShares(used, [&](std::size_t first, std::size_t stride) {
        HttpClient client(port);
        for (std::size_t board = first; board < tokens.size(); board += stride) {
            const int number = static_cast<int>(board) + 1;
            BoardCall call{"start", startBody(kPlayers, {})};
            for (int i = 0; i < calls; ++i) {
                if (Clock::now() >= deadline) {
                    throw std::runtime_error("the boards were not filled in time");
                }
                call = missAfter(sendAccepted(client, number, tokens[board], call, false).reading);
            }
        }
    });
}

// The restart scenario: boards full of games, then the server stopped and
// started again on their journal, timed to its first answer and checked to
// be exactly where it was.
constexpr int kRestartFillConnections = 20;
// A start, then 75 turns of three missed darts and a clear, the last clear
// left out: 1 + 75 × 4 − 1 calls, and no game ends.
constexpr int kRestartCallsPerBoard = 300;
constexpr std::chrono::seconds kRestartFillTime{120};
// Reading every board, and writing once to each.
constexpr std::chrono::seconds kCheckTime{30};

// Adds one more description to `problem`.
void note(std::string& problem, const std::string& text) {
    problem += (problem.empty() ? "" : "; ") + text;
}

struct BoardDocument {
    std::string json;
    std::uint64_t event_id = 0;
};

std::vector<BoardDocument> readBoards(HttpClient& client, int boards) {
    std::vector<BoardDocument> documents;
    for (int number = 1; number <= boards; ++number) {
        HttpAnswer answer = client.get(boardPath(number));
        if (answer.status != kHttpOk) {
            throw std::runtime_error("board " + std::to_string(number) + " answered HTTP " +
                                     std::to_string(answer.status));
        }
        documents.push_back({std::move(answer.body), answer.event_id});
    }
    return documents;
}

// Counts the boards whose document or event id changed, and describes the
// first of them in `problem`.
int changedBoards(const std::vector<BoardDocument>& before, const std::vector<BoardDocument>& after,
                  std::string& problem) {
    int changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        const std::string& was = before[i].json;
        const std::string& is = after[i].json;
        if (was == is && before[i].event_id == after[i].event_id) {
            continue;
        }
        if (++changed == 1) {
            const auto at = std::mismatch(was.begin(), was.end(), is.begin(), is.end());
            note(problem, "board " + std::to_string(i + 1) + ": Event-Id " +
                              std::to_string(before[i].event_id) + " before, " +
                              std::to_string(after[i].event_id) + " after; the document of " +
                              std::to_string(was.size()) + " bytes became " +
                              std::to_string(is.size()) + " bytes, first differing at byte " +
                              std::to_string(at.first - was.begin()));
        }
    }
    return changed;
}

// Writes once to every board, the call its game waits for, and counts the
// boards whose write was not numbered right after their last event; the
// first of them is described in `problem`.
int misnumberedWrites(HttpClient& client, const std::vector<std::string>& tokens,
                      const std::vector<BoardDocument>& documents, std::string& problem) {
    int misnumbered = 0;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        const std::uint64_t id =
            sendAccepted(client, number, tokens[i],
                         missAfter(readAnswer(documents[i].json).value_or(Reading{})), false)
                .event_id;
        if (id != documents[i].event_id + 1 && ++misnumbered == 1) {
            note(problem, "board " + std::to_string(number) + ": the write after event " +
                              std::to_string(documents[i].event_id) + " got Event-Id " +
                              std::to_string(id));
        }
    }
    return misnumbered;
}

struct RestartFigures {
    double seconds = -1;  // from the start of the process to its first answer
    int changed = 0;
    int misnumbered = 0;
    std::string problem;
};

void printRestart(const RestartFigures& f, int boards, const std::string& stop) {
    std::cout << "  first answer         " << fixed(f.seconds, 3)
              << " s from the start of the process to the answer of GET " << boardPath(1) << "\n"
              << "  state documents      " << boards - f.changed << " of " << boards
              << " the same byte for byte, with the same Event-Id\n"
              << "  next write           " << boards - f.misnumbered << " of " << boards
              << " numbered right after the board's last event\n"
              << "  server before        " << stop << " after SIGTERM\n";
    if (!f.problem.empty()) {
        std::cout << "  first difference     " << f.problem << "\n";
    }
}

// Fills options.boards boards over options.scorers connections, then
// options.runs times: stops the server with SIGTERM, starts it on the same
// journal, times its first answer, checks that every state document is the
// same byte for byte and that a write on every board is numbered on from
// its last event. Prints the figures and the targets and returns whether
// every check held. Throws when a server cannot be started or filled.
bool runRestarts(const Options& options) {
    const Clock::time_point begin = Clock::now();
    TempDir dir;
    const ServerSetup setup = prepareServer(options, {options.server}, JournalKind::disk, dir);
    auto server = std::make_unique<ServerProcess>(options.server, setup.args);
    const Clock::duration hard_limit =
        kServerStartTime + kRestartFillTime + kCheckTime +
        options.runs * (kServerStopTime + kServerStartTime + kCheckTime) + kServerStopTime +
        kHardTimeoutMargin;
    Watchdog watchdog(begin + hard_limit, server->pid(), dir);
    unsigned short port = server->waitForPort(options.boards, begin + kServerStartTime);

    std::cout << "restart: " << options.boards << " boards whose games hold "
              << kRestartCallsPerBoard << " calls each, written over " << options.scorers
              << " connections, then " << options.runs << " restarts" << std::endl;
    const Clock::time_point fill_start = Clock::now();
    fillBoards(port, setup.tokens, kRestartCallsPerBoard, options.scorers,
               fill_start + kRestartFillTime);
    const double fill_seconds = Seconds(Clock::now() - fill_start).count();
    const double calls = static_cast<double>(options.boards) * kRestartCallsPerBoard;
    std::cout << "fill: " << fixed(calls, 0) << " calls accepted in " << fixed(fill_seconds, 2)
              << " s = " << fixed(calls / fill_seconds, 0) << " calls/s" << std::endl;
    std::vector<BoardDocument> before;
    {
        HttpClient client(port);
        before = readBoards(client, options.boards);
    }

    bool ok = true;
    std::vector<RestartFigures> restarts;
    for (int restart = 1; restart <= options.runs; ++restart) {
        const std::string stop = server->stop();
        watchdog.watch(0);
        ok = ok && server->exitedCleanly();
        if (restart == 1) {
            printJournal(setup.data, static_cast<double>(options.boards) * kRestartCallsPerBoard);
        }
        std::cout << "restart " << restart << " of " << options.runs
                  << " (load average before: " << loadAverage() << ")" << std::endl;
        RestartFigures f;
        const Clock::time_point start = Clock::now();
        server = std::make_unique<ServerProcess>(options.server, setup.args);
        watchdog.watch(server->pid());
        port = server->waitForPort(options.boards, start + kServerStartTime);
        HttpClient client(port);
        const HttpAnswer first = client.get(boardPath(1));
        f.seconds = Seconds(Clock::now() - start).count();
        if (first.status != kHttpOk) {
            throw std::runtime_error("the first answer after the restart was HTTP " +
                                     std::to_string(first.status));
        }
        const std::vector<BoardDocument> after = readBoards(client, options.boards);
        f.changed = changedBoards(before, after, f.problem);
        f.misnumbered = misnumberedWrites(client, setup.tokens, after, f.problem);
        before = readBoards(client, options.boards);
        printRestart(f, options.boards, stop);
        ok = ok && f.changed == 0 && f.misnumbered == 0;
        restarts.push_back(std::move(f));
    }
    const std::string stop = server->stop();
    ok = ok && server->exitedCleanly();
    std::cout << "server: " << stop << " after SIGTERM\n";

    std::vector<double> seconds;
    bool same = true;
    bool numbered = true;
    for (const RestartFigures& f : restarts) {
        seconds.push_back(f.seconds);
        same = same && f.changed == 0;
        numbered = numbered && f.misnumbered == 0;
    }
    const double median_seconds = median(seconds);
    std::cout << "median of " << restarts.size() << " restarts: " << fixed(median_seconds, 3)
              << " s to the first answer\n";
    printRestartTargets(median_seconds, same, numbered);
    return ok;
}

// The career scenario: one server filled with whole matches of two players,
// as fast as it takes them, then one player's career read on the warm
// server and timed.
constexpr int kCareerMatches = 1000;
constexpr int kCareerReads = 20;
constexpr int kCareerBoards = 10;
// Visits of three missed darts by each player before each scripted game:
// about 30 visits a match of one leg.
constexpr int kCareerOpeningMisses = 10;
constexpr std::chrono::seconds kCareerFillTime{300};
constexpr std::chrono::seconds kReadTime{60};
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

// Returns the call `play` makes next, a start with `start_body`.
BoardCall nextCall(const ScriptPlay& play, const std::string& start_body) {
    const Step step = play.next();
    return step == Step::start   ? BoardCall{"start", start_body}
           : step == Step::clear ? BoardCall{"clear", ""}
                                 : BoardCall{"darts", play.dart().body};
}

// Plays `matches` whole matches on board `number`, each started with
// `start_body`, or stops after `max_calls` calls; returns the calls made.
FillCounts playMatches(HttpClient& client, int number, const std::string& token,
                       const Script& script, const std::string& start_body, int matches,
                       Clock::time_point deadline,
                       std::uint64_t max_calls = std::numeric_limits<std::uint64_t>::max()) {
    FillCounts counts;
    ScriptPlay play(script, static_cast<std::size_t>(number));
    for (int finished = 0; finished < matches && counts.calls < max_calls;) {
        if (Clock::now() >= deadline) {
            throw std::runtime_error("the matches were not played in time");
        }
        const Step step = play.next();
        const BoardCall call = nextCall(play, start_body);
        const Reading answer =
            sendAccepted(client, number, token, call, play.needsStatus()).reading;
        ++counts.calls;
        counts.darts += step == Step::dart ? 1 : 0;
        counts.visits += step == Step::clear ? 1 : 0;
        finished += play.onAnswer(answer) == Step::start ? 1 : 0;
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

// Plays kCareerMatches matches of two players in options.format, spread over
// options.boards boards and options.scorers connections, with the journal on
// disk; then reads the first player's career once to warm up and
// kCareerReads times timed, and checks that every answer has a row per match
// and that every board's last match finished. Prints the figures and the
// targets and returns whether every check held. Throws when the server
// cannot be started or filled.
bool runCareer(const Options& options) {
    const Clock::time_point begin = Clock::now();
    TempDir dir;
    const ServerSetup setup = prepareServer(options, {options.server}, JournalKind::disk, dir);
    ServerProcess server(options.server, setup.args);
    const Clock::duration hard_limit =
        kServerStartTime + kCareerFillTime + kReadTime + kServerStopTime + kHardTimeoutMargin;
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
                    options.scorers, fill_start + kCareerFillTime);
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

// The reads scenario: one long match on board 1, over, whose report and
// file of darts kReaders clients read in a loop while a scorer throws on
// board 2; the scorer's darts timed against the same without the readers.
constexpr std::uint64_t kReadsMatchRows = 8000;
constexpr int kReaders = 8;
constexpr int kTimedReads = 20;
constexpr std::chrono::seconds kReadsFillTime{300};
constexpr std::size_t kDartSamples = 1 << 20;
// The longest match there is, so that 8,000 rows are still one match.
const Match501::Format kLongestMatch{Match501::kMaxLegs, Match501::kMaxSets};
const std::string kLongMatchId = "1-1";

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct TimedReads {
    double first_ms = -1;   // the first read: made from the journal
    double median_ms = -1;  // of kTimedReads after it
    std::size_t bytes = 0;
};

// Reads `target` once, then kTimedReads times, each timed. Throws unless
// every answer is 200.
TimedReads timeReads(HttpClient& client, const std::string& target) {
    TimedReads reads;
    std::vector<double> ms;
    for (int read = 0; read <= kTimedReads; ++read) {
        const Clock::time_point start = Clock::now();
        const HttpAnswer answer = client.get(target);
        const double took = msSince(start);
        if (answer.status != kHttpOk) {
            throw std::runtime_error(target + " answered HTTP " + std::to_string(answer.status));
        }
        reads.bytes = answer.body.size();
        if (read == 0) {
            reads.first_ms = took;
        } else {
            ms.push_back(took);
        }
    }
    reads.median_ms = median(ms);
    return reads;
}

// Throws on board `number` for `seconds`, as `play` goes on, and times the
// answer to each dart into `darts`.
void throwFor(HttpClient& client, int number, const std::string& token, ScriptPlay& play,
              double seconds, Samples& darts) {
    const std::string start_body = startBody(kPlayers, {});
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(Seconds(seconds));
    while (Clock::now() < end) {
        const Step step = play.next();
        const Clock::time_point start = Clock::now();
        const Reading answer =
            sendAccepted(client, number, token, nextCall(play, start_body), play.needsStatus())
                .reading;
        if (step == Step::dart) {
            darts.add(
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
        }
        play.onAnswer(answer);
    }
}

struct ReaderCounts {
    std::atomic<std::uint64_t> reads{0};
    std::atomic<std::uint64_t> busy{0};    // answered 503
    std::atomic<std::uint64_t> errors{0};  // any other answer, or none
};

// At a club the readers read on machines of their own, so here their
// threads take the processor only when no other thread wants it: the
// server's own work of answering them stays at its priority.
void takeOnlyIdleTime() {
    const sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
}

// Reads the long match's file of darts and report in turn until `stop`.
void readUntil(unsigned short port, const std::atomic<bool>& stop, ReaderCounts& counts) {
    takeOnlyIdleTime();
    try {
        HttpClient client(port);
        for (int read = 0; !stop.load(); ++read) {
            const HttpAnswer answer =
                client.get("/api/matches/" + kLongMatchId + (read % 2 == 0 ? "/darts.csv" : ""));
            ++(answer.status == kHttpOk ? counts.reads
               : answer.status == 503   ? counts.busy
                                        : counts.errors);
        }
    } catch (const std::exception&) {
        ++counts.errors;
    }
}

// Plays kReadsMatchRows calls of the longest match on board 1 and ends it
// with a new start; times its report and file of darts; then options.runs
// times, a scorer throws on board 2 for options.seconds alone and as long
// again while kReaders clients read the long match in a loop. Prints the
// figures and the targets and returns whether every read was answered 200
// or 503. Throws when the server cannot be started or filled.
bool runReads(const Options& options) {
    const Clock::time_point begin = Clock::now();
    TempDir dir;
    const ServerSetup setup = prepareServer(options, {options.server}, JournalKind::disk, dir);
    ServerProcess server(options.server, setup.args);
    const Clock::duration hard_limit =
        kServerStartTime + kReadsFillTime +
        std::chrono::duration_cast<Clock::duration>(Seconds(3 * options.runs * options.seconds)) +
        kReadTime + kServerStopTime + kHardTimeoutMargin;
    const Watchdog watchdog(begin + hard_limit, server.pid(), dir);
    const unsigned short port = server.waitForPort(options.boards, begin + kServerStartTime);

    const Script script = buildScript(kCareerOpeningMisses);
    HttpClient client(port);
    const Clock::time_point fill_start = Clock::now();
    const FillCounts counts =
        playMatches(client, 1, setup.tokens[0], script, startBody(kPlayers, kLongestMatch), 1,
                    fill_start + kReadsFillTime, kReadsMatchRows);
    sendAccepted(client, 1, setup.tokens[0], {"start", startBody(kPlayers, {})}, false);
    std::cout << "reads: match " << kLongMatchId << " of " << counts.calls << " rows ("
              << counts.darts << " darts, " << formatName(kLongestMatch) << ") played in "
              << fixed(Seconds(Clock::now() - fill_start).count(), 1)
              << " s and ended by a new start" << std::endl;

    const TimedReads report = timeReads(client, "/api/matches/" + kLongMatchId);
    const TimedReads csv = timeReads(client, "/api/matches/" + kLongMatchId + "/darts.csv");
    const double csv_mb_per_s =
        csv.median_ms > 0 ? static_cast<double>(csv.bytes) / kBytesPerMb / (csv.median_ms / 1000)
                          : -1;
    std::cout << "  report               first " << fixed(report.first_ms, 2)
              << " ms (made from the journal), then median " << fixed(report.median_ms, 2)
              << " ms of " << kTimedReads << "; " << report.bytes << " bytes\n"
              << "  darts.csv            first " << fixed(csv.first_ms, 2) << " ms, then median "
              << fixed(csv.median_ms, 2) << " ms of " << kTimedReads << "; " << csv.bytes
              << " bytes = " << fixed(csv_mb_per_s, 1) << " MB/s" << std::endl;

    Samples alone(kDartSamples);
    Samples read_beside(kDartSamples);
    Samples busy(kDartSamples);
    ReaderCounts reader_counts;
    ScriptPlay play(script, 0);
    for (int run = 1; run <= options.runs; ++run) {
        throwFor(client, 2, setup.tokens[1], play, options.seconds, alone);
        std::atomic<bool> stop{false};
        std::vector<std::thread> readers;
        for (int reader = 0; reader < kReaders; ++reader) {
            readers.emplace_back(readUntil, port, std::cref(stop), std::ref(reader_counts));
        }
        throwFor(client, 2, setup.tokens[1], play, options.seconds, read_beside);
        stop = true;
        for (std::thread& reader : readers) {
            reader.join();
        }
        // The same with no readers but every core kept busy as they keep
        // it: what a dart waits for on a machine that is never idle.
        stop = false;
        std::vector<std::thread> spinners;
        for (unsigned core = 0; core < std::max(1U, std::thread::hardware_concurrency()); ++core) {
            spinners.emplace_back([&stop] {
                takeOnlyIdleTime();
                while (!stop.load(std::memory_order_relaxed)) {
                }
            });
        }
        throwFor(client, 2, setup.tokens[1], play, options.seconds, busy);
        stop = true;
        for (std::thread& spinner : spinners) {
            spinner.join();
        }
    }
    const double alone_p99 = alone.percentileMs(0.99);
    const double beside_p99 = read_beside.percentileMs(0.99);
    std::cout << "  darts, no readers    p50 " << fixed(alone.percentileMs(0.5), 2) << " ms, p99 "
              << fixed(alone_p99, 2) << " ms (" << alone.count() << " darts)\n"
              << "  darts, " << kReaders << " readers     p50 "
              << fixed(read_beside.percentileMs(0.5), 2) << " ms, p99 " << fixed(beside_p99, 2)
              << " ms (" << read_beside.count() << " darts; " << reader_counts.reads.load()
              << " reads answered, " << reader_counts.busy.load() << " answered 503, "
              << reader_counts.errors.load() << " failed)\n"
              << "  darts, cores busy    p50 " << fixed(busy.percentileMs(0.5), 2) << " ms, p99 "
              << fixed(busy.percentileMs(0.99), 2) << " ms (" << busy.count()
              << " darts; no readers, every core kept busy at the lowest priority)\n";

    const std::string stop = server.stop();
    std::cout << "server: " << stop << " after SIGTERM\n";
    const double ratio = alone_p99 > 0 ? beside_p99 / alone_p99 : -1;
    std::cout << "targets\n"
              << "  the report's median <= " << kTargetReportMs
              << " ms: " << verdict(report.median_ms >= 0 && report.median_ms <= kTargetReportMs)
              << "\n  a dart's p99 with " << kReaders << " readers <= " << kTargetReadersP99Ratio
              << " x without: " << verdict(ratio >= 0 && ratio <= kTargetReadersP99Ratio) << " ("
              << fixed(ratio, 2) << ")\n";
    return server.exitedCleanly() && reader_counts.errors.load() == 0;
}

// Each row: name, {boards, viewers, scorers, rate, seconds, darts, {legs,
// sets}}, help, targets, {flag, value} of a server option or {} for none, the
// journals and the formats of its runs, and the runner of a scenario that is
// not a load, or null.
static_assert(kRestartCallsPerBoard == 300 && kRestartFillConnections == 20,
              "the restart row's help says so");
static_assert(kCareerMatches == 1000 && kCareerReads == 20 && kCareerBoards == 10,
              "the career row's help says so");
static_assert(kTournamentPlayers == 16 && kTournamentBoards == 8,
              "the tournament row's help says so");
static_assert(kReadsMatchRows == 8000 && kReaders == 8, "the reads row's help says so");
constexpr Scenario kScenarios[] = {
    {"throughput",
     {100, 0, 100, 0, 10, 0, {1, 1}},
     "100 boards, 100 scorers, no viewers, 10 s,\nthe journal on disk and in memory by turns",
     printThroughputTargets,
     {},
     JournalPlan::both,
     FormatPlan::chosen,
     nullptr},
    {"throughput-match",
     {100, 0, 100, 0, 10, 0, {3, 1}},
     "the same with matches of first to 3 legs\nand single games by turns, compared",
     printMatchTargets,
     {},
     JournalPlan::chosen,
     FormatPlan::against_single_game,
     nullptr},
    {"delivery",
     {100, 1000, 100, 10, 20, 0, {1, 1}},
     "100 boards, 1000 viewers, 100 scorers at\n10 darts/s, 20 s",
     printDeliveryTargets,
     {},
     JournalPlan::chosen,
     FormatPlan::chosen,
     nullptr},
    {"memory",
     {100, 1000, 100, 0, kDefaultSeconds, 100'000, {1, 1}},
     "100 boards, 1000 viewers, 100 scorers,\n100,000 darts",
     printMemoryTargets,
     {},
     JournalPlan::chosen,
     FormatPlan::chosen,
     nullptr},
    {"restart",
     {100, 0, kRestartFillConnections, 0, kDefaultSeconds, 0, {1, 1}},
     "100 boards whose games of 300 calls are\nwritten over 20 connections, then the\nserver "
     "stopped and started on its journal",
     nullptr,
     {},
     JournalPlan::disk,
     FormatPlan::chosen,
     runRestarts},
    {"career",
     {kCareerBoards, 0, kCareerBoards, 0, kDefaultSeconds, 0, {1, 1}},
     "1000 matches of two players (first to 1\nleg) on 10 boards over 10 connections,\nthen "
     "one player's career read 20 times",
     nullptr,
     {},
     JournalPlan::disk,
     FormatPlan::chosen,
     runCareer},
    {"tournament",
     {kTournamentBoards, 0, 0, 0, kDefaultSeconds, 0, {1, 1}},
     "16 computers, groups then knockout, on\n4 boards with no pause, beside 4 boards\nwithout "
     "a competition",
     nullptr,
     {},
     JournalPlan::disk,
     FormatPlan::chosen,
     runTournament},
    {"reads",
     {2, 0, 1, 0, kDefaultSeconds, 0, {1, 1}},
     "a match of 8000 rows on board 1, over; a\nscorer on board 2 alone, beside 8\nclients "
     "reading its report and CSV, and\nwith every core kept busy",
     nullptr,
     {},
     JournalPlan::disk,
     FormatPlan::chosen,
     runReads},
};

// Columns of the usage text: where a name starts, and where its help does.
constexpr std::size_t kNameColumn = 20;
constexpr std::size_t kHelpColumn = 32;

}  // namespace

const Scenario* findScenario(const std::string& name) {
    for (const Scenario& scenario : kScenarios) {
        if (name == scenario.name) {
            return &scenario;
        }
    }
    return nullptr;
}

std::string scenarioNames() {
    std::string names;
    const std::size_t count = std::size(kScenarios);
    for (std::size_t i = 0; i < count; ++i) {
        names += (i == 0 ? "" : i + 1 == count ? " or " : ", ") + std::string(kScenarios[i].name);
    }
    return names;
}

std::string scenarioHelp() {
    std::string text;
    for (const Scenario& scenario : kScenarios) {
        std::string line = std::string(kNameColumn, ' ') + scenario.name;
        if (line.size() < kHelpColumn) {
            line.append(kHelpColumn - line.size(), ' ');
        } else {
            line += "\n" + std::string(kHelpColumn, ' ');  // a long name has a line of its own
        }
        for (const char* c = scenario.help; *c != '\0'; ++c) {
            line += *c;
            if (*c == '\n') {
                line += std::string(kHelpColumn, ' ');
            }
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace game501::load
