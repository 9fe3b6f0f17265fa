// accuracy_sim: how well the accuracy estimate (accuracy.h) recovers the
// sigma of darts thrown by ComputerThrower at a known sigma, playing legs of
// 501 with double-out alone, and where a player of each sigma should aim.
//
// For each sigma and each seed the thrower plays legs until it has thrown
// the darts asked for (the last leg cut short there), and the estimate is
// taken from them all. Printed per sigma: the darts used (their mean over the
// seeds), the first seed's estimate and interval, how many seeds' estimates
// lie within 10 % of the true sigma, the largest error, how many intervals
// cover the true sigma and the intervals' mean width. Then the time of an
// estimate from 10,000 darts (the tally, then the estimate, in wall-clock and
// CPU time; the median of 9 runs), the best aim in the scoring phase for
// sigma 5 to 60 mm, and the sigmas up to 100 mm at which it changes.
//
//   accuracy_sim [--darts N] [--seeds N] [--timing-darts N]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "accuracy.h"
#include "beds.h"
#include "computer_player.h"
#include "game_501.h"

namespace game501 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDarts = static_cast<int>(Game501::kDartsPerTurn);
constexpr int kVisitsPerLeg = 1000;  // visit keys: leg * this + visit
constexpr int kTimingRuns = 9;
// The best aims are followed from 1 mm to here in these steps.
constexpr double kLastChangeSigma = 100.0;
constexpr double kChangeStep = 0.5;

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + kTimingRuns / 2, values.end());
    return values[kTimingRuns / 2];
}

// Returns the first `count` darts of the legs that `thrower` plays alone.
std::vector<accuracy::ThrownDart> playDarts(const ComputerThrower& thrower, int count) {
    std::vector<accuracy::ThrownDart> darts;
    darts.reserve(static_cast<std::size_t>(count));
    for (int leg = 0; static_cast<int>(darts.size()) < count; ++leg) {
        int score = Game501::kStartScore;
        for (int visit = 0; score > 0 && static_cast<int>(darts.size()) < count; ++visit) {
            const int start = score;
            for (int left = kDarts; left >= 1 && static_cast<int>(darts.size()) < count; --left) {
                const int bed =
                    beds::parseBed(thrower.throwDart({score, left, leg, visit})->notation).value();
                darts.push_back({bed, score, left, std::int64_t{leg} * kVisitsPerLeg + visit});
                const int rest = score - beds::bedValue(bed);
                if (rest < 0 || rest == 1 || (rest == 0 && !beds::isDoubleBed(bed))) {
                    score = start;
                    break;
                }
                score = rest;
                if (score == 0) {
                    break;
                }
            }
        }
    }
    return darts;
}

void printRecovery(double sigma, int darts, int seeds) {
    long used = 0;
    int within = 0;
    int covered = 0;
    double worst = 0.0;
    double width = 0.0;
    std::optional<accuracy::Estimate> first;
    for (int seed = 1; seed <= seeds; ++seed) {
        const std::optional<accuracy::Estimate> estimate = accuracy::estimate(
            playDarts(ComputerThrower(sigma, static_cast<std::uint64_t>(seed)), darts));
        if (!estimate) {
            continue;
        }
        if (!first) {
            first = estimate;
        }
        const double error = std::abs(estimate->sigma_mm - sigma) / sigma;
        used += estimate->darts;
        within += error <= 0.1 ? 1 : 0;
        worst = std::max(worst, error);
        covered += estimate->low_mm <= sigma && sigma <= estimate->high_mm ? 1 : 0;
        width += estimate->high_mm - estimate->low_mm;
    }
    std::printf("| %.0f mm | %ld | %.2f mm (%.2f to %.2f) | %d | %.1f %% | %d | %.2f mm |\n", sigma,
                used / seeds, first ? first->sigma_mm : 0.0, first ? first->low_mm : 0.0,
                first ? first->high_mm : 0.0, within, 100.0 * worst, covered, width / seeds);
    std::fflush(stdout);
}

void printTiming(double sigma, int darts) {
    const std::vector<accuracy::ThrownDart> thrown = playDarts(ComputerThrower(sigma, 1), darts);
    std::vector<double> tally_ms;
    std::vector<double> estimate_ms;
    std::vector<double> estimate_cpu_ms;
    int used = 0;
    for (int run = 0; run < kTimingRuns; ++run) {
        const Clock::time_point start = Clock::now();
        accuracy::Tally tally;
        tally.add(thrown);
        const Clock::time_point tallied = Clock::now();
        const std::clock_t cpu_start = std::clock();
        used = accuracy::estimate(tally)->darts;
        const std::clock_t cpu_done = std::clock();
        const Clock::time_point done = Clock::now();
        tally_ms.push_back(std::chrono::duration<double, std::milli>(tallied - start).count());
        estimate_ms.push_back(std::chrono::duration<double, std::milli>(done - tallied).count());
        estimate_cpu_ms.push_back(1000.0 * static_cast<double>(cpu_done - cpu_start) /
                                  CLOCKS_PER_SEC);
    }
    std::printf("| %.0f mm | %d | %d | %.2f ms | %.1f ms | %.1f ms |\n", sigma, darts, used,
                median(tally_ms), median(estimate_ms), median(estimate_cpu_ms));
    std::fflush(stdout);
}

int usage() {
    std::fprintf(stderr, "usage: accuracy_sim [--darts N] [--seeds N] [--timing-darts N]\n");
    return 2;
}

// Reads the arguments and does what they ask; returns the exit status.
int run(int argc, char** argv) {
    int darts = 1000;
    int seeds = 50;
    int timing_darts = 10000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 == argc) {
            return usage();
        }
        const int value = std::max(1, std::atoi(argv[++i]));
        if (arg == "--darts") {
            darts = value;
        } else if (arg == "--seeds") {
            seeds = value;
        } else if (arg == "--timing-darts") {
            timing_darts = value;
        } else {
            return usage();
        }
    }
    const std::vector<double> sigmas = {8.0, 15.0, 25.0, 40.0};
    std::printf("Recovery: %d darts of legs of 501 alone per seed, seeds 1 to %d\n\n", darts,
                seeds);
    std::printf(
        "| sigma | darts used | seed 1: estimate (95 %% interval) | within 10 %% | largest error "
        "| intervals covering | mean width |\n");
    std::printf("|---:|---:|---|---:|---:|---:|---:|\n");
    for (const double sigma : sigmas) {
        printRecovery(sigma, darts, seeds);
    }
    std::printf("\nTime of an estimate (median of %d runs; CPU: the process's time)\n\n",
                kTimingRuns);
    std::printf(
        "| sigma | darts | darts used | tally | estimate | estimate, CPU |\n"
        "|---:|---:|---:|---:|---:|---:|\n");
    for (const double sigma : sigmas) {
        printTiming(sigma, timing_darts);
    }
    std::printf("\nBest aim in the scoring phase\n\n");
    std::printf("| sigma | best aim | points per dart | at T20 |\n|---:|---|---:|---:|\n");
    for (int sigma = 5; sigma <= 60; sigma += 5) {
        const accuracy::ScoringAim aim = accuracy::bestScoringAim(sigma).value();
        std::printf("| %d mm | %s | %.2f | %.2f |\n", sigma, beds::bedNotation(aim.aim).c_str(),
                    aim.points_per_dart, aim.points_per_dart_t20);
    }
    std::printf("\nWhere the best aim changes (sigma to 0.01 mm)\n\n");
    const auto bestAt = [](double sigma) { return accuracy::bestScoringAim(sigma).value().aim; };
    for (double sigma = 1.0; sigma < kLastChangeSigma; sigma += kChangeStep) {
        const int before = bestAt(sigma);
        const int after = bestAt(sigma + kChangeStep);
        if (before == after) {
            continue;
        }
        double low = sigma;
        double high = sigma + kChangeStep;
        while (high - low > 0.01) {
            const double middle = 0.5 * (low + high);
            (bestAt(middle) == before ? low : high) = middle;
        }
        std::printf("- %s to %s at %.2f mm\n", beds::bedNotation(before).c_str(),
                    beds::bedNotation(after).c_str(), 0.5 * (low + high));
    }
    return 0;
}

}  // namespace
}  // namespace game501

int main(int argc, char** argv) { return game501::run(argc, argv); }
