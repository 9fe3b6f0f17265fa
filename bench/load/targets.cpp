#include "targets.h"

#include <cstdint>
#include <iostream>
#include <string>

#include "report.h"
#include "units.h"

namespace load {
namespace {

constexpr double kTargetDartsPerSecond = 5000;
constexpr double kTargetAnswerP99Ms = 20;
constexpr double kTargetNetworkShare = 0.25;
constexpr double kTargetDeliveryP99Ms = 100;
constexpr double kTargetIdleViewersMb = 50;
constexpr double kFlatMemoryTolerance = 0.10;

std::string verdict(bool met) { return met ? "met" : "MISSED"; }

}  // namespace

void printThroughputTargets(const Options&, const std::vector<RunFigures>&, const RunFigures& f) {
    std::cout << "targets\n"
              << "  >= " << kTargetDartsPerSecond
              << " darts/s: " << verdict(f.darts_per_second >= kTargetDartsPerSecond)
              << "\n  answer p99 <= " << kTargetAnswerP99Ms
              << " ms: " << verdict(f.answer_p99_ms >= 0 && f.answer_p99_ms <= kTargetAnswerP99Ms)
              << "\n  network >= " << kTargetNetworkShare
              << " of in process: " << verdict(f.network_share >= kTargetNetworkShare) << "\n";
}

void printDeliveryTargets(const Options&, const std::vector<RunFigures>& runs,
                          const RunFigures& f) {
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
                        const RunFigures& f) {
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

}  // namespace load
