#include "win_chance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "beds.h"
#include "checkout_hint.h"
#include "computer_player.h"
#include "dartboard.h"
#include "leg_duel.h"

namespace game501 {
namespace {

using Chances = std::array<double, 2>;

const VisitChain& chainOf(double sigma_mm) {
    static std::vector<std::shared_ptr<const VisitChain>> held;  // kept for the whole run
    held.push_back(visitChain(sigma_mm));
    return *held.back();
}

double firstChance(double first, double second, const LegStanding& leg) {
    return legWinChances(chainOf(first), chainOf(second), leg).value()[0];
}

TEST(VisitChain, FinishesInOneVisitAsOftenAsTheAdviceSays) {
    for (const double sigma : {8.5, 19.0, 35.0}) {
        for (const int score : {2, 3, 40, 50, 61, 99, 121, 159, 170, 171, 501}) {
            const double advice = checkoutAdvice(score, 3, sigma).probability;
            EXPECT_NEAR(chainOf(sigma).exactly(score, 1), advice, 1e-12) << sigma << " " << score;
        }
    }
}

TEST(VisitChain, NeedsVisitsFromTwoByAGeometricLaw) {
    const double p = checkoutAdvice(2, 3, 19.0).probability;
    for (int visits = 1; visits <= 6; ++visits) {
        EXPECT_NEAR(chainOf(19.0).exactly(2, visits), std::pow(1.0 - p, visits - 1) * p, 1e-12);
    }
}

// A bust in a visit part-thrown goes back to the visit's start, 40 here;
// one dart left on 2: D1 finishes, a miss stays on 2, anything else busts.
TEST(LegWinChances, ReturnsABustToTheVisitsStart) {
    const double sigma = 19.0;
    const dartboard::BedChances chances = dartboard::bedChances(sigma);
    const auto& lands = chances[static_cast<std::size_t>(chooseAim(2, 1, sigma).value())];
    const double finish = lands[static_cast<std::size_t>(beds::doubleBed(1))];
    const double stay = lands[static_cast<std::size_t>(beds::kMissBed)];
    const VisitChain& chain = chainOf(sigma);
    // The chance that a player whose visit ended on `score` wins against one
    // on 100 who throws next: the player needs fewer visits.
    const auto after = [&](int score) {
        return test::secondPlayerChance(chain, 100, chain, score);
    };
    const double expected = finish + stay * after(2) + (1.0 - finish - stay) * after(40);
    EXPECT_NEAR(firstChance(sigma, sigma, {{LegPlace{40, 38, 1}, LegPlace{100}}, 0}), expected,
                1e-9);
}

TEST(LegWinChances, GiveTheThrowerTheEdgeBetweenEqualPlayersLessAsSigmaGrows) {
    double before = 1.0;
    for (const double sigma : {8.0, 19.0, 35.0}) {
        const double thrower = firstChance(sigma, sigma, LegStanding{});
        EXPECT_GT(thrower, 0.5) << sigma;
        EXPECT_LT(thrower, before) << sigma;
        EXPECT_DOUBLE_EQ(firstChance(sigma, sigma, {{}, 1}), 1.0 - thrower) << sigma;
        before = thrower;
    }
}

TEST(LegWinChances, AddToOneWithTheSecondPlayersChanceSummedApart) {
    struct Row {
        double first, second;
        int first_score, second_score;
    };
    for (const Row& row : {Row{8.0, 8.0, 501, 501}, Row{8.0, 25.0, 301, 32},
                           Row{40.0, 12.0, 2, 501}, Row{25.0, 40.0, 170, 171}}) {
        const double first = firstChance(
            row.first, row.second, {{LegPlace{row.first_score}, LegPlace{row.second_score}}, 0});
        const double second = test::secondPlayerChance(chainOf(row.first), row.first_score,
                                                       chainOf(row.second), row.second_score);
        EXPECT_NEAR(first + second, 1.0, 1e-9) << row.first << "/" << row.second;
    }
}

TEST(LegWinChances, MeetTheLimits) {
    const double sure = 0.01;  // every dart lands where it is aimed
    const double p2 = checkoutAdvice(2, 3, 35.0).probability;
    struct Row {
        std::string name;
        double first, second;
        LegStanding leg;
        double low, high;  // player 0's chance
    };
    const Row rows[] = {
        {"nine darts each, the thrower first", sure, sure, {}, 1.0, 1.0},
        {"nine darts each, the other first", sure, sure, {{}, 1}, 0.0, 0.0},
        {"one dart left on a one-dart finish",
         sure,
         35.0,
         {{LegPlace{100, 60, 1}, LegPlace{2}}, 0},
         1.0,
         1.0},
        // The other finishes on the third visit: three visits to hit D1.
        {"on 2 against nine darts",
         35.0,
         sure,
         {{LegPlace{2}, LegPlace{501}}, 0},
         1.0 - std::pow(1.0 - p2, 3),
         1.0 - std::pow(1.0 - p2, 3)},
        // 501 needs three visits; the other misses D1 twice first.
        {"on 501 against 2",
         35.0,
         35.0,
         {{LegPlace{501}, LegPlace{2}}, 0},
         1e-9,
         std::pow(1.0 - p2, 2)},
        {"won", 35.0, 35.0, {{LegPlace{0}, LegPlace{2}}, 1}, 1.0, 1.0},
    };
    for (const Row& row : rows) {
        const double chance = firstChance(row.first, row.second, row.leg);
        EXPECT_GE(chance, row.low - 1e-9) << row.name;
        EXPECT_LE(chance, row.high + 1e-9) << row.name;
    }
}

// Fewer legs than the benchmark's 20,000 (bench/win_chance_sim), so that the
// test takes a second or two in a debug build; the 99 % interval widens.
TEST(LegWinChances, MatchTheShareOfSimulatedLegs) {
    constexpr int kLegs = 2000;
    const std::pair<double, double> pairs[] = {{8.0, 8.0}, {8.0, 25.0}, {25.0, 40.0}};
    for (const auto& [first, second] : pairs) {
        const double chance = firstChance(first, second, LegStanding{});
        const int won =
            test::legsWonByFirst(ComputerThrower(first, 31), ComputerThrower(second, 32), kLegs);
        EXPECT_TRUE(test::withinInterval(won, kLegs, chance))
            << first << "/" << second << ": " << chance << " against " << won << " of " << kLegs;
    }
}

// Where a match stands in Match501's own numbering of sets and legs.
struct Tally {
    std::array<int, 2> sets{};
    std::array<int, 2> legs{};
    int set = 1;
    int leg = 1;
    int starter() const { return (set - 1 + leg - 1) % 2; }  // as Match501 passes the throw
};

Tally afterLeg(Tally tally, int winner, Match501::Format format) {
    if (++tally.legs[static_cast<std::size_t>(winner)] == format.legs) {
        ++tally.sets[static_cast<std::size_t>(winner)];
        tally.legs = {0, 0};
        ++tally.set;
        tally.leg = 1;
    } else {
        ++tally.leg;
    }
    return tally;
}

// Player 0's chance summed over every sequence of legs that can follow.
double enumerated(const Tally& tally, Match501::Format format, const Chances& fresh, double leg) {
    if (tally.sets[0] == format.sets || tally.sets[1] == format.sets) {
        return tally.sets[0] == format.sets ? 1.0 : 0.0;
    }
    const auto next = [&](int winner) {
        const Tally after = afterLeg(tally, winner, format);
        return enumerated(after, format, fresh, fresh[static_cast<std::size_t>(after.starter())]);
    };
    return leg * next(0) + (1.0 - leg) * next(1);
}

// Adds every standing of a match that is not over, from `tally` on.
void everyStanding(const Tally& tally, Match501::Format format, std::vector<Tally>& out) {
    out.push_back(tally);
    for (int winner = 0; winner < 2; ++winner) {
        const Tally after = afterLeg(tally, winner, format);
        if (after.sets[static_cast<std::size_t>(winner)] < format.sets) {
            everyStanding(after, format, out);
        }
    }
}

TEST(MatchWinChance, EqualsEnumeratingEveryLegSequence) {
    const Chances fresh = {0.62, 0.31};
    for (const Match501::Format format :
         {Match501::Format{1, 1}, {3, 1}, {2, 2}, {1, 3}, {3, 2}, {2, 3}}) {
        std::vector<Tally> standings;
        everyStanding(Tally{}, format, standings);
        for (const Tally& tally : standings) {
            const MatchStanding standing{tally.sets, tally.legs, tally.starter()};
            EXPECT_NEAR(matchWinChance(format, standing, fresh, 0.45).value(),
                        enumerated(tally, format, fresh, 0.45), 1e-12)
                << format.legs << " legs, " << format.sets << " sets; set " << tally.set << " leg "
                << tally.leg;
        }
    }
}

// A won leg counts in the standing; the match goes on with the next leg,
// or the next set's first, the throw passed on.
TEST(WinChances, GoOnFromAWonLegWithTheThrowPassedOn) {
    const Match501::Format format{2, 3};
    const VisitChain& first = chainOf(19.0);
    const VisitChain& second = chainOf(8.5);
    const Chances fresh = {firstChance(19.0, 8.5, {{}, 0}), firstChance(19.0, 8.5, {{}, 1})};
    std::vector<Tally> standings;
    everyStanding(Tally{}, format, standings);
    for (const Tally& tally : standings) {
        for (int winner = 0; winner < 2; ++winner) {
            // The match document just after the leg: a set won keeps its legs.
            const Tally after = afterLeg(tally, winner, format);
            MatchStanding shown{after.sets, tally.legs, tally.starter()};
            ++shown.legs[static_cast<std::size_t>(winner)];
            LegStanding leg{{LegPlace{40}, LegPlace{40}}, 1 - winner};
            leg.players[static_cast<std::size_t>(winner)] = LegPlace{0};
            const WinChances chances = winChances(first, second, format, shown, leg).value();
            const double expected =
                enumerated(after, format, fresh, fresh[static_cast<std::size_t>(after.starter())]);
            EXPECT_NEAR(chances.match[0], expected, 1e-12)
                << "set " << tally.set << " leg " << tally.leg;
            EXPECT_EQ(chances.leg[static_cast<std::size_t>(winner)], 1.0);
        }
    }
}

TEST(WinChances, RefuseWhatCannotOccur) {
    const VisitChain& chain = chainOf(19.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto leg = [&](const LegStanding& standing) {
        return legWinChances(chain, chain, standing).has_value();
    };
    EXPECT_FALSE(leg({{LegPlace{1}, LegPlace{}}, 0})) << "on 1";
    EXPECT_FALSE(leg({{LegPlace{502}, LegPlace{}}, 0})) << "above 501";
    EXPECT_FALSE(leg({{LegPlace{501, 0, 4}, LegPlace{}}, 0})) << "four darts";
    EXPECT_FALSE(leg({{LegPlace{501, 0, 0}, LegPlace{}}, 0})) << "no darts left";
    EXPECT_FALSE(leg({{LegPlace{501, 20, 3}, LegPlace{}}, 0})) << "points before a dart";
    EXPECT_FALSE(leg({{LegPlace{501, 61, 2}, LegPlace{}}, 0})) << "61 with one dart";
    EXPECT_FALSE(leg({{LegPlace{40, 39, 2}, LegPlace{}}, 0})) << "a visit that has ended";
    EXPECT_FALSE(leg({{LegPlace{}, LegPlace{501, 20, 2}}, 0})) << "darts of the other";
    EXPECT_FALSE(leg({{LegPlace{0}, LegPlace{0}}, 0})) << "both won";
    EXPECT_FALSE(leg({{}, 2})) << "a third thrower";
    EXPECT_FALSE(legWinChances(VisitChain{}, chain, LegStanding{})) << "an empty chain";

    const auto match = [](Match501::Format format, const MatchStanding& standing, double now) {
        return matchWinChance(format, standing, {0.5, 0.5}, now).has_value();
    };
    EXPECT_FALSE(match({0, 1}, {}, 0.5)) << "no legs";
    EXPECT_FALSE(match({21, 1}, {}, 0.5)) << "too many legs";
    EXPECT_FALSE(match({1, 11}, {}, 0.5)) << "too many sets";
    EXPECT_FALSE(match({3, 2}, {{0, 0}, {3, 0}, 0}, 0.5)) << "a set won but not counted";
    EXPECT_FALSE(match({3, 2}, {{3, 0}, {0, 0}, 0}, 0.5)) << "sets beyond the format";
    EXPECT_FALSE(match({3, 2}, {{2, 2}, {0, 0}, 0}, 0.5)) << "both won";
    EXPECT_FALSE(match({3, 2}, {{}, {}, 2}, 0.5)) << "a third starter";
    EXPECT_FALSE(match({3, 2}, {}, 1.5)) << "a chance above 1";
    EXPECT_FALSE(match({3, 2}, {}, nan)) << "no chance";
    EXPECT_EQ(matchWinChance({3, 2}, {{1, 2}, {2, 0}, 0}, {0.5, 0.5}, 0.5), 0.0) << "over";

    for (const double sigma : {0.0, -1.0, nan, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(visitChain(sigma), nullptr) << sigma;
    }
    EXPECT_EQ(visitChain(19.0), visitChain(19.0)) << "cached";
}

}  // namespace
}  // namespace game501
