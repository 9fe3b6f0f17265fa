#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace game501 {
namespace {

using game501::test::json;
using game501::test::playTo;
using game501::test::throwAll;

const char* const kNothingToUndo = "Det finns inget kast att ångra";
const char* const kUndone = "Senaste kastet ångrades";

TEST(Undo, IsRefusedWhenThereIsNothingToUndo) {
    Game501 fresh;
    Game501 started;
    started.start({"Zef"});
    Game501 after_reset;
    after_reset.start({"Zef"});
    after_reset.addDart("T20", "test");
    after_reset.reset();
    for (Game501* game : {&fresh, &started, &after_reset}) {
        const json before = game->state();
        EXPECT_EQ(game->undo(),
                  json({{"accepted", false}, {"message", kNothingToUndo}, {"game", before}}));
        EXPECT_EQ(before["can_undo"], false);
    }
}

struct UndoCase {
    std::string name;
    std::vector<std::string> players;
    std::vector<std::string> before;  // darts before the one undone; "clear" confirms the board
    std::string dart;
};

// Undoing a dart gives back exactly the document from before it, timestamps
// included, whatever the dart caused.
TEST(Undo, RestoresExactlyTheStateBeforeTheDart) {
    const std::vector<UndoCase> cases = {
        {"ordinary dart", {"Zef"}, {"T20"}, "S5"},
        {"first dart of the game", {"Zef"}, {}, "T20"},
        {"turn end", {"Zef"}, {"T20", "T20"}, "T20"},
        {"player change", {"Ymma", "Kovik"}, {"T20", "T20"}, "S1"},
        {"first dart after a clear", {"Ymma", "Kovik"}, {"T20", "T20", "T20", "clear"}, "S1"},
        {"round change", {"Ymma", "Kovik"}, {"S1", "S1", "S1", "clear", "S1", "S1"}, "S1"},
        {"bust",
         {"Zef"},
         {"T20", "T20", "T20", "clear", "T20", "T20", "T20", "clear", "T20", "T20"},
         "D20"},
        {"checkout",
         {"Zef"},
         {"T20", "T20", "T20", "clear", "T20", "T20", "T20", "clear", "T20", "T19"},
         "D12"},
    };
    for (const UndoCase& c : cases) {
        SCOPED_TRACE(c.name);
        Game501 game;
        game.start(c.players);
        for (const std::string& step : c.before) {
            if (step == "clear") {
                game.markBoardClear();
            } else {
                ASSERT_EQ(game.addDart(step, "test")["accepted"], true) << step;
            }
        }
        const json before = game.state();
        ASSERT_EQ(game.addDart(c.dart, "test")["accepted"], true);
        const json answer = game.undo();
        EXPECT_EQ(answer, json({{"accepted", true}, {"message", kUndone}, {"game", before}}));
        EXPECT_EQ(game.state(), before);
    }
}

TEST(Undo, ReopensAFinishedGame) {
    Game501 game;
    game.start({"Zef"});
    playTo(game, 24);
    game.addDart("D12", "test");
    const json state = game.undo()["game"];
    EXPECT_EQ(state["status"], "playing");
    EXPECT_EQ(state["winner"], -1);
    EXPECT_EQ(state["players"][0]["score"], 24);
    EXPECT_TRUE(game.isPlaying());
    EXPECT_EQ(game.addDart("D12", "test")["message"], "Zef vann med D12");
}

TEST(Undo, WalksBackAcrossThePlayerChange) {
    Game501 game;
    game.start({"Ymma", "Kovik"});
    throwAll(game, {"T20", "T20", "T20"});
    game.markBoardClear();
    game.addDart("S1", "test");

    json state = game.undo()["game"];
    EXPECT_EQ(state["players"][1]["score"], 501);
    EXPECT_EQ(state["active_player"], 1);
    EXPECT_EQ(state["current_turn"]["darts"], json::array());

    state = game.undo()["game"];
    EXPECT_EQ(state["players"][0]["score"], 381);
    EXPECT_EQ(state["active_player"], 0);
    EXPECT_EQ(state["current_turn"]["darts"].size(), 2U);
    EXPECT_EQ(state["awaiting_clear"], false);
    EXPECT_EQ(state["history"], json::array());
}

TEST(Undo, IgnoresRefusedDartsAndBoardClears) {
    Game501 game;
    game.start({"Zef"});
    game.addDart("T20", "test");
    const json before = game.state();
    game.addDart("S5", "test");
    game.addDart("T99", "test");
    game.markBoardClear();
    EXPECT_EQ(game.undo()["game"], before);
}

struct BoundCase {
    int darts;
    int undos_accepted;
    int state_after_dart;  // the dart count whose state the last undo restores
};

// At most the last 100 darts can be undone.
TEST(Undo, ReachesBackAtMostOneHundredDarts) {
    for (const BoundCase& c : std::vector<BoundCase>{{100, 100, 0}, {101, 100, 1}}) {
        SCOPED_TRACE(std::to_string(c.darts) + " darts");
        Game501 game;
        game.start({"Zef"});
        std::vector<json> states = {game.state()};
        for (int dart = 0; dart < c.darts; ++dart) {
            // MISS keeps the game going however many darts are thrown.
            game.addDart("MISS", "test");
            game.markBoardClear();
            states.push_back(game.state());
        }
        for (int undo = 0; undo < c.undos_accepted; ++undo) {
            ASSERT_EQ(game.undo()["accepted"], true) << "undo " << undo;
        }
        // Each snapshot was taken after the board clear that followed the
        // dart before it; only the emptied stack tells the two apart.
        json expected = states[static_cast<std::size_t>(c.state_after_dart)];
        expected["can_undo"] = false;
        EXPECT_EQ(game.state(), expected);
        EXPECT_EQ(game.undo()["message"], kNothingToUndo);
    }
}

// Once the stack is full, every new undo point pushes out the oldest one,
// and once the history is full every visit that ends pushes out its oldest.
// Each step back must still give exactly the state before that dart: with
// busts (shorter turns), long and short source labels, a history past its
// bound, and a stack undone part way and then filled again.
TEST(Undo, EveryStepBackThroughAFullStackIsExact) {
    Game501 game;
    game.start({"Zef", "Kovik", "Ymma"});
    // No doubles, so the game never ends; the scores run low and bust.
    const std::vector<std::string> darts = {"T20", "S1", "MISS", "T19", "OUTER", "5", "t7"};
    std::vector<json> states = {game.state()};
    int thrown = 0;
    const auto throwDarts = [&](int count) {
        for (int i = 0; i < count; ++i, ++thrown) {
            const std::string source = "source " + std::to_string(thrown) +
                                       (thrown % 2 == 0 ? " with a label past fifteen bytes" : "");
            const json answer =
                game.addDart(darts[static_cast<std::size_t>(thrown) % darts.size()], source);
            ASSERT_EQ(answer["accepted"], true) << "dart " << thrown;
            if (answer["game"]["awaiting_clear"].get<bool>()) {
                game.markBoardClear();
            }
            states.push_back(game.state());
        }
    };
    const auto undoAndCheck = [&](int count) {
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(game.undo()["accepted"], true) << "undo " << i;
            states.pop_back();
            json expected = states.back();
            expected["can_undo"] = game.state()["can_undo"];
            ASSERT_EQ(game.state(), expected) << "undo " << i;
        }
    };

    throwDarts(400);
    ASSERT_EQ(game.state()["history"].size(), 20U);
    undoAndCheck(40);
    throwDarts(60);
    undoAndCheck(100);
    EXPECT_EQ(game.state()["can_undo"], false);
    EXPECT_EQ(game.undo()["message"], kNothingToUndo);
}

}  // namespace
}  // namespace game501
