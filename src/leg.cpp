#include "leg.h"

#include <algorithm>
#include <atomic>
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
    UndoPoint& point = undo_stack_.back();
    if (point.ended_turn) {
        // The dart's visit is the newest of the history: it is thrown again.
        now_.turn = std::move(now_.history.back());
        now_.history.pop_back();
        if (point.oldest) {
            now_.history.push_front(std::move(*point.oldest));
        }
        now_.turn.end_score = 0;
        now_.turn.outcome = TurnOutcome::open;
        historyChanged();
    }
    now_.turn.darts.pop_back();
    now_.players[static_cast<std::size_t>(now_.turn.player)].score = point.score;
    now_.status = GameStatus::playing;
    now_.awaiting_clear = false;
    now_.winner = -1;
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
    Player& player = now_.players[static_cast<std::size_t>(now_.turn.player)];
    const DartEffect effect = dartEffect(player.score, dart.value, dart.is_double);
    // The undo point goes in first and says that the visit ended only once
    // it has, so that a dart that fails part way is still taken back whole.
    UndoPoint& point = undo_stack_.emplace_back(UndoPoint{player.score, false, std::nullopt});
    try {
        now_.turn.darts.push_back(DartRecord{dart.notation, dart.value, dart.is_double,
                                             effect == DartEffect::busts, source, clock_()});
    } catch (...) {
        undo_stack_.pop_back();
        throw;
    }
    if (undo_stack_.size() > kMaxUndoSteps) {
        undo_stack_.pop_front();
    }

    if (effect == DartEffect::busts) {
        player.score = now_.turn.start_score;
        endTurn(TurnOutcome::bust, point);
        now_.awaiting_clear = true;
        passTurn();
        return answer(true, "Bust – turens poäng återställdes", TurnOutcome::bust);
    }

    player.score -= dart.value;

    if (effect == DartEffect::checks_out) {
        // The winning turn stays in play so that it shows how the game ended.
        endTurn(TurnOutcome::checkout, point);
        now_.winner = now_.turn.player;
        now_.status = GameStatus::finished;
        now_.awaiting_clear = false;
        return answer(true, player.name + " vann med " + dart.notation, TurnOutcome::checkout);
    }
    if (now_.turn.darts.size() == static_cast<std::size_t>(kDartsPerTurn)) {
        endTurn(TurnOutcome::scored, point);
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
    historyChanged();
    now_.awaiting_clear = false;
    now_.winner = -1;
    undo_stack_.clear();
}

void Leg::endTurn(TurnOutcome outcome, UndoPoint& point) {
    // Copied first, so that a copy that fails leaves the visit open.
    now_.history.push_back(now_.turn);
    now_.turn.outcome = outcome;
    now_.turn.end_score = now_.players[static_cast<std::size_t>(now_.turn.player)].score;
    now_.history.back().outcome = outcome;
    now_.history.back().end_score = now_.turn.end_score;
    if (now_.history.size() > kMaxHistoryTurns) {
        point.oldest = std::move(now_.history.front());
        now_.history.pop_front();
    }
    point.ended_turn = true;
    historyChanged();
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

void Leg::historyChanged() {
    // Shared by every leg, so that no two histories have one version.
    static std::atomic<std::uint64_t> versions{0};
    now_.history_version = versions.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace game501
