// The typed leg: what each answer says happened, and darts thrown as values
// played exactly as their notations.
#include "leg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <sstream>
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

// Returns everything a leg holds, its whole history included (a state
// document shows only the newest visits).
std::string described(const Leg& leg) {
    std::ostringstream out;
    const auto visit = [&out](const Leg::Turn& turn) {
        out << "\n  " << turn.player << '/' << turn.round << ' ' << turn.start_score << '-'
            << turn.end_score << ' ' << outcomeName(turn.outcome) << ':';
        for (const DartRecord& dart : turn.darts) {
            out << ' ' << dart.notation << '=' << dart.value << (dart.is_double ? "d" : "")
                << (dart.bust ? "b" : "") << '@' << dart.timestamp << '[' << dart.source << ']';
        }
    };
    out << statusName(leg.status()) << " winner " << leg.winner() << " clear "
        << leg.awaitingClear() << " undo " << leg.canUndo() << " scores";
    for (const Leg::Player& player : leg.players()) {
        out << ' ' << player.name << '=' << player.score;
    }
    out << "\nturn";
    visit(leg.turn());
    out << "\nhistory " << leg.history().size();
    for (const Leg::Turn& turn : leg.history()) {
        visit(turn);
    }
    return out.str();
}

// An undo point keeps only what the dart changed; each step back must give
// the whole leg as it was, past the bounds of the undo points (100) and of
// the history (100 visits), with busts, and refilled after undoing part way.
TEST(LegUndo, GivesBackTheWholeLegAsItWasBeforeEachDart) {
    Leg leg(countingClock());
    leg.start({"Zef", "Kovik", "Ymma"});
    // No doubles, so the leg never ends; the scores run low and bust.
    const std::vector<std::string> darts = {"T20", "S1", "MISS", "T19", "OUTER", "5", "t7"};
    std::vector<std::string> before = {described(leg)};
    int thrown = 0;
    const auto throwDarts = [&](int count) {
        for (int i = 0; i < count; ++i, ++thrown) {
            const std::string source = thrown % 2 == 0 ? "a label longer than fifteen bytes" : "s";
            ASSERT_TRUE(leg.addDart(darts[static_cast<std::size_t>(thrown) % darts.size()], source)
                            .accepted)
                << "dart " << thrown;
            if (leg.awaitingClear()) {
                leg.markBoardClear();
            }
            before.push_back(described(leg));
        }
    };
    const auto undoAndCheck = [&](int count) {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(leg.undo().accepted) << "undo " << i;
            before.pop_back();
            // The board clear after a visit is not undone: a step back shows
            // the leg as it was after it, but for the last point taken.
            std::string expected = before.back();
            if (!leg.canUndo()) {
                expected.replace(expected.find(" undo 1 "), 8, " undo 0 ");
            }
            ASSERT_EQ(described(leg), expected) << "undo " << i;
        }
    };

    throwDarts(400);
    ASSERT_EQ(leg.history().size(), 100U);
    undoAndCheck(40);
    throwDarts(60);
    undoAndCheck(100);
    EXPECT_FALSE(leg.undo().accepted);
}

}  // namespace
}  // namespace game501
