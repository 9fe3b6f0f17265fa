#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document_checks.h"
#include "test_support.h"

namespace game501 {
namespace {

using game501::check::idleState;
using game501::test::json;
using game501::test::throwAll;
using game501::test::withoutTimestamps;

json dart(const std::string& notation, int value, bool is_double, bool bust = false) {
    return json{{"notation", notation}, {"value", value},   {"double", is_double},
                {"bust", bust},         {"source", "test"}, {"timestamp", 0}};
}

TEST(StateDocument, FreshEngineIsIdle) {
    const Game501 game;
    EXPECT_EQ(game.state(), idleState());
    EXPECT_FALSE(game.isPlaying());
}

TEST(StateDocument, ResetAnswersWithTheIdleDocument) {
    Game501 game;
    game.start({"Zef"});
    throwAll(game, {"T20", "T20", "T20"});
    ASSERT_EQ(game.state()["round"], 2);
    const json expected = {
        {"accepted", true}, {"message", "Spelet nollställdes"}, {"game", idleState()}};
    EXPECT_EQ(game.reset(), expected);
    EXPECT_EQ(game.reset(), expected);
}

TEST(StateDocument, MatchesTheWorkedTwoPlayerExample) {
    Game501 game;
    game.start({"Ymma", "Sjörk"});
    throwAll(game, {"T20", "T20", "T20"});
    game.markBoardClear();
    const json answer = game.addDart("S1", "test");

    const json t20 = dart("T20", 60, false);
    const json expected_state = {
        {"status", "playing"},
        {"variant", "501"},
        {"double_out", true},
        {"round", 1},
        {"active_player", 1},
        {"winner", -1},
        {"awaiting_clear", false},
        {"can_undo", true},
        {"players",
         {{{"name", "Ymma"}, {"score", 321}, {"active", false}, {"winner", false}},
          {{"name", "Sjörk"}, {"score", 500}, {"active", true}, {"winner", false}}}},
        {"current_turn",
         {{"start_score", 501}, {"total", 1}, {"darts", json::array({dart("S1", 1, false)})}}},
        {"history", json::array({{{"player_index", 0},
                                  {"player", "Ymma"},
                                  {"round", 1},
                                  {"start_score", 501},
                                  {"end_score", 321},
                                  {"outcome", "scored"},
                                  {"darts", {t20, t20, t20}}}})}};
    const json expected = {
        {"accepted", true}, {"message", "S1 registrerad"}, {"game", expected_state}};
    EXPECT_EQ(withoutTimestamps(answer), expected);
    EXPECT_EQ(withoutTimestamps(game.state()), expected_state);
}

// Checks that every integer is signed, so consumers see -1 and not a huge
// unsigned number, and that no key is missing or extra.
void expectSignedIntegersOnly(const json& value) {
    if (value.is_number()) {
        EXPECT_TRUE(value.is_number_integer() && !value.is_number_unsigned()) << value;
    }
    if (value.is_structured()) {
        for (const json& element : value) {
            expectSignedIntegersOnly(element);
        }
    }
}

TEST(StateDocument, HoldsOnlySignedIntegers) {
    Game501 game;
    expectSignedIntegersOnly(game.state());
    game.start({"Zef", "Kovik"});
    const json answer = throwAll(game, {"T20", "T20", "T20"});
    expectSignedIntegersOnly(answer);
    EXPECT_TRUE(answer["game"]["history"][0]["darts"][0]["timestamp"].is_number_integer());
}

TEST(StateDocument, FinishedGameMarksOnlyTheWinner) {
    Game501 game;
    game.start({"Zef", "Kovik"});
    for (int turn = 0; turn < 4; ++turn) {
        throwAll(game, {"T20", "T20", "T20"});
        game.markBoardClear();
    }
    const json state = throwAll(game, {"T20", "T19", "D12"})["game"];
    EXPECT_EQ(state["status"], "finished");
    EXPECT_EQ(state["winner"], 0);
    EXPECT_EQ(state["active_player"], 0);
    EXPECT_EQ(state["players"][0]["winner"], true);
    EXPECT_EQ(state["players"][1]["winner"], false);
    EXPECT_EQ(state["players"][0]["active"], false);
    EXPECT_EQ(state["players"][1]["active"], false);
    EXPECT_EQ(state["current_turn"]["darts"].size(), 3U);
    EXPECT_EQ(state["current_turn"]["total"], 141);
    EXPECT_EQ(state["history"][0]["outcome"], "checkout");
    EXPECT_EQ(state["history"][0]["end_score"], 0);
}

struct HistoryWindowCase {
    int turns;
    std::size_t shown;
};

// The engine keeps up to 100 turns but shows only the 20 newest, newest first.
TEST(StateDocument, HistoryShowsTheTwentyNewestTurns) {
    for (const HistoryWindowCase& c :
         std::vector<HistoryWindowCase>{{0, 0}, {1, 1}, {20, 20}, {21, 20}, {25, 20}}) {
        SCOPED_TRACE(std::to_string(c.turns) + " turns");
        Game501 game;
        game.start({"Zef"});
        for (int turn = 0; turn < c.turns; ++turn) {
            throwAll(game, {"MISS", "MISS", "MISS"});
            game.markBoardClear();
        }
        const json history = game.state()["history"];
        ASSERT_EQ(history.size(), c.shown);
        for (std::size_t i = 0; i < c.shown; ++i) {
            EXPECT_EQ(history[i]["round"], c.turns - static_cast<int>(i));
        }
    }
}

// The state's text is written straight from the leg; it must be the text of
// its document, byte for byte, whatever the names and sources hold.
TEST(StateDocument, TextIsTheDocumentsText) {
    const std::vector<std::string> texts = {
        "Sjörk \xF0\x9F\x8E\xAF",                               // valid, up to four bytes
        "\"quote\" \\ \b\f\n\r\t\x01\x1F\x7F",                  // escapes, DEL as it is
        "\x80 \xC0\x80 \xC1\xBF \xF5\xFF",                      // bytes that begin nothing
        "\xE0\x80\x80 \xED\xA0\x80 \xF0\x80 \xF4\x90\x80\x80",  // overlong, surrogate, too high
        "\xE2\x82 \xF0\x9F\x8E",                                // cut short inside the text
        "end cut short \xE2\x82",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        Leg leg;
        const auto same = [&leg] {
            EXPECT_EQ(Game501::stateText(leg), Game501::stateDocument(leg).dump(
                                                   -1, ' ', false, json::error_handler_t::replace));
        };
        same();
        leg.start({text, "Zef"});
        for (int visit = 0; visit < 24; ++visit) {
            for (const char* notation : {"T20", "S1", "D1"}) {
                leg.addDart(notation, text);
            }
            leg.markBoardClear();
        }
        same();
        leg.addDart("T20", text);
        same();
    }
}

// A state text copies the history of the text before it only while the leg
// shows the same history: after every kind of call, the text is the one
// made afresh.
TEST(StateDocument, TextCopiesOnlyAHistoryThatIsTheSame) {
    Leg leg;
    Leg other;
    other.start({"Ymma"});
    other.addDart("T20", "test");
    Game501::StateText before = Game501::stateText(other, nullptr);
    const auto step = [&](const char* call) {
        SCOPED_TRACE(call);
        Game501::StateText now = Game501::stateText(leg, &before);
        ASSERT_EQ(now.text, Game501::stateText(leg));
        before = std::move(now);
    };
    step("idle, beside another leg's text");
    leg.start({"Zef", "Sjörk"});
    step("start");
    for (int visit = 0; visit < 110; ++visit) {
        for (const char* notation : {"S1", "S1", "S1"}) {
            leg.addDart(notation, "test");
            step(notation);
        }
        leg.markBoardClear();
        step("clear");
        if (visit % 7 == 0) {
            leg.undo();
            step("undo of the dart that ended a visit");
            leg.undo();
            step("undo within the visit");
            leg.addDart("S1", "test");
            leg.addDart("S1", "test");
            step("visit thrown again");
            leg.markBoardClear();
            step("clear");
        }
    }
    leg.reset();
    step("reset");
    leg.start({"Ymma", "Zef"});
    step("start with other names");
    leg.addDart("T20", "test");
    step("a dart");
}

}  // namespace
}  // namespace game501
