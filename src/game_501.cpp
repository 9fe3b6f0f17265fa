#include "game_501.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "ascii.h"
#include "beds.h"
#include "utf8.h"

namespace {

constexpr std::size_t kMaxArchivedTurns = 100;
constexpr std::size_t kMaxUndoSteps = 100;
constexpr std::size_t kShownHistory = 20;
constexpr std::size_t kMaxNameBytes = 32;

const char* const kIdle = "idle";
const char* const kPlaying = "playing";
const char* const kFinished = "finished";

// Adds a member to an object that is built in ascending key order, so that
// each member goes in at the end of the map after a single comparison. The
// value is built in place: no temporary document, no copy.
template <typename Value>
Game501::json& addMember(Game501::json::object_t& members, const char* key, Value&& value) {
    return members.emplace_hint(members.end(), key, std::forward<Value>(value))->second;
}

// Cuts the text to at most `limit` bytes without splitting a UTF-8 character:
// a character that would straddle the limit goes whole. Text that is not
// valid UTF-8 up to the limit has no characters to keep whole and is cut at
// the limit itself.
std::string cutToLimit(std::string text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    const auto stop = text.begin() + static_cast<std::ptrdiff_t>(limit);
    if (utf8::find_invalid(text.begin(), text.end()) < stop) {
        text.erase(stop, text.end());
        return text;
    }
    // Valid through the limit, so the only sequence that looks broken before
    // the limit is a character that the limit cuts in two.
    text.erase(utf8::find_invalid(text.begin(), stop), text.end());
    return text;
}

std::string trim(const std::string& value) { return std::string(game501::ascii::trimmed(value)); }

}  // namespace

Game501::Game501() : Game501(&Game501::nowMillis) {}

Game501::Game501(Clock clock)
    : clock_(std::move(clock)),
      status_(kIdle),
      active_player_(0),
      round_(1),
      turn_start_score_(kStartScore),
      awaiting_clear_(false),
      winner_(-1) {}

Game501::json Game501::start(const std::vector<std::string>& player_names) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (player_names.size() < kMinPlayers || player_names.size() > kMaxPlayers) {
        return responseLocked(false, "Välj mellan 1 och 8 spelare");
    }
    std::vector<Player> players;
    players.reserve(player_names.size());
    for (std::size_t index = 0; index < player_names.size(); ++index) {
        players.push_back(Player{normalizeName(player_names[index], index), kStartScore});
    }
    beginLocked(kPlaying, std::move(players));
    return responseLocked(true, "501-spelet har startat");
}

Game501::json Game501::addDart(const std::string& notation, const std::string& source) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (status_ != kPlaying || players_.empty()) {
        return responseLocked(false, "Inget aktivt 501-spel");
    }
    if (awaiting_clear_) {
        return responseLocked(false, "Ta bort pilarna och bekräfta att tavlan är tom");
    }
    const std::optional<DartValue> parsed = parseDart(notation);
    if (!parsed) {
        return responseLocked(false, "Ogiltigt kast: " + utf8::replace_invalid(notation));
    }

    pushSnapshotLocked();

    Dart dart{parsed->notation, parsed->value, parsed->is_double, false, source, clock_()};
    Player& player = players_[static_cast<std::size_t>(active_player_)];
    const int candidate = player.score - dart.value;

    if (candidate < 0 || candidate == 1 || (candidate == 0 && !dart.is_double)) {
        dart.bust = true;
        current_darts_.push_back(std::move(dart));
        player.score = turn_start_score_;
        archiveTurnLocked("bust");
        awaiting_clear_ = true;
        advancePlayerLocked();
        return responseLocked(true, "Bust – turens poäng återställdes");
    }

    player.score = candidate;
    current_darts_.push_back(std::move(dart));

    if (candidate == 0) {
        // The winning turn stays in play so the document shows how it ended.
        archiveTurnLocked("checkout");
        winner_ = active_player_;
        status_ = kFinished;
        awaiting_clear_ = false;
        return responseLocked(true, player.name + " vann med " + parsed->notation);
    }
    if (current_darts_.size() == kDartsPerTurn) {
        archiveTurnLocked("scored");
        awaiting_clear_ = true;
        advancePlayerLocked();
        return responseLocked(true, "Tur klar – ta bort pilarna");
    }
    return responseLocked(true, parsed->notation + " registrerad");
}

Game501::json Game501::undo() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (undo_stack_.empty()) {
        return responseLocked(false, "Det finns inget kast att ångra");
    }
    // Moving cannot fail, so the game and the stack change together.
    restoreLocked(std::move(undo_stack_.back()));
    undo_stack_.pop_back();
    return responseLocked(true, "Senaste kastet ångrades");
}

Game501::json Game501::markBoardClear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    awaiting_clear_ = false;
    return responseLocked(true, "Tavlan är redo för nästa spelare");
}

Game501::json Game501::reset() {
    const std::lock_guard<std::mutex> lock(mutex_);
    beginLocked(kIdle, {});
    return responseLocked(true, "Spelet nollställdes");
}

Game501::json Game501::state() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return stateLocked();
}

bool Game501::isPlaying() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return status_ == kPlaying;
}

std::optional<Game501::DartValue> Game501::parseDart(const std::string& raw_notation) {
    const std::optional<int> bed = game501::beds::parseBed(raw_notation);
    if (!bed) {
        return std::nullopt;
    }
    return DartValue{game501::beds::bedNotation(*bed), game501::beds::bedValue(*bed),
                     game501::beds::isDoubleBed(*bed)};
}

std::string Game501::normalizeName(const std::string& name, std::size_t index) {
    std::string clean = trim(name);
    if (clean.empty()) {
        return "Spelare " + std::to_string(index + 1);
    }
    return cutToLimit(std::move(clean), kMaxNameBytes);
}

Game501::json Game501::dartJson(const Dart& dart) {
    json object(json::value_t::object);
    auto& members = object.get_ref<json::object_t&>();
    addMember(members, "bust", dart.bust);
    addMember(members, "double", dart.is_double);
    addMember(members, "notation", dart.notation);
    addMember(members, "source", dart.source);
    addMember(members, "timestamp", dart.timestamp);
    addMember(members, "value", dart.value);
    return object;
}

std::int64_t Game501::nowMillis() {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    using std::chrono::system_clock;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void Game501::beginLocked(const char* status, std::vector<Player> players) {
    status_ = status;
    players_ = std::move(players);
    active_player_ = 0;
    round_ = 1;
    turn_start_score_ = kStartScore;
    current_darts_.clear();
    history_.clear();
    undo_stack_.clear();
    awaiting_clear_ = false;
    winner_ = -1;
}

Game501::Snapshot Game501::snapshotLocked() const {
    return Snapshot{status_,        players_, active_player_,  round_, turn_start_score_,
                    current_darts_, history_, awaiting_clear_, winner_};
}

void Game501::snapshotLocked(Snapshot& snapshot) const {
    // Assigning in place keeps whatever capacity the old contents had, so
    // only what has the same size is reused (the archive, once it is full);
    // the rest is a fresh copy, as small as that of a new snapshot.
    snapshot.status = status_;
    snapshot.players = players_;
    snapshot.active_player = active_player_;
    snapshot.round = round_;
    snapshot.turn_start_score = turn_start_score_;
    snapshot.current_darts = std::vector<Dart>(current_darts_);
    if (snapshot.history.size() == history_.size()) {
        snapshot.history = history_;
    } else {
        snapshot.history = std::deque<Turn>(history_);
    }
    snapshot.awaiting_clear = awaiting_clear_;
    snapshot.winner = winner_;
}

void Game501::pushSnapshotLocked() {
    if (undo_stack_.size() < kMaxUndoSteps) {
        // Room for every snapshot at once: growing the stack later would
        // move them all.
        undo_stack_.reserve(kMaxUndoSteps);
        undo_stack_.push_back(snapshotLocked());
        return;
    }
    // The oldest snapshot goes, and its strings and arrays take the new copy:
    // assigning into them allocates next to nothing, where a new snapshot
    // would allocate every string and array of the game again.
    try {
        snapshotLocked(undo_stack_.front());
    } catch (...) {
        // A half-written snapshot must never be restored.
        undo_stack_.erase(undo_stack_.begin());
        throw;
    }
    std::rotate(undo_stack_.begin(), undo_stack_.begin() + 1, undo_stack_.end());
}

void Game501::restoreLocked(Snapshot&& snapshot) {
    status_ = std::move(snapshot.status);
    players_ = std::move(snapshot.players);
    active_player_ = snapshot.active_player;
    round_ = snapshot.round;
    turn_start_score_ = snapshot.turn_start_score;
    current_darts_ = std::move(snapshot.current_darts);
    history_ = std::move(snapshot.history);
    awaiting_clear_ = snapshot.awaiting_clear;
    winner_ = snapshot.winner;
}

void Game501::archiveTurnLocked(const std::string& outcome) {
    if (players_.empty()) {
        return;
    }
    history_.push_back(Turn{active_player_, round_, turn_start_score_,
                            players_[static_cast<std::size_t>(active_player_)].score, outcome,
                            current_darts_});
    while (history_.size() > kMaxArchivedTurns) {
        history_.pop_front();
    }
}

void Game501::advancePlayerLocked() {
    if (players_.empty()) {
        return;
    }
    active_player_ = (active_player_ + 1) % static_cast<int>(players_.size());
    if (active_player_ == 0) {
        ++round_;
    }
    turn_start_score_ = players_[static_cast<std::size_t>(active_player_)].score;
    current_darts_.clear();
}

Game501::json Game501::stateLocked() const {
    // Every object is filled in ascending key order (see addMember) and every
    // array is sized before it is filled.
    const bool playing = status_ == kPlaying;
    json players(json::value_t::array);
    auto& player_entries = players.get_ref<json::array_t&>();
    player_entries.reserve(players_.size());
    for (std::size_t index = 0; index < players_.size(); ++index) {
        const int position = static_cast<int>(index);
        auto& members =
            player_entries.emplace_back(json::value_t::object).get_ref<json::object_t&>();
        addMember(members, "active", playing && active_player_ == position);
        addMember(members, "name", players_[index].name);
        addMember(members, "score", players_[index].score);
        addMember(members, "winner", winner_ == position);
    }

    json darts(json::value_t::array);
    auto& dart_entries = darts.get_ref<json::array_t&>();
    dart_entries.reserve(current_darts_.size());
    int turn_total = 0;
    for (const Dart& dart : current_darts_) {
        dart_entries.push_back(dartJson(dart));
        turn_total += dart.value;
    }

    json history(json::value_t::array);
    auto& history_entries = history.get_ref<json::array_t&>();
    history_entries.reserve(std::min(history_.size(), kShownHistory));
    for (auto turn = history_.rbegin();
         turn != history_.rend() && history_entries.size() < kShownHistory; ++turn) {
        json turn_darts(json::value_t::array);
        auto& turn_dart_entries = turn_darts.get_ref<json::array_t&>();
        turn_dart_entries.reserve(turn->darts.size());
        for (const Dart& dart : turn->darts) {
            turn_dart_entries.push_back(dartJson(dart));
        }
        const bool known_player = turn->player_index >= 0 &&
                                  static_cast<std::size_t>(turn->player_index) < players_.size();
        auto& members =
            history_entries.emplace_back(json::value_t::object).get_ref<json::object_t&>();
        addMember(members, "darts", std::move(turn_darts));
        addMember(members, "end_score", turn->end_score);
        addMember(members, "outcome", turn->outcome);
        if (known_player) {
            addMember(members, "player",
                      players_[static_cast<std::size_t>(turn->player_index)].name);
        } else {
            addMember(members, "player", "");
        }
        addMember(members, "player_index", turn->player_index);
        addMember(members, "round", turn->round);
        addMember(members, "start_score", turn->start_score);
    }

    json current_turn(json::value_t::object);
    auto& turn_members = current_turn.get_ref<json::object_t&>();
    addMember(turn_members, "darts", std::move(darts));
    addMember(turn_members, "start_score", turn_start_score_);
    addMember(turn_members, "total", turn_total);

    json state(json::value_t::object);
    auto& members = state.get_ref<json::object_t&>();
    addMember(members, "active_player", active_player_);
    addMember(members, "awaiting_clear", awaiting_clear_);
    addMember(members, "can_undo", !undo_stack_.empty());
    addMember(members, "current_turn", std::move(current_turn));
    addMember(members, "double_out", true);
    addMember(members, "history", std::move(history));
    addMember(members, "players", std::move(players));
    addMember(members, "round", round_);
    addMember(members, "status", status_);
    addMember(members, "variant", "501");
    addMember(members, "winner", winner_);
    return state;
}

Game501::json Game501::responseLocked(bool accepted, const std::string& message) const {
    json response(json::value_t::object);
    auto& members = response.get_ref<json::object_t&>();
    addMember(members, "accepted", accepted);
    addMember(members, "game", stateLocked());
    addMember(members, "message", message);
    return response;
}
