#include "front_end.h"

#include <cmath>
#include <cstdint>

#include "checkout_hint.h"
#include "computer_player.h"
#include "match_501.h"

namespace game501::front_end {

std::optional<CheckoutSituation> checkoutSituation(const Leg& leg) {
    if (leg.status() != GameStatus::playing) {
        return std::nullopt;
    }
    const Leg::Turn& turn = leg.turn();
    return CheckoutSituation{turn.player,
                             leg.players()[static_cast<std::size_t>(turn.player)].score,
                             kDartsPerTurn - static_cast<int>(turn.darts.size())};
}

Game501::json checkoutFor(const Game501::json& state) {
    if (state["status"] != "playing") {
        return nullptr;
    }
    const auto active = state["active_player"].get<std::size_t>();
    return checkoutFor(
        CheckoutSituation{static_cast<int>(active), state["players"][active]["score"].get<int>(),
                          kDartsPerTurn - static_cast<int>(state["current_turn"]["darts"].size())});
}

Game501::json checkoutFor(const std::optional<CheckoutSituation>& situation) {
    if (!situation) {
        return nullptr;
    }
    const int remaining = situation->remaining;
    const int darts_left = situation->darts_left;
    Game501::json advice = Game501::json::array();
    for (const SkillLevel& level : skillLevels()) {
        const CheckoutAdvice best = checkoutAdvice(remaining, darts_left, level.sigma_mm);
        advice.push_back({{"chance", chanceText(best.probability)},
                          {"level", level.id},
                          {"name", level.name},
                          {"probability", best.probability},
                          {"route", best.route}});
    }
    return {{"advice", std::move(advice)},
            {"darts_left", darts_left},
            {"player", situation->player},
            {"remaining", remaining},
            {"route", checkoutHint(remaining, darts_left)}};
}

Game501::json rules() {
    // Signed, as every integer of the engine's documents is.
    const auto number = [](std::size_t value) { return static_cast<std::int64_t>(value); };
    Game501::json levels = Game501::json::array();
    for (const SkillLevel& level : skillLevels()) {
        levels.push_back({{"id", level.id}, {"name", level.name}});
    }
    Game501::json targets = Game501::json::array();
    for (int average = kMinComputerAverage; average <= kMaxComputerAverage; ++average) {
        targets.push_back({{"average", average}, {"name", targetAverageName(average)}});
    }
    Game501::json computer = {{"levels", std::move(levels)},
                              {"max_average", kMaxComputerAverage},
                              {"min_average", kMinComputerAverage},
                              {"name", std::string(kComputerName)},
                              {"targets", std::move(targets)}};
    return {{"computer", std::move(computer)},
            {"darts_per_turn", number(Game501::kDartsPerTurn)},
            {"max_legs", Match501::kMaxLegs},
            {"max_name_bytes", number(kMaxNameBytes)},
            {"max_players", number(Game501::kMaxPlayers)},
            {"max_sets", Match501::kMaxSets},
            {"max_source_bytes", number(kMaxSourceBytes)},
            {"min_legs", Match501::kMinLegs},
            {"min_players", number(Game501::kMinPlayers)},
            {"min_sets", Match501::kMinSets}};
}

std::string serialise(const Game501::json& document) {
    return document.dump(-1, ' ', false, Game501::json::error_handler_t::replace);
}

std::string chanceText(double probability) {
    const long whole = std::lround(100.0 * probability);
    return whole == 0 && probability > 0.0 ? "< 1 %" : std::to_string(whole) + " %";
}

std::string checkoutText(const std::vector<std::string>& route, std::optional<double> chance) {
    if (route.empty()) {
        return "";
    }
    std::string text = "Utgång:";
    for (const std::string& dart : route) {
        text += " " + dart;
    }
    if (chance) {
        text += " (" + chanceText(*chance) + ")";
    }
    return text;
}

}  // namespace game501::front_end
