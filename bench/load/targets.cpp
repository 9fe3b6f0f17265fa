#include "targets.h"

#include <cstdint>
#include <iostream>
#include <string>

#include "comparisons.h"
#include "report.h"
#include "run_kind.h"
#include "units.h"

namespace game501::load {
namespace {

constexpr double kTargetDartsPerSecond = 5000;
constexpr double kTargetAnswerP99Ms = 25;
constexpr double kTargetDiskShare = 0.5;
constexpr double kTargetNetworkShare = 0.25;
constexpr double kTargetDeliveryP99Ms = 100;
constexpr double kTargetIdleViewersMb = 50;
constexpr double kFlatMemoryTolerance = 0.10;
constexpr double kTargetRestartSeconds = 2;
constexpr double kTargetMatchShare = 0.9;
constexpr double kTargetCareerMs = 50;

std::string verdict(bool met) { return met ? "met" : "MISSED"; }

// The median of --server's runs of the chosen format with `journal`.
const RunFigures* medianWith(const Options& options, const std::vector<RunFigures>& medians,
                             JournalKind journal) {
    return medianOf(medians, RunKind{journal, options.format, false});
}

}  // namespace

// The network's share was first judged on a server that kept nothing; the
// journal in memory comes closest to it, so it is judged there when it ran.
void printThroughputTargets(const Options& options, const std::vector<RunFigures>&,
                            const std::vector<RunFigures>& medians) {
    const RunFigures* const disk = medianWith(options, medians, JournalKind::disk);
    const RunFigures* const memory = medianWith(options, medians, JournalKind::memory);
    const RunFigures& network = memory != nullptr ? *memory : medians.front();
    const double disk_share = disk != nullptr && memory != nullptr && memory->darts_per_second > 0
                                  ? disk->darts_per_second / memory->darts_per_second
                                  : -1;
    std::cout << "targets\n"
              << "  >= " << kTargetDartsPerSecond << " darts/s with the journal on disk: "
              << (disk == nullptr ? "n/a"
                                  : verdict(disk->darts_per_second >= kTargetDartsPerSecond))
              << "\n  answer p99 <= " << kTargetAnswerP99Ms << " ms with the journal on disk: "
              << (disk == nullptr ? "n/a"
                                  : verdict(disk->answer_p99_ms >= 0 &&
                                            disk->answer_p99_ms <= kTargetAnswerP99Ms))
              << "\n  disk >= " << kTargetDiskShare << " of memory: "
              << (disk_share < 0 ? "n/a" : verdict(disk_share >= kTargetDiskShare)) << " ("
              << fixed(disk_share, 3) << ")"
              << "\n  network >= " << kTargetNetworkShare << " of in process (journal "
              << journalName(network.kind.journal)
              << "): " << verdict(network.network_share >= kTargetNetworkShare) << "\n";
}

void printMatchTargets(const Options& options, const std::vector<RunFigures>&,
                       const std::vector<RunFigures>& medians) {
    std::cout << "targets\n";
    for (const JournalKind journal : options.journals) {
        const RunFigures* const match = medianWith(options, medians, journal);
        const RunFigures* const single = medianOf(medians, RunKind{journal, {}, false});
        const double share = match != nullptr && single != nullptr && match != single
                                 ? dartsRatio(*match, *single)
                                 : -1;
        std::cout << "  " << formatName(options.format) << " >= " << kTargetMatchShare
                  << " of a single game's darts/s, journal " << journalName(journal) << ": "
                  << (share < 0 ? "n/a" : verdict(share >= kTargetMatchShare)) << " ("
                  << fixed(share, 3) << ")\n";
    }
}

void printDeliveryTargets(const Options&, const std::vector<RunFigures>& runs,
                          const std::vector<RunFigures>& medians) {
    const RunFigures& f = medians.front();
    std::uint64_t lost = 0;
    for (const RunFigures& run : runs) {
        lost += run.events_lost;
    }
    std::cout << "targets\n"
              << "  no event lost in any run: " << verdict(lost == 0)
              << "\n  delivery p99 <= " << kTargetDeliveryP99Ms << " ms: "
              << verdict(f.delivery_p99_ms >= 0 && f.delivery_p99_ms <= kTargetDeliveryP99Ms)
              << "\n";
}

void printMemoryTargets(const Options& options, const std::vector<RunFigures>&,
                        const std::vector<RunFigures>& medians) {
    const RunFigures& f = medians.front();
    const double viewers_mb = f.rss_viewers_mib * kKibPerMib * kBytesPerKib / kBytesPerMb;
    std::cout << "targets\n"
              << "  " << options.viewers << " idle viewers <= " << kTargetIdleViewersMb
              << " MB: " << verdict(viewers_mb >= 0 && viewers_mb <= kTargetIdleViewersMb) << " ("
              << fixed(viewers_mb, 1) << " MB)\n"
              << "  flat (end within " << kFlatMemoryTolerance * 100 << " % of the RSS after "
              << kWarmShare * 100 << " % of the load): "
              << verdict(f.rss_warm_mib >= 0 &&
                         f.rss_end_mib <= f.rss_warm_mib * (1 + kFlatMemoryTolerance))
              << "\n";
}

void printCareerTargets(double median_ms, double largest_ms, bool rows_right, bool all_finished) {
    std::cout << "targets\n"
              << "  the career's median answer <= " << kTargetCareerMs
              << " ms: " << verdict(median_ms >= 0 && median_ms <= kTargetCareerMs)
              << "\n  the career's largest answer <= " << kTargetCareerMs
              << " ms: " << verdict(largest_ms >= 0 && largest_ms <= kTargetCareerMs)
              << "\n  a row for every match: " << verdict(rows_right)
              << "\n  every board's last match finished: " << verdict(all_finished) << "\n";
}

void printRestartTargets(double median_seconds, bool documents_same, bool ids_continue) {
    std::cout << "targets\n"
              << "  first answer <= " << kTargetRestartSeconds << " s after the start: "
              << verdict(median_seconds >= 0 && median_seconds <= kTargetRestartSeconds)
              << "\n  every state document the same byte for byte: " << verdict(documents_same)
              << "\n  event ids go on from the last: " << verdict(ids_continue) << "\n";
}

}  // namespace game501::load
