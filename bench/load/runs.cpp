#include "runs.h"

#include <time.h>

#include <algorithm>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/beast/core/error.hpp>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "clients.h"
#include "in_process.h"
#include "measurements.h"
#include "scenarios.h"
#include "script.h"
#include "server_process.h"

namespace game501::load {
namespace {

// The bounds of the load's phases (and kRequestTimeout), which bound the
// whole run.
constexpr std::chrono::seconds kConnectTime{20};
constexpr std::chrono::seconds kDrainTime{5};
constexpr std::chrono::seconds kTeardownTime{2};
constexpr std::size_t kReadChunkBytes = 64 * 1024;
constexpr std::chrono::milliseconds kRssSampleInterval{250};
// Shorter loads say nothing about the CPU they used.
constexpr double kMinCpuWindowSeconds = 0.1;

// Each client connects from a loopback address of its own, as each tablet
// and phone has one, since the server bounds the connections of an address:
// 127.N.0.1 onwards, with N one of these.
constexpr unsigned char kViewersNetwork = 1;
constexpr unsigned char kScorersNetwork = 2;
constexpr int kClientsPerBlock = 250;

net::ip::address clientAddress(unsigned char network, int index) {
    return net::ip::make_address_v4(net::ip::address_v4::bytes_type{
        127, network, static_cast<unsigned char>(index / kClientsPerBlock),
        static_cast<unsigned char>(1 + index % kClientsPerBlock)});
}

// The load of one run: connects the viewers and then the scorers to a
// running server, lets the scorers play, waits for the viewers to catch up,
// and measures on the way.
class LoadRun {
public:
    // The scorers start their matches with `start_body`.
    LoadRun(const Options& options, const Script& script, std::string start_body,
            const ServerProcess& server, unsigned short port, std::vector<std::string> tokens);
    LoadRun(const LoadRun&) = delete;
    LoadRun& operator=(const LoadRun&) = delete;
    ~LoadRun();

    // Connects the viewers, then the scorers, plays, drains the viewers and
    // returns the figures measured on the network.
    RunFigures run();

    bool interrupted() const { return interrupted_; }

private:
    double rssMib() const;
    // Runs the clients until `done` holds, the deadline passes or a signal
    // interrupts, sampling the server's memory on the way.
    template <typename Done>
    void runUntil(Clock::time_point deadline, Done done);
    bool scorersIdle() const;
    void play(RunFigures& figures);

    const Options& options_;
    const Script& script_;
    const std::string start_body_;
    const ServerProcess& server_;
    const tcp::endpoint endpoint_;
    const std::string host_;
    const std::vector<std::string> tokens_;
    RunState state_;
    // Declared before the clients, so that their sockets go first.
    net::io_context io_;
    net::executor_work_guard<net::io_context::executor_type> guard_;
    net::signal_set signals_;
    std::vector<char> scratch_;  // what viewers read, one at a time
    std::vector<std::unique_ptr<Viewer>> viewers_;
    std::vector<std::unique_ptr<Scorer>> scorers_;
    Clock::time_point next_rss_sample_{};
    double peak_rss_mib_ = -1;
    double rss_warm_mib_ = -1;
    std::uint64_t warm_darts_ = std::numeric_limits<std::uint64_t>::max();
    Clock::time_point warm_time_ = Clock::time_point::max();
    bool interrupted_ = false;
};

double ownCpuSeconds() {
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / kNanosPerSecond;
}

LoadRun::LoadRun(const Options& options, const Script& script, std::string start_body,
                 const ServerProcess& server, unsigned short port, std::vector<std::string> tokens)
    : options_(options),
      script_(script),
      start_body_(std::move(start_body)),
      server_(server),
      endpoint_(net::ip::make_address("127.0.0.1"), port),
      host_("127.0.0.1:" + std::to_string(port)),
      tokens_(std::move(tokens)),
      state_(options),
      guard_(net::make_work_guard(io_)),
      signals_(io_, SIGINT, SIGTERM),
      scratch_(kReadChunkBytes) {
    signals_.async_wait([this](const beast::error_code& signal_error, int) {
        if (!signal_error) {
            interrupted_ = true;
        }
    });
}

LoadRun::~LoadRun() {
    state_.close();
    for (const std::unique_ptr<Viewer>& viewer : viewers_) {
        viewer->close();
    }
    for (const std::unique_ptr<Scorer>& scorer : scorers_) {
        scorer->close();
    }
    beast::error_code ignored;
    signals_.cancel(ignored);
    guard_.reset();
    io_.run_for(kTeardownTime);
}

RunFigures LoadRun::run() {
    RunFigures figures;
    figures.rss_start_mib = rssMib();
    peak_rss_mib_ = figures.rss_start_mib;

    for (int i = 0; i < options_.viewers; ++i) {
        viewers_.push_back(
            std::make_unique<Viewer>(io_, state_, scratch_, host_, i % options_.boards));
        viewers_.back()->connect(endpoint_, clientAddress(kViewersNetwork, i));
    }
    runUntil(Clock::now() + kConnectTime, [this] {
        return state_.viewersReady() + state_.connectFailures() == options_.viewers;
    });
    figures.viewers_all_ready = state_.viewersReady() == options_.viewers;
    if (!figures.viewers_all_ready) {
        state_.error("only " + std::to_string(state_.viewersReady()) + " of " +
                     std::to_string(options_.viewers) + " viewers connected");
    }
    figures.rss_viewers_mib = rssMib();

    for (int i = 0; i < options_.scorers; ++i) {
        // Scorers take the boards in turn: a board is shared when some
        // scorer's turn comes round to it again.
        const int board = i % options_.boards;
        const bool shared = board + options_.boards < options_.scorers;
        scorers_.push_back(std::make_unique<Scorer>(
            io_, state_, script_, start_body_, host_, tokens_[static_cast<std::size_t>(board)],
            board, static_cast<std::size_t>(i) % script_.games.size(), options_.rate, shared));
        scorers_.back()->connect(endpoint_, clientAddress(kScorersNetwork, i));
    }
    runUntil(Clock::now() + kConnectTime, [this] {
        return std::all_of(scorers_.begin(), scorers_.end(),
                           [](const std::unique_ptr<Scorer>& scorer) {
                               return scorer->connected() || !scorer->busy();
                           });
    });

    play(figures);

    // Every viewer should now catch up with the last event of its board.
    runUntil(Clock::now() + kDrainTime, [this] {
        return std::all_of(
            viewers_.begin(), viewers_.end(), [this](const std::unique_ptr<Viewer>& viewer) {
                return !viewer->alive() || viewer->lastId() >= state_.lastEventId(viewer->board());
            });
    });
    for (const std::unique_ptr<Viewer>& viewer : viewers_) {
        const std::uint64_t last = state_.lastEventId(viewer->board());
        figures.events_lost +=
            viewer->gaps() + (last > viewer->lastId() ? last - viewer->lastId() : 0);
    }
    figures.rss_end_mib = rssMib();
    peak_rss_mib_ = std::max(peak_rss_mib_, figures.rss_end_mib);
    figures.rss_peak_mib = peak_rss_mib_;
    figures.rss_warm_mib = rss_warm_mib_;
    state_.report(figures);
    return figures;
}

double LoadRun::rssMib() const {
    const long kib = server_.rssKib();
    return kib < 0 ? -1 : static_cast<double>(kib) / kKibPerMib;
}

template <typename Done>
void LoadRun::runUntil(Clock::time_point deadline, Done done) {
    while (!done() && !interrupted_) {
        const Clock::time_point now = Clock::now();
        if (now >= next_rss_sample_) {
            peak_rss_mib_ = std::max(peak_rss_mib_, rssMib());
            next_rss_sample_ = now + kRssSampleInterval;
        }
        if (rss_warm_mib_ < 0 && (state_.dartsAccepted() >= warm_darts_ || now >= warm_time_)) {
            rss_warm_mib_ = rssMib();
        }
        if (now >= deadline) {
            return;
        }
        io_.run_one_until(std::min(deadline, next_rss_sample_));
    }
}

bool LoadRun::scorersIdle() const {
    return std::none_of(scorers_.begin(), scorers_.end(),
                        [](const std::unique_ptr<Scorer>& scorer) { return scorer->busy(); });
}

void LoadRun::play(RunFigures& figures) {
    const double server_cpu = server_.cpuSeconds();
    const double own_cpu = ownCpuSeconds();
    const Clock::time_point start = Clock::now();
    const auto length =
        std::chrono::duration_cast<Clock::duration>(Seconds(options_.loadSeconds()));
    if (options_.darts != 0) {
        warm_darts_ = static_cast<std::uint64_t>(static_cast<double>(options_.darts) * kWarmShare);
    } else {
        warm_time_ = start + std::chrono::duration_cast<Clock::duration>(length * kWarmShare);
    }
    for (std::size_t i = 0; i < scorers_.size(); ++i) {
        // Paced scorers start spread over one period, not all at once.
        const double offset =
            options_.rate > 0
                ? static_cast<double>(i) / static_cast<double>(scorers_.size()) / options_.rate
                : 0;
        scorers_[i]->begin(start + std::chrono::duration_cast<Clock::duration>(Seconds(offset)));
    }
    runUntil(start + length, [this] { return scorersIdle(); });
    state_.stop();
    for (const std::unique_ptr<Scorer>& scorer : scorers_) {
        scorer->stop();
    }
    runUntil(Clock::now() + kRequestTimeout, [this] { return scorersIdle(); });
    const Clock::time_point end = Clock::now();
    const auto stuck =
        std::count_if(scorers_.begin(), scorers_.end(),
                      [](const std::unique_ptr<Scorer>& scorer) { return scorer->busy(); });
    if (stuck > 0 && !interrupted_) {
        state_.error(std::to_string(stuck) + " scorers had no answer " +
                     std::to_string(kRequestTimeout.count()) + " s after the load ended");
    }
    figures.load_seconds = Seconds(end - start).count();
    if (figures.load_seconds >= kMinCpuWindowSeconds) {
        figures.server_cores = (server_.cpuSeconds() - server_cpu) / figures.load_seconds;
        figures.generator_cores = (ownCpuSeconds() - own_cpu) / figures.load_seconds;
    }
}

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

// Starts `program` with a fresh tokens file and the journal of `kind`, puts
// the load on it with matches of that kind's format, stops it, measures the
// journal and plays the same darts in process. Throws when the server cannot
// be started or the run is interrupted.
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

// A smoke run is small enough that any lost event is the generator's or the
// server's fault, never the machine's; with one scorer a board, so is a
// refused dart.
bool allWell(const Options& options, const std::vector<RunFigures>& runs) {
    bool ok = true;
    for (const RunFigures& run : runs) {
        ok = ok && run.errors == 0 && run.server_clean && run.viewers_all_ready && run.darts > 0;
        ok = ok && (!options.smoke ||
                    (run.events_lost == 0 && (options.viewers == 0 || run.events_held > 0) &&
                     (options.scorers > options.boards || run.refused == 0)));
    }
    return ok;
}

// Returns --server's program, then --compare-server's if any, and says of
// each that keeps nothing.
std::vector<ServerProgram> probePrograms(const Options& options) {
    std::vector<ServerProgram> programs = {probeServer(options.server)};
    if (!options.compare_server.empty()) {
        programs.push_back(probeServer(options.compare_server));
    }
    for (const ServerProgram& program : programs) {
        if (!program.takes_data) {
            std::cout << "note: " << program.path
                      << " names no --data in its --help: started without it, it keeps "
                         "nothing\n";
        }
    }
    return programs;
}

}  // namespace

bool runLoads(const Options& options) {
    const Script script = buildScript();
    printScript(script);
    const std::vector<ServerProgram> programs = probePrograms(options);
    const std::vector<RunKind> kinds = runKinds(options);
    const int runs = options.runs * static_cast<int>(kinds.size());
    std::vector<RunFigures> figures;
    for (int run = 0; run < runs; ++run) {
        const RunKind& kind = kinds[static_cast<std::size_t>(run) % kinds.size()];
        printRunStart(run + 1, runs, kindName(kind, options));
        figures.push_back(runOnce(options, script, kind, programs[kind.other_server ? 1 : 0]));
        printFigures(options, figures.back());
    }
    if (figures.size() > 1 || options.scenario != nullptr) {
        std::vector<RunFigures> medians;
        for (const RunKind& kind : kinds) {
            std::vector<RunFigures> of_kind;
            std::copy_if(figures.begin(), figures.end(), std::back_inserter(of_kind),
                         [&kind](const RunFigures& f) { return sameKind(f.kind, kind); });
            medians.push_back(medianFigures(of_kind));
            std::cout << "median of " << of_kind.size() << " runs, " << kindName(kind, options)
                      << "\n";
            printFigures(options, medians.back());
        }
        printComparisons(options, medians);
        if (options.scenario != nullptr && options.scenario->targets != nullptr) {
            options.scenario->targets(options, figures, medians);
        }
    }
    return allWell(options, figures);
}
}  // namespace game501::load
