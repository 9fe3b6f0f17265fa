#include "checkout_hint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "beds.h"
#include "dartboard.h"
#include "test_support.h"

namespace game501 {
namespace {

using game501::test::json;

// Scores that one dart can make, and those that one double can make, built
// from the notation rules rather than from the hint's own tables.
struct DartScores {
    std::set<int> any;
    std::set<int> doubles;
};

DartScores dartScores() {
    DartScores scores;
    std::vector<std::string> notations = {"OUTER", "BULL"};
    for (int segment = 1; segment <= 20; ++segment) {
        for (const char* prefix : {"S", "D", "T"}) {
            notations.push_back(prefix + std::to_string(segment));
        }
    }
    for (const std::string& notation : notations) {
        const std::optional<Game501::DartValue> dart = Game501::parseDart(notation);
        scores.any.insert(dart->value);
        if (dart->is_double) {
            scores.doubles.insert(dart->value);
        }
    }
    return scores;
}

// The fewest darts that finish `remaining`, or 0 when three cannot.
int fewestDarts(const DartScores& scores, int remaining) {
    if (scores.doubles.count(remaining) != 0) {
        return 1;
    }
    for (const int first : scores.any) {
        if (scores.doubles.count(remaining - first) != 0) {
            return 2;
        }
    }
    for (const int first : scores.any) {
        for (const int second : scores.any) {
            if (scores.doubles.count(remaining - first - second) != 0) {
                return 3;
            }
        }
    }
    return 0;
}

std::string joined(const std::vector<std::string>& route) {
    std::string text;
    for (const std::string& dart : route) {
        text += (text.empty() ? "" : " ") + dart;
    }
    return text;
}

TEST(CheckoutHint, EveryRouteIsAShortestDoubleOutFinish) {
    const DartScores scores = dartScores();
    int routes = 0;
    for (int remaining = -5; remaining <= 200; ++remaining) {
        const int fewest = fewestDarts(scores, remaining);
        for (int darts_left = 1; darts_left <= 3; ++darts_left) {
            const std::vector<std::string> route = checkoutHint(remaining, darts_left);
            SCOPED_TRACE(std::to_string(remaining) + " with " + std::to_string(darts_left) +
                         " darts: [" + joined(route) + "]");
            if (fewest == 0 || fewest > darts_left) {
                EXPECT_TRUE(route.empty());
                continue;
            }
            ++routes;
            ASSERT_EQ(route.size(), static_cast<std::size_t>(fewest));
            int total = 0;
            for (const std::string& notation : route) {
                const std::optional<Game501::DartValue> dart = Game501::parseDart(notation);
                ASSERT_TRUE(dart.has_value());
                EXPECT_EQ(dart->notation, notation);
                total += dart->value;
            }
            EXPECT_EQ(total, remaining);
            EXPECT_TRUE(Game501::parseDart(route.back())->is_double);
        }
    }
    // With one dart 21 scores finish; with two, 2 to 110 but for 99, 102, 103,
    // 105, 106, 108 and 109; with three, 2 to 170 but for the seven gaps.
    EXPECT_EQ(routes, 21 + (109 - 7) + (169 - 7));
}

TEST(CheckoutHint, ExistsExactlyWhereTheKnownLimitsSayItCan) {
    for (int remaining = 0; remaining <= 200; ++remaining) {
        SCOPED_TRACE(remaining);
        const bool one_dart =
            (remaining >= 2 && remaining <= 40 && remaining % 2 == 0) || remaining == 50;
        EXPECT_EQ(!checkoutHint(remaining, 1).empty(), one_dart);
        if (remaining > 110) {
            EXPECT_TRUE(checkoutHint(remaining, 2).empty());
        }
        const std::set<int> gaps = {159, 162, 163, 165, 166, 168, 169};
        const bool three_darts = remaining >= 2 && remaining <= 170 && gaps.count(remaining) == 0;
        EXPECT_EQ(!checkoutHint(remaining, 3).empty(), three_darts);
    }
    EXPECT_EQ(joined(checkoutHint(110, 2)), "T20 BULL");
}

struct RouteCase {
    int remaining;
    int darts_left;
    std::string route;
};

TEST(CheckoutHint, PrefersTheRoutesAClubPlayerFinishesMostOften) {
    const std::vector<RouteCase> cases = {
        {170, 3, "T20 T20 BULL"},
        {160, 3, "T20 T20 D20"},  // not T20 BULL BULL: no set-up on a double
        {100, 3, "T20 D20"},      // fewest darts, not BULL BULL
        {100, 2, "T20 D20"},
        {40, 1, "D20"},
        {40, 3, "D20"},
        {50, 2, "BULL"},
        {141, 3, "T20 T19 D12"},
        {164, 3, "T20 T18 BULL"},  // larger first dart, not T19 T19 BULL
        {158, 3, "T20 T20 D19"},   // any double ring before BULL
        {61, 2, "T11 D14"},        // S11 leaves BULL, the misses of T15 nothing
        {80, 2, "D20 D20"},        // a double's bed is wider than a treble's
        {80, 3, "T20 D10"},        // S20 leaves 60, still two darts
        {60, 2, "S20 D20"},        // D16 would need a D14 set-up
        {35, 2, "T3 D13"},         // T3, S3 and its neighbours S17 and S19 all leave a double
        {35, 3, "S3 D16"},
        {59, 3, "S19 D20"},  // a wide single, not T9 D16
        {58, 3, "S18 D20"},
        {57, 3, "S17 D20"},  // not OUTER D16
        {118, 3, "T20 S18 D20"},
        {81, 2, "T19 D12"},  // T17 D15 is better by 0.0001, too little to leave D12
        {3, 3, "S1 D1"},
        {2, 1, "D1"},
        {101, 2, "T17 BULL"},
    };
    for (const RouteCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.remaining) + " with " + std::to_string(c.darts_left));
        EXPECT_EQ(joined(checkoutHint(c.remaining, c.darts_left)), c.route);
    }
}

// Scores where the chances tie within 0.001 and one preference rule of the
// header, the first on which the tied routes differ, picks the route. The
// fourth rule never decides for the club level; see the advice's ties below.
TEST(CheckoutHint, LetsEachPreferenceRuleDecideATie) {
    const std::vector<RouteCase> cases = {
        {129, 3, "T20 T19 D6"},    // 1: not T19 D20 D16, whose D16 ranks first
        {144, 3, "T20 T20 D12"},   // 1: not BULL T18 D20
        {103, 3, "T19 S6 D20"},    // 2: D20 before D17, though T20 T3 D17 starts larger
        {31, 3, "S3 D14"},         // 2: D14 before D6 (S19 D6)
        {11, 2, "S3 D4"},          // 2: D4 before D5 (S1 D5)
        {13, 2, "S1 D6"},          // 2: D6 before D5 (S3 D5)
        {157, 3, "T20 T19 D20"},   // 3: the same darts as T19 T20 D20, larger first
        {161, 3, "T20 T17 BULL"},  // 3: not T17 T20 BULL
    };
    for (const RouteCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.remaining) + " with " + std::to_string(c.darts_left));
        EXPECT_EQ(joined(checkoutHint(c.remaining, c.darts_left)), c.route);
    }
}

TEST(CheckoutHint, GivesNothingForDartCountsOutsideATurn) {
    for (const int darts_left : {-1, 0, 4, 9}) {
        EXPECT_TRUE(checkoutHint(40, darts_left).empty()) << darts_left;
    }
}

// Throwing the suggested darts in a real game wins it with the last one.
TEST(CheckoutHint, EveryThreeDartRouteWinsTheGame) {
    for (int remaining = 2; remaining <= 170; ++remaining) {
        const std::vector<std::string> route = checkoutHint(remaining, 3);
        if (route.empty()) {
            continue;
        }
        SCOPED_TRACE(std::to_string(remaining) + ": " + joined(route));
        Game501 game;
        game.start({"Zef"});
        game501::test::playTo(game, remaining);
        const json answer = game501::test::throwAll(game, route);
        EXPECT_EQ(answer["message"], "Zef vann med " + route.back());
        EXPECT_EQ(answer["game"]["status"], "finished");
    }
}

int valueOf(const std::string& notation) { return Game501::parseDart(notation)->value; }

std::vector<double> levelSigmas() {
    std::vector<double> sigmas;
    for (const SkillLevel& level : skillLevels()) {
        sigmas.push_back(level.sigma_mm);
    }
    return sigmas;
}

// The chance of finishing from `score` by aiming at `aim`, with `then(rest)`
// the best chance from what a dart that does not finish or bust leaves.
template <typename Then>
double chanceOfAim(const dartboard::BedChances& chances, int score, int aim, const Then& then) {
    double chance = 0.0;
    for (int bed = 0; bed < beds::kBedCount; ++bed) {
        const int rest = score - beds::bedValue(bed);
        const double p = chances[static_cast<std::size_t>(aim)][static_cast<std::size_t>(bed)];
        if (rest == 0 && beds::isDoubleBed(bed)) {
            chance += p;
        } else if (rest >= 2) {
            chance += p * then(rest);
        }
    }
    return chance;
}

// Every aim for the first dart and, after each place it lands, every aim for
// the second: the best of them is the best chance with one or two darts.
TEST(CheckoutAdvice, AgreesWithExhaustiveSearchForOneAndTwoDarts) {
    for (const double sigma : {3.0, 8.5, 19.0, 35.0, 100.0}) {
        const dartboard::BedChances chances = dartboard::bedChances(sigma);
        std::vector<double> one(171, 0.0);
        for (int score = 2; score <= 170; ++score) {
            for (int aim = 0; aim < dartboard::kAimCount; ++aim) {
                const double chance = chanceOfAim(chances, score, aim, [](int) { return 0.0; });
                one[static_cast<std::size_t>(score)] =
                    std::max(one[static_cast<std::size_t>(score)], chance);
            }
        }
        const auto afterFirst = [&one](int rest) { return one[static_cast<std::size_t>(rest)]; };
        for (int score = 2; score <= 170; ++score) {
            SCOPED_TRACE(std::to_string(score) + " at sigma " + std::to_string(sigma));
            double two = 0.0;
            for (int aim = 0; aim < dartboard::kAimCount; ++aim) {
                two = std::max(two, chanceOfAim(chances, score, aim, afterFirst));
            }
            const CheckoutAdvice with_one = checkoutAdvice(score, 1, sigma);
            const CheckoutAdvice with_two = checkoutAdvice(score, 2, sigma);
            EXPECT_NEAR(with_one.probability, one[static_cast<std::size_t>(score)], 1e-12);
            EXPECT_NEAR(with_two.probability, two, 1e-12);
            if (!with_two.route.empty()) {
                const int aim = beds::parseBed(with_two.route.front()).value();
                EXPECT_NEAR(chanceOfAim(chances, score, aim, afterFirst), two, 1e-12);
            }
        }
    }
}

TEST(CheckoutAdvice, EveryRouteIsPlayableAndFollowsFromTheNextAdvice) {
    for (const double sigma : levelSigmas()) {
        for (int score = 2; score <= 170; ++score) {
            double fewer_darts = 0.0;
            for (int darts_left = 1; darts_left <= 3; ++darts_left) {
                const CheckoutAdvice advice = checkoutAdvice(score, darts_left, sigma);
                const std::vector<std::string>& route = advice.route;
                SCOPED_TRACE(std::to_string(score) + " with " + std::to_string(darts_left) +
                             " at sigma " + std::to_string(sigma) + ": [" + joined(route) + "]");
                // A Gaussian reaches every bed, so any route at all gives a chance.
                EXPECT_EQ(advice.probability > 0.0, !checkoutHint(score, darts_left).empty());
                EXPECT_EQ(route.empty(), advice.probability == 0.0);
                EXPECT_LE(advice.probability, 1.0);
                // A dart more can always be left to the end of the turn.
                EXPECT_GE(advice.probability, fewer_darts - 1e-12);
                fewer_darts = advice.probability;
                ASSERT_LE(route.size(), static_cast<std::size_t>(darts_left));
                int total = 0;
                for (const std::string& notation : route) {
                    const std::optional<Game501::DartValue> dart = Game501::parseDart(notation);
                    ASSERT_TRUE(dart.has_value());
                    EXPECT_EQ(dart->notation, notation);
                    EXPECT_NE(dart->value, 0);
                    total += dart->value;
                }
                if (route.empty()) {
                    continue;
                }
                const bool finishes = total == score && Game501::parseDart(route.back())->is_double;
                // Only an aim thrown for its misses stands alone without finishing.
                EXPECT_TRUE(finishes || route.size() == 1);
                if (route.size() > 1) {
                    const std::vector<std::string> rest(route.begin() + 1, route.end());
                    EXPECT_EQ(
                        checkoutAdvice(score - valueOf(route.front()), darts_left - 1, sigma).route,
                        rest);
                }
            }
        }
    }
}

TEST(CheckoutAdvice, OneDartAtD20FinishesLessOftenAsSigmaGrows) {
    double before = 1.0;
    for (const double sigma : {1.0, 3.0, 5.0, 8.5, 12.0, 19.0, 35.0, 60.0, 100.0, 200.0}) {
        SCOPED_TRACE(sigma);
        const CheckoutAdvice advice = checkoutAdvice(40, 1, sigma);
        EXPECT_EQ(advice.route, std::vector<std::string>{"D20"});
        EXPECT_LT(advice.probability, before);
        before = advice.probability;
    }
    EXPECT_GT(checkoutAdvice(40, 1, 1.0).probability, 0.99);
    EXPECT_LT(before, 0.002);
}

struct AdviceCase {
    int remaining;
    int darts_left;
    double sigma;
    std::string route;
};

// Aims of the same chance are told apart by what they are thrown for, then
// by the hint's rules. A player who never misses finishes by every route, so
// the rules alone choose, the fourth too.
TEST(CheckoutAdvice, BreaksExactTiesByOwnBedThenByTheHintsRules) {
    const std::vector<AdviceCase> cases = {
        {132, 3, 19.0, "OUTER T19 BULL"},  // the centre, aimed at for the 25 that leaves 107
        {50, 1, 19.0, "BULL"},             // the centre, aimed at for the 50
        {101, 3, 0.01, "T20 S9 D16"},      // 4: S9 is wider than T3
        {5, 2, 0.01, "S1 D2"},             // 2: D2 before D1 (S3 D1)
    };
    for (const AdviceCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.remaining) + " with " + std::to_string(c.darts_left) +
                     " at sigma " + std::to_string(c.sigma));
        const CheckoutAdvice advice = checkoutAdvice(c.remaining, c.darts_left, c.sigma);
        EXPECT_EQ(joined(advice.route), c.route);
    }
}

struct BadAdviceCase {
    int remaining;
    int darts_left;
    double sigma;
};

TEST(CheckoutAdvice, GivesNoRouteAndNoChanceForArgumentsOutOfRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const std::vector<BadAdviceCase> cases = {
        {1, 3, 19.0},      {171, 3, 19.0},     {-40, 3, 19.0}, {40, 0, 19.0},
        {40, 4, 19.0},     {40, 1, 0.0},       {40, 1, -19.0}, {40, 1, nan},
        {40, 1, infinity}, {40, 1, -infinity}, {169, 3, 19.0},  // in range, but no three darts
                                                                // finish it
    };
    for (const BadAdviceCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.remaining) + " with " + std::to_string(c.darts_left) +
                     " at sigma " + std::to_string(c.sigma));
        const CheckoutAdvice advice = checkoutAdvice(c.remaining, c.darts_left, c.sigma);
        EXPECT_TRUE(advice.route.empty());
        EXPECT_EQ(advice.probability, 0.0);
    }
}

TEST(CheckoutAdvice, FindsTheLevelsByTheirIds) {
    double sigma = std::numeric_limits<double>::infinity();
    std::vector<std::string> named;
    for (const SkillLevel& level : skillLevels()) {
        EXPECT_EQ(findSkillLevel(level.id), &level);
        EXPECT_LT(level.sigma_mm, sigma) << "least accurate first";
        sigma = level.sigma_mm;
        named.push_back(std::string(level.id) + " " + level.name);
    }
    EXPECT_EQ(named, (std::vector<std::string>{"beginner Nybörjare", "club Klubbspelare",
                                               "strong Stark spelare"}));
    EXPECT_EQ(findSkillLevel("club")->sigma_mm, 19.0);
    EXPECT_EQ(findSkillLevel("Club"), nullptr);
    EXPECT_EQ(findSkillLevel(""), nullptr);
}

// More sigmas than the cache keeps, asked from several threads at once, so
// tables are built, dropped and built again while others read them.
TEST(CheckoutAdvice, AnswersAlikeFromManyThreadsOverManySigmas) {
    std::vector<double> sigmas = levelSigmas();
    for (int i = 0; i < 17; ++i) {
        sigmas.push_back(6.0 + 4.0 * i);
    }
    std::vector<std::vector<CheckoutAdvice>> expected;
    for (const double sigma : sigmas) {
        expected.emplace_back();
        for (int score = 2; score <= 170; ++score) {
            expected.back().push_back(checkoutAdvice(score, 3, sigma));
        }
    }
    const auto problems = game501::test::runConcurrently(4, 25, [&](int thread, int index) {
        const std::size_t which = static_cast<std::size_t>(thread * 7 + index) % sigmas.size();
        const int score = 2 + (index * 37 + thread) % 169;
        const CheckoutAdvice advice = checkoutAdvice(score, 3, sigmas[which]);
        const CheckoutAdvice& wanted = expected[which][static_cast<std::size_t>(score - 2)];
        const bool same = advice.route == wanted.route && advice.probability == wanted.probability;
        return same ? std::string()
                    : std::to_string(score) + " at " + std::to_string(sigmas[which]);
    });
    for (const std::vector<std::string>& of_thread : problems) {
        EXPECT_TRUE(of_thread.empty()) << of_thread.front();
    }
}

}  // namespace
}  // namespace game501
