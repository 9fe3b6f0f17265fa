#include "match_chances.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace game501 {
namespace {

const VisitChain& club() {
    static const std::shared_ptr<const VisitChain> chain = visitChain(19.0);
    return *chain;
}

// Returns a match of `players` and `format` after `darts` (notations, "/"
// for the board clear).
Match played(const std::vector<std::string>& players, Match::Format format,
             const std::vector<std::string>& darts) {
    Match match([] { return std::int64_t{0}; });
    match.start(players, format);
    for (const std::string& dart : darts) {
        const Answer answer = dart == "/" ? match.markBoardClear() : match.addDart(dart, "");
        EXPECT_TRUE(answer.accepted) << dart;
    }
    return match;
}

// Both players, the first with 9 darts: 501 = 180 + 180 + T20 T19 D12;
// the second scores 3 a visit.
const std::vector<std::string> kFirstWinsALeg = {"T20", "T20", "T20", "/",   "S1", "S1", "S1",
                                                 "/",   "T20", "T20", "T20", "/",  "S1", "S1",
                                                 "S1",  "/",   "T20", "T19", "D12"};

struct Case {
    const char* name;
    Match::Format format;
    std::vector<std::string> darts;
    MatchStanding standing;  // as winChances reads it
    LegStanding leg;
};

TEST(MatchWinChances, ReadsTheStandingFromTheRecord) {
    const Case cases[] = {
        {"the start", {3, 1}, {}, {}, {}},
        {"a dart into the first visit",
         {3, 1},
         {"T20"},
         {},
         {{LegPlace{501, 60, 2}, LegPlace{}}, 0}},
        {"a visit ended, the other to throw",
         {3, 1},
         {"T20", "T20", "T20"},
         {},
         {{LegPlace{321}, LegPlace{}}, 1}},
        {"a bust returns the visit's start",
         {3, 1},
         {"T20", "T20", "T20", "/", "S1", "S1", "S1", "/", "T20", "T20", "T20", "/", "S1", "S1",
          "S1", "/", "T20", "T20", "T20"},
         {},
         {{LegPlace{141}, LegPlace{495}}, 1}},
        {"a leg won counts",
         {3, 1},
         kFirstWinsALeg,
         {{0, 0}, {1, 0}, 0},
         {{LegPlace{0}, LegPlace{495}}, 1}},
        {"the next leg, the throw passed",
         {3, 1},
         [] {
             auto darts = kFirstWinsALeg;
             darts.push_back("/");
             return darts;
         }(),
         {{0, 0}, {1, 0}, 1},
         {{}, 1}},
        {"a set won",
         {1, 2},
         [] {
             auto darts = kFirstWinsALeg;
             darts.insert(darts.end(), {"/", "S1"});
             return darts;
         }(),
         {{1, 0}, {0, 0}, 1},
         {{LegPlace{}, LegPlace{501, 1, 2}}, 1}},
    };
    for (const Case& c : cases) {
        const Match match = played({"A", "B"}, c.format, c.darts);
        const std::optional<WinChances> read =
            matchWinChances(club(), club(), c.format, match.legs());
        const std::optional<WinChances> expected =
            winChances(club(), club(), c.format, c.standing, c.leg);
        ASSERT_TRUE(read && expected) << c.name;
        EXPECT_EQ(read->leg, expected->leg) << c.name;
        EXPECT_EQ(read->match, expected->match) << c.name;
    }
}

TEST(MatchWinChances, RefusesAThirdPlayerAndNoLegs) {
    EXPECT_FALSE(matchWinChances(club(), club(), {1, 1}, {}));
    const Match match =
        played({"A", "B", "C"}, {1, 1},
               {"T20", "T20", "T20", "/", "T20", "T20", "T20", "/", "T20", "T20", "T20"});
    EXPECT_FALSE(matchWinChances(club(), club(), {1, 1}, match.legs()));
    EXPECT_FALSE(matchWinChanceCourse(club(), club(), {1, 1}, match.legs()));
}

TEST(MatchWinChanceCourse, HasTheStartAndEveryVisitThatEnded) {
    auto darts = kFirstWinsALeg;
    darts.insert(darts.end(), {"/", "S1"});  // the second leg's first visit part-thrown
    const Match match = played({"A", "B"}, {2, 1}, darts);
    const std::vector<WinChancePoint> course =
        matchWinChanceCourse(club(), club(), {2, 1}, match.legs()).value();
    ASSERT_EQ(course.size(), 6U);  // the start and five visits
    EXPECT_EQ(course.front().match, matchWinChances(club(), club(), {2, 1}, {LegRecord{}})->match);
    EXPECT_EQ(course.back().visit, 5);
    // After the leg is won: one leg to none, the other to throw the next.
    EXPECT_EQ(course.back().match,
              (winChances(club(), club(), {2, 1}, {{0, 0}, {1, 0}, 1}, LegStanding{{}, 1})->match));
}

}  // namespace
}  // namespace game501
