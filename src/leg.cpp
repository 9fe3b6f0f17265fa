#include "leg.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "beds.h"
#include "utf8.h"

namespace game501 {

namespace {

constexpr std::size_t kMaxHistoryTurns = 100;
constexpr std::size_t kMaxUndoSteps = 100;

std::int64_t wallClockMillis() {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    using std::chrono::system_clock;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

DartValue dartValue(int bed) {
    return DartValue{beds::bedNotation(bed), beds::bedValue(bed), beds::isDoubleBed(bed)};
}

std::optional<DartValue> parseDart(const std::string& notation) {
    const std::optional<int> bed = beds::parseBed(notation);
    if (!bed) {
        return std::nullopt;
    }
    return dartValue(*bed);
}

const char* statusName(GameStatus status) {
    switch (status) {
        case GameStatus::playing:
            return "playing";
        case GameStatus::finished:
            return "finished";
        case GameStatus::idle:
            break;
    }
    return "idle";
}

Leg::Leg(Clock clock) : clock_(clock ? std::move(clock) : Clock(&wallClockMillis)) {
    begin(GameStatus::idle, {});
}

Answer Leg::start(const std::vector<std::string>& player_names) {
    if (player_names.size() < static_cast<std::size_t>(kMinPlayers) ||
        player_names.size() > static_cast<std::size_t>(kMaxPlayers)) {
        return answer(false, rangeRefusal(kMinPlayers, kMaxPlayers, "spelare"));
    }
    std::vector<Player> players;
    players.reserve(player_names.size());
    for (std::size_t index = 0; index < player_names.size(); ++index) {
        players.push_back(Player{playerName(player_names[index], index), kStartScore});
    }
    begin(GameStatus::playing, std::move(players));
    return answer(true, "501-spelet har startat");
}

Answer Leg::addDart(const std::string& notation, const std::string& source) {
    if (std::optional<Answer> refusal = dartRefusal()) {
        return std::move(*refusal);
    }
    const std::optional<DartValue> dart = parseDart(notation);
    if (!dart) {
        return answer(false, "Ogiltigt kast: " + utf8::replace_invalid(notation));
    }
    return scoreDart(*dart, source);
}

Answer Leg::addDart(const DartValue& dart, const std::string& source) {
    if (std::optional<Answer> refusal = dartRefusal()) {
        return std::move(*refusal);
    }
    return scoreDart(dart, source);
}

Answer Leg::undo() {
    if (undo_stack_.empty()) {
        return answer(false, "Det finns inget kast att ångra");
    }
    // Moving cannot fail, so the game and the stack change together.
    now_ = std::move(undo_stack_.back());
    undo_stack_.pop_back();
    return answer(true, "Senaste kastet ångrades");
}

Answer Leg::markBoardClear() {
    now_.awaiting_clear = false;
    return answer(true, "Tavlan är redo för nästa spelare");
}

Answer Leg::reset() {
    begin(GameStatus::idle, {});
    return answer(true, "Spelet nollställdes");
}

Answer Leg::answer(bool accepted, std::string message, TurnOutcome outcome) const {
    return Answer{accepted, std::move(message), now_.status, outcome};
}

std::optional<Answer> Leg::dartRefusal() const {
    if (now_.status != GameStatus::playing) {
        return answer(false, "Inget aktivt 501-spel");
    }
    if (now_.awaiting_clear) {
        return answer(false, "Ta bort pilarna och bekräfta att tavlan är tom");
    }
    return std::nullopt;
}

Answer Leg::scoreDart(const DartValue& dart, const std::string& source) {
    pushSnapshot();
    Player& player = now_.players[static_cast<std::size_t>(now_.turn.player)];
    const DartEffect effect = dartEffect(player.score, dart.value, dart.is_double);
    now_.turn.darts.push_back(DartRecord{dart.notation, dart.value, dart.is_double,
                                         effect == DartEffect::busts, source, clock_()});

    if (effect == DartEffect::busts) {
        player.score = now_.turn.start_score;
        endTurn(TurnOutcome::bust);
        now_.awaiting_clear = true;
        passTurn();
        return answer(true, "Bust – turens poäng återställdes", TurnOutcome::bust);
    }

    player.score -= dart.value;

    if (effect == DartEffect::checks_out) {
        // The winning turn stays in play so that it shows how the game ended.
        endTurn(TurnOutcome::checkout);
        now_.winner = now_.turn.player;
        now_.status = GameStatus::finished;
        now_.awaiting_clear = false;
        return answer(true, player.name + " vann med " + dart.notation, TurnOutcome::checkout);
    }
    if (now_.turn.darts.size() == static_cast<std::size_t>(kDartsPerTurn)) {
        endTurn(TurnOutcome::scored);
        now_.awaiting_clear = true;
        passTurn();
        return answer(true, "Tur klar – ta bort pilarna", TurnOutcome::scored);
    }
    return answer(true, dart.notation + " registrerad");
}

void Leg::begin(GameStatus status, std::vector<Player> players) {
    now_.status = status;
    now_.players = std::move(players);
    now_.turn = Turn{0, 1, kStartScore, 0, TurnOutcome::open, {}};
    now_.history.clear();
    now_.awaiting_clear = false;
    now_.winner = -1;
    undo_stack_.clear();
}

void Leg::pushSnapshot() {
    if (undo_stack_.size() < kMaxUndoSteps) {
        // Room for every snapshot at once: growing the stack later would
        // move them all.
        undo_stack_.reserve(kMaxUndoSteps);
        undo_stack_.push_back(now_);
        return;
    }
    // The oldest snapshot goes, and its strings and arrays take the new copy:
    // assigning into them allocates next to nothing, where a new snapshot
    // would allocate every string and array of the game again.
    try {
        copyInto(undo_stack_.front());
    } catch (...) {
        // A half-written snapshot must never be restored.
        undo_stack_.erase(undo_stack_.begin());
        throw;
    }
    std::rotate(undo_stack_.begin(), undo_stack_.begin() + 1, undo_stack_.end());
}

void Leg::copyInto(Snapshot& snapshot) const {
    // Assigning in place keeps whatever capacity the old contents had, so
    // only what has the same size is reused (the history, once it is full);
    // the rest is a fresh copy, as small as that of a new snapshot.
    snapshot.status = now_.status;
    snapshot.players = now_.players;
    snapshot.turn = Turn(now_.turn);
    if (snapshot.history.size() == now_.history.size()) {
        snapshot.history = now_.history;
    } else {
        snapshot.history = std::deque<Turn>(now_.history);
    }
    snapshot.awaiting_clear = now_.awaiting_clear;
    snapshot.winner = now_.winner;
}

void Leg::endTurn(TurnOutcome outcome) {
    now_.turn.outcome = outcome;
    now_.turn.end_score = now_.players[static_cast<std::size_t>(now_.turn.player)].score;
    now_.history.push_back(now_.turn);
    while (now_.history.size() > kMaxHistoryTurns) {
        now_.history.pop_front();
    }
}

void Leg::passTurn() {
    Turn& turn = now_.turn;
    turn.player = (turn.player + 1) % static_cast<int>(now_.players.size());
    if (turn.player == 0) {
        ++turn.round;
    }
    turn.start_score = now_.players[static_cast<std::size_t>(turn.player)].score;
    turn.end_score = 0;
    turn.outcome = TurnOutcome::open;
    turn.darts.clear();
}

}  // namespace game501
