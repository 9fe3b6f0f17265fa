#include "match_chances.h"

#include <cstddef>

#include "rules.h"

namespace game501 {

namespace {

bool isPlayer(int player) { return player == 0 || player == 1; }

// Where the players of `leg` stand after its first `visits` visits; nothing
// for a player other than 0 or 1.
std::optional<LegStanding> legAfter(const LegRecord& leg, std::size_t visits) {
    if (!isPlayer(leg.starter)) {
        return std::nullopt;
    }
    LegStanding standing{{}, leg.starter};
    for (std::size_t index = 0; index < visits; ++index) {
        const VisitRecord& visit = leg.visits[index];
        if (!isPlayer(visit.player)) {
            return std::nullopt;
        }
        int points = 0;
        for (const DartRecord& dart : visit.darts) {
            points += dart.value;
        }
        LegPlace& place = standing.players[static_cast<std::size_t>(visit.player)];
        if (visit.outcome == TurnOutcome::open) {
            const int thrown = static_cast<int>(visit.darts.size());
            place = LegPlace{visit.start_score, points, kDartsPerTurn - thrown};
            standing.to_throw = visit.player;
            continue;
        }
        place = LegPlace{visit.outcome == TurnOutcome::bust ? visit.start_score
                                                            : visit.start_score - points};
        standing.to_throw = 1 - visit.player;
    }
    return standing;
}

// Counts a leg won by `winner` in `standing`, as Match::standing does.
void countWin(MatchStanding& standing, Match::Format format, int winner) {
    const auto index = static_cast<std::size_t>(winner);
    if (++standing.legs[index] == format.legs) {
        ++standing.sets[index];
    }
}

// Returns the standing as leg `index` of `legs` begins: the legs won in its
// set and the sets won before it.
std::optional<MatchStanding> standingBefore(const std::vector<LegRecord>& legs, std::size_t index,
                                            Match::Format format) {
    MatchStanding standing;
    for (std::size_t leg = 0; leg <= index; ++leg) {
        if (leg > 0 && legs[leg].set != legs[leg - 1].set) {
            standing.legs = {0, 0};
        }
        if (leg < index && legs[leg].winner >= 0) {
            if (!isPlayer(legs[leg].winner)) {
                return std::nullopt;
            }
            countWin(standing, format, legs[leg].winner);
        }
    }
    standing.starter = legs[index].starter;
    return standing;
}

std::optional<MatchPoint> pointAfter(Match::Format format, MatchStanding standing,
                                     const LegRecord& leg, std::size_t visits) {
    const std::optional<LegStanding> now = legAfter(leg, visits);
    if (!now) {
        return std::nullopt;
    }
    for (int player = 0; player < 2; ++player) {
        if (now->players[static_cast<std::size_t>(player)].score == 0) {
            countWin(standing, format, player);
        }
    }
    return MatchPoint{standing, *now};
}

std::optional<WinChances> chancesAfter(const VisitChain& first, const VisitChain& second,
                                       Match::Format format, const MatchStanding& standing,
                                       const LegRecord& leg, std::size_t visits) {
    const std::optional<MatchPoint> point = pointAfter(format, standing, leg, visits);
    if (!point) {
        return std::nullopt;
    }
    return winChances(first, second, format, point->standing, point->leg);
}

}  // namespace

std::optional<WinChances> matchWinChances(const VisitChain& first, const VisitChain& second,
                                          Match::Format format,
                                          const std::vector<LegRecord>& legs) {
    const std::optional<MatchPoint> point = matchPoint(format, legs);
    if (!point) {
        return std::nullopt;
    }
    return winChances(first, second, format, point->standing, point->leg);
}

std::optional<MatchPoint> matchPoint(Match::Format format, const std::vector<LegRecord>& legs) {
    if (legs.empty()) {
        return std::nullopt;
    }
    const std::optional<MatchStanding> standing = standingBefore(legs, legs.size() - 1, format);
    if (!standing) {
        return std::nullopt;
    }
    return pointAfter(format, *standing, legs.back(), legs.back().visits.size());
}

std::optional<std::vector<WinChancePoint>> matchWinChanceCourse(
    const VisitChain& first, const VisitChain& second, Match::Format format,
    const std::vector<LegRecord>& legs) {
    std::vector<WinChancePoint> course;
    for (std::size_t index = 0; index < legs.size(); ++index) {
        const LegRecord& leg = legs[index];
        const std::optional<MatchStanding> standing = standingBefore(legs, index, format);
        if (!standing) {
            return std::nullopt;
        }
        for (std::size_t visits = index == 0 ? 0 : 1; visits <= leg.visits.size(); ++visits) {
            if (visits > 0 && leg.visits[visits - 1].outcome == TurnOutcome::open) {
                break;
            }
            const std::optional<WinChances> chances =
                chancesAfter(first, second, format, *standing, leg, visits);
            if (!chances) {
                return std::nullopt;
            }
            course.push_back(
                WinChancePoint{leg.set, leg.leg, static_cast<int>(visits), chances->match});
        }
    }
    return course;
}

}  // namespace game501
