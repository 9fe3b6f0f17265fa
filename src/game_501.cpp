#include "game_501.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>

#include "json_members.h"
#include "json_writers.h"

namespace {

using game501::addMember;

// The newest turns of the history that a state document shows.
constexpr std::size_t kShownHistory = 20;

// Writes the darts of a visit.
template <typename Writer>
void writeDarts(Writer& out, const std::vector<game501::DartRecord>& darts) {
    out.beginArray(darts.size());
    for (const game501::DartRecord& dart : darts) {
        out.beginObject();
        out.key("bust");
        out.value(dart.bust);
        out.key("double");
        out.value(dart.is_double);
        out.key("notation");
        out.value(dart.notation);
        out.key("source");
        out.value(dart.source);
        out.key("timestamp");
        out.value(dart.timestamp);
        out.key("value");
        out.value(dart.value);
        out.endObject();
    }
    out.endArray();
}

// Writes the newest visits of the history that a state shows, newest first.
template <typename Writer>
void writeHistory(Writer& out, const game501::Leg& leg) {
    const std::size_t shown = std::min(leg.history().size(), kShownHistory);
    const auto oldest_shown = std::next(leg.history().rbegin(), static_cast<std::ptrdiff_t>(shown));
    out.beginArray(shown);
    for (auto ended = leg.history().rbegin(); ended != oldest_shown; ++ended) {
        out.beginObject();
        out.key("darts");
        writeDarts(out, ended->darts);
        out.key("end_score");
        out.value(ended->end_score);
        out.key("outcome");
        out.value(game501::outcomeName(ended->outcome));
        out.key("player");
        out.value(leg.players()[static_cast<std::size_t>(ended->player)].name);
        out.key("player_index");
        out.value(ended->player);
        out.key("round");
        out.value(ended->round);
        out.key("start_score");
        out.value(ended->start_score);
        out.endObject();
    }
    out.endArray();
}

// Writes the state document of `leg` with `out`, a JsonText or a
// JsonBuilder, every object's keys in ascending order; `history(out)`
// writes its history.
template <typename Writer, typename History>
void writeState(Writer& out, const game501::Leg& leg, History&& history) {
    const game501::Leg::Turn& turn = leg.turn();
    const bool playing = leg.status() == game501::GameStatus::playing;
    int turn_total = 0;
    for (const game501::DartRecord& dart : turn.darts) {
        turn_total += dart.value;
    }
    out.beginObject();
    out.key("active_player");
    out.value(turn.player);
    out.key("awaiting_clear");
    out.value(leg.awaitingClear());
    out.key("can_undo");
    out.value(leg.canUndo());
    out.key("current_turn");
    out.beginObject();
    out.key("darts");
    writeDarts(out, turn.darts);
    out.key("start_score");
    out.value(turn.start_score);
    out.key("total");
    out.value(turn_total);
    out.endObject();
    out.key("double_out");
    out.value(true);

    out.key("history");
    history(out);

    out.key("players");
    out.beginArray(leg.players().size());
    for (std::size_t index = 0; index < leg.players().size(); ++index) {
        const int position = static_cast<int>(index);
        const game501::Leg::Player& player = leg.players()[index];
        out.beginObject();
        out.key("active");
        out.value(playing && turn.player == position);
        out.key("name");
        out.value(player.name);
        out.key("score");
        out.value(player.score);
        out.key("winner");
        out.value(leg.winner() == position);
        out.endObject();
    }
    out.endArray();

    out.key("round");
    out.value(turn.round);
    out.key("status");
    out.value(game501::statusName(leg.status()));
    out.key("variant");
    out.value("501");
    out.key("winner");
    out.value(leg.winner());
    out.endObject();
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
    game501::JsonBuilder out;
    writeState(out, leg, [&leg](game501::JsonBuilder& history) { writeHistory(history, leg); });
    return out.take();
}

Game501::json Game501::responseDocument(const game501::Answer& answer, const game501::Leg& leg) {
    json response(json::value_t::object);
    auto& members = response.get_ref<json::object_t&>();
    addMember(members, "accepted", answer.accepted);
    addMember(members, "game", stateDocument(leg));
    addMember(members, "message", answer.message);
    return response;
}

std::string Game501::stateText(const game501::Leg& leg) { return stateText(leg, nullptr).text; }

Game501::StateText Game501::stateText(const game501::Leg& leg, const StateText* before) {
    StateText state;
    state.history_version = leg.historyVersion();
    // About 100 bytes a dart shown, 30 more a visit and 500 besides: one
    // allocation for most states.
    game501::JsonText out(512 + 330 * std::min(leg.history().size(), kShownHistory));
    writeState(out, leg, [&](game501::JsonText& history) {
        state.history_begin = history.size();
        if (before != nullptr && before->history_version == state.history_version) {
            history.raw(
                std::string_view(before->text)
                    .substr(before->history_begin, before->history_end - before->history_begin));
        } else {
            writeHistory(history, leg);
        }
        state.history_end = history.size();
    });
    state.text = out.take();
    return state;
}

std::string Game501::responseText(const game501::Answer& answer, const std::string& state) {
    // The members in key order, as the document has them.
    game501::JsonText message;
    message.value(answer.message);
    std::string text;
    const std::string message_text = message.take();
    text.reserve(state.size() + message_text.size() + 40);
    text.append("{\"accepted\":").append(answer.accepted ? "true" : "false");
    text.append(",\"game\":").append(state);
    text.append(",\"message\":").append(message_text);
    text.push_back('}');
    return text;
}
