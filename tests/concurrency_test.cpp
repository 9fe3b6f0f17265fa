#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace game501 {
namespace {

using game501::test::json;

// What every document must show however calls interleave: the active
// player's score is the turn's start minus its total, and a turn in play
// never holds three darts.
std::string inconsistency(const json& state) {
    if (state["players"].empty()) {
        return state["status"] == "idle" ? "" : "players missing outside idle";
    }
    const json& turn = state["current_turn"];
    const int score = game501::test::activeScore(state);
    if (score != turn["start_score"].get<int>() - turn["total"].get<int>()) {
        return "active score is not start_score - total";
    }
    if (state["status"] == "playing" && turn["darts"].size() > 2) {
        return "three darts in a turn still in play";
    }
    if (state["awaiting_clear"].get<bool>() && !turn["darts"].empty()) {
        return "darts in the turn while waiting for a clear";
    }
    return "";
}

TEST(Concurrency, EveryDocumentIsConsistentUnderMixedCalls) {
    Game501 game;
    game.start({"Ymma", "Kovik", "Zef"});
    const std::vector<std::string> darts = {"T20", "S1", "D5", "BULL", "MISS", "T7", "x"};
    const auto problems = game501::test::runConcurrently(6, 2000, [&](int t, int call) {
        json state;
        switch ((call + t) % 7) {
            case 0:
            case 1:
            case 2:
                state = game.addDart(darts[static_cast<std::size_t>(call + t) % darts.size()],
                                     "thread " + std::to_string(t))["game"];
                break;
            case 3:
                state = game.markBoardClear()["game"];
                break;
            case 4:
                state = game.undo()["game"];
                break;
            case 5:
                state = game.state();
                break;
            default:
                if (call % 97 == 0 || !game.isPlaying()) {
                    state = game.start({"Ymma", "Kovik"})["game"];
                } else {
                    state = game.state();
                }
                break;
        }
        return inconsistency(state);
    });
    EXPECT_EQ(problems, std::vector<std::vector<std::string>>(6));
    EXPECT_EQ(inconsistency(game.state()), "");
}

}  // namespace
}  // namespace game501
