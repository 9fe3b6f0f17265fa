#include "run_state.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>

namespace game501::load {
namespace {

constexpr std::size_t kMinLatencySamples = 1024;
constexpr std::size_t kMaxLatencySamples = std::size_t{1} << 21;
// Used only to size the latency vectors of unpaced runs, never as a limit.
constexpr double kAssumedMaxDartsPerSecond = 20'000;
// Each dart comes with at most one clear and rarely a start: events per dart.
constexpr double kEventsPerDartBound = 1.5;
constexpr std::size_t kMaxErrorMessages = 5;

std::size_t latencyCapacity(const Options& options, double per_dart) {
    const double darts = options.darts != 0 ? static_cast<double>(options.darts)
                         : options.rate > 0 ? options.rate * options.scorers * options.loadSeconds()
                                            : kAssumedMaxDartsPerSecond * options.loadSeconds();
    const double wanted = std::ceil(darts * per_dart);
    return per_dart == 0 ? 0
                         : std::clamp(static_cast<std::size_t>(wanted), kMinLatencySamples,
                                      kMaxLatencySamples);
}

}  // namespace

RunState::RunState(const Options& options)
    : dart_limit_(options.darts),
      epoch_(Clock::now()),
      answer_latency_(latencyCapacity(options, 1)),
      delivery_latency_(latencyCapacity(options, options.viewers > 0 ? kEventsPerDartBound : 0)),
      tracker_(options.boards, delivery_latency_),
      board_last_id_(static_cast<std::size_t>(options.boards), 0) {}

bool RunState::takeDartTicket() {
    if (dart_limit_ != 0 && darts_issued_ >= dart_limit_) {
        return false;
    }
    ++darts_issued_;
    return true;
}

void RunState::onAnswered(int board, std::uint64_t event_id, std::int64_t sent_ns) {
    std::uint64_t& last = board_last_id_[static_cast<std::size_t>(board)];
    last = std::max(last, event_id);
    tracker_.onSent(board, event_id, sent_ns);
}

void RunState::onDart(bool accepted, std::int64_t latency_ns) {
    answer_latency_.add(latency_ns);
    ++(accepted ? darts_accepted_ : darts_refused_);
}

void RunState::onViewerReady(int board) {
    ++viewers_ready_;
    tracker_.addViewer(board);
}

void RunState::onEventHeld(int board, std::uint64_t id) {
    ++events_held_;
    tracker_.onHeld(board, id, nowNs());
}

void RunState::onViewerGone(int board) {
    ++viewers_gone_;
    tracker_.removeViewer(board);
}

void RunState::error(const std::string& message) {
    ++errors_;
    if (error_messages_.size() < kMaxErrorMessages) {
        error_messages_.push_back(message);
    }
}

void RunState::report(RunFigures& figures) {
    figures.darts = darts_accepted_;
    figures.refused = darts_refused_;
    figures.darts_per_second =
        figures.load_seconds > 0 ? static_cast<double>(darts_accepted_) / figures.load_seconds : 0;
    figures.answer_p50_ms = answer_latency_.percentileMs(0.50);
    figures.answer_p99_ms = answer_latency_.percentileMs(0.99);
    figures.delivery_p99_ms = delivery_latency_.percentileMs(0.99);
    figures.delivery_samples = delivery_latency_.count();
    figures.events_held = events_held_;
    figures.viewers_gone = viewers_gone_;
    figures.late_darts = late_darts_;
    figures.errors = errors_;
    figures.error_messages = error_messages_;
    // Every board's journal started empty, and every call it answered is a row.
    figures.journal_rows =
        std::accumulate(board_last_id_.begin(), board_last_id_.end(), std::uint64_t{0});
}

}  // namespace game501::load
