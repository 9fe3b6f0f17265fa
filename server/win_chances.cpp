#include "win_chances.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "checkout_hint.h"
#include "match_chances.h"

namespace game501::server {

namespace {

using json = Game501::json;

// A chance as documents write it: four decimals are more than any page shows.
double rounded(double chance) { return std::round(chance * 1e4) / 1e4; }

bool known(const std::vector<PlayerAccuracy>& accuracies) { return accuracies.size() == 2; }

// Returns both players' chains, each null for a sigma that has none.
std::pair<std::shared_ptr<const VisitChain>, std::shared_ptr<const VisitChain>> chainsOf(
    const std::vector<PlayerAccuracy>& accuracies) {
    return {visitChain(accuracies[0].sigma_mm), visitChain(accuracies[1].sigma_mm)};
}

json estimatedJson(const std::vector<PlayerAccuracy>& accuracies) {
    json estimated = json::array();
    for (const PlayerAccuracy& accuracy : accuracies) {
        estimated.push_back(accuracy.estimated);
    }
    return estimated;
}

}  // namespace

std::vector<PlayerAccuracy> playerAccuracies(
    const std::vector<std::string>& players,
    const std::vector<std::optional<ComputerLevel>>& levels, const Accuracies& members) {
    std::vector<PlayerAccuracy> accuracies;
    if (players.size() != 2) {
        return accuracies;
    }
    for (std::size_t player = 0; player < players.size(); ++player) {
        const bool computer = player < levels.size() && levels[player];
        const std::optional<double> own =
            computer ? levels[player]->sigma_mm : members.sigmaOf(players[player]);
        const double sigma = own ? *own : findSkillLevel(kStandInLevel)->sigma_mm;
        accuracies.push_back(PlayerAccuracy{sigma, !own});
    }
    return accuracies;
}

std::optional<MatchPoint> livePoint(const Match& match,
                                    const std::vector<PlayerAccuracy>& accuracies) {
    if (!known(accuracies) || match.players().size() != 2 ||
        match.standing().status != GameStatus::playing) {
        return std::nullopt;
    }
    return matchPoint(match.format(), match.legs());
}

std::optional<WinChances> liveWinChances(const std::optional<MatchPoint>& point,
                                         Match::Format format,
                                         const std::vector<PlayerAccuracy>& accuracies) {
    if (!point || !known(accuracies)) {
        return std::nullopt;
    }
    const auto [first, second] = chainsOf(accuracies);
    if (!first || !second) {
        return std::nullopt;
    }
    return winChances(*first, *second, format, point->standing, point->leg);
}

json winChanceJson(const std::optional<WinChances>& chances,
                   const std::vector<PlayerAccuracy>& accuracies) {
    if (!chances || accuracies.size() != 2) {
        return nullptr;
    }
    const double leg = rounded(chances->leg[0]);
    const double match = rounded(chances->match[0]);
    return json::array({{{"estimated", accuracies[0].estimated}, {"leg", leg}, {"match", match}},
                        {{"estimated", accuracies[1].estimated},
                         {"leg", rounded(1.0 - leg)},
                         {"match", rounded(1.0 - match)}}});
}

json winChanceCourseJson(Match::Format format, const std::vector<LegRecord>& legs,
                         const std::vector<PlayerAccuracy>& accuracies) {
    if (!known(accuracies)) {
        return nullptr;
    }
    const auto [first, second] = chainsOf(accuracies);
    if (!first || !second) {
        return nullptr;
    }
    const std::optional<std::vector<WinChancePoint>> course =
        matchWinChanceCourse(*first, *second, format, legs);
    if (!course) {
        return nullptr;
    }
    json points = json::array();
    for (const WinChancePoint& point : *course) {
        const double first_match = rounded(point.match[0]);
        points.push_back({{"leg", point.leg},
                          {"match", {first_match, rounded(1.0 - first_match)}},
                          {"set", point.set},
                          {"visit", point.visit}});
    }
    return {{"estimated", estimatedJson(accuracies)}, {"points", std::move(points)}};
}

}  // namespace game501::server
