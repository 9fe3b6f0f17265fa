#include "run_once.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <utility>

#include "in_process.h"
#include "load_run.h"
#include "server_process.h"
#include "server_setup.h"
#include "temp_dir.h"
#include "units.h"
#include "watchdog.h"

namespace game501::load {
namespace {

constexpr std::chrono::seconds kHardTimeoutMargin{30};

// SQLite folds its log into the file when the server closes the database;
// a log left behind is counted too.
void measureJournal(const std::string& data, RunFigures& figures) {
    const JournalBytes bytes = journalBytes(data);
    if (bytes.file < 0) {
        return;
    }
    figures.journal_wal_bytes = std::max(bytes.wal, 0.0);
    figures.journal_bytes = bytes.file + figures.journal_wal_bytes;
    if (figures.darts > 0) {
        figures.journal_bytes_per_dart = figures.journal_bytes / static_cast<double>(figures.darts);
    }
}

}  // namespace

RunFigures runOnce(const Options& options, const Script& script, const RunKind& kind,
                   const ServerProgram& program) {
    const Clock::time_point begin = Clock::now();
    TempDir dir;
    ServerSetup setup = prepareServer(options, program, kind.journal, dir);
    ServerProcess server(program.path, setup.args);
    // The most every phase may take, and a margin.
    const Clock::duration hard_limit =
        kServerStartTime + 2 * kConnectTime +
        std::chrono::duration_cast<Clock::duration>(Seconds(options.loadSeconds())) +
        kRequestTimeout + kDrainTime + kTeardownTime + kServerStopTime +
        std::chrono::duration_cast<Clock::duration>(Seconds(options.in_process_seconds)) +
        kHardTimeoutMargin;
    const Watchdog watchdog(begin + hard_limit, server.pid(), dir);
    const unsigned short port = server.waitForPort(options.boards, begin + kServerStartTime);

    RunFigures figures;
    {
        LoadRun load(options, script, startBody(kPlayers, kind.format), server, port,
                     std::move(setup.tokens));
        figures = load.run();
        if (load.interrupted()) {
            figures.server_exit = server.stop();
            throw std::runtime_error("interrupted");
        }
    }
    figures.kind = kind;
    figures.journal_kept = program.takes_data;
    figures.server_exit = server.stop();
    figures.server_clean = server.exitedCleanly();
    if (!figures.server_clean) {
        ++figures.errors;
        figures.error_messages.push_back("the server ended with " + figures.server_exit);
    }
    measureJournal(setup.data, figures);

    figures.in_process_by_cpu = inProcessByCpu(script, kind.format, options.in_process_seconds);
    for (const auto& [cpu, darts_per_second] : figures.in_process_by_cpu) {
        figures.in_process_darts_per_second =
            std::max(figures.in_process_darts_per_second, darts_per_second);
    }
    figures.network_share = figures.in_process_darts_per_second > 0
                                ? figures.darts_per_second / figures.in_process_darts_per_second
                                : 0;
    return figures;
}

}  // namespace game501::load
