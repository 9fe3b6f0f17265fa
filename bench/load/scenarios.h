// The loads the generator knows by name: the target runs of --scenario, with
// their targets and the runs of those that are not a load of scorers
// (restart, career), and the small run of --smoke. A new scenario is one row
// of the table in scenarios.cpp, with the server option it needs, if any.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "match_501.h"

namespace game501::load {

struct Options;
struct RunFigures;

// 0 for a rate or darts: none.
struct Load {
    int boards;
    int viewers;
    int scorers;
    double rate;
    double seconds;
    std::uint64_t darts;
    Match501::Format format;  // of the matches the scorers start
};

// Prints whether the medians of a scenario's runs met its targets: one
// median for each kind of run (options.h), in the order runKinds gives
// them. The targets never change the exit status.
using Targets = void (*)(const Options& options, const std::vector<RunFigures>& runs,
                         const std::vector<RunFigures>& medians);

// Runs a scenario that is not a load of scorers and viewers, prints its
// figures and targets, and returns whether it ran without errors. Throws
// when a server cannot be started.
using Runner = bool (*)(const Options& options);

// The journals of a scenario's runs.
enum class JournalPlan {
    chosen,  // the one --journal chooses, on disk unless it says otherwise
    both,    // on disk and in memory by turns, unless --journal chooses one
    disk,    // on disk, whatever --journal says
};

// The match formats of a scenario's runs.
enum class FormatPlan {
    chosen,              // the one of the load, unless --legs and --sets choose
    against_single_game  // that one and a single game by turns, compared
};

// One option the server is started with besides those of every run; none
// when `flag` is null.
struct ServerOption {
    const char* flag;
    const char* value;
};

struct Scenario {
    const char* name;
    Load load;
    // Its line of the usage text; a newline continues it under the first.
    const char* help;
    Targets targets;  // null: none
    ServerOption server_option;
    JournalPlan journals;
    FormatPlan formats;
    Runner runner;  // null: runs of the load, each a server of its own
};

// The target runs, each taken as the median of this many runs: the
// benchmark machine's speed varies by a third from minute to minute.
inline constexpr int kScenarioRuns = 5;

inline constexpr Load kSmoke = {2, 4, 2, 0, 1, 0, {2, 1}};

// Returns the scenario called `name`, or null.
const Scenario* findScenario(const std::string& name);

// Returns the names, "a, b or c".
std::string scenarioNames();

// Returns one block of the usage text per scenario.
std::string scenarioHelp();

}  // namespace game501::load
