#include "statistics.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "beds.h"
#include "rules.h"

namespace game501::statistics {

namespace {

constexpr int kFirstNineVisits = 3;

// What a leg needs to remember of one player while its visits are read.
struct LegTally {
    int visits = 0;
    std::int64_t darts = 0;
};

// The smaller of two best legs, where 0 means no leg was won.
std::int64_t fewerDarts(std::int64_t left, std::int64_t right) {
    if (left == 0 || right == 0) {
        return std::max(left, right);
    }
    return std::min(left, right);
}

// The one-dart finishes as a table, read from the beds that may finish a game.
const std::vector<bool>& oneDartFinishes() {
    static const std::vector<bool> table = [] {
        std::vector<bool> finishes;
        for (int bed = 0; bed < beds::kBedCount; ++bed) {
            if (beds::isDoubleBed(bed)) {
                const auto value = static_cast<std::size_t>(beds::bedValue(bed));
                finishes.resize(std::max(finishes.size(), value + 1), false);
                finishes[value] = true;
            }
        }
        return finishes;
    }();
    return table;
}

void addVisit(Counts& counts, LegTally& tally, const VisitRecord& visit) {
    const bool bust = visit.outcome == TurnOutcome::bust;
    int remaining = visit.start_score;
    std::int64_t points = 0;
    for (const DartRecord& dart : visit.darts) {
        if (isOneDartFinish(remaining)) {
            ++counts.double_darts;
        }
        remaining -= dart.value;
        points += dart.value;
    }
    if (bust) {
        points = 0;
    }
    const std::int64_t darts = dartsCharged(visit.outcome, static_cast<int>(visit.darts.size()));
    counts.darts += darts;
    counts.points += points;
    if (++tally.visits <= kFirstNineVisits) {
        counts.first_nine_darts += darts;
        counts.first_nine_points += points;
    }
    tally.darts += darts;
    if (!bust && visit.outcome != TurnOutcome::open) {
        if (points == 180) {
            ++counts.visits_180;
        } else if (points >= 140) {
            ++counts.visits_140;
        } else if (points >= 100) {
            ++counts.visits_100;
        }
    }
    if (visit.outcome == TurnOutcome::checkout) {
        counts.highest_finish = std::max<std::int64_t>(counts.highest_finish, visit.start_score);
    }
}

void addLegResult(Counts& counts, const LegTally& tally, const LegRecord& leg, int player) {
    if (leg.winner < 0) {
        return;
    }
    ++counts.legs_played;
    if (leg.winner == player) {
        ++counts.legs_won;
        if (leg.starter != player) {
            ++counts.legs_won_against_throw;
        }
        counts.best_leg = fewerDarts(counts.best_leg, tally.darts);
    }
}

// Rounds numerator / denominator to hundredths in integers, halves up, so
// that equal counts give equal figures whatever a double would make of them.
std::optional<double> hundredths(std::int64_t numerator, std::int64_t denominator) {
    if (denominator == 0) {
        return std::nullopt;
    }
    const std::int64_t rounded = (200 * numerator + denominator) / (2 * denominator);
    return static_cast<double>(rounded) / 100.0;
}

nlohmann::json orNull(std::optional<double> value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace

Counts& Counts::operator+=(const Counts& other) {
    darts += other.darts;
    points += other.points;
    first_nine_darts += other.first_nine_darts;
    first_nine_points += other.first_nine_points;
    double_darts += other.double_darts;
    legs_played += other.legs_played;
    legs_won += other.legs_won;
    legs_won_against_throw += other.legs_won_against_throw;
    visits_100 += other.visits_100;
    visits_140 += other.visits_140;
    visits_180 += other.visits_180;
    highest_finish = std::max(highest_finish, other.highest_finish);
    best_leg = fewerDarts(best_leg, other.best_leg);
    return *this;
}

Counts operator+(Counts left, const Counts& right) { return left += right; }

bool operator==(const Counts& left, const Counts& right) {
    return left.darts == right.darts && left.points == right.points &&
           left.first_nine_darts == right.first_nine_darts &&
           left.first_nine_points == right.first_nine_points &&
           left.double_darts == right.double_darts && left.legs_played == right.legs_played &&
           left.legs_won == right.legs_won &&
           left.legs_won_against_throw == right.legs_won_against_throw &&
           left.visits_100 == right.visits_100 && left.visits_140 == right.visits_140 &&
           left.visits_180 == right.visits_180 && left.highest_finish == right.highest_finish &&
           left.best_leg == right.best_leg;
}

bool operator!=(const Counts& left, const Counts& right) { return !(left == right); }

bool isOneDartFinish(int remaining) {
    const std::vector<bool>& finishes = oneDartFinishes();
    return remaining >= 0 && static_cast<std::size_t>(remaining) < finishes.size() &&
           finishes[static_cast<std::size_t>(remaining)];
}

Counts legCounts(const LegRecord& leg, int player) {
    Counts counts;
    LegTally tally;
    for (const VisitRecord& visit : leg.visits) {
        if (visit.player == player) {
            addVisit(counts, tally, visit);
        }
    }
    addLegResult(counts, tally, leg, player);
    return counts;
}

std::vector<Counts> matchCounts(const std::vector<LegRecord>& legs, int player_count) {
    const std::size_t players = player_count > 0 ? static_cast<std::size_t>(player_count) : 0;
    std::vector<Counts> counts(players);
    std::vector<LegTally> tallies(players);
    for (const LegRecord& leg : legs) {
        std::fill(tallies.begin(), tallies.end(), LegTally{});
        for (const VisitRecord& visit : leg.visits) {
            if (visit.player >= 0 && visit.player < player_count) {
                const auto index = static_cast<std::size_t>(visit.player);
                addVisit(counts[index], tallies[index], visit);
            }
        }
        for (std::size_t index = 0; index < players; ++index) {
            addLegResult(counts[index], tallies[index], leg, static_cast<int>(index));
        }
    }
    return counts;
}

std::optional<double> threeDartAverage(const Counts& counts) {
    if (counts.darts == 0) {
        return std::nullopt;
    }
    return 3.0 * static_cast<double>(counts.points) / static_cast<double>(counts.darts);
}

std::optional<double> firstNineAverage(const Counts& counts) {
    if (counts.first_nine_darts == 0) {
        return std::nullopt;
    }
    return 3.0 * static_cast<double>(counts.first_nine_points) /
           static_cast<double>(counts.first_nine_darts);
}

std::optional<double> checkoutRate(const Counts& counts) {
    if (counts.double_darts == 0) {
        return std::nullopt;
    }
    return static_cast<double>(counts.legs_won) / static_cast<double>(counts.double_darts);
}

std::string checkoutText(const Counts& counts) {
    return std::to_string(counts.legs_won) + "/" + std::to_string(counts.double_darts);
}

Figures figures(const Counts& counts) {
    return Figures{hundredths(3 * counts.points, counts.darts),
                   hundredths(3 * counts.first_nine_points, counts.first_nine_darts),
                   hundredths(100 * counts.legs_won, counts.double_darts), checkoutText(counts)};
}

nlohmann::json toJson(const Counts& counts) {
    nlohmann::json document;
    for (const auto& [name, member] : kCountFields) {
        document[name] = counts.*member;
    }
    // The two that are not sums: 0 means there is none.
    if (counts.highest_finish == 0) {
        document["highest_finish"] = nullptr;
    }
    if (counts.best_leg == 0) {
        document["best_leg"] = nullptr;
    }
    const Figures derived = figures(counts);
    document["checkout_percent"] = orNull(derived.checkout_percent);
    document["checkout_text"] = derived.checkout_text;
    document["first_nine_average"] = orNull(derived.first_nine_average);
    document["three_dart_average"] = orNull(derived.three_dart_average);
    return document;
}

}  // namespace game501::statistics
