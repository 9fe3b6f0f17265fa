#include "dartboard.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "beds.h"
#include "checkout_hint.h"

namespace game501 {
namespace {

using beds::bedNotation;
using dartboard::bedAt;
using dartboard::Point;

// A point `radius` mm from the centre, `degrees` clockwise from the top.
Point polar(double radius, double degrees) {
    const double angle = degrees * 3.14159265358979323846 / 180.0;
    return Point{radius * std::sin(angle), radius * std::cos(angle)};
}

struct PointCase {
    Point point;
    std::string bed;
};

TEST(Dartboard, ScoresEachPointByItsRingAndSegment) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<PointCase> cases = {
        {polar(0.0, 0.0), "BULL"},
        {polar(6.3, 200.0), "BULL"},
        {polar(6.35, 0.0), "OUTER"},  // a ring's edge belongs to the bed outside it
        {polar(15.8, 90.0), "OUTER"},
        {polar(15.9, 0.0), "S20"},
        {polar(98.9, 0.0), "S20"},
        {polar(99.0, 0.0), "T20"},
        {polar(106.9, 0.0), "T20"},
        {polar(107.0, 0.0), "S20"},
        {polar(161.9, 0.0), "S20"},
        {polar(162.0, 0.0), "D20"},
        {polar(169.9, 0.0), "D20"},
        {polar(170.0, 0.0), "MISS"},
        {polar(103.0, 8.9), "T20"},  // segments are 18 degrees wide, 20 centred on the top
        {polar(103.0, 9.1), "T1"},
        {polar(103.0, -8.9), "T20"},
        {polar(103.0, -9.1), "T5"},
        {polar(103.0, 90.0), "T6"},
        {polar(134.5, 180.0), "S3"},
        {polar(166.0, 270.0), "D11"},
        {polar(50.0, 198.0), "S19"},
        {Point{nan, 0.0}, "MISS"},
        {Point{std::numeric_limits<double>::infinity(), 0.0}, "MISS"},
    };
    for (const PointCase& c : cases) {
        SCOPED_TRACE(c.bed);
        EXPECT_EQ(bedNotation(bedAt(c.point)), c.bed);
    }
    for (int aim = 0; aim < dartboard::kAimCount; ++aim) {
        const int expected = aim == beds::kOuterBed ? beds::kBullBed : aim;
        EXPECT_EQ(bedAt(dartboard::aimPoint(aim)), expected) << bedNotation(aim);
    }
}

// The chances against darts thrown at random: each within 0.002 and four
// standard errors of the share of darts that land in the bed.
TEST(Dartboard, ChancesAgreeWithRandomDarts) {
    constexpr int kDarts = 200000;
    const std::vector<int> aims = {beds::trebleBed(20), beds::doubleBed(16), beds::singleBed(19),
                                   beds::kBullBed};
    std::mt19937_64 random(2011);
    for (const double sigma : {5.0, 19.0, 60.0}) {
        const dartboard::BedChances chances = dartboard::bedChances(sigma);
        std::normal_distribution<double> error(0.0, sigma);
        for (const int aim : aims) {
            SCOPED_TRACE(bedNotation(aim) + " at sigma " + std::to_string(sigma));
            std::array<int, beds::kBedCount> landed{};
            const Point target = dartboard::aimPoint(aim);
            for (int dart = 0; dart < kDarts; ++dart) {
                const double x = target.x + error(random);
                ++landed[static_cast<std::size_t>(bedAt({x, target.y + error(random)}))];
            }
            const auto& row = chances[static_cast<std::size_t>(aim)];
            double total = 0.0;
            for (int bed = 0; bed < beds::kBedCount; ++bed) {
                const double p = row[static_cast<std::size_t>(bed)];
                const double share = landed[static_cast<std::size_t>(bed)] / double{kDarts};
                EXPECT_NEAR(p, share, 0.002 + 4.0 * std::sqrt(p * (1.0 - p) / kDarts))
                    << bedNotation(bed);
                total += p;
            }
            EXPECT_NEAR(total, 1.0, 1e-9);
        }
    }
}

TEST(Dartboard, ChancesOfEveryAimSumToOne) {
    // The smallest is taken as 0.01 mm, where every dart lands in its bed.
    for (const double sigma : {0.001, 0.5, 3.0, 8.5, 19.0, 35.0, 100.0, 1000.0}) {
        const dartboard::BedChances chances = dartboard::bedChances(sigma);
        for (int aim = 0; aim < dartboard::kAimCount; ++aim) {
            double total = 0.0;
            for (const double p : chances[static_cast<std::size_t>(aim)]) {
                EXPECT_GE(p, 0.0);
                total += p;
            }
            EXPECT_NEAR(total, 1.0, 1e-9) << bedNotation(aim) << " at sigma " << sigma;
        }
    }
}

// Far wider than the board, the Gaussian is nearly flat over the centre: an
// aim sees BULL and OUTER as the centre does, scaled by the density where it is.
TEST(Dartboard, WideDartsReachTheCentreFromEveryAim) {
    constexpr double kSigma = 1000.0;
    const dartboard::BedChances chances = dartboard::bedChances(kSigma);
    const auto& centre = chances[static_cast<std::size_t>(beds::kBullBed)];
    for (int aim = 0; aim < dartboard::kAimCount; ++aim) {
        const Point at = dartboard::aimPoint(aim);
        const double density = std::exp(-(at.x * at.x + at.y * at.y) / (2.0 * kSigma * kSigma));
        for (const int bed : {beds::kBullBed, beds::kOuterBed}) {
            const auto b = static_cast<std::size_t>(bed);
            EXPECT_NEAR(chances[static_cast<std::size_t>(aim)][b] / (centre[b] * density), 1.0,
                        1e-4)
                << bedNotation(bed) << " from " << bedNotation(aim);
        }
    }
}

TEST(Dartboard, MissesForCertainWithASigmaNotPositiveAndFinite) {
    std::array<double, beds::kBedCount> miss{};
    miss[static_cast<std::size_t>(beds::kMissBed)] = 1.0;
    for (const double sigma : {0.0, -19.0, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity()}) {
        for (const auto& row : dartboard::bedChances(sigma)) {
            EXPECT_EQ(row, miss) << sigma;
        }
    }
}

// With one dart left only the double itself finishes, so the advice's chance
// is the chance the model gives that double for the aim the advice names.
TEST(Dartboard, OneDartAdviceFinishesAsOftenAsItsAimHitsTheDouble) {
    for (const SkillLevel& level : skillLevels()) {
        const dartboard::BedChances chances = dartboard::bedChances(level.sigma_mm);
        for (int bed = 0; bed < dartboard::kAimCount; ++bed) {
            if (!beds::isDoubleBed(bed)) {
                continue;
            }
            SCOPED_TRACE(bedNotation(bed) + " for " + level.id);
            const CheckoutAdvice advice = checkoutAdvice(beds::bedValue(bed), 1, level.sigma_mm);
            ASSERT_EQ(advice.route.size(), 1U);
            const auto aim = static_cast<std::size_t>(beds::parseBed(advice.route[0]).value());
            EXPECT_DOUBLE_EQ(advice.probability, chances[aim][static_cast<std::size_t>(bed)]);
        }
    }
}

}  // namespace
}  // namespace game501
