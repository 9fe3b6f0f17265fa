#include "scenarios.h"

#include <cstddef>
#include <iterator>

#include "options.h"
#include "targets.h"

namespace load {
namespace {

// Each row: name, {boards, viewers, scorers, rate, seconds, darts}, help,
// targets, and {flag, value} of a server option or {} for none.
constexpr Scenario kScenarios[] = {
    {"throughput",
     {100, 0, 100, 0, 10, 0},
     "100 boards, 100 scorers, no viewers, 10 s",
     printThroughputTargets,
     {}},
    {"delivery",
     {100, 1000, 100, 10, 20, 0},
     "100 boards, 1000 viewers, 100 scorers at\n10 darts/s, 20 s",
     printDeliveryTargets,
     {}},
    {"memory",
     {100, 1000, 100, 0, kDefaultSeconds, 100'000},
     "100 boards, 1000 viewers, 100 scorers,\n100,000 darts",
     printMemoryTargets,
     {}},
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
