// Legs of 501 that two computer players throw against each other, and the
// chance of the player who throws second, for checking the exact chances of
// win_chance.h against simulation. Shared by the unit tests and
// bench/win_chance_sim.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "computer_player.h"
#include "game_501.h"
#include "win_chance.h"

namespace game501::test {

// Plays `legs` legs of 501 with double-out between two throwers, `first`
// throwing first in every leg, and returns how many `first` won. The darts
// are scored by the engine's notation, a bust returning the visit's start.
inline int legsWonByFirst(const ComputerThrower& first, const ComputerThrower& second, int legs) {
    constexpr int kDarts = static_cast<int>(Game501::kDartsPerTurn);
    const ComputerThrower* const throwers[2] = {&first, &second};
    int won = 0;
    for (int leg = 0; leg < legs; ++leg) {
        int scores[2] = {Game501::kStartScore, Game501::kStartScore};
        for (int round = 0;; ++round) {
            int player = 0;
            for (; player < 2; ++player) {
                int& score = scores[player];
                const int start = score;
                for (int left = kDarts; left >= 1 && score > 0; --left) {
                    const std::optional<ComputerDart> dart =
                        throwers[player]->throwDart({score, left, leg, round});
                    const Game501::DartValue value = *Game501::parseDart(dart->notation);
                    const int rest = score - value.value;
                    if (rest < 0 || rest == 1 || (rest == 0 && !value.is_double)) {
                        score = start;
                        break;
                    }
                    score = rest;
                }
                if (score == 0) {
                    break;
                }
            }
            if (player < 2) {
                won += player == 0 ? 1 : 0;
                break;
            }
        }
    }
    return won;
}

// Returns the chance that the player who throws second, from `second_score`,
// wins against one who throws first from `first_score`: that the second
// needs fewer visits. Summed from the chains' distributions directly, apart
// from legWinChances, so that the two can be checked to add to 1.
inline double secondPlayerChance(const VisitChain& first, int first_score, const VisitChain& second,
                                 int second_score) {
    double chance = 0.0;
    for (int visits = 1; visits <= second.longest(); ++visits) {
        chance += second.exactly(second_score, visits) * first.moreThan(first_score, visits);
    }
    return chance;
}

// Returns whether `won` of `legs` lies within the 99 % interval of a leg
// chance `chance`: 2.576 standard errors.
inline bool withinInterval(int won, int legs, double chance) {
    const double share = static_cast<double>(won) / legs;
    return std::abs(share - chance) <= 2.576 * std::sqrt(chance * (1.0 - chance) / legs);
}

}  // namespace game501::test
