#include "game_501.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <utility>

namespace {

constexpr int kStartScore = 501;
constexpr std::size_t kMaxPlayers = 8;
constexpr std::size_t kDartsPerTurn = 3;
constexpr std::size_t kMaxArchivedTurns = 100;
constexpr std::size_t kMaxUndoSteps = 100;
constexpr std::size_t kShownHistory = 20;
constexpr std::size_t kMaxNameBytes = 32;

const char* const kIdle = "idle";
const char* const kPlaying = "playing";
const char* const kFinished = "finished";

// Character classes of the "C" locale, whatever locale the process runs in.
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

char toUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U; }

// Returns the text with each ill-formed UTF-8 sequence (its longest start
// that could still have become a character) replaced by U+FFFD, so an echo of
// untrusted bytes stays valid text. Valid text comes back byte for byte.
std::string withValidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        unsigned char second_min = 0x80;  // the second byte's range excludes
        unsigned char second_max = 0xBF;  // overlong forms and surrogates
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            second_min = lead == 0xE0 ? 0xA0 : 0x80;
            second_max = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            second_min = lead == 0xF0 ? 0x90 : 0x80;
            second_max = lead == 0xF4 ? 0x8F : 0xBF;
        }
        std::size_t fitting = length == 0 ? 0 : 1;
        while (fitting < length && i + fitting < text.size()) {
            const auto byte = static_cast<unsigned char>(text[i + fitting]);
            const unsigned char low = fitting == 1 ? second_min : 0x80;
            const unsigned char high = fitting == 1 ? second_max : 0xBF;
            if (byte < low || byte > high) {
                break;
            }
            ++fitting;
        }
        if (length != 0 && fitting == length) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            i += fitting == 0 ? 1 : fitting;
        }
    }
    return out;
}

std::string trim(std::string value) {
    std::size_t first = 0;
    while (first < value.size() && isSpace(value[first])) {
        ++first;
    }
    std::size_t last = value.size();
    while (last > first && isSpace(value[last - 1])) {
        --last;
    }
    return value.substr(first, last - first);
}

}  // namespace

Game501::Game501()
    : status_(kIdle),
      active_player_(0),
      round_(1),
      turn_start_score_(kStartScore),
      awaiting_clear_(false),
      winner_(-1) {}

Game501::json Game501::start(const std::vector<std::string>& player_names) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (player_names.empty() || player_names.size() > kMaxPlayers) {
        return responseLocked(false, "Välj mellan 1 och 8 spelare");
    }
    players_.clear();
    players_.reserve(player_names.size());
    for (std::size_t index = 0; index < player_names.size(); ++index) {
        players_.push_back(Player{normalizeName(player_names[index], index), kStartScore});
    }
    status_ = kPlaying;
    active_player_ = 0;
    round_ = 1;
    turn_start_score_ = kStartScore;
    current_darts_.clear();
    history_.clear();
    undo_stack_.clear();
    awaiting_clear_ = false;
    winner_ = -1;
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
        return responseLocked(false, "Ogiltigt kast: " + withValidUtf8(notation));
    }

    undo_stack_.push_back(snapshotLocked());
    if (undo_stack_.size() > kMaxUndoSteps) {
        undo_stack_.erase(undo_stack_.begin());
    }

    Dart dart{parsed->notation, parsed->value, parsed->is_double, false, source, nowMillis()};
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
    // Copied before it leaves the stack, so a failed copy loses nothing.
    const Snapshot previous = undo_stack_.back();
    undo_stack_.pop_back();
    restoreLocked(previous);
    return responseLocked(true, "Senaste kastet ångrades");
}

Game501::json Game501::markBoardClear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    awaiting_clear_ = false;
    return responseLocked(true, "Tavlan är redo för nästa spelare");
}

Game501::json Game501::reset() {
    const std::lock_guard<std::mutex> lock(mutex_);
    status_ = kIdle;
    players_.clear();
    active_player_ = 0;
    round_ = 1;
    turn_start_score_ = kStartScore;
    current_darts_.clear();
    history_.clear();
    undo_stack_.clear();
    awaiting_clear_ = false;
    winner_ = -1;
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
    std::string text = trim(raw_notation);
    for (char& c : text) {
        c = toUpper(c);
    }

    if (text == "MISS" || text == "M" || text == "0") {
        return DartValue{"MISS", 0, false};
    }
    if (text == "OUTER" || text == "SB" || text == "S25" || text == "25") {
        return DartValue{"OUTER", 25, false};
    }
    if (text == "BULL" || text == "DB" || text == "D25" || text == "50") {
        return DartValue{"BULL", 50, true};
    }

    char multiplier = 'S';
    std::size_t digits_from = 0;
    if (!text.empty() && (text[0] == 'S' || text[0] == 'D' || text[0] == 'T')) {
        multiplier = text[0];
        digits_from = 1;
    }
    if (digits_from == text.size()) {
        return std::nullopt;
    }
    // Any count of leading zeros is allowed; a value beyond 32 bits is
    // rejected, never wrapped.
    std::int64_t number = 0;
    for (std::size_t i = digits_from; i < text.size(); ++i) {
        if (!isDigit(text[i])) {
            return std::nullopt;
        }
        number = number * 10 + (text[i] - '0');
        if (number > std::numeric_limits<std::int32_t>::max()) {
            return std::nullopt;
        }
    }
    if (number < 1 || number > 20) {
        return std::nullopt;
    }
    const int segment = static_cast<int>(number);
    const int factor = multiplier == 'T' ? 3 : multiplier == 'D' ? 2 : 1;
    return DartValue{multiplier + std::to_string(segment), segment * factor, multiplier == 'D'};
}

std::string Game501::normalizeName(const std::string& name, std::size_t index) {
    std::string clean = trim(name);
    if (clean.empty()) {
        return "Spelare " + std::to_string(index + 1);
    }
    if (clean.size() > kMaxNameBytes) {
        // Cut before a UTF-8 character that straddles the limit, so the name
        // stays valid text. A lead byte is at most three bytes back; without
        // one the name was not valid UTF-8 and is cut at the limit.
        std::size_t cut = kMaxNameBytes;
        while (cut > kMaxNameBytes - 3 && isUtf8Continuation(clean[cut])) {
            --cut;
        }
        if (isUtf8Continuation(clean[cut])) {
            cut = kMaxNameBytes;
        }
        clean.resize(cut);
    }
    return clean;
}

Game501::json Game501::dartJson(const Dart& dart) {
    return json{{"notation", dart.notation}, {"value", dart.value},
                {"double", dart.is_double},  {"bust", dart.bust},
                {"source", dart.source},     {"timestamp", dart.timestamp}};
}

std::int64_t Game501::nowMillis() {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    using std::chrono::system_clock;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

Game501::Snapshot Game501::snapshotLocked() const {
    return Snapshot{status_,        players_, active_player_,  round_, turn_start_score_,
                    current_darts_, history_, awaiting_clear_, winner_};
}

void Game501::restoreLocked(const Snapshot& snapshot) {
    status_ = snapshot.status;
    players_ = snapshot.players;
    active_player_ = snapshot.active_player;
    round_ = snapshot.round;
    turn_start_score_ = snapshot.turn_start_score;
    current_darts_ = snapshot.current_darts;
    history_ = snapshot.history;
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
    json players = json::array();
    for (std::size_t index = 0; index < players_.size(); ++index) {
        const int position = static_cast<int>(index);
        players.push_back({{"name", players_[index].name},
                           {"score", players_[index].score},
                           {"active", status_ == kPlaying && active_player_ == position},
                           {"winner", winner_ == position}});
    }

    json darts = json::array();
    int turn_total = 0;
    for (const Dart& dart : current_darts_) {
        darts.push_back(dartJson(dart));
        turn_total += dart.value;
    }

    json history = json::array();
    for (auto turn = history_.rbegin(); turn != history_.rend() && history.size() < kShownHistory;
         ++turn) {
        json turn_darts = json::array();
        for (const Dart& dart : turn->darts) {
            turn_darts.push_back(dartJson(dart));
        }
        const bool known_player = turn->player_index >= 0 &&
                                  static_cast<std::size_t>(turn->player_index) < players_.size();
        history.push_back(
            {{"player_index", turn->player_index},
             {"player", known_player ? players_[static_cast<std::size_t>(turn->player_index)].name
                                     : std::string()},
             {"round", turn->round},
             {"start_score", turn->start_score},
             {"end_score", turn->end_score},
             {"outcome", turn->outcome},
             {"darts", turn_darts}});
    }

    return json{{"status", status_},
                {"variant", "501"},
                {"double_out", true},
                {"round", round_},
                {"active_player", active_player_},
                {"winner", winner_},
                {"awaiting_clear", awaiting_clear_},
                {"can_undo", !undo_stack_.empty()},
                {"players", players},
                {"current_turn",
                 {{"start_score", turn_start_score_}, {"total", turn_total}, {"darts", darts}}},
                {"history", history}};
}

Game501::json Game501::responseLocked(bool accepted, const std::string& message) const {
    return json{{"accepted", accepted}, {"message", message}, {"game", stateLocked()}};
}
