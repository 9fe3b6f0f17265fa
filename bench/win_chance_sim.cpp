// win_chance_sim: figures of the exact win chances (win_chance.h).
//
// Prints three tables:
//   1. per sigma from 8 to 40 mm: the time to compute its chain the first
//      time (the computer's and the advice's tables for that sigma included)
//      and again (the least of five), the visits the chain follows, the
//      expected visits from 501 and the thrower's chance to win a leg from
//      501/501 against a player of the same sigma;
//   2. the time of one chance from the chains: a leg with no visit begun, a leg
//      with a visit part-thrown, the leg and match of a match in sets, and
//      both read from a match's record as the server does at every dart
//      (matchWinChances);
//   3. the leg chance from 501/501 against the share of legs that
//      ComputerThrower plays between the two sigmas, with the simulation's
//      99 % interval, and the two players' chances summed apart.
//
// Times are CPU times.
//
//   win_chance_sim [LEGS [SEED]]   LEGS legs per pair (20,000), seeds SEED and SEED + 1 (31)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <utility>

#include "computer_player.h"
#include "leg_duel.h"
#include "match.h"
#include "match_chances.h"
#include "win_chance.h"

namespace game501 {
namespace {

// The process's CPU time rather than the wall clock's, so that other work on
// a busy machine does not count (the program runs one thread).
struct Clock {
    using time_point = std::clock_t;
    static time_point now() { return std::clock(); }
};

double millisSince(Clock::time_point start) {
    return 1000.0 * static_cast<double>(Clock::now() - start) / CLOCKS_PER_SEC;
}

void chainTable() {
    std::printf(
        "| sigma | first chain | chain again | visits followed | visits from 501 | thrower's "
        "chance at 501/501 |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|\n");
    for (int sigma = 8; sigma <= 40; sigma += 4) {
        const Clock::time_point cold = Clock::now();
        const VisitChain chain = *VisitChain::compute(sigma);
        const double first_ms = millisSince(cold);
        double again_ms = first_ms;
        for (int run = 0; run < 5; ++run) {
            const Clock::time_point warm = Clock::now();
            VisitChain::compute(sigma);
            again_ms = std::min(again_ms, millisSince(warm));
        }
        const double thrower = (*legWinChances(chain, chain, LegStanding{}))[0];
        std::printf("| %d mm | %.1f ms | %.1f ms | %d | %.2f | %.4f |\n", sigma, first_ms, again_ms,
                    chain.longest(), chain.expectedVisits(Game501::kStartScore), thrower);
        std::fflush(stdout);
    }
}

// Returns the time of one call of `chance` in nanoseconds, over many calls.
template <typename Chance>
double nanosPerCall(const Chance& chance) {
    constexpr int kCalls = 200000;
    double sink = 0.0;
    const Clock::time_point start = Clock::now();
    for (int call = 0; call < kCalls; ++call) {
        sink += chance(call);
    }
    const double nanos = 1e6 * millisSince(start) / kCalls;
    if (sink < 0.0) {
        std::printf("%f", sink);  // keeps the calls
    }
    return nanos;
}

// Returns a first-to-3-legs match at one leg each, after `darts` darts of
// 60 in its third leg; each leg is won by its starter in nine darts.
Match matchInThirdLeg(int darts) {
    Match match([] { return std::int64_t{0}; });
    match.start({"A", "B"}, Match::Format{3, 1});
    const auto sixties = [&](int count) {
        for (int dart = 0; dart < count; ++dart) {
            match.addDart("T20", "");
            if (match.leg().awaitingClear()) {
                match.markBoardClear();
            }
        }
    };
    for (int leg = 0; leg < 2; ++leg) {
        sixties(12);  // 141 left each
        for (const char* dart : {"T20", "T19", "D12"}) {
            match.addDart(dart, "");
        }
        match.markBoardClear();
    }
    sixties(darts);
    return match;
}

void chanceTable() {
    const std::shared_ptr<const VisitChain> club = visitChain(19.0);
    const std::shared_ptr<const VisitChain> strong = visitChain(8.5);
    // Scores that change with the call, so that nothing is computed once.
    const auto score = [](int call) { return 2 + call % 500; };
    std::printf("| chance (19 mm against 8.5 mm) | time per call |\n|---|---:|\n");
    std::printf("| leg, visits not begun | %.0f ns |\n", nanosPerCall([&](int call) {
                    const LegStanding leg{{LegPlace{score(call)}, LegPlace{score(call / 7)}}, 0};
                    return (*legWinChances(*club, *strong, leg))[0];
                }));
    std::printf("| leg, one dart thrown | %.0f ns |\n", nanosPerCall([&](int call) {
                    const LegPlace thrower{score(call) + 1, 1, 2};
                    const LegStanding leg{{thrower, LegPlace{score(call / 7)}}, 0};
                    return (*legWinChances(*club, *strong, leg))[0];
                }));
    std::printf("| leg, two darts thrown | %.0f ns |\n", nanosPerCall([&](int call) {
                    const LegPlace thrower{score(call) + 2, 2, 1};
                    const LegStanding leg{{thrower, LegPlace{score(call / 7)}}, 0};
                    return (*legWinChances(*club, *strong, leg))[0];
                }));
    std::printf("| leg and match, first to 4 sets of 3 legs | %.0f ns |\n",
                nanosPerCall([&](int call) {
                    const LegStanding leg{{LegPlace{score(call)}, LegPlace{score(call / 7)}}, 0};
                    const MatchStanding match{{call % 4, 1}, {call % 3, 2}, call % 2};
                    return winChances(*club, *strong, {3, 4}, match, leg)->match[0];
                }));
    for (const int darts : {6, 7}) {
        const Match match = matchInThirdLeg(darts);
        std::printf(
            "| leg and match from a record, third leg, %s | %.0f ns |\n",
            darts % 3 == 0 ? "visits not begun" : "one dart thrown", nanosPerCall([&](int) {
                return matchWinChances(*club, *strong, match.format(), match.legs())->match[0];
            }));
    }
}

void simulationTable(int legs, std::uint64_t seed) {
    std::printf(
        "| sigmas (first / second) | chance of the first | legs won by the first | 99 %% "
        "interval | within | chances' sum - 1 |\n");
    std::printf("|---|---:|---:|---|---|---:|\n");
    const std::pair<double, double> pairs[] = {{8.0, 8.0}, {8.0, 25.0}, {25.0, 40.0}};
    for (const auto& [first, second] : pairs) {
        const std::shared_ptr<const VisitChain> first_chain = visitChain(first);
        const std::shared_ptr<const VisitChain> second_chain = visitChain(second);
        const double chance = (*legWinChances(*first_chain, *second_chain, LegStanding{}))[0];
        const double second_chance = test::secondPlayerChance(*first_chain, Game501::kStartScore,
                                                              *second_chain, Game501::kStartScore);
        const int won = test::legsWonByFirst(ComputerThrower(first, seed),
                                             ComputerThrower(second, seed + 1), legs);
        const double half_width = 2.576 * std::sqrt(chance * (1.0 - chance) / legs);
        std::printf("| %.0f / %.0f mm | %.4f | %.4f | %.4f to %.4f | %s | %.1e |\n", first, second,
                    chance, static_cast<double>(won) / legs, chance - half_width,
                    chance + half_width, test::withinInterval(won, legs, chance) ? "yes" : "NO",
                    chance + second_chance - 1.0);
        std::fflush(stdout);
    }
}

// Reads the arguments, legs and seed, both optional; returns the exit status.
int run(int argc, char** argv) {
    if (argc > 3) {
        std::fprintf(stderr, "usage: win_chance_sim [LEGS [SEED]]\n");
        return 2;
    }
    const int legs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 31;
    chainTable();
    std::printf("\n");
    chanceTable();
    std::printf("\n%d legs per pair; seeds %llu and %llu\n\n", legs,
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed + 1));
    simulationTable(legs, seed);
    return 0;
}

}  // namespace
}  // namespace game501

int main(int argc, char** argv) { return game501::run(argc, argv); }
