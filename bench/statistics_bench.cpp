// Benchmarks of a player's career figures over 1,000 matches: worked out
// again from every visit, and summed from the counts kept per match. Linked
// into game501_bench when the benchmark is built with the project.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "match_record.h"
#include "statistics.h"

namespace game501 {
namespace {

constexpr int kMatches = 1000;
constexpr int kLegsPerMatch = 3;
constexpr int kPlayers = 2;

DartRecord dart(const std::string& notation, int value, bool is_double) {
    return {notation, value, is_double, false, "keyboard", 1765000000000};
}

// A leg in which both players score 45 a visit and the starter checks out 96
// with his tenth: 19 visits, 57 darts.
LegRecord scriptedLeg(int set, int leg, int starter) {
    LegRecord record{set, leg, starter, starter, {}};
    int remaining[kPlayers] = {501, 501};
    for (int visit = 0; visit < 19; ++visit) {
        const int player = (starter + visit) % kPlayers;
        VisitRecord thrown{player, remaining[player], {}, TurnOutcome::scored};
        if (visit == 18) {
            thrown.darts = {dart("T20", 60, false), dart("S20", 20, false), dart("D8", 16, true)};
            thrown.outcome = TurnOutcome::checkout;
        } else {
            thrown.darts = {dart("S20", 20, false), dart("S20", 20, false), dart("S5", 5, false)};
        }
        remaining[player] -= visit == 18 ? 96 : 45;
        record.visits.push_back(thrown);
    }
    return record;
}

// 1,000 matches of three legs, about 30 visits of each player a match.
std::vector<std::vector<LegRecord>> career() {
    std::vector<std::vector<LegRecord>> matches(kMatches);
    for (std::vector<LegRecord>& legs : matches) {
        for (int leg = 0; leg < kLegsPerMatch; ++leg) {
            legs.push_back(scriptedLeg(1, leg + 1, leg % kPlayers));
        }
    }
    return matches;
}

// The career of player 0 from every dart of every match, with its document.
void BM_CareerFromVisits(benchmark::State& state) {
    const std::vector<std::vector<LegRecord>> matches = career();
    for (auto _ : state) {
        statistics::Counts total;
        for (const std::vector<LegRecord>& legs : matches) {
            total += statistics::matchCounts(legs, kPlayers)[0];
        }
        benchmark::DoNotOptimize(statistics::toJson(total));
    }
}
BENCHMARK(BM_CareerFromVisits)->Unit(benchmark::kMicrosecond);

// The same career summed from the counts kept for each match.
void BM_CareerFromStoredCounts(benchmark::State& state) {
    std::vector<statistics::Counts> stored;
    for (const std::vector<LegRecord>& legs : career()) {
        stored.push_back(statistics::matchCounts(legs, kPlayers)[0]);
    }
    for (auto _ : state) {
        statistics::Counts total;
        for (const statistics::Counts& match : stored) {
            total += match;
        }
        benchmark::DoNotOptimize(statistics::toJson(total));
    }
}
BENCHMARK(BM_CareerFromStoredCounts)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace game501
