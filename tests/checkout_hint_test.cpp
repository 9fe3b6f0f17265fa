#include "checkout_hint.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using game501_test::json;

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

TEST(CheckoutHint, PrefersTheClassicChartRoutes) {
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
        {61, 2, "T15 D8"},         // D16 impossible, D8 next
        {80, 2, "T16 D16"},        // D16 before D20
        {60, 2, "S20 D20"},        // D16 would need a D14 set-up
        {35, 2, "S3 D16"},         // the single before T1
        {3, 3, "S1 D1"},
        {2, 1, "D1"},
        {101, 2, "T17 BULL"},
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
        game501_test::playTo(game, remaining);
        const json answer = game501_test::throwAll(game, route);
        EXPECT_EQ(answer["message"], "Zef vann med " + route.back());
        EXPECT_EQ(answer["game"]["status"], "finished");
    }
}

}  // namespace
