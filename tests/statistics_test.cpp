#include "statistics.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "game_501.h"

namespace game501::statistics {
// Lets a failed comparison show the counts by name.
void PrintTo(const Counts& counts, std::ostream* out) { *out << toJson(counts).dump(); }
}  // namespace game501::statistics

namespace game501 {
namespace {

using statistics::Counts;

struct Visit {
    int player;
    std::string darts;  // notations separated by spaces
    std::string outcome;
};

// Returns the outcome that documents name `name`.
TurnOutcome outcomeNamed(const std::string& name) {
    for (const TurnOutcome outcome :
         {TurnOutcome::open, TurnOutcome::scored, TurnOutcome::bust, TurnOutcome::checkout}) {
        if (name == outcomeName(outcome)) {
            return outcome;
        }
    }
    ADD_FAILURE() << "no outcome is named " << name;
    return TurnOutcome::open;
}

// Builds a leg in which every player starts from `start`; each visit's start
// score follows from the points of that player's visits before it, so a row
// only says what was thrown and how the visit ended.
LegRecord makeLeg(int starter, int winner, const std::vector<Visit>& visits, int start = 501) {
    LegRecord leg;
    leg.starter = starter;
    leg.winner = winner;
    std::vector<int> remaining(8, start);
    for (const Visit& visit : visits) {
        VisitRecord record;
        record.player = visit.player;
        record.start_score = remaining[static_cast<std::size_t>(visit.player)];
        record.outcome = outcomeNamed(visit.outcome);
        std::istringstream notations(visit.darts);
        int points = 0;
        for (std::string notation; notations >> notation;) {
            const auto dart = Game501::parseDart(notation);
            record.darts.push_back(
                {dart->notation, dart->value, dart->is_double, false, "test", 0});
            points += dart->value;
        }
        if (visit.outcome == "bust") {
            record.darts.back().bust = true;
        } else {
            remaining[static_cast<std::size_t>(visit.player)] -= points;
        }
        leg.visits.push_back(record);
    }
    return leg;
}

// Player 0 starts and checks out 141 with his ninth dart; player 1 gets two visits.
const LegRecord kNineDarter = makeLeg(0, 0,
                                      {{0, "T20 T20 T20", "scored"},
                                       {1, "S1 S1 S1", "scored"},
                                       {0, "T20 T20 T20", "scored"},
                                       {1, "S1 S1 S1", "scored"},
                                       {0, "T20 T19 D12", "checkout"}});

// Player 1 starts; player 0 leaves 20 from 141 and checks out with one dart.
const LegRecord kAgainstTheThrow = makeLeg(1, 0,
                                           {{1, "S20 S20 S20", "scored"},
                                            {0, "T20 T20 T20", "scored"},
                                            {1, "S20 S20 S20", "scored"},
                                            {0, "T20 T20 T20", "scored"},
                                            {1, "S20 S20 S20", "scored"},
                                            {0, "T20 T19 S4", "scored"},
                                            {1, "S20 S20 S20", "scored"},
                                            {0, "D10", "checkout"}});

// From 32: busts on the first, the second and the third dart, then D16.
const LegRecord kBusts = makeLeg(0, 0,
                                 {{0, "T20", "bust"},
                                  {0, "S16 S17", "bust"},
                                  {0, "S10 S10 S11", "bust"},
                                  {0, "D16", "checkout"}},
                                 32);

// Still being played: player 0's second visit has two darts so far.
const LegRecord kOpen = makeLeg(
    0, -1, {{0, "T20 T20 T20", "scored"}, {1, "S20 S20 S20", "scored"}, {0, "T20 T20", "open"}});

struct LegCase {
    const char* name;
    LegRecord leg;
    int player;
    // darts, points, first-nine darts and points, darts at a double, legs
    // played, won, won against the throw, visits 100+, 140+, 180, highest
    // finish, best leg
    Counts expected;
};

TEST(Statistics, LegsWorkedOutByHand) {
    const std::vector<LegCase> cases = {
        {"nine darts", kNineDarter, 0, {9, 501, 9, 501, 1, 1, 1, 0, 0, 1, 2, 141, 9}},
        {"first nine cut short in a leg the opponent won",
         kNineDarter,
         1,
         {6, 6, 6, 6, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"won with one dart against the throw",
         kAgainstTheThrow,
         0,
         {10, 501, 9, 481, 2, 1, 1, 1, 1, 0, 2, 20, 10}},
        {"lost against the throw",
         kAgainstTheThrow,
         1,
         {12, 240, 9, 180, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
        // Each bust is three darts and no points; every dart thrown from 32,
        // 22, 16 or 12 was at a double, the busting one too.
        {"busts on each dart", kBusts, 0, {10, 32, 9, 0, 7, 1, 1, 0, 0, 0, 0, 32, 10}},
        {"at a double from 50 and 40 but not 52",
         makeLeg(0, 0, {{0, "S2 S10 D20", "checkout"}}, 52),
         0,
         {3, 52, 3, 52, 2, 1, 1, 0, 0, 0, 0, 52, 3}},
        {"at a double from 2, twice after a bust",
         makeLeg(0, 0, {{0, "S1", "bust"}, {0, "MISS D1", "checkout"}}, 2),
         0,
         {5, 2, 5, 2, 3, 1, 1, 0, 0, 0, 0, 2, 5}},
        // The open 120 counts its darts and points, not yet as a 100+ visit.
        {"a visit still open", kOpen, 0, {5, 300, 5, 300, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
    };
    for (const LegCase& row : cases) {
        EXPECT_EQ(statistics::legCounts(row.leg, row.player), row.expected) << row.name;
        EXPECT_EQ(statistics::matchCounts({row.leg}, 2)[static_cast<std::size_t>(row.player)],
                  row.expected)
            << row.name;
    }
}

TEST(Statistics, OneDartFinishesAreTheDoublesAndBull) {
    for (int remaining = -5; remaining <= 200; ++remaining) {
        const bool expected =
            (remaining % 2 == 0 && remaining >= 2 && remaining <= 40) || remaining == 50;
        EXPECT_EQ(statistics::isOneDartFinish(remaining), expected) << remaining;
    }
}

TEST(Statistics, MatchesSumToTheMatchOfAllTheirLegs) {
    const std::vector<Counts> first = statistics::matchCounts({kNineDarter, kAgainstTheThrow}, 2);
    const std::vector<Counts> second = statistics::matchCounts({kOpen}, 2);
    const std::vector<Counts> all =
        statistics::matchCounts({kNineDarter, kAgainstTheThrow, kOpen}, 2);
    ASSERT_EQ(all.size(), 2u);
    for (std::size_t player = 0; player < all.size(); ++player) {
        EXPECT_EQ(first[player] + second[player], all[player]) << player;
    }
    // The best leg is the fewer darts of two won legs, never the 0 of a leg
    // not won; the highest finish is the larger.
    EXPECT_EQ(all[0], (Counts{24, 1302, 23, 1282, 3, 2, 2, 1, 1, 1, 5, 141, 9}));
}

TEST(Statistics, MatchLeavesOutVisitsOfPlayersOutsideIt) {
    EXPECT_TRUE(statistics::matchCounts({kNineDarter}, 0).empty());
    const std::vector<Counts> one = statistics::matchCounts({kNineDarter}, 1);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0], statistics::legCounts(kNineDarter, 0));
}

TEST(Statistics, FiguresAndTheirDocument) {
    const Counts busts = statistics::legCounts(kBusts, 0);
    EXPECT_DOUBLE_EQ(*statistics::threeDartAverage(busts), 9.6);
    EXPECT_DOUBLE_EQ(*statistics::firstNineAverage(busts), 0.0);
    EXPECT_DOUBLE_EQ(*statistics::checkoutRate(busts), 1.0 / 7.0);
    EXPECT_EQ(statistics::toJson(busts)["checkout_percent"], 14.29);
    EXPECT_EQ(statistics::toJson(statistics::legCounts(kAgainstTheThrow, 0)),
              nlohmann::json::parse(R"({
        "best_leg": 10, "checkout_percent": 50.0, "checkout_text": "1/2", "darts": 10,
        "double_darts": 2, "first_nine_average": 160.33, "first_nine_darts": 9,
        "first_nine_points": 481, "highest_finish": 20, "legs_played": 1, "legs_won": 1,
        "legs_won_against_throw": 1, "points": 501, "three_dart_average": 150.3,
        "visits_100": 1, "visits_140": 0, "visits_180": 2})"));

    // Before the first dart there is no figure, only counts of 0.
    const Counts none;
    EXPECT_FALSE(statistics::threeDartAverage(none) || statistics::firstNineAverage(none) ||
                 statistics::checkoutRate(none));
    EXPECT_EQ(statistics::toJson(none), nlohmann::json::parse(R"({
        "best_leg": null, "checkout_percent": null, "checkout_text": "0/0", "darts": 0,
        "double_darts": 0, "first_nine_average": null, "first_nine_darts": 0,
        "first_nine_points": 0, "highest_finish": null, "legs_played": 0, "legs_won": 0,
        "legs_won_against_throw": 0, "points": 0, "three_dart_average": null,
        "visits_100": 0, "visits_140": 0, "visits_180": 0})"));
}

TEST(Statistics, CountsDifferByAnyOneField) {
    // Tests compare counts whole, and must see any one of them wrong.
    for (const statistics::CountField& field : statistics::kCountFields) {
        Counts changed;
        changed.*field.member = 1;
        EXPECT_FALSE(changed == Counts{}) << field.name;
        EXPECT_TRUE(changed != Counts{}) << field.name;
        EXPECT_TRUE(changed == changed) << field.name;
    }
}

}  // namespace
}  // namespace game501
