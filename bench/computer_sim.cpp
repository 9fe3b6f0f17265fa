// computer_sim: what the computer opponent throws at each level, by legs of
// 501 with double-out that ComputerThrower plays alone.
//
// For the three skill levels and the target averages 30, 40, ..., 110 it
// prints the level's sigma, the time the first call for a target takes (the
// calibration), the time of the first dart at the sigma (its tables), and over
// the legs: the three-dart average (3 x points /
// darts, a bust visit counting three darts and no points), the checkout rate
// (legs won / darts at a double, a dart at a double being one thrown from an
// even score of 2 to 40 or from 50), the darts per leg and the time one dart
// costs (the loop's time per dart thrown, nearly all of it in
// ComputerThrower::throwDart: the aim and the throw). The first target's
// calibration also simulates the two ends of the search's bracket.
//
//   computer_sim [--legs N] [--seed S] [--step K]   targets 30, 30 + K, ... 110
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "checkout_hint.h"
#include "computer_player.h"
#include "game_501.h"

namespace game501 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDarts = static_cast<int>(Game501::kDartsPerTurn);

struct Figures {
    long points = 0;
    long darts = 0;  // a bust visit counts three
    long thrown = 0;
    long at_double = 0;
    long won = 0;
    double seconds = 0.0;   // the whole loop, throwDart nearly all of it
    double first_ms = 0.0;  // the first dart, which builds the sigma's tables
};

bool atDouble(int remaining) {
    return remaining == 50 || (remaining >= 2 && remaining <= 40 && remaining % 2 == 0);
}

Figures play(const ComputerThrower& thrower, int legs) {
    Figures figures;
    // The tables of a sigma are built at its first dart; that is not what a
    // dart costs.
    const Clock::time_point first = Clock::now();
    thrower.throwDart({Game501::kStartScore, kDarts, -1, 0});
    const Clock::time_point start_time = Clock::now();
    figures.first_ms = std::chrono::duration<double, std::milli>(start_time - first).count();
    for (int leg = 0; leg < legs; ++leg) {
        int score = Game501::kStartScore;
        for (int visit = 0; score > 0; ++visit) {
            const int start = score;
            bool bust = false;
            int thrown = 0;
            for (int left = kDarts; left >= 1 && score > 0 && !bust; --left) {
                const std::optional<ComputerDart> dart =
                    thrower.throwDart({score, left, leg, visit});
                const Game501::DartValue value = Game501::parseDart(dart->notation).value();
                ++thrown;
                figures.at_double += atDouble(score) ? 1 : 0;
                const int rest = score - value.value;
                if (rest < 0 || rest == 1 || (rest == 0 && !value.is_double)) {
                    bust = true;
                    score = start;
                } else {
                    score = rest;
                }
            }
            figures.thrown += thrown;
            figures.darts += bust ? kDarts : thrown;
            figures.points += start - score;
            figures.won += score == 0 ? 1 : 0;
        }
    }
    figures.seconds = std::chrono::duration<double>(Clock::now() - start_time).count();
    return figures;
}

void printRow(const ComputerLevel& level, const std::string& calibration, int legs,
              std::uint64_t seed) {
    const Figures figures = play(ComputerThrower(level, seed), legs);
    std::printf("| %s | %.2f mm | %s | %.1f ms | %.2f | %.1f %% | %.1f | %.2f µs |\n",
                level.id.c_str(), level.sigma_mm, calibration.c_str(), figures.first_ms,
                3.0 * static_cast<double>(figures.points) / static_cast<double>(figures.darts),
                100.0 * static_cast<double>(figures.won) / static_cast<double>(figures.at_double),
                static_cast<double>(figures.darts) / legs,
                1e6 * figures.seconds / static_cast<double>(figures.thrown));
    std::fflush(stdout);
}

int usage() {
    std::fprintf(stderr, "usage: computer_sim [--legs N] [--seed S] [--step K]\n");
    return 2;
}

// Reads the arguments and does what they ask; returns the exit status.
int run(int argc, char** argv) {
    int legs = 10000;
    std::uint64_t seed = 501;
    int step = 10;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 == argc) {
            return usage();
        }
        const std::string value = argv[++i];
        if (arg == "--legs") {
            legs = std::max(1, std::atoi(value.c_str()));
        } else if (arg == "--seed") {
            seed = std::strtoull(value.c_str(), nullptr, 10);
        } else if (arg == "--step") {
            step = std::max(1, std::atoi(value.c_str()));
        } else {
            return usage();
        }
    }
    std::printf("%d legs of 501 alone per level; seed %llu\n\n", legs,
                static_cast<unsigned long long>(seed));
    std::printf(
        "| level | sigma | calibration | first dart | average | checkout rate | darts per leg | "
        "time per dart |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const SkillLevel& skill : skillLevels()) {
        printRow(parseComputerLevel(skill.id).value(), "–", legs, seed);
    }
    for (int target = kMinComputerAverage; target <= kMaxComputerAverage; target += step) {
        const Clock::time_point before = Clock::now();
        const ComputerLevel level = computerLevelForAverage(target).value();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
        printRow(level, std::to_string(static_cast<int>(ms + 0.5)) + " ms", legs, seed);
    }
    return 0;
}

}  // namespace
}  // namespace game501

int main(int argc, char** argv) { return game501::run(argc, argv); }
