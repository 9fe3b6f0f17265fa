// What the clients of one run share and report to: the run's clock and
// phase, the darts still to throw, and everything they count. The clients
// and the run live on one thread, so nothing here locks.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "figures.h"
#include "measurements.h"
#include "options.h"
#include "units.h"

namespace game501::load {

class RunState {
public:
    explicit RunState(const Options& options);
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    std::int64_t nowNs() const {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - epoch_).count();
    }
    // The load is over: no scorer starts another request.
    bool stopping() const { return stopping_; }
    void stop() { stopping_ = true; }
    // The clients are being torn down: what fails now is no error.
    bool closing() const { return closing_; }
    void close() { closing_ = true; }

    // Returns whether a scorer may throw one more dart, and counts it.
    bool takeDartTicket();

    void onAnswered(int board, std::uint64_t event_id, std::int64_t sent_ns);
    void onDart(bool accepted, std::int64_t latency_ns);
    void onLateDart() { ++late_darts_; }
    void onViewerReady(int board);
    void onEventHeld(int board, std::uint64_t id);
    void onViewerGone(int board);
    void onConnectFailed() { ++failures_; }
    // Counts an error and keeps the first few messages.
    void error(const std::string& message);

    int viewersReady() const { return viewers_ready_; }
    int connectFailures() const { return failures_; }
    std::uint64_t dartsAccepted() const { return darts_accepted_; }
    // The newest event id answered on `board`.
    std::uint64_t lastEventId(int board) const {
        return board_last_id_[static_cast<std::size_t>(board)];
    }

    // Puts the counts and latencies into `figures`.
    void report(RunFigures& figures);

private:
    const std::uint64_t dart_limit_;  // 0: none
    const Clock::time_point epoch_;
    Samples answer_latency_;
    Samples delivery_latency_;
    DeliveryTracker tracker_;
    std::vector<std::uint64_t> board_last_id_;
    std::uint64_t darts_issued_ = 0;
    std::uint64_t darts_accepted_ = 0;
    std::uint64_t darts_refused_ = 0;
    std::uint64_t late_darts_ = 0;
    std::uint64_t events_held_ = 0;
    std::uint64_t viewers_gone_ = 0;
    std::uint64_t errors_ = 0;
    std::vector<std::string> error_messages_;
    int viewers_ready_ = 0;
    int failures_ = 0;
    bool stopping_ = false;
    bool closing_ = false;
};

}  // namespace game501::load
