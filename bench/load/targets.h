// The targets of the scenarios, judged on the medians of their runs.
#pragma once

#include <vector>

#include "figures.h"
#include "options.h"

namespace load {

// Accepted darts a second, the answers' p99, and the network's share of the
// same darts in process.
void printThroughputTargets(const Options& options, const std::vector<RunFigures>& runs,
                            const RunFigures& medians);

// No event lost in any run, and the delivery p99.
void printDeliveryTargets(const Options& options, const std::vector<RunFigures>& runs,
                          const RunFigures& medians);

// The server's memory with idle viewers, and that it stays flat under the load.
void printMemoryTargets(const Options& options, const std::vector<RunFigures>& runs,
                        const RunFigures& medians);

}  // namespace load
