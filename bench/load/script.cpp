#include "script.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <utility>

#include "beds.h"
#include "checkout_hint.h"
#include "dartboard.h"
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
constexpr std::uint32_t kScriptSeed = 501;
constexpr int kRollRange = 100;  // where a dart lands is a roll of 0..99
constexpr std::string_view kAwaitingClearKey = R"("awaiting_clear":)";
constexpr std::string_view kStatusKey = R"("status":")";

// The script's club player aims at the first dart of the library's checkout
// when this turn can finish, else at the treble that scores most.
constexpr int kScoringAim = beds::trebleBed(20);

int aimFor(int remaining, int darts_left) {
    const std::vector<std::string> route = checkoutHint(remaining, darts_left);
    return route.empty() ? kScoringAim : beds::parseBed(route.front()).value();
}

// Returns the segments beside `segment` on the board, clockwise first.
std::pair<int, int> neighbours(int segment) {
    const auto& order = dartboard::kSegmentOrder;
    const auto at =
        static_cast<std::size_t>(std::find(order.begin(), order.end(), segment) - order.begin());
    return {order[(at + 1) % order.size()], order[(at + order.size() - 1) % order.size()]};
}

// Returns the bed a dart aimed at `aim` lands in for a roll of 0..99: the bed
// aimed at, its single or a neighbour's, or off the board, missed often
// enough that a turn busts now and then.
int landing(int aim, int roll) {
    using beds::singleBed;
    const int segment = beds::segmentOf(aim);
    if (segment == 0) {  // OUTER and BULL are both aimed at the centre
        const auto& order = dartboard::kSegmentOrder;
        const int wide = order[static_cast<std::size_t>(roll) % order.size()];
        return roll < 35 ? beds::kBullBed : roll < 80 ? beds::kOuterBed : singleBed(wide);
    }
    const auto [clockwise, anticlockwise] = neighbours(segment);
    if (aim == beds::trebleBed(segment)) {
        return roll < 40   ? aim
               : roll < 85 ? singleBed(segment)
               : roll < 92 ? singleBed(clockwise)
               : roll < 99 ? singleBed(anticlockwise)
                           : beds::kMissBed;
    }
    if (aim == beds::doubleBed(segment)) {
        return roll < 40   ? aim
               : roll < 75 ? singleBed(segment)
               : roll < 90 ? beds::kMissBed
                           : beds::trebleBed(segment);
    }
    return roll < 80   ? aim
           : roll < 85 ? singleBed(clockwise)
           : roll < 90 ? singleBed(anticlockwise)
                       : beds::kMissBed;
}

}  // namespace

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The game's status is its last member of that name, near the end; the
// clear flag is near the start: neither search reads the whole document. A
// leg's winning dart waits for the clear that begins the next leg; after the
// match's last leg, that clear leaves the leg finished.
Step nextStep(std::string_view answer, Step answered) {
    const std::size_t status = answer.rfind(kStatusKey);
    const std::string_view value =
        status == std::string_view::npos ? "" : answer.substr(status + kStatusKey.size());
    if (startsWith(value, "idle\"")) {
        return Step::start;
    }
    if (startsWith(value, "finished\"")) {
        return answered == Step::clear ? Step::start : Step::clear;
    }
    const std::size_t clear = answer.find(kAwaitingClearKey);
    if (clear != std::string_view::npos &&
        startsWith(answer.substr(clear + kAwaitingClearKey.size()), "true")) {
        return Step::clear;
    }
    return Step::dart;
}

bool isSingleGame(const Match501::Format& format) { return format.legs == 1 && format.sets == 1; }

std::string startBody(const std::vector<std::string>& players, const Match501::Format& format) {
    Game501::json body{{"players", players}};
    if (!isSingleGame(format)) {
        body["legs"] = format.legs;
        body["sets"] = format.sets;
    }
    return body.dump();
}

std::string dartBody(const std::string& notation) {
    return Game501::json{{"notation", notation}, {"source", kSource}}.dump();
}

Script buildScript(int opening_misses) {
    Script script;
    std::minstd_rand rng(kScriptSeed);
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
            std::string notation = beds::bedNotation(beds::kMissBed);
            if (visits >= missed_visits) {
                const Game501::json state = game.state();
                const int remaining =
                    state["players"][state["active_player"].get<std::size_t>()]["score"].get<int>();
                const int darts_left = static_cast<int>(Game501::kDartsPerTurn -
                                                        state["current_turn"]["darts"].size());
                const int roll = static_cast<int>(rng() % static_cast<unsigned>(kRollRange));
                notation = beds::bedNotation(landing(aimFor(remaining, darts_left), roll));
            }
            const Game501::json answer = game.addDart(notation, kSource);
            if (!answer["accepted"].get<bool>()) {
                throw std::logic_error("the engine refused the scripted dart " + notation);
            }
            const Game501::json& history = answer["game"]["history"];
            if (answer["game"]["awaiting_clear"].get<bool>()) {
                ++visits;
                script.busts += history.front()["outcome"] == "bust" ? 1 : 0;
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

}  // namespace game501::load
