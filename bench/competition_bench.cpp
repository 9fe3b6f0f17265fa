// Benchmarks of a competition in process: the draw, one result and the
// tables, for a 128-player knockout, a 64-player groups stage (8 groups of 8,
// the top 2 on) and a 64-player round robin in one group. Linked into
// game501_bench when the benchmark is built with the project.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <vector>

#include "competition.h"

namespace game501::competition {
namespace {

constexpr int kKnockoutPlayers = 128;
constexpr int kGroupPlayers = 64;
constexpr int kGroups = 8;

Settings settingsOf(int players, Format format, int groups) {
    Settings settings;
    for (int i = 0; i < players; ++i) {
        settings.players.push_back("Spelare " + std::to_string(i + 1));
    }
    settings.format = format;
    settings.groups = groups;
    settings.seed = 20240601;
    return settings;
}

Settings knockout() { return settingsOf(kKnockoutPlayers, Format::Knockout, 1); }
Settings groupsStage() { return settingsOf(kGroupPlayers, Format::GroupsKnockout, kGroups); }
Settings oneGroup() { return settingsOf(kGroupPlayers, Format::RoundRobin, 1); }

Competition make(const Settings& settings) {
    std::string problem;
    return *Competition::create(settings, problem);
}

// A result with averages, as a board gives it: 3-2 to the first player.
Result boardResult() {
    Result result;
    result.legs = {3, 2};
    result.counts.resize(2);
    result.counts[0].points = 2405;
    result.counts[0].darts = 78;
    result.counts[1].points = 2101;
    result.counts[1].darts = 75;
    result.archive_match = "3-1207";
    return result;
}

// The competition just before its `kind` of result: the knockout freshly
// drawn (its first match to play), the groups with every match played but
// group A's last (which completes the group and decides who goes on), the
// round robin with every match played but its last.
struct Before {
    Competition competition;
    int match;
};

Before before(const Settings& settings) {
    Competition competition = make(settings);
    if (settings.format == Format::Knockout) {
        const int first = competition.ready().front();
        return {competition, first};
    }
    int last = 0;
    for (const Match& match : competition.matches()) {
        if (match.stage == Stage::Group && match.group == 0) {
            last = match.id;
        }
    }
    for (const Match& match : competition.matches()) {
        if (match.stage == Stage::Group && match.id != last) {
            competition.record(match.id, boardResult());
        }
    }
    return {competition, last};
}

// The draw of a new competition.
void BM_Draw(benchmark::State& state, Settings (*settings)()) {
    const Settings chosen = settings();
    for (auto _ : state) {
        std::string problem;
        benchmark::DoNotOptimize(Competition::create(chosen, problem));
    }
}
BENCHMARK_CAPTURE(BM_Draw, knockout_128, knockout)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Draw, groups_64, groupsStage)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Draw, round_robin_64, oneGroup)->Unit(benchmark::kMicrosecond);

// One result recorded: its checks, its group's table worked out again and
// the bracket's players. Making the copy it is recorded on, and dropping the
// one before, are not timed.
void BM_Result(benchmark::State& state, Settings (*settings)()) {
    const Before start = before(settings());
    const Result result = boardResult();
    std::optional<Competition> competition;
    for (auto _ : state) {
        state.PauseTiming();
        competition.emplace(start.competition);
        state.ResumeTiming();
        benchmark::DoNotOptimize(competition->record(start.match, result));
    }
}
BENCHMARK_CAPTURE(BM_Result, knockout_128, knockout)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Result, groups_64, groupsStage)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Result, round_robin_64, oneGroup)->Unit(benchmark::kMicrosecond);

// Every group's table worked out from all its results, as rank() does it.
void BM_Tables(benchmark::State& state, Settings (*settings)()) {
    Before start = before(settings());
    start.competition.record(start.match, boardResult());
    const Competition& competition = start.competition;
    for (auto _ : state) {
        std::vector<std::vector<const Match*>> played(competition.groups().size());
        for (const Match& match : competition.matches()) {
            if (match.stage == Stage::Group) {
                played[static_cast<std::size_t>(match.group)].push_back(&match);
            }
        }
        for (std::size_t group = 0; group < played.size(); ++group) {
            benchmark::DoNotOptimize(rank(competition.groups()[group], played[group],
                                          competition.settings().points,
                                          competition.settings().tiebreakers));
        }
    }
}
BENCHMARK_CAPTURE(BM_Tables, groups_64, groupsStage)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Tables, round_robin_64, oneGroup)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace game501::competition
