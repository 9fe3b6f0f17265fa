// The typed leg: what each answer says happened, and darts thrown as values
// played exactly as their notations.
#include "leg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "game_501.h"

namespace game501 {

// Lets a failed comparison show the answer.
void PrintTo(const Answer& answer, std::ostream* out) {
    *out << (answer.accepted ? "accepted " : "refused ") << answer.message << " ("
         << statusName(answer.status) << ", " << outcomeName(answer.outcome) << ")";
}

bool operator==(const Answer& left, const Answer& right) {
    return left.accepted == right.accepted && left.message == right.message &&
           left.status == right.status && left.outcome == right.outcome;
}

namespace {

// Ticks one millisecond per dart, the same in every leg made with it.
Leg::Clock countingClock() {
    auto now = std::make_shared<std::int64_t>(1000000);
    return [now] { return ++*now; };
}

struct Step {
    std::string call;  // a notation, or "clear" or "undo"
    Answer answer;
};

constexpr GameStatus kPlaying = GameStatus::playing;

// One player from 501: two full visits, a refused dart, a bust on 24, its
// undo, and the checkout.
const std::vector<Step> kSteps = {
    {"T20", {true, "T20 registrerad", kPlaying, TurnOutcome::open}},
    {"T20", {true, "T20 registrerad", kPlaying, TurnOutcome::open}},
    {"T20", {true, "Tur klar – ta bort pilarna", kPlaying, TurnOutcome::scored}},
    {"S1", {false, "Ta bort pilarna och bekräfta att tavlan är tom", kPlaying, TurnOutcome::open}},
    {"clear", {true, "Tavlan är redo för nästa spelare", kPlaying, TurnOutcome::open}},
    {"T20", {true, "T20 registrerad", kPlaying, TurnOutcome::open}},
    {"T20", {true, "T20 registrerad", kPlaying, TurnOutcome::open}},
    {"T20", {true, "Tur klar – ta bort pilarna", kPlaying, TurnOutcome::scored}},
    {"clear", {true, "Tavlan är redo för nästa spelare", kPlaying, TurnOutcome::open}},
    {"T20", {true, "T20 registrerad", kPlaying, TurnOutcome::open}},
    {"t19", {true, "T19 registrerad", kPlaying, TurnOutcome::open}},
    {"D20", {true, "Bust – turens poäng återställdes", kPlaying, TurnOutcome::bust}},
    {"undo", {true, "Senaste kastet ångrades", kPlaying, TurnOutcome::open}},
    {"D12", {true, "Zef vann med D12", GameStatus::finished, TurnOutcome::checkout}},
    {"D12", {false, "Inget aktivt 501-spel", GameStatus::finished, TurnOutcome::open}},
};

TEST(LegAnswer, SaysWhatEachDartDidAndMatchesTheEnginesDocuments) {
    Leg leg(countingClock());
    Game501 game(countingClock());
    EXPECT_EQ(leg.start({"Zef"}), (Answer{true, "501-spelet har startat", kPlaying}));
    game.start({"Zef"});
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.call);
        const Answer answer = step.call == "clear"  ? leg.markBoardClear()
                              : step.call == "undo" ? leg.undo()
                                                    : leg.addDart(step.call, "test");
        const Game501::json document = step.call == "clear"  ? game.markBoardClear()
                                       : step.call == "undo" ? game.undo()
                                                             : game.addDart(step.call, "test");
        EXPECT_EQ(answer, step.answer);
        EXPECT_EQ(Game501::responseDocument(answer, leg), document);
    }
    EXPECT_EQ(leg.winner(), 0);
    EXPECT_EQ(leg.history().back().outcome, TurnOutcome::checkout);
}

// A dart already read plays as its notation does, refusals included.
TEST(LegAnswer, TakesADartValueAsItsNotation) {
    Leg by_notation(countingClock());
    Leg by_value(countingClock());
    EXPECT_EQ(by_value.addDart(*parseDart("D1"), "test"), by_notation.addDart("D1", "test"));
    by_notation.start({"Zef"});
    by_value.start({"Zef"});
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.call);
        if (step.call == "clear") {
            by_notation.markBoardClear();
            by_value.markBoardClear();
        } else if (step.call == "undo") {
            by_notation.undo();
            by_value.undo();
        } else {
            EXPECT_EQ(by_value.addDart(*parseDart(step.call), "test"),
                      by_notation.addDart(step.call, "test"));
        }
        EXPECT_EQ(Game501::stateDocument(by_value), Game501::stateDocument(by_notation));
    }
}

}  // namespace
}  // namespace game501
