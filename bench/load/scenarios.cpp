#include "scenarios.h"

#include <cstddef>
#include <iterator>

#include "options.h"
#include "restart_run.h"
#include "targets.h"

namespace load {
namespace {

// Each row: name, {boards, viewers, scorers, rate, seconds, darts}, help,
// targets, {flag, value} of a server option or {} for none, the journals of
// its runs, and the runner of a scenario that is not a load, or null.
static_assert(kRestartCallsPerBoard == 300 && kRestartFillConnections == 20,
              "the restart row's help says so");
constexpr Scenario kScenarios[] = {
    {"throughput",
     {100, 0, 100, 0, 10, 0},
     "100 boards, 100 scorers, no viewers, 10 s,\nthe journal on disk and in memory by turns",
     printThroughputTargets,
     {},
     JournalPlan::both,
     nullptr},
    {"delivery",
     {100, 1000, 100, 10, 20, 0},
     "100 boards, 1000 viewers, 100 scorers at\n10 darts/s, 20 s",
     printDeliveryTargets,
     {},
     JournalPlan::chosen,
     nullptr},
    {"memory",
     {100, 1000, 100, 0, kDefaultSeconds, 100'000},
     "100 boards, 1000 viewers, 100 scorers,\n100,000 darts",
     printMemoryTargets,
     {},
     JournalPlan::chosen,
     nullptr},
    {"restart",
     {100, 0, kRestartFillConnections, 0, kDefaultSeconds, 0},
     "100 boards whose games of 300 calls are\nwritten over 20 connections, then the\nserver "
     "stopped and started on its journal",
     nullptr,
     {},
     JournalPlan::disk,
     runRestarts},
};

// Columns of the usage text: where a name starts, and where its help does.
constexpr std::size_t kNameColumn = 20;
constexpr std::size_t kHelpColumn = 32;

}  // namespace

const Scenario* findScenario(const std::string& name) {
    for (const Scenario& scenario : kScenarios) {
        if (name == scenario.name) {
            return &scenario;
        }
    }
    return nullptr;
}

std::string scenarioNames() {
    std::string names;
    const std::size_t count = std::size(kScenarios);
    for (std::size_t i = 0; i < count; ++i) {
        names += (i == 0 ? "" : i + 1 == count ? " or " : ", ") + std::string(kScenarios[i].name);
    }
    return names;
}

std::string scenarioHelp() {
    std::string text;
    for (const Scenario& scenario : kScenarios) {
        std::string line = std::string(kNameColumn, ' ') + scenario.name;
        line.append(line.size() < kHelpColumn ? kHelpColumn - line.size() : 1, ' ');
        for (const char* c = scenario.help; *c != '\0'; ++c) {
            line += *c;
            if (*c == '\n') {
                line += std::string(kHelpColumn, ' ');
            }
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace load
