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

using Chains = std::pair<std::shared_ptr<const VisitChain>, std::shared_ptr<const VisitChain>>;

// Returns both players' chains, made now where the cache has none; none
// unless both are known.
std::optional<Chains> chainsOf(const std::vector<PlayerAccuracy>& accuracies) {
    if (!known(accuracies)) {
        return std::nullopt;
    }
    Chains chains{visitChain(accuracies[0].sigma_mm), visitChain(accuracies[1].sigma_mm)};
    if (!chains.first || !chains.second) {
        return std::nullopt;
    }
    return chains;
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
    if (!point) {
        return std::nullopt;
    }
    const std::optional<Chains> chains = chainsOf(accuracies);
    if (!chains) {
        return std::nullopt;
    }
    return winChances(*chains->first, *chains->second, format, point->standing, point->leg);
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
    const std::optional<Chains> chains = chainsOf(accuracies);
    if (!chains) {
        return nullptr;
    }
    const std::optional<std::vector<WinChancePoint>> course =
        matchWinChanceCourse(*chains->first, *chains->second, format, legs);
    if (!course) {
        return nullptr;
    }
    json points = json::array();
    for (const WinChancePoint& point : *course) {
        const double first = rounded(point.match[0]);
        points.push_back({{"leg", point.leg},
                          {"match", {first, rounded(1.0 - first)}},
                          {"set", point.set},
                          {"visit", point.visit}});
    }
    return {{"estimated", estimatedJson(accuracies)}, {"points", std::move(points)}};
}

}  // namespace game501::server
