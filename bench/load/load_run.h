// The load of one run: connects the viewers and then the scorers to a
// running server, lets the scorers play, waits for the viewers to catch up,
// and measures on the way.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "asio_names.h"
#include "figures.h"
#include "options.h"
#include "run_state.h"
#include "scorer.h"
#include "script.h"
#include "server_process.h"
#include "units.h"
#include "viewer.h"

namespace game501::load {

// The bounds of the load's phases, which bound the whole run.
inline constexpr std::chrono::seconds kConnectTime{20};
inline constexpr std::chrono::seconds kRequestTimeout{10};
inline constexpr std::chrono::seconds kDrainTime{5};
inline constexpr std::chrono::seconds kTeardownTime{2};

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

}  // namespace game501::load
