#include "dartboard.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace game501::dartboard {

namespace {

using beds::doubleBed;
using beds::kBedCount;
using beds::kBullBed;
using beds::kMissBed;
using beds::kOuterBed;
using beds::segmentOf;
using beds::singleBed;
using beds::trebleBed;

constexpr double kPi = 3.14159265358979323846;
constexpr double kSegmentAngle = 2.0 * kPi / 20.0;
constexpr int kSegments = beds::kSegments;
constexpr double kSmallestSigma = 0.01;

// Rings from the centre outwards; the two single rings score alike.
enum Ring {
    kBullRing,
    kOuterBullRing,
    kInnerSingleRing,
    kTrebleRing,
    kOuterSingleRing,
    kDoubleRing
};
constexpr int kRings = 6;
constexpr std::array<double, kRings + 1> kRingEdges = {0.0,
                                                       kBullRadius,
                                                       kOuterBullRadius,
                                                       kTrebleInnerRadius,
                                                       kTrebleOuterRadius,
                                                       kDoubleInnerRadius,
                                                       kDoubleOuterRadius};

// Position of each segment number (1 to 20) clockwise from the top.
constexpr std::array<int, kSegments + 1> slotsOfSegments() {
    std::array<int, kSegments + 1> slots{};
    for (int slot = 0; slot < kSegments; ++slot) {
        slots[static_cast<std::size_t>(kSegmentOrder[static_cast<std::size_t>(slot)])] = slot;
    }
    return slots;
}
constexpr std::array<int, kSegments + 1> kSlotOf = slotsOfSegments();

int slotOf(int segment) { return kSlotOf[static_cast<std::size_t>(segment)]; }

// Gauss-Legendre nodes and weights on [-1, 1]. Cells are cut until they are
// no larger than sigma, where six points per direction integrate the
// Gaussian to far better than the accuracy promised.
constexpr int kNodes = 6;
constexpr std::array<double, kNodes> kNodeAt = {-0.9324695142031521, -0.6612093864662645,
                                                -0.2386191860831969, 0.2386191860831969,
                                                0.6612093864662645,  0.9324695142031521};
constexpr std::array<double, kNodes> kWeightOf = {0.1713244923791704, 0.3607615730481386,
                                                  0.4679139345726910, 0.4679139345726910,
                                                  0.3607615730481386, 0.1713244923791704};
constexpr double kCellPerSigma = 1.0;
// Beyond 9 sigma the density is below 3e-18 of its peak: a cell that far
// from the aim adds nothing that a double can hold.
constexpr double kCutoffSigmas = 9.0;

// A Gaussian around the point at distance `rho` from the centre on the
// angle 0, integrated over annular sectors whose angles are measured from it.
class SectorIntegral {
public:
    SectorIntegral(double rho, double sigma)
        : rho_(rho),
          sigma_(sigma),
          scale_(1.0 / (2.0 * sigma * sigma)),
          norm_(1.0 / (2.0 * kPi * sigma * sigma)) {}

    // Returns the chance of landing with r1 <= r < r2 and t1 <= angle < t2.
    double over(double r1, double r2, double t1, double t2) const {
        if (minDistance(r1, r2, t1, t2) > kCutoffSigmas * sigma_) {
            return 0.0;
        }
        const double cell = kCellPerSigma * sigma_;
        if (r2 - r1 > cell && r2 - r1 >= r2 * (t2 - t1)) {
            const double middle = 0.5 * (r1 + r2);
            return over(r1, middle, t1, t2) + over(middle, r2, t1, t2);
        }
        if (r2 * (t2 - t1) > cell) {
            const double middle = 0.5 * (t1 + t2);
            return over(r1, r2, t1, middle) + over(r1, r2, middle, t2);
        }
        return gaussLegendre(r1, r2, t1, t2);
    }

private:
    // The nearest point of the sector lies on its arc through the aim's
    // angle when that angle is inside, else on the nearer straight edge.
    double minDistance(double r1, double r2, double t1, double t2) const {
        if (t1 <= 0.0 && 0.0 <= t2) {
            return std::max({0.0, r1 - rho_, rho_ - r2});
        }
        const double edge = std::min(std::abs(t1), std::abs(t2));
        const double along = std::clamp(rho_ * std::cos(edge), r1, r2);
        const double squared = rho_ * rho_ + along * along - 2.0 * rho_ * along * std::cos(edge);
        return std::sqrt(std::max(0.0, squared));
    }

    double gaussLegendre(double r1, double r2, double t1, double t2) const {
        const double r_half = 0.5 * (r2 - r1);
        const double r_mid = 0.5 * (r1 + r2);
        const double t_half = 0.5 * (t2 - t1);
        const double t_mid = 0.5 * (t1 + t2);
        double sum = 0.0;
        for (std::size_t i = 0; i < kNodes; ++i) {
            const double r = r_mid + r_half * kNodeAt[i];
            double ring = 0.0;
            for (std::size_t j = 0; j < kNodes; ++j) {
                const double half_angle = 0.5 * (t_mid + t_half * kNodeAt[j]);
                const double sine = std::sin(half_angle);
                // The squared distance written without the cancellation of
                // r^2 + rho^2 - 2 r rho cos(angle) near the aim.
                const double distance_squared =
                    (r - rho_) * (r - rho_) + 4.0 * r * rho_ * sine * sine;
                ring += kWeightOf[j] * std::exp(-distance_squared * scale_);
            }
            sum += kWeightOf[i] * r * ring;
        }
        return norm_ * sum * r_half * t_half;
    }

    double rho_;
    double sigma_;
    double scale_;
    double norm_;
};

// chance[offset][ring] for an aim on the middle line of slot 0, at distance
// `rho`, and the beds of the slot `offset` positions clockwise (or, being
// mirror images, anticlockwise) from it.
using SlotChances = std::array<std::array<double, kRings>, kSegments / 2 + 1>;

SlotChances slotChances(double rho, double sigma) {
    const SectorIntegral integral(rho, sigma);
    SlotChances chances{};
    for (std::size_t offset = 0; offset < chances.size(); ++offset) {
        const double middle = static_cast<double>(offset) * kSegmentAngle;
        for (std::size_t ring = 0; ring < kRings; ++ring) {
            chances[offset][ring] =
                integral.over(kRingEdges[ring], kRingEdges[ring + 1], middle - 0.5 * kSegmentAngle,
                              middle + 0.5 * kSegmentAngle);
        }
    }
    return chances;
}

std::size_t mirroredOffset(int from_slot, int to_slot) {
    const int offset = (to_slot - from_slot + kSegments) % kSegments;
    return static_cast<std::size_t>(std::min(offset, kSegments - offset));
}

// Fills the row of an aim at `aim_slot` from the chances seen from slot 0,
// summing in the same order for every slot so that rotated aims agree to
// the last bit.
void fillRow(const SlotChances& seen, int aim_slot, std::array<double, kBedCount>& row) {
    row.fill(0.0);
    for (int segment = 1; segment <= kSegments; ++segment) {
        const auto& rings = seen[mirroredOffset(aim_slot, slotOf(segment))];
        row[static_cast<std::size_t>(singleBed(segment))] =
            rings[kInnerSingleRing] + rings[kOuterSingleRing];
        row[static_cast<std::size_t>(trebleBed(segment))] = rings[kTrebleRing];
        row[static_cast<std::size_t>(doubleBed(segment))] = rings[kDoubleRing];
    }
    for (int slot = 0; slot < kSegments; ++slot) {
        const auto& rings = seen[mirroredOffset(0, slot)];
        row[kOuterBed] += rings[kOuterBullRing];
        row[kBullBed] += rings[kBullRing];
    }
    double scored = 0.0;
    for (std::size_t bed = 0; bed < kMissBed; ++bed) {
        scored += row[bed];
    }
    row[kMissBed] = std::max(0.0, 1.0 - scored);
}

// Aimed at the centre, the distance from it follows a Rayleigh law and every
// segment is equally likely.
std::array<double, kBedCount> centreRow(double sigma) {
    const auto inside = [sigma](double radius) {
        return -std::expm1(-radius * radius / (2.0 * sigma * sigma));
    };
    const double singles = (inside(kTrebleInnerRadius) - inside(kOuterBullRadius)) +
                           (inside(kDoubleInnerRadius) - inside(kTrebleOuterRadius));
    const double trebles = inside(kTrebleOuterRadius) - inside(kTrebleInnerRadius);
    const double doubles = inside(kDoubleOuterRadius) - inside(kDoubleInnerRadius);
    std::array<double, kBedCount> row{};
    for (int segment = 1; segment <= kSegments; ++segment) {
        row[static_cast<std::size_t>(singleBed(segment))] = singles / kSegments;
        row[static_cast<std::size_t>(trebleBed(segment))] = trebles / kSegments;
        row[static_cast<std::size_t>(doubleBed(segment))] = doubles / kSegments;
    }
    row[kOuterBed] = inside(kOuterBullRadius) - inside(kBullRadius);
    row[kBullBed] = inside(kBullRadius);
    row[kMissBed] = 1.0 - inside(kDoubleOuterRadius);
    return row;
}

}  // namespace

Point aimPoint(int aim) {
    double radius = 0.0;
    if (aim >= 0 && aim < 20) {
        radius = kSingleAimRadius;
    } else if (aim >= 20 && aim < 40) {
        radius = kDoubleAimRadius;
    } else if (aim >= 40 && aim < 60) {
        radius = kTrebleAimRadius;
    } else {
        return Point{};
    }
    const double angle = slotOf(segmentOf(aim)) * kSegmentAngle;
    return Point{radius * std::sin(angle), radius * std::cos(angle)};
}

int bedAt(Point point) {
    const double radius = std::hypot(point.x, point.y);
    if (!(radius < kDoubleOuterRadius)) {
        return kMissBed;
    } else if (radius < kBullRadius) {
        return kBullBed;
    } else if (radius < kOuterBullRadius) {
        return kOuterBed;
    }
    // Clockwise from the top, shifted by half a segment so that each
    // segment's slot starts at its anticlockwise edge.
    const double clockwise = std::atan2(point.x, point.y) + 0.5 * kSegmentAngle;
    const int slot =
        static_cast<int>(std::floor(clockwise / kSegmentAngle) + kSegments) % kSegments;
    const int segment = kSegmentOrder[static_cast<std::size_t>(slot)];
    if (radius < kTrebleInnerRadius) {
        return singleBed(segment);
    } else if (radius < kTrebleOuterRadius) {
        return trebleBed(segment);
    } else if (radius < kDoubleInnerRadius) {
        return singleBed(segment);
    }
    return doubleBed(segment);
}

BedChances bedChances(double sigma_mm) {
    BedChances chances{};
    if (!(sigma_mm > 0.0) || !std::isfinite(sigma_mm)) {
        for (auto& row : chances) {
            row[kMissBed] = 1.0;
        }
        return chances;
    }
    const double sigma = std::max(sigma_mm, kSmallestSigma);
    const SlotChances single = slotChances(kSingleAimRadius, sigma);
    const SlotChances treble = slotChances(kTrebleAimRadius, sigma);
    const SlotChances dbl = slotChances(kDoubleAimRadius, sigma);
    for (int segment = 1; segment <= kSegments; ++segment) {
        const int slot = slotOf(segment);
        fillRow(single, slot, chances[static_cast<std::size_t>(singleBed(segment))]);
        fillRow(treble, slot, chances[static_cast<std::size_t>(trebleBed(segment))]);
        fillRow(dbl, slot, chances[static_cast<std::size_t>(doubleBed(segment))]);
    }
    chances[kOuterBed] = centreRow(sigma);
    chances[kBullBed] = chances[kOuterBed];
    return chances;
}

}  // namespace game501::dartboard
