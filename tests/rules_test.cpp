#include "rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace game501 {
namespace {

using game501::test::json;
using game501::test::playTo;
using game501::test::throwAll;
using game501::test::withoutTimestamps;

enum class Outcome { Counts, Bust, Checkout };

struct FinishCase {
    int score;
    std::string dart;
    Outcome outcome;
};

// Each bust condition next to the darts that just avoid it.
TEST(Bust, AppliesBelowZeroAtOneAndAtZeroWithoutADouble) {
    const std::vector<FinishCase> cases = {
        {3, "S2", Outcome::Bust},       {3, "S1", Outcome::Counts},
        {2, "S1", Outcome::Bust},       {2, "D1", Outcome::Checkout},
        {41, "D20", Outcome::Bust},     {42, "D20", Outcome::Counts},
        {40, "T20", Outcome::Bust},     {40, "D20", Outcome::Checkout},
        {20, "S20", Outcome::Bust},     {20, "D10", Outcome::Checkout},
        {60, "T20", Outcome::Bust},     {25, "OUTER", Outcome::Bust},
        {27, "OUTER", Outcome::Counts}, {50, "BULL", Outcome::Checkout},
        {51, "BULL", Outcome::Bust},    {2, "MISS", Outcome::Counts},
    };
    for (const FinishCase& c : cases) {
        SCOPED_TRACE(c.dart + " on " + std::to_string(c.score));
        Game501 game;
        game.start({"Zef"});
        playTo(game, c.score);
        const json answer = game.addDart(c.dart, "test");
        const json& state = answer["game"];
        const int points = Game501::parseDart(c.dart)->value;
        ASSERT_EQ(answer["accepted"], true);
        switch (c.outcome) {
            case Outcome::Counts:
                EXPECT_EQ(state["players"][0]["score"], c.score - points);
                EXPECT_EQ(state["status"], "playing");
                EXPECT_EQ(state["awaiting_clear"], false);
                break;
            case Outcome::Bust:
                EXPECT_EQ(answer["message"], "Bust – turens poäng återställdes");
                EXPECT_EQ(state["players"][0]["score"], c.score);
                EXPECT_EQ(state["status"], "playing");
                EXPECT_EQ(state["awaiting_clear"], true);
                EXPECT_EQ(state["history"][0]["outcome"], "bust");
                EXPECT_EQ(state["history"][0]["darts"].back()["bust"], true);
                break;
            case Outcome::Checkout:
                EXPECT_EQ(answer["message"], "Zef vann med " + c.dart);
                EXPECT_EQ(state["players"][0]["score"], 0);
                EXPECT_EQ(state["status"], "finished");
                EXPECT_EQ(state["winner"], 0);
                break;
        }
    }
}

TEST(Bust, RestoresTheTurnStartAndFlagsOnlyTheLastDart) {
    Game501 game;
    game.start({"Kovik"});
    playTo(game, 141);
    const json state = throwAll(game, {"T20", "T20", "D20"})["game"];
    EXPECT_EQ(state["players"][0]["score"], 141);
    EXPECT_EQ(state["current_turn"]["darts"], json::array());
    EXPECT_EQ(state["current_turn"]["start_score"], 141);
    const json& turn = state["history"][0];
    EXPECT_EQ(turn["start_score"], 141);
    EXPECT_EQ(turn["end_score"], 141);
    ASSERT_EQ(turn["darts"].size(), 3U);
    EXPECT_EQ(turn["darts"][0]["bust"], false);
    EXPECT_EQ(turn["darts"][1]["bust"], false);
    EXPECT_EQ(turn["darts"][2]["bust"], true);
    EXPECT_EQ(turn["darts"][2]["value"], 40);
}

struct CheckoutCase {
    std::vector<std::string> darts;
    std::size_t darts_in_turn;
};

TEST(Checkout, FinishesOnAnyDartOfTheTurn) {
    const std::vector<CheckoutCase> cases = {
        {{"D12"}, 1},
        {{"S4", "D10"}, 2},
        {{"MISS", "S4", "D10"}, 3},
    };
    for (const CheckoutCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.darts_in_turn) + " darts");
        Game501 game;
        game.start({"Zef"});
        playTo(game, 24);
        const json answer = throwAll(game, c.darts);
        const json& state = answer["game"];
        EXPECT_EQ(answer["message"], "Zef vann med " + c.darts.back());
        EXPECT_EQ(state["status"], "finished");
        EXPECT_EQ(state["winner"], 0);
        EXPECT_EQ(state["awaiting_clear"], false);
        EXPECT_EQ(state["current_turn"]["darts"].size(), c.darts_in_turn);
        EXPECT_EQ(state["current_turn"]["total"], 24);
        EXPECT_EQ(state["history"][0]["outcome"], "checkout");
        EXPECT_EQ(state["history"][0]["darts"].size(), c.darts_in_turn);
        EXPECT_FALSE(game.isPlaying());
        EXPECT_EQ(game.addDart("S1", "test")["message"], "Inget aktivt 501-spel");
    }
}

TEST(Checkout, NamesTheWinnerAndTheCanonicalDart) {
    Game501 game;
    game.start({"Ymma", "Sjörk"});
    for (int turn = 0; turn < 4; ++turn) {
        throwAll(game, {"T20", "T20", "T20"});
        game.markBoardClear();
    }
    throwAll(game, {"MISS", "MISS", "MISS"});
    game.markBoardClear();
    // Sjörk is on 141 and throws.
    EXPECT_EQ(throwAll(game, {"t17", "d20", "db"})["message"], "Sjörk vann med BULL");
    EXPECT_EQ(game.state()["winner"], 1);
    EXPECT_EQ(game.state()["active_player"], 1);
}

struct MessageCase {
    std::string dart;
    std::string message;
};

TEST(Messages, NameTheCanonicalNotation) {
    const std::vector<MessageCase> cases = {
        {"t20", "T20 registrerad"},  {" miss ", "MISS registrerad"}, {"0", "MISS registrerad"},
        {"sb", "OUTER registrerad"}, {"D01", "D1 registrerad"},      {"7", "S7 registrerad"},
    };
    for (const MessageCase& c : cases) {
        Game501 game;
        game.start({"Zef"});
        EXPECT_EQ(game.addDart(c.dart, "test")["message"], c.message) << c.dart;
    }
}

TEST(Turns, ThirdDartEndsTheTurnAndPassesItOn) {
    Game501 game;
    game.start({"Zef"});
    const json answer = throwAll(game, {"T20", "T20", "T20"});
    const json& state = answer["game"];
    EXPECT_EQ(answer["message"], "Tur klar – ta bort pilarna");
    EXPECT_EQ(state["players"][0]["score"], 321);
    EXPECT_EQ(state["round"], 2);
    EXPECT_EQ(state["active_player"], 0);
    EXPECT_EQ(state["awaiting_clear"], true);
    EXPECT_EQ(state["current_turn"],
              json({{"start_score", 321}, {"total", 0}, {"darts", json::array()}}));
    EXPECT_EQ(state["history"][0]["outcome"], "scored");
    EXPECT_EQ(state["history"][0]["start_score"], 501);
    EXPECT_EQ(state["history"][0]["end_score"], 321);
    EXPECT_EQ(state["history"][0]["round"], 1);
}

TEST(Turns, ScoreDropsWithEveryDart) {
    Game501 game;
    game.start({"Zef"});
    EXPECT_EQ(game.addDart("T20", "test")["game"]["players"][0]["score"], 441);
    const json state = game.addDart("S5", "test")["game"];
    EXPECT_EQ(state["players"][0]["score"], 436);
    EXPECT_EQ(state["current_turn"]["start_score"], 501);
    EXPECT_EQ(state["current_turn"]["total"], 65);
}

TEST(Turns, RoundCountsWhenPlayReturnsToTheFirstPlayer) {
    Game501 game;
    game.start({"A", "B", "C"});
    const std::vector<int> expected_rounds = {1, 1, 2, 2, 2, 3};
    const std::vector<int> expected_active = {1, 2, 0, 1, 2, 0};
    for (std::size_t turn = 0; turn < expected_rounds.size(); ++turn) {
        const json state = throwAll(game, {"S1", "S1", "S1"})["game"];
        EXPECT_EQ(state["round"], expected_rounds[turn]) << "turn " << turn;
        EXPECT_EQ(state["active_player"], expected_active[turn]) << "turn " << turn;
        EXPECT_EQ(state["history"][0]["player_index"], (expected_active[turn] + 2) % 3);
        game.markBoardClear();
    }
}

TEST(BoardClear, GatesTheNextDartAndChangesNothingElse) {
    Game501 game;
    game.start({"Zef", "Kovik"});
    throwAll(game, {"T20", "T20", "T20"});
    const json waiting = game.state();
    const json refused = game.addDart("S1", "test");
    EXPECT_EQ(refused["accepted"], false);
    EXPECT_EQ(refused["message"], "Ta bort pilarna och bekräfta att tavlan är tom");
    EXPECT_EQ(refused["game"], waiting);

    const json cleared = game.markBoardClear();
    json expected = waiting;
    expected["awaiting_clear"] = false;
    EXPECT_EQ(cleared, json({{"accepted", true},
                             {"message", "Tavlan är redo för nästa spelare"},
                             {"game", expected}}));
    EXPECT_EQ(game.addDart("S1", "test")["game"]["players"][1]["score"], 500);
}

TEST(BoardClear, IsAcceptedInEveryStatusAndChangesNothingWhenNotPending) {
    Game501 idle;
    EXPECT_EQ(idle.markBoardClear()["accepted"], true);
    EXPECT_EQ(idle.markBoardClear()["game"], idle.state());

    Game501 playing;
    playing.start({"Zef"});
    playing.addDart("T20", "test");
    const json before = playing.state();
    EXPECT_EQ(playing.markBoardClear()["game"], before);
    EXPECT_EQ(playing.markBoardClear()["game"], before);
}

// A refused operation must leave the whole state document as it was.
TEST(Refusals, ChangeNothing) {
    struct RefusalCase {
        std::string name;
        std::vector<std::string> setup;  // darts after start; "clear" confirms the board
        bool finish;
        std::string notation;
        std::string message;
    };
    const std::vector<RefusalCase> cases = {
        {"invalid notation mid-turn", {"T20"}, false, " t 20 ", "Ogiltigt kast:  t 20 "},
        {"empty notation", {}, false, "", "Ogiltigt kast: "},
        {"invalid notation while awaiting clear",
         {"S1", "S1", "S1"},
         false,
         "T99",
         "Ta bort pilarna och bekräfta att tavlan är tom"},
        {"invalid notation after checkout", {}, true, "T99", "Inget aktivt 501-spel"},
        {"valid dart after checkout", {}, true, "S1", "Inget aktivt 501-spel"},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        Game501 game;
        game.start({"Zef"});
        throwAll(game, c.setup);
        if (c.finish) {
            playTo(game, 2);
            game.addDart("D1", "test");
        }
        const json before = game.state();
        const json answer = game.addDart(c.notation, "test");
        EXPECT_EQ(answer, json({{"accepted", false}, {"message", c.message}, {"game", before}}));
        EXPECT_EQ(game.state(), before);
    }
}

TEST(Refusals, IdleEngineTakesNoDart) {
    Game501 game;
    const json answer = game.addDart("T20", "test");
    EXPECT_EQ(answer["accepted"], false);
    EXPECT_EQ(answer["message"], "Inget aktivt 501-spel");
    EXPECT_EQ(answer["game"], Game501().state());
}

TEST(Start, AcceptsOneToEightPlayersAndRefusesOtherCounts) {
    for (std::size_t count = 0; count <= 10; ++count) {
        SCOPED_TRACE(std::to_string(count) + " names");
        Game501 game;
        game.start({"Zef", "Kovik"});
        throwAll(game, {"T20", "T20", "T20"});  // leaves a board clear pending
        const json before = game.state();
        const json answer = game.start(std::vector<std::string>(count, "Anna"));
        const bool valid = count >= 1 && count <= 8;
        EXPECT_EQ(answer["accepted"], valid);
        if (valid) {
            EXPECT_EQ(answer["message"], "501-spelet har startat");
            EXPECT_EQ(answer["game"]["players"].size(), count);
            EXPECT_EQ(game.addDart("T20", "test")["accepted"], true);
        } else {
            EXPECT_EQ(answer["message"], "Välj mellan 1 och 8 spelare");
            EXPECT_EQ(answer["game"], before);
        }
    }
}

TEST(Start, DiscardsAGameInProgressOrFinished) {
    Game501 game;
    game.start({"Zef"});
    playTo(game, 2);
    game.addDart("D1", "test");
    ASSERT_EQ(game.state()["status"], "finished");
    const json state = game.start({"Ymma", " ", "Kovik"})["game"];
    json expected = Game501().state();
    expected["status"] = "playing";
    expected["players"] = {
        {{"name", "Ymma"}, {"score", 501}, {"active", true}, {"winner", false}},
        {{"name", "Spelare 2"}, {"score", 501}, {"active", false}, {"winner", false}},
        {{"name", "Kovik"}, {"score", 501}, {"active", false}, {"winner", false}}};
    EXPECT_EQ(state, expected);
    EXPECT_EQ(game.undo()["accepted"], false);
}

TEST(Names, AreTrimmedCutWholeAndFoldedInAsciiOnly) {
    const std::string long_name = "Anna-Karin Åkerström-Lindqvist Bergström";  // 43 bytes
    const struct {
        std::string name;
        std::size_t seat;
        std::string played;
        bool fits;
        std::string key;
    } rows[] = {
        {" Nils Berg\t", 0, "Nils Berg", true, "nils berg"},
        {"NILS BERG", 0, "NILS BERG", true, "nils berg"},
        {"Åsa", 0, "Åsa", true, "Åsa"},  // no letter outside ASCII is folded
        {"", 1, "Spelare 2", true, ""},
        {" \n", 3, "Spelare 4", true, ""},
        {std::string(32, 'x'), 0, std::string(32, 'x'), true, std::string(32, 'x')},
        {"  " + std::string(32, 'x') + "  ", 0, std::string(32, 'x'), true, std::string(32, 'x')},
        {std::string(33, 'x'), 0, std::string(32, 'x'), false, std::string(32, 'x')},
        // Cut at 32 bytes, here the end of a character.
        {long_name, 0, "Anna-Karin Åkerström-Lindqvist", false, "anna-karin Åkerström-lindqvist"},
        // "ö" would straddle the limit: it goes whole.
        {std::string(31, 'x') + "ö", 0, std::string(31, 'x'), false, std::string(31, 'x')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(playerName(row.name, row.seat), row.played);
        EXPECT_EQ(nameFits(row.name), row.fits);
        EXPECT_EQ(nameKey(row.name), row.key);
    }
}

}  // namespace
}  // namespace game501
