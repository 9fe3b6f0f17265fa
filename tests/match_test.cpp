// Matches: who throws first in each leg, matches played to the end, undo
// across a leg's end, the format's limits, the record of every dart, replay.
#include "match.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "leg.h"
#include "match_501.h"
#include "statistics.h"
#include "test_support.h"

namespace game501 {
namespace {

using game501::test::json;
using Format = Match501::Format;

const std::vector<std::string> kMisses = {"MISS", "MISS", "MISS"};
const std::vector<std::vector<std::string>> kNineDarter = {
    {"T20", "T20", "T20"}, {"T20", "T20", "T20"}, {"T20", "T19", "D12"}};

// Ticks one millisecond per dart; every clock made here tells the same times.
Match501::Clock countingClock() {
    auto now = std::make_shared<std::int64_t>(1000000);
    return [now] { return ++*now; };
}

// Plays the leg in progress to a nine-dart win of match player `winner`,
// the others missing, and leaves out the last `left_out` darts.
void winLeg(Match501& match, int winner, std::size_t left_out = 0) {
    for (std::size_t visit = 0;;) {
        const json now = match.match();
        const bool wins =
            now["throwing_order"][now["game"]["active_player"].get<std::size_t>()] == winner;
        const std::vector<std::string>& darts = wins ? kNineDarter[visit++] : kMisses;
        const bool last = wins && visit == kNineDarter.size();
        for (std::size_t i = 0; i + (last ? left_out : 0) < darts.size(); ++i) {
            ASSERT_TRUE(match.addDart(darts[i], "test")["accepted"].get<bool>()) << darts[i];
        }
        if (last) {
            return;
        }
        match.markBoardClear();
    }
}

std::vector<std::pair<int, int>> setsAndLegs(int sets, int legs) {
    std::vector<std::pair<int, int>> all;
    for (int set = 1; set <= sets; ++set) {
        for (int leg = 1; leg <= legs; ++leg) {
            all.emplace_back(set, leg);
        }
    }
    return all;
}

struct StarterCase {
    int players;
    Format format;
    std::vector<std::pair<int, int>> legs;  // (set, leg) of every leg played
    std::vector<int> sets;                  // won by each player at the end
};

// Every leg is won by its starter, so each set runs long and every place of
// the rotation is played.
TEST(MatchStarter, PassesTheThrowOnLegByLegAndSetBySet) {
    const std::vector<StarterCase> cases = {
        {2, {2, 2}, setsAndLegs(3, 3), {2, 1}},
        {3, {2, 2}, setsAndLegs(4, 4), {2, 1, 1}},
        {8, {2, 1}, setsAndLegs(1, 9), {1, 0, 0, 0, 0, 0, 0, 0}},
        {8, {1, 2}, setsAndLegs(9, 1), {2, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const StarterCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.players) + " players, " + std::to_string(c.format.legs) +
                     " legs, " + std::to_string(c.format.sets) + " sets");
        std::vector<std::string> names = {""};  // a blank name keeps its default in every leg
        for (int i = 1; i < c.players; ++i) {
            names.push_back("P" + std::to_string(i));
        }
        Match501 match;
        ASSERT_TRUE(match.start(names, c.format)["accepted"].get<bool>());
        names[0] = "Spelare 1";
        for (const auto& [set, leg] : c.legs) {
            const json now = match.match();
            ASSERT_EQ(now["status"], "playing");
            ASSERT_EQ(now["set"], set);
            ASSERT_EQ(now["leg"], leg);
            const int starter = (set - 1 + leg - 1) % c.players;
            EXPECT_EQ(now["starter"], starter);
            for (std::size_t position = 0; position < names.size(); ++position) {
                const std::size_t player =
                    (static_cast<std::size_t>(starter) + position) % names.size();
                EXPECT_EQ(now["throwing_order"][position], player);
                EXPECT_EQ(now["game"]["players"][position]["name"], names[player]);
            }
            winLeg(match, starter);
            const std::vector<VisitRecord> visits = match.legs().back().visits;
            for (std::size_t v = 0; v < visits.size(); ++v) {
                EXPECT_EQ(visits[v].player, (starter + static_cast<int>(v)) % c.players);
            }
            match.markBoardClear();
        }
        const json end = match.match();
        EXPECT_EQ(end["status"], "finished");
        EXPECT_EQ(end["winner"], 0);
        EXPECT_EQ(end["finished_legs"].size(), c.legs.size());
        for (std::size_t player = 0; player < names.size(); ++player) {
            EXPECT_EQ(end["players"][player]["sets"], c.sets[player]);
        }
    }
}

TEST(Match, PlaysFirstToTwoLegsToTheEnd) {
    Match501 match(countingClock());
    match.start({"Ymma", "Sjörk"}, Format{2, 1});
    winLeg(match, 0);
    EXPECT_EQ(match.markBoardClear()["message"], "501-spelet har startat");
    // Sjörk starts the second leg and busts once on 20: a bust visit costs three darts.
    const std::vector<std::vector<std::string>> visits = {{"T20", "T20", "T20"},
                                                          kMisses,
                                                          {"T20", "T20", "T20"},
                                                          kMisses,
                                                          {"T20", "T20", "S1"},
                                                          kMisses,
                                                          {"T20"},
                                                          kMisses,
                                                          {"D10"}};
    for (const std::vector<std::string>& visit : visits) {
        for (const std::string& dart : visit) {
            match.addDart(dart, "test");
        }
        if (match.state()["status"] == "playing") {
            match.markBoardClear();
        }
    }
    const VisitRecord bust = match.legs()[1].visits[6];
    EXPECT_EQ(bust.player, 1);
    EXPECT_EQ(bust.start_score, 20);
    EXPECT_EQ(bust.outcome, TurnOutcome::bust);
    ASSERT_EQ(bust.darts.size(), 1U);
    EXPECT_TRUE(bust.darts[0].bust);
    EXPECT_EQ(match.legs()[1].visits.back().outcome, TurnOutcome::checkout);
    match.markBoardClear();
    winLeg(match, 0);

    const json expected = {
        {"finished_legs",
         json::array({{{"darts", 9}, {"leg", 1}, {"set", 1}, {"starter", 0}, {"winner", 0}},
                      {{"darts", 13}, {"leg", 2}, {"set", 1}, {"starter", 1}, {"winner", 1}},
                      {{"darts", 9}, {"leg", 3}, {"set", 1}, {"starter", 0}, {"winner", 0}}})},
        {"format", {{"legs", 2}, {"sets", 1}}},
        {"game", match.state()},
        {"leg", 3},
        {"players", json::array({{{"legs", 2}, {"name", "Ymma"}, {"sets", 1}},
                                 {{"legs", 1}, {"name", "Sjörk"}, {"sets", 0}}})},
        {"set", 1},
        {"starter", 0},
        {"status", "finished"},
        {"throwing_order", {0, 1}},
        {"winner", 0}};
    // Each player's figures are the statistics of the record, as the
    // statistics tests check them; here only that they come with the match.
    json document = match.match();
    const std::vector<statistics::Counts> counts = statistics::matchCounts(match.legs(), 2);
    for (std::size_t player = 0; player < 2; ++player) {
        json& entry = document["players"][player];
        EXPECT_EQ(entry["figures"]["match"], statistics::toJson(counts[player]));
        EXPECT_EQ(entry["figures"]["leg"], statistics::toJson(statistics::legCounts(
                                               match.legs().back(), static_cast<int>(player))));
        entry.erase("figures");
    }
    EXPECT_EQ(document, expected);

    // Over: darts are refused, a clear is only a clear, and undo reopens the last leg.
    EXPECT_EQ(match.addDart("T20", "test")["message"], "Inget aktivt 501-spel");
    EXPECT_EQ(match.markBoardClear()["message"], "Tavlan är redo för nästa spelare");
    EXPECT_EQ(match.match()["status"], "finished");
    EXPECT_TRUE(match.undo()["accepted"].get<bool>());
    const json reopened = match.match();
    EXPECT_EQ(reopened["status"], "playing");
    EXPECT_EQ(reopened["winner"], -1);
    EXPECT_EQ(reopened["players"][0]["legs"], 1);
    EXPECT_EQ(reopened["finished_legs"].size(), 2U);
}

// A set's winning dart undone right after it, and after the clear that began
// the next set: either way the match is as if the dart had not been thrown.
TEST(MatchUndo, TakesBackAWinningDartBeforeAndAfterTheNextLegBegins) {
    for (const bool next_leg_begun : {false, true}) {
        SCOPED_TRACE(next_leg_begun ? "after the clear" : "right after the dart");
        Match501 match(countingClock());
        Match501 twin(countingClock());
        match.start({"Ymma", "Sjörk"}, Format{1, 2});
        twin.start({"Ymma", "Sjörk"}, Format{1, 2});
        winLeg(match, 0);
        winLeg(twin, 0, 1);
        EXPECT_EQ(match.match()["players"][0]["sets"], 1);
        if (next_leg_begun) {
            match.markBoardClear();
            EXPECT_EQ(match.match()["set"], 2);
        }
        const json undone = match.undo();
        EXPECT_EQ(undone["message"], "Senaste kastet ångrades");
        EXPECT_EQ(undone["game"], twin.state());
        EXPECT_EQ(match.match(), twin.match());
        EXPECT_EQ(match.legs().size(), 1U);
        EXPECT_EQ(match.legs()[0].visits.back().outcome, TurnOutcome::open);
        EXPECT_EQ(match.addDart("D12", "test")["message"], "Ymma vann med D12");
    }

    // Never back past the leg before the one just begun.
    Match501 match;
    match.start({"Ymma", "Sjörk"}, Format{1, 3});
    winLeg(match, 0);
    match.markBoardClear();
    winLeg(match, 1);
    match.markBoardClear();
    EXPECT_EQ(match.match()["set"], 3);
    std::size_t darts = 0;
    const std::vector<LegRecord> legs = match.legs();
    for (const VisitRecord& visit : legs[1].visits) {
        darts += visit.darts.size();
    }
    for (std::size_t i = 0; i < darts; ++i) {
        ASSERT_TRUE(match.undo()["accepted"].get<bool>());
    }
    EXPECT_EQ(match.undo()["message"], "Det finns inget kast att ångra");
    EXPECT_EQ(match.match()["set"], 2);
    EXPECT_EQ(match.match()["players"][0]["sets"], 1);
}

TEST(MatchStart, RefusesAFormatOrPlayerCountOutOfRangeAndChangesNothing) {
    struct Row {
        std::vector<std::string> players;
        Format format;
        std::string message;
    };
    const std::string legs = "Välj mellan 1 och 20 legs";
    const std::string sets = "Välj mellan 1 och 10 set";
    const std::string players = "Välj mellan 1 och 8 spelare";
    const std::vector<Row> rows = {
        {{"A"}, {0, 1}, legs},
        {{"A"}, {21, 1}, legs},
        {{"A"}, {-1, -1}, legs},
        {{"A"}, {1, 0}, sets},
        {{"A"}, {20, 11}, sets},
        {{}, {1, 1}, players},
        {std::vector<std::string>(9, "A"), {2, 2}, players},
    };
    Match501 match;
    match.start({"Ymma", "Sjörk"}, Format{3, 2});
    match.addDart("T20", "test");
    const json before = match.match();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        const json response = match.start(row.players, row.format);
        EXPECT_FALSE(response["accepted"].get<bool>());
        EXPECT_EQ(response["message"], row.message);
        EXPECT_EQ(response["game"], before["game"]);
        EXPECT_EQ(match.match(), before);
    }
    EXPECT_TRUE(match.start({"A"}, Format{Match501::kMaxLegs, Match501::kMaxSets})["accepted"]);
    EXPECT_EQ(match.match()["format"], json({{"legs", 20}, {"sets", 10}}));
}

// The engine's document shows 20 turns and its history holds 100; the record
// keeps every one, in order, with every dart's time.
TEST(MatchRecord, KeepsEveryDartOfALongLeg) {
    Match501 match(countingClock());
    match.start({"Ymma", "Sjörk"}, Format{2, 1});
    winLeg(match, 0);
    match.markBoardClear();
    const int kVisits = 220;
    for (int visit = 0; visit < kVisits; ++visit) {
        for (const char* dart : {"MISS", "S1", "m"}) {
            match.addDart(dart, "test");
        }
        match.markBoardClear();
    }
    match.addDart("T20", "test");
    const std::vector<LegRecord> legs = match.legs();
    ASSERT_EQ(legs.size(), 2U);
    std::int64_t time = legs[0].visits.back().darts.back().timestamp;
    const std::vector<VisitRecord>& visits = legs[1].visits;
    ASSERT_EQ(visits.size(), static_cast<std::size_t>(kVisits + 1));
    for (int v = 0; v < kVisits; ++v) {
        const VisitRecord& visit = visits[static_cast<std::size_t>(v)];
        ASSERT_EQ(visit.player, (1 + v) % 2) << v;
        ASSERT_EQ(visit.start_score, 501 - v / 2) << v;
        ASSERT_EQ(visit.outcome, TurnOutcome::scored) << v;
        ASSERT_EQ(visit.darts.size(), 3U) << v;
        EXPECT_EQ(visit.darts[1].notation, "S1");
        EXPECT_EQ(visit.darts[2].notation, "MISS");
        for (const DartRecord& dart : visit.darts) {
            ASSERT_EQ(dart.timestamp, ++time) << v;
        }
    }
    EXPECT_EQ(visits.back().outcome, TurnOutcome::open);
    match.undo();
    match.undo();
    const VisitRecord last = match.legs()[1].visits.back();
    EXPECT_EQ(match.legs()[1].visits.size(), static_cast<std::size_t>(kVisits));
    EXPECT_EQ(last.outcome, TurnOutcome::open);
    EXPECT_EQ(last.darts.size(), 2U);
}

// Two legs, the undo of a leg's winning dart after the next leg began, a
// reset and a new match.
const std::vector<std::string> kScript = {
    "start", "T20",   "T20", "T20",  "clear", "MISS",  "MISS",  "MISS", "clear", "T20",   "T20",
    "T20",   "clear", "M",   "M",    "M",     "clear", "T20",   "T19",  "D12",   "clear", "undo",
    "D12",   "clear", "T20", "undo", "undo",  "D12",   "clear", "S5",   "reset", "start", "D20"};

// What a journal relies on: the same calls with the same clock give the same
// documents byte for byte, across a leg's end and the undo over it.
TEST(MatchReplay, GivesTheSameDocumentsForTheSameCallsAndClock) {
    const auto play = [] {
        Match501 match(countingClock());
        std::string documents;
        for (const std::string& call : kScript) {
            const json answer = call == "start"   ? match.start({" Ymma ", ""}, Format{2, 2})
                                : call == "undo"  ? match.undo()
                                : call == "clear" ? match.markBoardClear()
                                : call == "reset" ? match.reset()
                                                  : match.addDart(call, "test");
            documents += answer.dump() + "\n" + match.match().dump() + "\n";
        }
        return documents;
    };
    EXPECT_EQ(play(), play());
}

// The typed match, its darts thrown as values, answers as Match501 does, and
// its standing says what the match document says.
TEST(MatchView, AnswersAsMatch501AndStandsAsItsDocument) {
    Match match(countingClock());
    Match501 locked(countingClock());
    for (const std::string& call : kScript) {
        SCOPED_TRACE(call);
        const Answer answer = call == "start"   ? match.start({" Ymma ", ""}, Format{2, 2})
                              : call == "undo"  ? match.undo()
                              : call == "clear" ? match.markBoardClear()
                              : call == "reset" ? match.reset()
                                                : match.addDart(*parseDart(call), "test");
        const json expected = call == "start"   ? locked.start({" Ymma ", ""}, Format{2, 2})
                              : call == "undo"  ? locked.undo()
                              : call == "clear" ? locked.markBoardClear()
                              : call == "reset" ? locked.reset()
                                                : locked.addDart(call, "test");
        EXPECT_EQ(Game501::responseDocument(answer, match.leg()), expected);
        const json document = locked.match();
        EXPECT_EQ(Match501::matchDocument(match), document);
        const Match::Standing standing = match.standing();
        EXPECT_EQ(statusName(standing.status), document["status"]);
        EXPECT_EQ(standing.winner, document["winner"]);
        for (std::size_t player = 0; player < match.players().size(); ++player) {
            EXPECT_EQ(standing.legs[player], document["players"][player]["legs"]);
            EXPECT_EQ(standing.sets[player], document["players"][player]["sets"]);
        }
    }
}

}  // namespace
}  // namespace game501
