#include "scenarios.h"

#include <cstddef>
#include <iterator>

#include "career_run.h"
#include "options.h"
#include "restart_run.h"
#include "targets.h"

namespace game501::load {
namespace {

// Each row: name, {boards, viewers, scorers, rate, seconds, darts, {legs,
// sets}}, help, targets, {flag, value} of a server option or {} for none, the
// journals and the formats of its runs, and the runner of a scenario that is
// not a load, or null.
static_assert(kRestartCallsPerBoard == 300 && kRestartFillConnections == 20,
              "the restart row's help says so");
static_assert(kCareerMatches == 1000 && kCareerReads == 20 && kCareerBoards == 10,
              "the career row's help says so");
constexpr Scenario kScenarios[] = {
    {"throughput",
     {100, 0, 100, 0, 10, 0, {1, 1}},
     "100 boards, 100 scorers, no viewers, 10 s,\nthe journal on disk and in memory by turns",
     printThroughputTargets,
     {},
     JournalPlan::both,
     FormatPlan::chosen,
     nullptr},
    {"throughput-match",
     {100, 0, 100, 0, 10, 0, {3, 1}},
     "the same with matches of first to 3 legs\nand single games by turns, compared",
     printMatchTargets,
     {},
     JournalPlan::chosen,
     FormatPlan::against_single_game,
     nullptr},
    {"delivery",
     {100, 1000, 100, 10, 20, 0, {1, 1}},
     "100 boards, 1000 viewers, 100 scorers at\n10 darts/s, 20 s",
     printDeliveryTargets,
     {},
     JournalPlan::chosen,
     FormatPlan::chosen,
     nullptr},
    {"memory",
     {100, 1000, 100, 0, kDefaultSeconds, 100'000, {1, 1}},
     "100 boards, 1000 viewers, 100 scorers,\n100,000 darts",
     printMemoryTargets,
     {},
     JournalPlan::chosen,
     FormatPlan::chosen,
     nullptr},
    {"restart",
     {100, 0, kRestartFillConnections, 0, kDefaultSeconds, 0, {1, 1}},
     "100 boards whose games of 300 calls are\nwritten over 20 connections, then the\nserver "
     "stopped and started on its journal",
     nullptr,
     {},
     JournalPlan::disk,
     FormatPlan::chosen,
     runRestarts},
    {"career",
     {kCareerBoards, 0, kCareerBoards, 0, kDefaultSeconds, 0, {1, 1}},
     "1000 matches of two players (first to 1\nleg) on 10 boards over 10 connections,\nthen "
     "one player's career read 20 times",
     nullptr,
     {},
     JournalPlan::disk,
     FormatPlan::chosen,
     runCareer},
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
        if (line.size() < kHelpColumn) {
            line.append(kHelpColumn - line.size(), ' ');
        } else {
            line += "\n" + std::string(kHelpColumn, ' ');  // a long name has a line of its own
        }
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

}  // namespace game501::load
