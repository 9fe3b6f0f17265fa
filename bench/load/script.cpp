#include "script.h"

#include <cstdint>
#include <random>
#include <stdexcept>
#include <utility>

#include "game_501.h"

namespace load {

const std::vector<std::string> kPlayers = {"Anna", "Bo"};
const std::string kSource = "load";

namespace {

constexpr int kScriptGames = 16;
constexpr std::size_t kMaxScriptGameDarts = 400;
constexpr std::uint32_t kScriptSeed = 501;
constexpr int kRollRange = 100;  // where a dart lands is a roll of 0..99
constexpr int kTopTreble = 60;
constexpr int kBull = 50;
constexpr int kTopDouble = 40;
constexpr int kFavouriteDouble = 32;
constexpr int kSegments = 20;

constexpr std::string_view kAwaitingClearKey = R"("awaiting_clear":)";
constexpr std::string_view kStatusKey = R"("status":")";

// Where a club player's dart lands with `remaining` points left, for a roll
// of 0..99: the treble 20 to score, a single to leave a double, then the
// double, missed often enough to bust now and then.
std::string throwAt(int remaining, int roll) {
    if (remaining > kTopTreble) {
        return roll < 40 ? "T20" : roll < 85 ? "S20" : roll < 92 ? "S1" : roll < 99 ? "S5" : "MISS";
    }
    if (remaining == kBull) {
        return roll < 35 ? "BULL" : roll < 80 ? "OUTER" : "S3";
    }
    if (remaining <= kTopDouble && remaining % 2 == 0) {
        const std::string segment = std::to_string(remaining / 2);
        return roll < 40   ? "D" + segment
               : roll < 75 ? "S" + segment
               : roll < 90 ? "MISS"
                           : "T" + segment;
    }
    // A single that leaves the top double, or the favourite one or a half
    // of it.
    int leave = kTopDouble;
    if (remaining <= kTopDouble) {
        leave = kFavouriteDouble;
        while (leave >= remaining) {
            leave /= 2;
        }
    }
    const int single = remaining - leave;
    return roll < 80   ? "S" + std::to_string(single)
           : roll < 90 ? "S" + std::to_string(single % kSegments + 1)
                       : "MISS";
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

Script buildScript() {
    Script script;
    script.start_body = Game501::json{{"players", kPlayers}}.dump();
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
            std::string notation =
                throwAt(remaining, static_cast<int>(rng() % static_cast<unsigned>(kRollRange)));
            const Game501::json answer = game.addDart(notation, kSource);
            if (!answer["accepted"].get<bool>()) {
                throw std::logic_error("the engine refused the scripted dart " + notation);
            }
            const Game501::json& history = answer["game"]["history"];
            if (answer["game"]["awaiting_clear"].get<bool>()) {
                ++script.turns;
                script.busts += history.front()["outcome"] == "bust" ? 1 : 0;
            }
            std::string body = Game501::json{{"notation", notation}, {"source", kSource}}.dump();
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
