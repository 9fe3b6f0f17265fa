#include "targets.h"

#include <cstdint>
#include <iostream>
#include <string>

#include "report.h"
#include "units.h"

namespace load {
namespace {

constexpr double kTargetDartsPerSecond = 5000;
constexpr double kTargetAnswerP99Ms = 25;
constexpr double kTargetDiskShare = 0.5;
constexpr double kTargetNetworkShare = 0.25;
constexpr double kTargetDeliveryP99Ms = 100;
constexpr double kTargetIdleViewersMb = 50;
constexpr double kFlatMemoryTolerance = 0.10;
constexpr double kTargetRestartSeconds = 2;

std::string verdict(bool met) { return met ? "met" : "MISSED"; }

const RunFigures* medianWith(const std::vector<RunFigures>& medians, JournalKind journal) {
    for (const RunFigures& median : medians) {
        if (median.journal == journal) {
            return &median;
        }
    }
    return nullptr;
}

}  // namespace

// The network's share was first judged on a server that kept nothing; the
// journal in memory comes closest to it, so it is judged there when it ran.
void printThroughputTargets(const Options&, const std::vector<RunFigures>&,
                            const std::vector<RunFigures>& medians) {
    const RunFigures* const disk = medianWith(medians, JournalKind::disk);
    const RunFigures* const memory = medianWith(medians, JournalKind::memory);
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
              << journalName(network.journal)
              << "): " << verdict(network.network_share >= kTargetNetworkShare) << "\n";
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

void printRestartTargets(double median_seconds, bool documents_same, bool ids_continue) {
    std::cout << "targets\n"
              << "  first answer <= " << kTargetRestartSeconds << " s after the start: "
              << verdict(median_seconds >= 0 && median_seconds <= kTargetRestartSeconds)
              << "\n  every state document the same byte for byte: " << verdict(documents_same)
              << "\n  event ids go on from the last: " << verdict(ids_continue) << "\n";
}

}  // namespace load
