#include "load_run.h"

#include <time.h>

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <boost/beast/core/error.hpp>
#include <csignal>
#include <cstddef>
#include <utility>

namespace game501::load {
namespace {

constexpr std::size_t kReadChunkBytes = 64 * 1024;
constexpr std::chrono::milliseconds kRssSampleInterval{250};
// Shorter loads say nothing about the CPU they used.
constexpr double kMinCpuWindowSeconds = 0.1;

double ownCpuSeconds() {
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / kNanosPerSecond;
}

}  // namespace

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
        viewers_.back()->connect(endpoint_);
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
        const int board = i % options_.boards;
        scorers_.push_back(std::make_unique<Scorer>(
            io_, state_, script_, start_body_, host_, tokens_[static_cast<std::size_t>(board)],
            board, static_cast<std::size_t>(i) % script_.games.size(), options_.rate));
        scorers_.back()->connect(endpoint_);
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

}  // namespace game501::load
