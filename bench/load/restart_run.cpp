#include "restart_run.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "board_fill.h"
#include "http_client.h"
#include "journal_files.h"
#include "report.h"
#include "server_process.h"
#include "server_setup.h"
#include "targets.h"
#include "temp_dir.h"
#include "units.h"
#include "watchdog.h"

namespace game501::load {
namespace {

constexpr std::chrono::seconds kFillTime{120};
// Reading every board, and writing once to each.
constexpr std::chrono::seconds kCheckTime{30};
constexpr std::chrono::seconds kHardTimeoutMargin{30};

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
            sendAccepted(client, number, tokens[i], missAfter(documents[i].json)).event_id;
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

}  // namespace

bool runRestarts(const Options& options) {
    const Clock::time_point begin = Clock::now();
    TempDir dir;
    const ServerSetup setup = prepareServer(options, {options.server}, JournalKind::disk, dir);
    auto server = std::make_unique<ServerProcess>(options.server, setup.args);
    const Clock::duration hard_limit =
        kServerStartTime + kFillTime + kCheckTime +
        options.runs * (kServerStopTime + kServerStartTime + kCheckTime) + kServerStopTime +
        kHardTimeoutMargin;
    Watchdog watchdog(begin + hard_limit, server->pid(), dir);
    unsigned short port = server->waitForPort(options.boards, begin + kServerStartTime);

    std::cout << "restart: " << options.boards << " boards whose games hold "
              << kRestartCallsPerBoard << " calls each, written over " << options.scorers
              << " connections, then " << options.runs << " restarts" << std::endl;
    const Clock::time_point fill_start = Clock::now();
    fillBoards(port, setup.tokens, kRestartCallsPerBoard, options.scorers, fill_start + kFillTime);
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

}  // namespace game501::load
