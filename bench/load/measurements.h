// What the generator measures and prints: the clock and units, the figures
// of a run, latencies, which posts every viewer of their board has seen,
// the medians of runs and their comparisons.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "options.h"
#include "script.h"

namespace game501::load {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

inline constexpr double kNanosPerMilli = 1e6;
inline constexpr double kNanosPerSecond = 1e9;
inline constexpr double kBytesPerKib = 1024;
inline constexpr double kBytesPerMb = 1e6;
inline constexpr double kKibPerMib = 1024;

// The server's memory is taken again after this share of the load: before
// it, the boards' engines fill up from empty.
inline constexpr double kWarmShare = 0.10;

// The figures of one run, as measured and as reported; -1 where a figure was
// not measured.
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

// Latencies in nanoseconds, in memory reserved once: past its capacity a
// uniform sample of all values is kept.
class Samples {
public:
    explicit Samples(std::size_t capacity);

    void add(std::int64_t value);
    std::uint64_t count() const { return count_; }
    // Nearest rank; -1 when there is no value.
    double percentileMs(double fraction);

private:
    const std::size_t capacity_;
    std::vector<std::int64_t> values_;
    std::uint64_t count_ = 0;
    std::mt19937_64 rng_;
};

// Matches each post with its event on every viewer of its board: the
// delivery latency runs from the post's sending to the moment the last
// viewer of the board holds the whole event. Answers and events arrive in
// either order.
class DeliveryTracker {
public:
    DeliveryTracker(int boards, Samples& samples);

    void addViewer(int board);
    // A viewer gone no longer holds up the events it will never see.
    void removeViewer(int board);
    void onSent(int board, std::uint64_t id, std::int64_t sent_ns);
    void onHeld(int board, std::uint64_t id, std::int64_t held_ns);

private:
    struct Slot {
        std::uint64_t id = 0;
        std::int64_t sent_ns = -1;
        std::int64_t held_ns = 0;
        int holders = 0;
        bool done = false;
    };
    struct BoardEvents {
        std::vector<Slot> slots;
        int viewers = 0;
    };

    static Slot& slotFor(BoardEvents& events, std::uint64_t id);
    void completeIfHeld(const BoardEvents& events, Slot& slot);

    std::vector<BoardEvents> boards_;
    Samples& samples_;
};

// Returns `value` with `decimals` decimals, or "n/a" for a figure not measured.
std::string fixed(double value, int decimals);

// Returns the middle value, or the mean of the two middle ones.
double median(std::vector<double> values);

// Returns every figure as the median of its own values over the runs, all
// of one kind.
RunFigures medianFigures(const std::vector<RunFigures>& runs);

// Returns the median of the runs of `kind`, or null when none ran.
const RunFigures* medianOf(const std::vector<RunFigures>& medians, const RunKind& kind);

// Returns the accepted darts a second of `of` over those of `over`, -1 when
// `over` has none.
double dartsRatio(const RunFigures& of, const RunFigures& over);

// Returns the machine's load average over 1, 5 and 15 minutes.
std::string loadAverage();

// Prints the size of the journal `data` once its server has stopped, and its
// bytes per row of the `rows` it holds.
void printJournal(const std::string& data, double rows);

// Prints the command line, the machine, the journals and the load, before
// the runs.
void printHeading(int argc, char** argv, const Options& options);

void printScript(const Script& script);

// Prints the line before run `run` of `runs`, with its kind (kindName) and
// the machine's load average.
void printRunStart(int run, int runs, const std::string& kind);

void printFigures(const Options& options, const RunFigures& figures);

// Prints, for every median whose kind differs from another's only in its
// format or only in its server, its accepted darts a second over the other's.
void printComparisons(const Options& options, const std::vector<RunFigures>& medians);

}  // namespace game501::load
