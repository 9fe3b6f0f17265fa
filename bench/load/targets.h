// The targets of the scenarios, judged on the medians of their runs.
#pragma once

#include <vector>

#include "figures.h"
#include "options.h"

namespace game501::load {

// With the journal on disk: accepted darts a second and the answers' p99;
// its darts a second against the same with the journal in memory; and the
// network's share of the same darts in process.
void printThroughputTargets(const Options& options, const std::vector<RunFigures>& runs,
                            const std::vector<RunFigures>& medians);

// For each journal, the chosen format's accepted darts a second against a
// single game's in the same invocation.
void printMatchTargets(const Options& options, const std::vector<RunFigures>& runs,
                       const std::vector<RunFigures>& medians);

// No event lost in any run, and the delivery p99.
void printDeliveryTargets(const Options& options, const std::vector<RunFigures>& runs,
                          const std::vector<RunFigures>& medians);

// The server's memory with idle viewers, and that it stays flat under the load.
void printMemoryTargets(const Options& options, const std::vector<RunFigures>& runs,
                        const std::vector<RunFigures>& medians);

// The career's answer time, median and largest, its rows and the matches.
void printCareerTargets(double median_ms, double largest_ms, bool rows_right, bool all_finished);

// The median time of a restart to its first answer, and that the restarts
// left every board as it was.
void printRestartTargets(double median_seconds, bool documents_same, bool ids_continue);

}  // namespace game501::load
