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

namespace load {

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
// clear flag is near the start: neither search reads the whole document.
Step nextStep(std::string_view answer) {
    const std::size_t status = answer.rfind(kStatusKey);
    const std::string_view value =
        status == std::string_view::npos ? "" : answer.substr(status + kStatusKey.size());
    if (startsWith(value, "finished\"") || startsWith(value, "idle\"")) {
        return Step::start;
    }
    const std::size_t clear = answer.find(kAwaitingClearKey);
    if (clear != std::string_view::npos &&
        startsWith(answer.substr(clear + kAwaitingClearKey.size()), "true")) {
        return Step::clear;
    }
    return Step::dart;
}

std::string startBody() { return Game501::json{{"players", kPlayers}}.dump(); }

std::string dartBody(const std::string& notation) {
    return Game501::json{{"notation", notation}, {"source", kSource}}.dump();
}

Script buildScript() {
    Script script;
    script.start_body = startBody();
    std::minstd_rand rng(kScriptSeed);
    Game501 game;
    for (int number = 0; number < kScriptGames; ++number) {
        std::vector<ScriptDart> darts;
        Step step = nextStep(game.start(kPlayers).dump());
        while (step != Step::start) {
            if (step == Step::clear) {
                step = nextStep(game.markBoardClear().dump());
                continue;
            }
            if (darts.size() == kMaxScriptGameDarts) {
                throw std::logic_error("a scripted game does not end");
            }
            const Game501::json state = game.state();
            const int remaining =
                state["players"][state["active_player"].get<std::size_t>()]["score"].get<int>();
            const int darts_left =
                static_cast<int>(Game501::kDartsPerTurn - state["current_turn"]["darts"].size());
            const int roll = static_cast<int>(rng() % static_cast<unsigned>(kRollRange));
            std::string notation = beds::bedNotation(landing(aimFor(remaining, darts_left), roll));
            const Game501::json answer = game.addDart(notation, kSource);
            if (!answer["accepted"].get<bool>()) {
                throw std::logic_error("the engine refused the scripted dart " + notation);
            }
            const Game501::json& history = answer["game"]["history"];
            if (answer["game"]["awaiting_clear"].get<bool>()) {
                ++script.turns;
                script.busts += history.front()["outcome"] == "bust" ? 1 : 0;
            }
            std::string body = dartBody(notation);
            darts.push_back({std::move(notation), std::move(body)});
            step = nextStep(answer.dump());
        }
        script.darts += darts.size();
        ++script.turns;  // the checkout's
        script.games.push_back(std::move(darts));
    }
    return script;
}

}  // namespace load
