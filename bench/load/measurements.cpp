#include "measurements.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "scenarios.h"
#include "server_limits.h"
#include "server_process.h"

namespace game501::load {
namespace {

constexpr std::uint64_t kSamplingSeed = 1;
// Events remembered per board for matching answers with viewers: more than
// a viewer may fall behind before the server cuts it off.
constexpr std::size_t kTrackedEventsPerBoard = 4 * game501::server::kMaxQueuedEvents;

// CPUs whose in-process figures differ by more than this share are slowed
// by something outside this machine, and so are the run's figures.
constexpr double kCpuSpreadWarning = 0.20;

std::string firstLineOf(const std::string& path, const std::string& prefix) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(prefix, 0) == 0) {
            const std::size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

template <typename Value>
Value median(const std::vector<RunFigures>& runs, Value RunFigures::*field) {
    std::vector<Value> values;
    for (const RunFigures& run : runs) {
        values.push_back(run.*field);
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle]
                                  : static_cast<Value>((values[middle - 1] + values[middle]) / 2);
}

std::string describeJournal(JournalKind journal) {
    return journal == JournalKind::disk
               ? "on disk, a file in the run's temporary directory under " + TempDir::base()
               : std::string("in memory (--data :memory:), for comparison only");
}

// Says whether a journal's size includes a WAL that the server left.
std::string walText(double wal_bytes) {
    return wal_bytes > 0 ? "its WAL of " + fixed(wal_bytes, 0) + " bytes included"
                         : std::string("no WAL left");
}

void printRatio(const std::string& what, const RunFigures& of, const RunFigures& over) {
    std::cout << "  " << what << ": " << fixed(of.darts_per_second, 0) << " / "
              << fixed(over.darts_per_second, 0) << " = " << fixed(dartsRatio(of, over), 3) << "\n";
}

}  // namespace

Samples::Samples(std::size_t capacity) : capacity_(capacity), rng_(kSamplingSeed) {
    values_.reserve(capacity);
}

void Samples::add(std::int64_t value) {
    ++count_;
    if (values_.size() < capacity_) {
        values_.push_back(value);
        return;
    }
    const std::uint64_t slot = rng_() % count_;
    if (slot < capacity_) {
        values_[static_cast<std::size_t>(slot)] = value;
    }
}

double Samples::percentileMs(double fraction) {
    if (values_.empty()) {
        return -1;
    }
    const auto rank = static_cast<std::size_t>(
        std::max(1.0, std::ceil(fraction * static_cast<double>(values_.size()))) - 1);
    std::nth_element(values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(rank),
                     values_.end());
    return static_cast<double>(values_[rank]) / kNanosPerMilli;
}

DeliveryTracker::DeliveryTracker(int boards, Samples& samples)
    : boards_(static_cast<std::size_t>(boards)), samples_(samples) {}

void DeliveryTracker::addViewer(int board) {
    BoardEvents& events = boards_[static_cast<std::size_t>(board)];
    if (events.slots.empty()) {
        events.slots.resize(kTrackedEventsPerBoard);
    }
    ++events.viewers;
}

void DeliveryTracker::removeViewer(int board) {
    BoardEvents& events = boards_[static_cast<std::size_t>(board)];
    --events.viewers;
    for (Slot& slot : events.slots) {
        completeIfHeld(events, slot);
    }
}

void DeliveryTracker::onSent(int board, std::uint64_t id, std::int64_t sent_ns) {
    BoardEvents& events = boards_[static_cast<std::size_t>(board)];
    if (events.viewers == 0) {
        return;
    }
    Slot& slot = slotFor(events, id);
    slot.sent_ns = sent_ns;
    completeIfHeld(events, slot);
}

void DeliveryTracker::onHeld(int board, std::uint64_t id, std::int64_t held_ns) {
    BoardEvents& events = boards_[static_cast<std::size_t>(board)];
    Slot& slot = slotFor(events, id);
    ++slot.holders;
    slot.held_ns = std::max(slot.held_ns, held_ns);
    completeIfHeld(events, slot);
}

DeliveryTracker::Slot& DeliveryTracker::slotFor(BoardEvents& events, std::uint64_t id) {
    Slot& slot = events.slots[static_cast<std::size_t>(id % events.slots.size())];
    if (slot.id != id) {
        slot = Slot{};
        slot.id = id;
    }
    return slot;
}

void DeliveryTracker::completeIfHeld(const BoardEvents& events, Slot& slot) {
    if (slot.id == 0 || slot.done || slot.sent_ns < 0 || slot.holders == 0 ||
        slot.holders < events.viewers) {
        return;
    }
    slot.done = true;
    samples_.add(slot.held_ns - slot.sent_ns);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void printJournal(const std::string& data, double rows) {
    const JournalBytes bytes = journalBytes(data);
    const double total = bytes.file + std::max(bytes.wal, 0.0);
    std::cout << "journal: " << fixed(total, 0) << " bytes once the server stopped ("
              << walText(bytes.wal) << "), " << fixed(total / rows, 1) << " bytes per row of "
              << fixed(rows, 0) << "\n";
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one;
    std::string five;
    std::string fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string fixed(double value, int decimals) {
    if (value < 0) {
        return "n/a";
    }
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(decimals);
    out << value;
    return out.str();
}

void printHeading(int argc, char** argv, const Options& options) {
    std::cout << "game501_server_load";
    for (int i = 1; i < argc; ++i) {
        std::cout << " " << argv[i];
    }
    std::cout << "\nmachine: " << std::thread::hardware_concurrency() << " cores, "
              << firstLineOf("/proc/cpuinfo", "model name") << "\n"
              << "server: " << options.server << "\n";
    if (!options.compare_server.empty()) {
        std::cout << "compared with: " << options.compare_server << ", its runs by turns\n";
    }
    for (const JournalKind journal : options.journals) {
        std::cout << (journal == options.journals.front() ? "journal: " : "   and by turns ")
                  << describeJournal(journal) << "\n";
        if (journal == JournalKind::disk && onTmpfs(TempDir::base())) {
            std::cout << "note: " << TempDir::base()
                      << " is in memory (tmpfs), where a commit waits for no disk; set TMPDIR "
                         "to a directory on the disk to measure\n";
        }
    }
    if (options.scenario != nullptr && options.scenario->runner != nullptr) {
        return;
    }
    std::cout << "load: " << options.boards << " boards, " << options.viewers << " viewers, "
              << options.scorers << " scorers, "
              << (options.rate > 0 ? fixed(options.rate, 1) + " darts/s each"
                                   : std::string("unpaced"))
              << ", "
              << (options.darts != 0 ? std::to_string(options.darts) + " darts (at most " +
                                           fixed(options.loadSeconds(), 0) + " s)"
                                     : fixed(options.seconds, 1) + " s");
    const std::vector<Match501::Format> formats = runFormats(options);
    for (std::size_t i = 0; i < formats.size(); ++i) {
        std::cout << (i == 0 ? ", " : " and by turns ") << formatName(formats[i]);
    }
    std::cout << "\n";
}

void printScript(const Script& script) {
    std::cout << "script: " << script.games.size() << " games of " << kPlayers.size()
              << " players, " << script.darts << " darts, " << script.turns << " turns, "
              << script.busts << " busts\n";
}

void printRunStart(int run, int runs, const std::string& kind) {
    std::cout << "run " << run << " of " << runs << " (" << kind
              << ", load average before: " << loadAverage() << ")" << std::endl;
}

void printFigures(const Options& options, const RunFigures& f) {
    std::cout << "  accepted darts       " << f.darts << " in " << fixed(f.load_seconds, 2)
              << " s = " << fixed(f.darts_per_second, 0) << " darts/s (refused " << f.refused
              << (options.rate > 0 ? ", late " + std::to_string(f.late_darts) : "") << ")\n"
              << "  answer latency       p50 " << fixed(f.answer_p50_ms, 2) << " ms, p99 "
              << fixed(f.answer_p99_ms, 2) << " ms (darts)\n";
    if (options.viewers > 0) {
        std::cout << "  delivery latency     p99 " << fixed(f.delivery_p99_ms, 2) << " ms ("
                  << f.delivery_samples << " posts seen by every viewer of their board)\n"
                  << "  events               " << f.events_held << " held, " << f.events_lost
                  << " lost, " << f.viewers_gone << " viewers disconnected\n";
    }
    std::cout << "  server memory        start " << fixed(f.rss_start_mib, 1)
              << " MiB, viewers connected " << fixed(f.rss_viewers_mib, 1) << " MiB, after "
              << kWarmShare * 100 << " % of the load " << fixed(f.rss_warm_mib, 1) << " MiB, peak "
              << fixed(f.rss_peak_mib, 1) << " MiB, end " << fixed(f.rss_end_mib, 1) << " MiB\n"
              << "  CPU during the load  server " << fixed(f.server_cores, 2)
              << " cores, generator " << fixed(f.generator_cores, 2) << " cores\n"
              << "  in process           " << fixed(f.in_process_darts_per_second, 0)
              << " darts/s (addDart + dump, one thread, fastest CPU";
    for (const auto& [cpu, darts_per_second] : f.in_process_by_cpu) {
        std::cout << (cpu == f.in_process_by_cpu.front().first ? ": " : ", ") << "cpu" << cpu << " "
                  << fixed(darts_per_second, 0);
    }
    std::cout << "); network/in-process "
              << (options.rate > 0 ? "n/a (paced)" : fixed(f.network_share, 3)) << "\n";
    if (f.in_process_by_cpu.size() > 1) {
        double slowest = f.in_process_darts_per_second;
        for (const auto& [cpu, darts_per_second] : f.in_process_by_cpu) {
            slowest = std::min(slowest, darts_per_second);
        }
        if (slowest < f.in_process_darts_per_second * (1 - kCpuSpreadWarning)) {
            std::cout << "  note                 one CPU ran the same darts "
                      << fixed(100 * (1 - slowest / f.in_process_darts_per_second), 0)
                      << " % slower: the host is busy and this run's figures may be low\n";
        }
    }
    if (!f.journal_kept) {
        std::cout << "  journal              none: the server takes no --data\n";
    } else if (f.kind.journal == JournalKind::memory) {
        std::cout << "  journal              in memory: no file\n";
    } else {
        std::cout << "  journal              " << fixed(f.journal_bytes, 0)
                  << " bytes once the server stopped (" << walText(f.journal_wal_bytes) << "), "
                  << fixed(f.journal_bytes_per_dart, 1) << " bytes per accepted dart (all "
                  << f.journal_rows
                  << " rows, starts, clears and refused darts included, over the accepted "
                     "darts)\n";
    }
    if (!f.server_exit.empty()) {
        std::cout << "  server               " << f.server_exit << " after SIGTERM\n";
    }
    if (f.errors > 0) {
        std::cout << "  errors               " << f.errors << "\n";
        for (const std::string& message : f.error_messages) {
            std::cout << "    " << message << "\n";
        }
    }
}

RunFigures medianFigures(const std::vector<RunFigures>& runs) {
    RunFigures f;
    for (auto field :
         {&RunFigures::load_seconds, &RunFigures::darts_per_second, &RunFigures::answer_p50_ms,
          &RunFigures::answer_p99_ms, &RunFigures::delivery_p99_ms, &RunFigures::rss_start_mib,
          &RunFigures::rss_viewers_mib, &RunFigures::rss_warm_mib, &RunFigures::rss_peak_mib,
          &RunFigures::rss_end_mib, &RunFigures::server_cores, &RunFigures::generator_cores,
          &RunFigures::in_process_darts_per_second, &RunFigures::network_share,
          &RunFigures::journal_bytes, &RunFigures::journal_wal_bytes,
          &RunFigures::journal_bytes_per_dart}) {
        f.*field = median(runs, field);
    }
    for (auto field :
         {&RunFigures::darts, &RunFigures::refused, &RunFigures::delivery_samples,
          &RunFigures::events_held, &RunFigures::events_lost, &RunFigures::viewers_gone,
          &RunFigures::late_darts, &RunFigures::errors, &RunFigures::journal_rows}) {
        f.*field = median(runs, field);
    }
    f.kind = runs.front().kind;
    f.journal_kept = runs.front().journal_kept;
    return f;
}

const RunFigures* medianOf(const std::vector<RunFigures>& medians, const RunKind& kind) {
    for (const RunFigures& median : medians) {
        if (sameKind(median.kind, kind)) {
            return &median;
        }
    }
    return nullptr;
}

double dartsRatio(const RunFigures& of, const RunFigures& over) {
    return over.darts_per_second > 0 ? of.darts_per_second / over.darts_per_second : -1;
}

void printComparisons(const Options& options, const std::vector<RunFigures>& medians) {
    const Match501::Format first = runFormats(options).front();
    bool any = false;
    const auto heading = [&any] {
        if (!any) {
            std::cout << "comparisons (accepted darts/s of the medians)\n";
            any = true;
        }
    };
    for (const RunFigures& median : medians) {
        RunKind base = median.kind;
        base.format = first;
        const RunFigures* const single = medianOf(medians, base);
        if (single != nullptr && single != &median) {
            heading();
            printRatio(formatName(median.kind.format) + " / " + formatName(first) + " (" +
                           kindName(median.kind, options, KindPart::format) + ")",
                       median, *single);
        }
        RunKind other = median.kind;
        other.other_server = true;
        const RunFigures* const compared = medianOf(medians, other);
        if (compared != nullptr && compared != &median) {
            heading();
            printRatio("this server / the other (" +
                           kindName(median.kind, options, KindPart::server) + ")",
                       median, *compared);
        }
    }
}

}  // namespace game501::load
