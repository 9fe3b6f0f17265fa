#include "accuracy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "beds.h"
#include "dartboard.h"

namespace game501 {
namespace {

using accuracy::ThrownDart;
using beds::doubleBed;
using beds::trebleBed;

// Draws darts from the model itself: visits from 501 whose three darts share
// an aim, T20 for `t20_share` of them and T19 for the rest, and after each
// visit one dart at a finish, from 2, 4, ... 40 in turn.
std::vector<ThrownDart> modelDarts(double sigma, int visits, double t20_share, std::uint64_t seed) {
    const dartboard::BedChances chances = dartboard::bedChances(sigma);
    std::mt19937_64 engine(seed);
    const auto uniform = [&engine] { return static_cast<double>(engine() >> 11) * 0x1p-53; };
    const auto landing = [&](int aim) {
        const auto& row = chances[static_cast<std::size_t>(aim)];
        double u = uniform();
        for (int bed = 0; bed < beds::kMissBed; ++bed) {
            u -= row[static_cast<std::size_t>(bed)];
            if (u < 0.0) {
                return bed;
            }
        }
        return beds::kMissBed;
    };
    std::vector<ThrownDart> darts;
    for (int visit = 0; visit < visits; ++visit) {
        const int aim = uniform() < t20_share ? trebleBed(20) : trebleBed(19);
        for (int left = 3; left >= 1; --left) {
            darts.push_back({landing(aim), 501, left, 2 * visit});
        }
        const int finish = 2 * (visit % 20 + 1);
        darts.push_back({landing(doubleBed(finish / 2)), finish, 1, 2 * visit + 1});
    }
    return darts;
}

TEST(AccuracyModel, NamesTheAimOfAFinishAndKeepsTheScoringPhaseFarFromOne) {
    struct Row {
        int remaining;
        int darts_left;
        std::optional<int> finish;
        bool scoring;
    };
    const std::vector<Row> rows = {
        {2, 1, doubleBed(1), false},   {32, 3, doubleBed(16), false},
        {40, 2, doubleBed(20), false}, {50, 1, beds::kBullBed, false},
        {50, 2, std::nullopt, false},  {42, 1, std::nullopt, false},
        {33, 1, std::nullopt, false},  {0, 1, std::nullopt, false},
        {32, 0, std::nullopt, false},  {32, 4, std::nullopt, false},
        {-32, 1, std::nullopt, false}, {351, 3, std::nullopt, true},
        {350, 3, std::nullopt, false}, {291, 2, std::nullopt, true},
        {290, 2, std::nullopt, false}, {231, 1, std::nullopt, true},
        {230, 1, std::nullopt, false}, {501, 0, std::nullopt, false},
        {501, 4, std::nullopt, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(accuracy::finishingAim(row.remaining, row.darts_left), row.finish)
            << row.remaining << " with " << row.darts_left;
        EXPECT_EQ(accuracy::inScoringPhase(row.remaining, row.darts_left), row.scoring)
            << row.remaining << " with " << row.darts_left;
    }
}

TEST(AccuracyEstimate, RecoversTheSigmaAndTheAimsOfDartsDrawnFromTheModel) {
    struct Row {
        double sigma;
        double t20_share;
    };
    const std::vector<Row> rows = {{5.0, 1.0}, {12.0, 0.7}, {20.0, 0.5}, {35.0, 0.7}, {60.0, 0.3}};
    for (const Row& row : rows) {
        const std::optional<accuracy::Estimate> estimate =
            accuracy::estimate(modelDarts(row.sigma, 400, row.t20_share, 1));
        ASSERT_TRUE(estimate) << row.sigma;
        EXPECT_EQ(estimate->darts, 1600) << row.sigma;
        EXPECT_NEAR(estimate->sigma_mm, row.sigma, 0.08 * row.sigma);
        // A 95 % interval stretched by half its reach on each side (about
        // three standard errors) holds the truth on all but rare draws.
        EXPECT_LE(estimate->low_mm - 0.5 * (estimate->sigma_mm - estimate->low_mm), row.sigma);
        EXPECT_GE(estimate->high_mm + 0.5 * (estimate->high_mm - estimate->sigma_mm), row.sigma);
        EXPECT_LT(estimate->high_mm - estimate->low_mm, 0.15 * row.sigma);
        EXPECT_NEAR(estimate->aim_shares[0], row.t20_share, 0.12) << row.sigma;
        EXPECT_NEAR(estimate->aim_shares[0] + estimate->aim_shares[1], 1.0, 0.12) << row.sigma;
    }
}

TEST(AccuracyEstimate, NarrowsItsIntervalAsDartsAreAdded) {
    const std::vector<ThrownDart> darts = modelDarts(20.0, 1600, 0.8, 2);
    double width = std::numeric_limits<double>::infinity();
    for (const long count : {100, 400, 1600, 6400}) {
        const std::optional<accuracy::Estimate> estimate =
            accuracy::estimate(std::vector<ThrownDart>(darts.begin(), darts.begin() + count));
        ASSERT_TRUE(estimate) << count;
        // Four times the darts halve the width, near enough.
        EXPECT_LT(estimate->high_mm - estimate->low_mm, 0.7 * width) << count;
        width = estimate->high_mm - estimate->low_mm;
    }
}

TEST(AccuracyEstimate, StopsAtABoundOrGivesNothingOnDegenerateDarts) {
    const auto repeated = [](int count, ThrownDart dart) {
        std::vector<ThrownDart> darts;
        for (int i = 0; i < count; ++i) {
            dart.visit = i;
            darts.push_back(dart);
        }
        return darts;
    };
    const ThrownDart t20{trebleBed(20), 501, 3, 0};
    const ThrownDart miss{beds::kMissBed, 501, 3, 0};
    struct Row {
        const char* name;
        std::vector<ThrownDart> darts;
        std::optional<double> sigma;
    };
    const std::vector<Row> rows = {
        {"none usable", repeated(500, {trebleBed(20), 200, 3, 0}), std::nullopt},
        {"bad input", repeated(100, {-1, 501, 3, 0}), std::nullopt},
        {"one too few", repeated(accuracy::kMinUsableDarts - 1, t20), std::nullopt},
        {"just enough in T20", repeated(accuracy::kMinUsableDarts, t20), accuracy::kLeastSigmaMm},
        {"all in D16", repeated(100, {doubleBed(16), 32, 1, 0}), accuracy::kLeastSigmaMm},
        {"all misses", repeated(100, miss), accuracy::kMostSigmaMm},
    };
    for (const Row& row : rows) {
        const std::optional<accuracy::Estimate> estimate = accuracy::estimate(row.darts);
        ASSERT_EQ(estimate.has_value(), row.sigma.has_value()) << row.name;
        if (row.sigma) {
            EXPECT_NEAR(estimate->sigma_mm, *row.sigma, 0.01 * *row.sigma) << row.name;
            EXPECT_LE(estimate->low_mm, estimate->sigma_mm) << row.name;
            EXPECT_GE(estimate->high_mm, estimate->sigma_mm) << row.name;
            EXPECT_GE(estimate->low_mm, accuracy::kLeastSigmaMm) << row.name;
            EXPECT_LE(estimate->high_mm, accuracy::kMostSigmaMm) << row.name;
        }
    }
}

TEST(AccuracyTally, AddsUpToTheTallyOfAllTheDartsInAnyOrder) {
    std::vector<ThrownDart> darts = modelDarts(15.0, 100, 0.5, 3);
    const std::vector<ThrownDart> first(darts.begin(), darts.begin() + 200);
    const std::vector<ThrownDart> second(darts.begin() + 200, darts.end());
    accuracy::Tally whole;
    whole.add(darts);
    accuracy::Tally parts;
    parts.add(first);
    accuracy::Tally later;
    later.add(second);
    parts.add(later);
    std::reverse(darts.begin(), darts.end());
    accuracy::Tally reversed;
    reversed.add(darts);
    EXPECT_EQ(parts, whole);
    EXPECT_EQ(reversed, whole);
    EXPECT_EQ(whole.usableDarts(), 400);
    const std::optional<accuracy::Estimate> from_parts = accuracy::estimate(parts);
    const std::optional<accuracy::Estimate> from_whole = accuracy::estimate(whole);
    ASSERT_TRUE(from_parts && from_whole);
    EXPECT_EQ(from_parts->sigma_mm, from_whole->sigma_mm);
    EXPECT_EQ(from_parts->low_mm, from_whole->low_mm);
    EXPECT_EQ(from_parts->high_mm, from_whole->high_mm);
}

TEST(AccuracyTally, CountsAVisitsScoringDartsTogether) {
    // The same beds as three visits of one dart are another tally.
    const std::vector<ThrownDart> one_visit = {
        {trebleBed(20), 501, 3, 7}, {beds::singleBed(20), 441, 2, 7}, {trebleBed(19), 421, 1, 7}};
    std::vector<ThrownDart> three_visits = one_visit;
    for (int i = 0; i < 3; ++i) {
        three_visits[static_cast<std::size_t>(i)].visit = i;
    }
    accuracy::Tally together;
    together.add(one_visit);
    accuracy::Tally apart;
    apart.add(three_visits);
    EXPECT_NE(together, apart);
    EXPECT_EQ(together.usableDarts(), 3);
    EXPECT_EQ(apart.usableDarts(), 3);
}

TEST(AccuracyDarts, GivesEachDartOfOnePlayerItsScoreDartsLeftAndVisit) {
    const auto dart = [](const char* notation, int value) {
        return DartRecord{notation, value, false, false, "", 0};
    };
    LegRecord first;
    first.visits = {{0, 501, {dart("T20", 60), dart("S20", 20), dart("S1", 1)}, {}},
                    {1, 501, {dart("T19", 57)}, {}},
                    {0, 420, {dart("T20", 60), dart("XX", 0), dart("MISS", 0)}, {}}};
    LegRecord second;
    second.visits = {{0, 40, {dart("T20", 60)}, {}}};  // a bust
    const std::vector<ThrownDart> expected = {
        {trebleBed(20), 501, 3, 1},      {beds::singleBed(20), 441, 2, 1},
        {beds::singleBed(1), 421, 1, 1}, {trebleBed(20), 420, 3, 2},
        {beds::kMissBed, 360, 1, 2},     {trebleBed(20), 40, 3, 3}};
    const std::vector<ThrownDart> darts = accuracy::thrownDarts({first, second}, 0);
    ASSERT_EQ(darts.size(), expected.size());
    for (std::size_t i = 0; i < darts.size(); ++i) {
        EXPECT_EQ(darts[i].bed, expected[i].bed) << i;
        EXPECT_EQ(darts[i].remaining, expected[i].remaining) << i;
        EXPECT_EQ(darts[i].darts_left, expected[i].darts_left) << i;
        EXPECT_EQ(darts[i].visit, expected[i].visit) << i;
    }
    EXPECT_EQ(accuracy::thrownDarts({first}, 1).size(), 1u);
}

TEST(BestScoringAim, MovesFromT20TowardsTheCentreAsSigmaGrows) {
    struct Row {
        double sigma;
        std::optional<int> aim;
    };
    const std::vector<Row> rows = {
        {0.5, trebleBed(20)},
        {16.0, trebleBed(20)},
        {17.5, trebleBed(19)},
        {30.0, trebleBed(19)},
        {31.0, trebleBed(7)},
        {49.0, trebleBed(7)},
        {50.0, beds::kBullBed},
        {0.0, std::nullopt},
        {-5.0, std::nullopt},
        {std::nan(""), std::nullopt},
        {std::numeric_limits<double>::infinity(), std::nullopt},
    };
    for (const Row& row : rows) {
        const std::optional<accuracy::ScoringAim> best = accuracy::bestScoringAim(row.sigma);
        ASSERT_EQ(best.has_value(), row.aim.has_value()) << row.sigma;
        if (best) {
            EXPECT_EQ(best->aim, *row.aim) << row.sigma;
            EXPECT_GE(best->points_per_dart, best->points_per_dart_t20) << row.sigma;
        }
    }
    EXPECT_NEAR(accuracy::bestScoringAim(0.5)->points_per_dart_t20, 60.0, 1e-6);
}

}  // namespace
}  // namespace game501
