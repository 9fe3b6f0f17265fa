// The figures of one run, as measured and as reported.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "run_kind.h"

namespace game501::load {

// The server's memory is taken again after this share of the load: before
// it, the boards' engines fill up from empty.
inline constexpr double kWarmShare = 0.10;

// -1 where a figure was not measured.
struct RunFigures {
    double load_seconds = 0;
    std::uint64_t darts = 0;
    std::uint64_t refused = 0;
    double darts_per_second = 0;
    double answer_p50_ms = -1;
    double answer_p99_ms = -1;
    double delivery_p99_ms = -1;
    std::uint64_t delivery_samples = 0;
    std::uint64_t events_held = 0;
    std::uint64_t events_lost = 0;
    std::uint64_t viewers_gone = 0;
    std::uint64_t late_darts = 0;
    double rss_start_mib = -1;
    double rss_viewers_mib = -1;
    double rss_warm_mib = -1;
    double rss_peak_mib = -1;
    double rss_end_mib = -1;
    double server_cores = -1;
    double generator_cores = -1;
    double in_process_darts_per_second = 0;  // on the fastest CPU
    std::vector<std::pair<int, double>> in_process_by_cpu;
    double network_share = 0;
    RunKind kind;
    bool journal_kept = true;  // false: the server takes no --data and keeps nothing
    // Rows of the journal: one for every event of every board, the starts,
    // clears and refused darts among them.
    std::uint64_t journal_rows = 0;
    // Once the server has stopped; -1 for a journal in memory.
    double journal_bytes = -1;  // the database file, and its log if one is left
    double journal_wal_bytes = -1;
    double journal_bytes_per_dart = -1;  // over the accepted darts
    std::uint64_t errors = 0;
    std::vector<std::string> error_messages;
    std::string server_exit;
    bool server_clean = false;
    bool viewers_all_ready = true;
};

}  // namespace game501::load
