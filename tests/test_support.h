// Helpers shared by the engine's unit tests.
#pragma once

#include <cstddef>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "game_501.h"

namespace game501::test {

using json = Game501::json;

// Returns the document with every dart timestamp set to 0, so documents
// built at different times can be compared whole.
inline json withoutTimestamps(json document) {
    if (document.is_object()) {
        for (auto& [key, value] : document.items()) {
            value = key == "timestamp" ? json(0) : withoutTimestamps(value);
        }
    } else if (document.is_array()) {
        for (auto& element : document) {
            element = withoutTimestamps(element);
        }
    }
    return document;
}

// Throws each dart in turn and returns the last response.
inline json throwAll(Game501& game, const std::vector<std::string>& darts) {
    json last;
    for (const std::string& dart : darts) {
        last = game.addDart(dart, "test");
    }
    return last;
}

inline int activeScore(const json& state) {
    return state["players"][state["active_player"].get<std::size_t>()]["score"].get<int>();
}

// Throws the active player down to `target` (at least 2) without a bust, then
// misses until the turn ends and clears the board, so the next turn of that
// player starts from `target`. Meant for one-player games.
inline void playTo(Game501& game, int target) {
    const auto throwOne = [&game](const std::string& dart) {
        if (game.addDart(dart, "test")["game"]["awaiting_clear"].get<bool>()) {
            game.markBoardClear();
        }
    };
    for (int left = activeScore(game.state()) - target; left > 0;
         left = activeScore(game.state()) - target) {
        if (left >= 60) {
            throwOne("T20");
        } else if (left <= 20) {
            throwOne("S" + std::to_string(left));
        } else {
            throwOne("S20");
        }
    }
    while (!game.state()["current_turn"]["darts"].empty()) {
        throwOne("MISS");
    }
}

// Runs `call(thread, index)` for `calls` indexes on each of `threads` threads
// at once. Each call returns a problem text, empty when all is well; the
// problems come back per thread, so an empty result means none was seen.
template <typename Call>
std::vector<std::vector<std::string>> runConcurrently(int threads, int calls, const Call& call) {
    std::vector<std::vector<std::string>> problems(static_cast<std::size_t>(threads));
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&call, &problems, calls, t] {
            for (int index = 0; index < calls; ++index) {
                std::string problem = call(t, index);
                if (!problem.empty()) {
                    problems[static_cast<std::size_t>(t)].push_back(std::move(problem));
                }
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    return problems;
}

}  // namespace game501::test
