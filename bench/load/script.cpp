#include "script.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "beds.h"
#include "computer_player.h"
#include "front_end.h"
#include "game_501.h"

namespace game501::load {

namespace {

constexpr std::array<const char*, 2> kPlayerNames = {"Anna", "Bo"};
static_assert(kPlayerNames.size() >= Game501::kMinPlayers &&
              kPlayerNames.size() <= Game501::kMaxPlayers);
// The journal's bytes per dart are stated for labels of 8 bytes.
constexpr std::string_view kSourceLabel = "loadtest";
static_assert(kSourceLabel.size() == 8 && kSourceLabel.size() <= front_end::kMaxSourceBytes);

}  // namespace

const std::vector<std::string> kPlayers(kPlayerNames.begin(), kPlayerNames.end());
const std::string kSource(kSourceLabel);

namespace {

constexpr int kScriptGames = 16;
constexpr std::size_t kMaxScriptGameDarts = 400;
// Both players throw as the library's strong player: about 18 darts a leg
// alone, so a game of two holds about 30, as the script of the generator's
// first figures did. A strong player seldom busts; the seed (the first
// player's, the next one the second's) is one whose games hold a few busts,
// so that the load takes that path too.
constexpr std::string_view kScriptLevel = "strong";
constexpr std::uint64_t kScriptSeed = 521;

using json = Game501::json;

// Follows nlohmann's SAX parser through a document and stops it once it has
// read what was asked. The leg's members are the document's own in a state
// document, those of its "game" in an answer.
class AnswerReader {
public:
    explicit AnswerReader(bool status_needed) : status_needed_(status_needed) {}

    bool null() { return isValue(); }
    bool boolean(bool value) {
        if (!isValue()) {
            return false;
        }
        if (depth_ == 1 && top_key_ == "accepted") {
            reading_.accepted = value;
            accepted_read_ = true;
        } else if (inLeg() && member() == "awaiting_clear") {
            reading_.awaiting_clear = value;
            clear_read_ = true;
        }
        return goOn();
    }
    bool number_integer(json::number_integer_t) { return isValue(); }
    bool number_unsigned(json::number_unsigned_t) { return isValue(); }
    bool number_float(json::number_float_t, const json::string_t&) { return isValue(); }
    bool binary(json::binary_t&) { return isValue(); }
    bool string(json::string_t& value) {
        if (!isValue()) {
            return false;
        }
        if (inLeg() && member() == "status") {
            reading_.status = value == "idle"       ? LegStatus::idle
                              : value == "playing"  ? LegStatus::playing
                              : value == "finished" ? LegStatus::finished
                                                    : LegStatus::unknown;
        }
        return true;
    }
    bool start_object(std::size_t) {
        ++depth_;
        in_game_ = in_game_ || (depth_ == 2 && top_key_ == "game");
        return true;
    }
    bool end_object() {
        in_game_ = in_game_ && depth_ != 2;
        --depth_;
        return true;
    }
    bool start_array(std::size_t) {
        ++depth_;
        return depth_ > 1;
    }
    bool end_array() {
        --depth_;
        return true;
    }
    bool key(json::string_t& name) {
        if (depth_ == 1) {
            top_key_ = name;
        } else if (depth_ == 2 && in_game_) {
            game_key_ = name;
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const json::exception&) { return false; }

    // Returns the reading when the document was read far enough.
    std::optional<Reading> result(bool parsed) const {
        return parsed || stopped_ ? std::optional<Reading>(reading_) : std::nullopt;
    }

private:
    // A value outside any object: the document is no object.
    bool isValue() const { return depth_ > 0; }
    bool inLeg() const { return depth_ == 1 || (depth_ == 2 && in_game_); }
    const std::string& member() const { return depth_ == 1 ? top_key_ : game_key_; }
    bool goOn() {
        stopped_ = !status_needed_ && accepted_read_ && reading_.accepted && clear_read_;
        return !stopped_;
    }

    const bool status_needed_;
    Reading reading_;
    int depth_ = 0;
    bool in_game_ = false;
    std::string top_key_;
    std::string game_key_;
    bool accepted_read_ = false;
    bool clear_read_ = false;
    bool stopped_ = false;
};

// Returns where the computer of the player to throw lands, `visit` counting
// the game's visits after its opening misses.
std::string thrownDart(const json& state, const std::vector<ComputerThrower>& throwers, int game,
                       std::size_t visit) {
    const auto active = state["active_player"].get<std::size_t>();
    const DartSituation situation{
        state["players"][active]["score"].get<int>(),
        static_cast<int>(Game501::kDartsPerTurn - state["current_turn"]["darts"].size()), game,
        static_cast<int>(visit)};
    const std::optional<ComputerDart> dart = throwers[active].throwDart(situation);
    if (!dart) {
        throw std::logic_error("the computer throws no dart from " +
                               std::to_string(situation.remaining));
    }
    return dart->notation;
}

}  // namespace

std::optional<Reading> readAnswer(std::string_view document, bool status_needed) {
    AnswerReader reader(status_needed);
    const bool parsed = json::sax_parse(document.begin(), document.end(), &reader);
    return reader.result(parsed);
}

Step nextStep(const Reading& answer, Step answered) {
    switch (answer.status) {
        case LegStatus::idle:
            return Step::start;
        case LegStatus::finished:
            // A leg's winning dart waits for the clear that begins the next
            // leg; after the match's last leg, that clear leaves it finished.
            return answered == Step::clear ? Step::start : Step::clear;
        case LegStatus::unknown:
        case LegStatus::playing:
            break;
    }
    return answer.awaiting_clear ? Step::clear : Step::dart;
}

Step nextStep(std::string_view answer, Step answered) {
    return nextStep(readAnswer(answer).value_or(Reading{}), answered);
}

bool isSingleGame(const Match501::Format& format) { return format.legs == 1 && format.sets == 1; }

std::string startBody(const std::vector<std::string>& players, const Match501::Format& format) {
    json body{{"players", players}};
    if (!isSingleGame(format)) {
        body["legs"] = format.legs;
        body["sets"] = format.sets;
    }
    return body.dump();
}

std::string dartBody(const std::string& notation) {
    return json{{"notation", notation}, {"source", kSource}}.dump();
}

Script buildScript(int opening_misses) {
    const std::optional<ComputerLevel> level = parseComputerLevel(kScriptLevel);
    if (!level) {
        throw std::logic_error("the library knows no level " + std::string(kScriptLevel));
    }
    std::vector<ComputerThrower> throwers;
    for (std::size_t player = 0; player < kPlayers.size(); ++player) {
        throwers.emplace_back(*level, kScriptSeed + player);
    }
    Script script;
    const std::size_t missed_visits = kPlayers.size() * static_cast<std::size_t>(opening_misses);
    Game501 game;
    for (int number = 0; number < kScriptGames; ++number) {
        std::vector<ScriptDart> darts;
        std::size_t visits = 0;  // ended in this game
        Step step = nextStep(game.start(kPlayers).dump(), Step::start);
        while (step != Step::start) {
            if (step == Step::clear) {
                step = nextStep(game.markBoardClear().dump(), Step::clear);
                continue;
            }
            if (darts.size() == kMaxScriptGameDarts) {
                throw std::logic_error("a scripted game does not end");
            }
            std::string notation =
                visits < missed_visits
                    ? beds::bedNotation(beds::kMissBed)
                    : thrownDart(game.state(), throwers, number, visits - missed_visits);
            const json answer = game.addDart(notation, kSource);
            if (!answer["accepted"].get<bool>()) {
                throw std::logic_error("the engine refused the scripted dart " + notation);
            }
            if (answer["game"]["awaiting_clear"].get<bool>()) {
                ++visits;
                script.busts += answer["game"]["history"].front()["outcome"] == "bust" ? 1 : 0;
            }
            std::string body = dartBody(notation);
            darts.push_back({std::move(notation), std::move(body)});
            step = nextStep(answer.dump(), Step::dart);
        }
        script.darts += darts.size();
        script.turns += visits + 1;  // the checkout's too
        script.games.push_back(std::move(darts));
    }
    return script;
}

ScriptPlay::ScriptPlay(const Script& script, std::size_t first_game, bool shared_board)
    : script_(script), game_(first_game % script.games.size()), shared_board_(shared_board) {}

bool ScriptPlay::needsStatus() const {
    const std::size_t length = script_.games[game_].size();
    return shared_board_ || next_ == Step::start || (next_ == Step::dart && dart_ + 1 == length) ||
           (next_ == Step::clear && dart_ == length);
}

// A scripted game ends with its checkout, so a game whose darts are all
// thrown is a leg that ended: when the clear after it leaves a leg to play,
// that is the next leg. Run out after a dart, the board's leg went on with
// the darts of others who throw on the same board: start again.
Step ScriptPlay::onAnswer(const Reading& answer) {
    const Step answered = next_;
    dart_ = answered == Step::start ? 0 : dart_ + (answered == Step::dart ? 1 : 0);
    next_ = nextStep(answer, answered);
    const bool ran_out = next_ == Step::dart && dart_ == script_.games[game_].size();
    if ((next_ == Step::start && answered != Step::start) || ran_out) {
        game_ = (game_ + 1) % script_.games.size();
        dart_ = 0;
        if (ran_out && answered != Step::clear) {
            next_ = Step::start;
        }
    }
    return next_;
}

Step ScriptPlay::onAnswer(std::string_view answer) {
    return onAnswer(readAnswer(answer, needsStatus()).value_or(Reading{}));
}

}  // namespace game501::load
