#include "game_501.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "json_members.h"

namespace {

using game501::addMember;

// The newest turns of the history that a state document shows.
constexpr std::size_t kShownHistory = 20;

Game501::json dartJson(const game501::DartRecord& dart) {
    Game501::json object(Game501::json::value_t::object);
    auto& members = object.get_ref<Game501::json::object_t&>();
    addMember(members, "bust", dart.bust);
    addMember(members, "double", dart.is_double);
    addMember(members, "notation", dart.notation);
    addMember(members, "source", dart.source);
    addMember(members, "timestamp", dart.timestamp);
    addMember(members, "value", dart.value);
    return object;
}

Game501::json dartsJson(const std::vector<game501::DartRecord>& darts) {
    Game501::json array(Game501::json::value_t::array);
    auto& entries = array.get_ref<Game501::json::array_t&>();
    entries.reserve(darts.size());
    for (const game501::DartRecord& dart : darts) {
        entries.push_back(dartJson(dart));
    }
    return array;
}

}  // namespace

Game501::Game501() = default;

Game501::Game501(Clock clock) : leg_(std::move(clock)) {}

Game501::json Game501::start(const std::vector<std::string>& player_names) {
    const game501::MutexLock lock(mutex_);
    return respondLocked(leg_.start(player_names));
}

Game501::json Game501::addDart(const std::string& notation, const std::string& source) {
    const game501::MutexLock lock(mutex_);
    return respondLocked(leg_.addDart(notation, source));
}

Game501::json Game501::undo() {
    const game501::MutexLock lock(mutex_);
    return respondLocked(leg_.undo());
}

Game501::json Game501::markBoardClear() {
    const game501::MutexLock lock(mutex_);
    return respondLocked(leg_.markBoardClear());
}

Game501::json Game501::reset() {
    const game501::MutexLock lock(mutex_);
    return respondLocked(leg_.reset());
}

Game501::json Game501::state() const {
    const game501::MutexLock lock(mutex_);
    return stateDocument(leg_);
}

bool Game501::isPlaying() const {
    const game501::MutexLock lock(mutex_);
    return leg_.status() == game501::GameStatus::playing;
}

std::optional<Game501::DartValue> Game501::parseDart(const std::string& raw_notation) {
    return game501::parseDart(raw_notation);
}

Game501::json Game501::respondLocked(const game501::Answer& answer) const {
    return responseDocument(answer, leg_);
}

Game501::json Game501::stateDocument(const game501::Leg& leg) {
    // Every object is filled in ascending key order (see addMember) and every
    // array is sized before it is filled.
    const game501::Leg::Turn& turn = leg.turn();
    const bool playing = leg.status() == game501::GameStatus::playing;
    json players(json::value_t::array);
    auto& player_entries = players.get_ref<json::array_t&>();
    player_entries.reserve(leg.players().size());
    for (std::size_t index = 0; index < leg.players().size(); ++index) {
        const int position = static_cast<int>(index);
        const game501::Leg::Player& player = leg.players()[index];
        auto& members =
            player_entries.emplace_back(json::value_t::object).get_ref<json::object_t&>();
        addMember(members, "active", playing && turn.player == position);
        addMember(members, "name", player.name);
        addMember(members, "score", player.score);
        addMember(members, "winner", leg.winner() == position);
    }

    json history(json::value_t::array);
    auto& history_entries = history.get_ref<json::array_t&>();
    history_entries.reserve(std::min(leg.history().size(), kShownHistory));
    for (auto ended = leg.history().rbegin();
         ended != leg.history().rend() && history_entries.size() < kShownHistory; ++ended) {
        auto& members =
            history_entries.emplace_back(json::value_t::object).get_ref<json::object_t&>();
        addMember(members, "darts", dartsJson(ended->darts));
        addMember(members, "end_score", ended->end_score);
        addMember(members, "outcome", game501::outcomeName(ended->outcome));
        addMember(members, "player", leg.players()[static_cast<std::size_t>(ended->player)].name);
        addMember(members, "player_index", ended->player);
        addMember(members, "round", ended->round);
        addMember(members, "start_score", ended->start_score);
    }

    int turn_total = 0;
    for (const game501::DartRecord& dart : turn.darts) {
        turn_total += dart.value;
    }
    json current_turn(json::value_t::object);
    auto& turn_members = current_turn.get_ref<json::object_t&>();
    addMember(turn_members, "darts", dartsJson(turn.darts));
    addMember(turn_members, "start_score", turn.start_score);
    addMember(turn_members, "total", turn_total);

    json state(json::value_t::object);
    auto& members = state.get_ref<json::object_t&>();
    addMember(members, "active_player", turn.player);
    addMember(members, "awaiting_clear", leg.awaitingClear());
    addMember(members, "can_undo", leg.canUndo());
    addMember(members, "current_turn", std::move(current_turn));
    addMember(members, "double_out", true);
    addMember(members, "history", std::move(history));
    addMember(members, "players", std::move(players));
    addMember(members, "round", turn.round);
    addMember(members, "status", game501::statusName(leg.status()));
    addMember(members, "variant", "501");
    addMember(members, "winner", leg.winner());
    return state;
}

Game501::json Game501::responseDocument(const game501::Answer& answer, const game501::Leg& leg) {
    json response(json::value_t::object);
    auto& members = response.get_ref<json::object_t&>();
    addMember(members, "accepted", answer.accepted);
    addMember(members, "game", stateDocument(leg));
    addMember(members, "message", answer.message);
    return response;
}

std::string Game501::stateText(const game501::Leg& leg) {
    return stateDocument(leg).dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string Game501::responseText(const game501::Answer& answer, const std::string& state) {
    // The members in key order, as the document has them.
    const std::string message =
        json(answer.message).dump(-1, ' ', false, json::error_handler_t::replace);
    std::string text;
    text.reserve(state.size() + message.size() + 40);
    text.append("{\"accepted\":").append(answer.accepted ? "true" : "false");
    text.append(",\"game\":").append(state);
    text.append(",\"message\":").append(message);
    text.push_back('}');
    return text;
}
