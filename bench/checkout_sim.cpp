// checkout_sim: measures how often the advice and the hint finish a turn by
// throwing simulated darts, apart from the chances the advice computes.
//
// Every dart lands at its aim point plus a Gaussian error of the level's
// sigma in x and in y, and scores by the board's geometry. For each level and
// each score from 2 to 170 the program plays the turn with three darts many
// times, once asking checkoutAdvice before each dart and once asking
// checkoutHint (aiming at its first dart), with the same errors for both so
// that their difference is measured more tightly than either chance. It
// prints, per level, the mean chance of each over the 169 scores and the
// largest gap between the advice's own chance and the simulated one; then the
// largest lead of the hint over the advice, and every score where that lead is
// more than four standard errors of the difference. (Among 507 comparisons,
// three standard errors are passed about once by chance alone.)
//
//   checkout_sim [--trials N] [--seed S]   the figures (N turns per score and policy)
//   checkout_sim --table LEVEL             the advice from 2 to 170 as a Markdown table
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "beds.h"
#include "checkout_hint.h"
#include "dartboard.h"

namespace game501 {
namespace {

constexpr int kDarts = 3;
constexpr int kLowest = 2;
constexpr int kHighest = 170;

// Advice and hints name their aims in canonical notation, always a bed.
int bedOf(const std::string& notation) { return beds::parseBed(notation).value(); }

// The errors of one turn's darts, shared by both policies.
using TurnErrors = std::array<dartboard::Point, kDarts>;

// Plays one turn from `score` asking `aimFor(left, darts_left)` before each
// dart; returns whether it finished.
template <typename AimFor>
bool finishes(int score, const TurnErrors& errors, const AimFor& aimFor) {
    int left = score;
    for (int dart = 0; dart < kDarts; ++dart) {
        const std::string aim = aimFor(left, kDarts - dart);
        if (aim.empty()) {
            return false;
        }
        const dartboard::Point target = dartboard::aimPoint(bedOf(aim));
        const dartboard::Point& error = errors[static_cast<std::size_t>(dart)];
        const int bed = dartboard::bedAt({target.x + error.x, target.y + error.y});
        const int rest = left - beds::bedValue(bed);
        if (rest == 0) {
            return beds::isDoubleBed(bed);
        }
        if (rest < 2) {
            return false;  // bust
        }
        left = rest;
    }
    return false;
}

struct ScoreResult {
    double claimed = 0.0;
    double advice = 0.0;
    double hint = 0.0;
    double difference_error = 0.0;  // standard error of hint - advice
};

ScoreResult simulate(const SkillLevel& level, int score, int trials, std::mt19937_64& random) {
    std::normal_distribution<double> error(0.0, level.sigma_mm);
    const auto advice = [&level](int left, int darts_left) {
        const CheckoutAdvice answer = checkoutAdvice(left, darts_left, level.sigma_mm);
        return answer.route.empty() ? std::string() : answer.route.front();
    };
    const auto hint = [](int left, int darts_left) {
        const std::vector<std::string> route = checkoutHint(left, darts_left);
        return route.empty() ? std::string() : route.front();
    };
    long advice_wins = 0;
    long hint_wins = 0;
    long differing = 0;  // trials where exactly one policy finished
    long difference = 0;
    for (int trial = 0; trial < trials; ++trial) {
        TurnErrors errors;
        for (dartboard::Point& point : errors) {
            point.x = error(random);
            point.y = error(random);
        }
        const bool by_advice = finishes(score, errors, advice);
        const bool by_hint = finishes(score, errors, hint);
        advice_wins += by_advice ? 1 : 0;
        hint_wins += by_hint ? 1 : 0;
        if (by_advice != by_hint) {
            ++differing;
            difference += by_hint ? 1 : -1;
        }
    }
    const double n = trials;
    ScoreResult result;
    result.claimed = checkoutAdvice(score, kDarts, level.sigma_mm).probability;
    result.advice = static_cast<double>(advice_wins) / n;
    result.hint = static_cast<double>(hint_wins) / n;
    const double mean_difference = static_cast<double>(difference) / n;
    const double variance = static_cast<double>(differing) / n - mean_difference * mean_difference;
    result.difference_error = std::sqrt(std::max(0.0, variance) / n);
    return result;
}

void printFigures(int trials, std::uint64_t seed) {
    std::printf("%d turns per score, policy and level; seed %llu\n\n", trials,
                static_cast<unsigned long long>(seed));
    std::printf("%-9s %7s %14s %14s %14s %9s %s\n", "level", "sigma", "advice (sim)",
                "advice (own)", "hint (sim)", "max gap", "(score, z)");
    std::vector<std::string> hint_better;
    double largest_lead_z = 0.0;
    std::string largest_lead = "none";
    for (const SkillLevel& level : skillLevels()) {
        std::mt19937_64 random(seed);
        double advice_sum = 0.0;
        double claimed_sum = 0.0;
        double hint_sum = 0.0;
        double largest_gap = 0.0;
        int gap_score = 0;
        double gap_z = 0.0;
        for (int score = kLowest; score <= kHighest; ++score) {
            const ScoreResult result = simulate(level, score, trials, random);
            advice_sum += result.advice;
            claimed_sum += result.claimed;
            hint_sum += result.hint;
            const double gap = std::abs(result.claimed - result.advice);
            if (gap > largest_gap) {
                largest_gap = gap;
                gap_score = score;
                const double error = std::sqrt(result.claimed * (1.0 - result.claimed) / trials);
                gap_z = error > 0.0 ? gap / error : 0.0;
            }
            if (result.hint > result.advice) {
                const double z = result.difference_error > 0.0
                                     ? (result.hint - result.advice) / result.difference_error
                                     : 0.0;
                char line[160];
                std::snprintf(line, sizeof line, "%s %d: hint %.4f, advice %.4f (+- %.4f, z %.1f)",
                              level.id, score, result.hint, result.advice, result.difference_error,
                              z);
                if (z > largest_lead_z) {
                    largest_lead_z = z;
                    largest_lead = line;
                }
                if (z > 4.0) {
                    hint_better.emplace_back(line);
                }
            }
        }
        const double scores = kHighest - kLowest + 1;
        std::printf("%-9s %4.1f mm %13.2f%% %13.2f%% %13.2f%% %8.2f%% (%d, %.1f)\n", level.id,
                    level.sigma_mm, 100.0 * advice_sum / scores, 100.0 * claimed_sum / scores,
                    100.0 * hint_sum / scores, 100.0 * largest_gap, gap_score, gap_z);
    }
    std::printf("\nlargest lead of the hint over the advice: %s\n", largest_lead.c_str());
    std::printf("scores where the hint beats the advice by more than 4 standard errors: %s\n",
                hint_better.empty() ? "none" : "");
    for (const std::string& line : hint_better) {
        std::printf("  %s\n", line.c_str());
    }
}

void printTable(const SkillLevel& level) {
    constexpr int kColumns = 4;
    constexpr int kRows = (kHighest - kLowest + kColumns) / kColumns;
    std::printf("%s (%s, sigma %.1f mm), three darts:\n\n", level.name, level.id, level.sigma_mm);
    for (int column = 0; column < kColumns; ++column) {
        std::printf("| score: route (chance) ");
    }
    std::printf("|\n");
    for (int column = 0; column < kColumns; ++column) {
        std::printf("|---");
    }
    std::printf("|\n");
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const int score = kLowest + column * kRows + row;
            if (score > kHighest) {
                std::printf("| ");
                continue;
            }
            const CheckoutAdvice advice = checkoutAdvice(score, kDarts, level.sigma_mm);
            std::string route;
            for (const std::string& dart : advice.route) {
                route += (route.empty() ? "" : " ") + dart;
            }
            if (route.empty()) {
                std::printf("| %d: – ", score);
            } else {
                std::printf("| %d: %s (%.1f %%) ", score, route.c_str(),
                            100.0 * advice.probability);
            }
        }
        std::printf("|\n");
    }
}

int usage() {
    std::fprintf(stderr, "usage: checkout_sim [--trials N] [--seed S] | --table LEVEL\n");
    return 2;
}

// Reads the arguments and does what they ask; returns the exit status.
int run(int argc, char** argv) {
    int trials = 100000;
    std::uint64_t seed = 501;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 == argc) {
            return usage();
        }
        const std::string value = argv[++i];
        if (arg == "--trials") {
            trials = std::max(1, std::atoi(value.c_str()));
        } else if (arg == "--seed") {
            seed = std::strtoull(value.c_str(), nullptr, 10);
        } else if (arg == "--table") {
            const SkillLevel* const level = findSkillLevel(value);
            if (level == nullptr) {
                return usage();
            }
            printTable(*level);
            return 0;
        } else {
            return usage();
        }
    }
    printFigures(trials, seed);
    return 0;
}

}  // namespace
}  // namespace game501

int main(int argc, char** argv) { return game501::run(argc, argv); }
