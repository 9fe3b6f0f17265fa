#include "accuracy.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <utility>

#include "rules.h"

namespace game501::accuracy {

namespace {

using beds::kBedCount;
using beds::kBullBed;

constexpr int kMostPoints = 60;  // the most that one dart scores
constexpr std::size_t kAims = kScoringAims.size();
constexpr auto kNoBed = static_cast<std::uint8_t>(kBedCount);

// The chance of each of kScoringAims, and a matrix over them.
using Weights = std::array<double, kAims>;
using Matrix = std::array<Weights, kAims>;

// Half the 95 % point of chi-squared with one degree of freedom.
constexpr double kInterval95 = 1.920729410347062;
// The search: a grid in log sigma from the least to the most sigma, then
// golden sections around its best point and false positions for the
// interval's ends, each to 0.1 % of sigma.
constexpr int kGridSteps = 11;
constexpr double kLogTolerance = 1e-3;
// The aims' chances are sought until the log-likelihood is within this of
// its greatest for the sigma (a bound from concavity, not a guess).
constexpr double kWeightsGap = 1e-4;
constexpr int kMostWeightSteps = 200;

std::size_t finishRow(int aim) {
    return aim == kBullBed ? beds::kSegments : static_cast<std::size_t>(beds::segmentOf(aim) - 1);
}

int finishAimOfRow(std::size_t row) {
    return row == beds::kSegments ? kBullBed : beds::doubleBed(static_cast<int>(row) + 1);
}

}  // namespace

std::vector<ThrownDart> thrownDarts(const std::vector<LegRecord>& legs, int player) {
    std::vector<ThrownDart> darts;
    std::int64_t visit_key = 0;
    for (const LegRecord& leg : legs) {
        for (const VisitRecord& visit : leg.visits) {
            if (visit.player != player) {
                continue;
            }
            ++visit_key;
            int remaining = visit.start_score;
            int darts_left = kDartsPerTurn;
            for (const DartRecord& dart : visit.darts) {
                if (const std::optional<int> bed = beds::parseBed(dart.notation)) {
                    darts.push_back({*bed, remaining, darts_left, visit_key});
                }
                remaining -= dart.value;
                --darts_left;
            }
        }
    }
    return darts;
}

std::optional<int> finishingAim(int remaining, int darts_left) {
    if (darts_left < 1 || darts_left > kDartsPerTurn) {
        return std::nullopt;
    }
    if (remaining >= 2 && remaining <= 2 * beds::kSegments && remaining % 2 == 0) {
        return beds::doubleBed(remaining / 2);
    }
    // With darts to spare a player at 50 may set up a double instead.
    if (remaining == beds::bedValue(kBullBed) && darts_left == 1) {
        return kBullBed;
    }
    return std::nullopt;
}

bool inScoringPhase(int remaining, int darts_left) {
    return darts_left >= 1 && darts_left <= kDartsPerTurn &&
           remaining > kHighestFinish + kMostPoints * darts_left;
}

void Tally::add(const std::vector<ThrownDart>& darts) {
    std::vector<const ThrownDart*> by_visit;
    by_visit.reserve(darts.size());
    for (const ThrownDart& dart : darts) {
        if (dart.bed < 0 || dart.bed >= kBedCount) {
            continue;
        }
        if (const std::optional<int> aim = finishingAim(dart.remaining, dart.darts_left)) {
            ++finishes_[{static_cast<std::uint8_t>(finishRow(*aim)),
                         static_cast<std::uint8_t>(dart.bed)}];
            ++usable_darts_;
        } else if (inScoringPhase(dart.remaining, dart.darts_left)) {
            by_visit.push_back(&dart);
        }
    }
    std::stable_sort(by_visit.begin(), by_visit.end(),
                     [](const ThrownDart* a, const ThrownDart* b) { return a->visit < b->visit; });
    for (std::size_t first = 0; first < by_visit.size();) {
        VisitBeds visit;
        visit.fill(kNoBed);
        std::size_t count = 0;
        std::size_t next = first;
        // A visit has at most three darts; any beyond are another visit's
        // under a reused key.
        for (; next < by_visit.size() && by_visit[next]->visit == by_visit[first]->visit &&
               count < visit.size();
             ++next, ++count) {
            visit[count] = static_cast<std::uint8_t>(by_visit[next]->bed);
        }
        std::sort(visit.begin(), visit.end());
        ++scoring_visits_[visit];
        usable_darts_ += static_cast<int>(count);
        first = next;
    }
}

void Tally::add(const Tally& other) {
    for (const auto& [finish, count] : other.finishes_) {
        finishes_[finish] += count;
    }
    for (const auto& [visit, count] : other.scoring_visits_) {
        scoring_visits_[visit] += count;
    }
    usable_darts_ += other.usable_darts_;
}

bool Tally::operator==(const Tally& other) const {
    return finishes_ == other.finishes_ && scoring_visits_ == other.scoring_visits_ &&
           usable_darts_ == other.usable_darts_;
}

// The log-likelihood of a tally's darts as a function of log sigma, the aims'
// chances in the scoring phase at their best for each sigma (the profile
// likelihood).
class Likelihood {
public:
    explicit Likelihood(const Tally& tally) {
        for (const auto& [finish, count] : tally.finishes_) {
            finishes_.push_back({finishAimOfRow(finish.first), finish.second, count});
        }
        for (const auto& [beds, count] : tally.scoring_visits_) {
            visits_.push_back({beds, static_cast<double>(count)});
            visit_count_ += count;
        }
        chances_of_visits_.resize(visits_.size());
    }

    // Returns the log-likelihood at sigma = exp(log_sigma) and leaves the
    // aims' chances there in weights().
    double at(double log_sigma) {
        const dartboard::BedChances board = dartboard::bedChances(std::exp(log_sigma));
        const auto chance = [&board](int aim, int bed) {
            return (1.0 - kStrayChance) *
                       board[static_cast<std::size_t>(aim)][static_cast<std::size_t>(bed)] +
                   kStrayChance / kBedCount;
        };
        double total = 0.0;
        for (const Finish& finish : finishes_) {
            total += finish.count * std::log(chance(finish.aim, finish.bed));
        }
        for (std::size_t v = 0; v < visits_.size(); ++v) {
            for (std::size_t a = 0; a < kAims; ++a) {
                double product = 1.0;
                for (const std::uint8_t bed : visits_[v].beds) {
                    if (bed != kNoBed) {
                        product *= chance(kScoringAims[a], bed);
                    }
                }
                chances_of_visits_[v][a] = product;
            }
        }
        return total + bestWeights();
    }

    const Weights& weights() const { return weights_; }

private:
    struct Finish {
        int aim;
        int bed;
        int count;
    };
    struct Visit {
        std::array<std::uint8_t, 3> beds;
        double count;
    };

    // Finds the aims' chances w of greatest likelihood for the visits'
    // chances and returns that log-likelihood. It maximises, over w >= 0,
    //   psi(w) = sum over visits of count * log(chances . w) - visits * sum(w),
    // which is concave, greatest where sum(w) = 1 and never lowered by scaling
    // w to that sum. Newton steps (quadratic, where EM crawls when the aims'
    // beds overlap) stop where a chance reaches 0 and leave it there while
    // its gradient is not positive; from equal chances, so that the result
    // depends on sigma alone. Concavity bounds what is left to gain by the
    // largest entry of the gradient less its mean under w, which ends the
    // search.
    double bestWeights() {
        weights_.fill(visits_.empty() ? 0.0 : 1.0 / kAims);
        if (visits_.empty()) {
            return 0.0;
        }
        const auto n = static_cast<double>(visit_count_);
        double value = 0.0;
        for (int step = 0; step < kMostWeightSteps; ++step) {
            normalise(weights_);
            value = psi(weights_);
            Weights gradient{};
            Matrix curvature{};  // minus the Hessian
            slopes(gradient, curvature);
            if (*std::max_element(gradient.begin(), gradient.end()) - dot(gradient, weights_) <
                kWeightsGap) {
                break;
            }
            if (!newtonStep(gradient, curvature, value)) {
                // An EM step, which never lowers the likelihood.
                for (std::size_t a = 0; a < kAims; ++a) {
                    weights_[a] *= (gradient[a] + n) / n;
                }
            }
        }
        normalise(weights_);
        return value + n;
    }

    // Fills the gradient of psi at the current chances and minus its Hessian.
    void slopes(Weights& gradient, Matrix& curvature) const {
        for (std::size_t v = 0; v < visits_.size(); ++v) {
            const Weights& chances = chances_of_visits_[v];
            const double mixed = dot(chances, weights_);
            Weights share{};
            for (std::size_t a = 0; a < kAims; ++a) {
                share[a] = chances[a] / mixed;
                gradient[a] += visits_[v].count * share[a];
            }
            for (std::size_t a = 0; a < kAims; ++a) {
                for (std::size_t b = 0; b < kAims; ++b) {
                    curvature[a][b] += visits_[v].count * share[a] * share[b];
                }
            }
        }
        for (double& entry : gradient) {
            entry -= static_cast<double>(visit_count_);
        }
    }

    // Takes the Newton step, or the part of it that raises psi above `value`,
    // up to where the first chance reaches 0; chances at 0 that would fall
    // stay. Returns whether psi rose.
    bool newtonStep(const Weights& gradient, const Matrix& curvature, double value) {
        std::array<bool, kAims> free{};
        for (std::size_t a = 0; a < kAims; ++a) {
            free[a] = weights_[a] > 0.0 || gradient[a] > 0.0;
        }
        const Weights direction = solved(curvature, gradient, free);
        double longest = 1.0;
        for (std::size_t a = 0; a < kAims; ++a) {
            // A chance already at 0 stays there (below).
            if (direction[a] < 0.0 && weights_[a] > 0.0) {
                longest = std::min(longest, weights_[a] / -direction[a]);
            }
        }
        for (double length = longest; length > 1e-9 * longest; length *= 0.5) {
            Weights tried{};
            for (std::size_t a = 0; a < kAims; ++a) {
                const bool stops = length == longest && direction[a] < 0.0 && weights_[a] > 0.0 &&
                                   weights_[a] / -direction[a] == longest;
                tried[a] = stops ? 0.0 : std::max(0.0, weights_[a] + length * direction[a]);
            }
            // Reaching 0 counts even when rounding hides the gain.
            if (const double tried_value = psi(tried);
                tried_value > value || (length == longest && tried_value >= value)) {
                weights_ = tried;
                return true;
            }
        }
        return false;
    }

    static void normalise(Weights& weights) {
        const double sum = std::accumulate(weights.begin(), weights.end(), 0.0);
        for (double& weight : weights) {
            weight /= sum;
        }
    }

    static double dot(const Weights& a, const Weights& b) {
        return std::inner_product(a.begin(), a.end(), b.begin(), 0.0);
    }

    double psi(const Weights& weights) const {
        double sum = 0.0;
        for (std::size_t v = 0; v < visits_.size(); ++v) {
            sum += visits_[v].count * std::log(dot(chances_of_visits_[v], weights));
        }
        return sum - static_cast<double>(visit_count_) *
                         std::accumulate(weights.begin(), weights.end(), 0.0);
    }

    // Returns x with matrix x = vector on the free entries and 0 on the
    // others, by elimination with partial pivoting. The matrix is positive
    // semi-definite; a ridge far below its scale keeps it regular.
    static Weights solved(Matrix matrix, Weights vector, const std::array<bool, kAims>& free) {
        double scale = 0.0;
        for (std::size_t a = 0; a < kAims; ++a) {
            scale = std::max(scale, matrix[a][a]);
        }
        for (std::size_t a = 0; a < kAims; ++a) {
            for (std::size_t b = 0; b < kAims; ++b) {
                if (!free[a] || !free[b]) {
                    matrix[a][b] = a == b ? 1.0 : 0.0;
                }
            }
            if (free[a]) {
                matrix[a][a] += 1e-12 * scale;
            } else {
                vector[a] = 0.0;
            }
        }
        for (std::size_t col = 0; col < kAims; ++col) {
            std::size_t pivot = col;
            for (std::size_t row = col + 1; row < kAims; ++row) {
                if (std::abs(matrix[row][col]) > std::abs(matrix[pivot][col])) {
                    pivot = row;
                }
            }
            std::swap(matrix[col], matrix[pivot]);
            std::swap(vector[col], vector[pivot]);
            for (std::size_t row = col + 1; row < kAims; ++row) {
                const double factor = matrix[row][col] / matrix[col][col];
                for (std::size_t k = col; k < kAims; ++k) {
                    matrix[row][k] -= factor * matrix[col][k];
                }
                vector[row] -= factor * vector[col];
            }
        }
        Weights x{};
        for (std::size_t row = kAims; row-- > 0;) {
            double sum = vector[row];
            for (std::size_t k = row + 1; k < kAims; ++k) {
                sum -= matrix[row][k] * x[k];
            }
            x[row] = sum / matrix[row][row];
        }
        return x;
    }

    std::vector<Finish> finishes_;
    std::vector<Visit> visits_;
    long visit_count_ = 0;
    std::vector<Weights> chances_of_visits_;
    Weights weights_{};
};

namespace {

struct Point {
    double log_sigma;
    double value;
};

// Returns the greatest point of `f` within [low, high] by golden sections,
// starting from the best point known so far.
template <typename F>
Point goldenMaximum(F& f, double low, double high, Point best) {
    const double ratio = 0.5 * (std::sqrt(5.0) - 1.0);
    double inner_low = high - ratio * (high - low);
    double inner_high = low + ratio * (high - low);
    double value_low = f(inner_low);
    double value_high = f(inner_high);
    while (high - low > kLogTolerance) {
        if (value_low >= value_high) {
            high = inner_high;
            inner_high = inner_low;
            value_high = value_low;
            inner_low = high - ratio * (high - low);
            value_low = f(inner_low);
        } else {
            low = inner_low;
            inner_low = inner_high;
            value_low = value_high;
            inner_high = low + ratio * (high - low);
            value_high = f(inner_high);
        }
        for (const Point point : {Point{inner_low, value_low}, Point{inner_high, value_high}}) {
            if (point.value > best.value) {
                best = point;
            }
        }
    }
    return best;
}

// Returns where `f` crosses `level` between `inside` (at or above it) and
// `outside` (below it), by false position with the Illinois rule.
template <typename F>
double crossing(F& f, double level, Point inside, Point outside) {
    int kept = 0;  // which end was kept last: 1 inside, -1 outside
    while (std::abs(outside.log_sigma - inside.log_sigma) > kLogTolerance) {
        const double gap_in = inside.value - level;
        const double gap_out = outside.value - level;
        double middle =
            inside.log_sigma + (outside.log_sigma - inside.log_sigma) * gap_in / (gap_in - gap_out);
        const double lo = std::min(inside.log_sigma, outside.log_sigma);
        const double hi = std::max(inside.log_sigma, outside.log_sigma);
        if (!(middle > lo && middle < hi)) {
            middle = 0.5 * (lo + hi);
        }
        const Point point{middle, f(middle)};
        if (point.value >= level) {
            inside = point;
            if (kept == -1) {
                outside.value = level + 0.5 * (outside.value - level);
            }
            kept = -1;
        } else {
            outside = point;
            if (kept == 1) {
                inside.value = level + 0.5 * (inside.value - level);
            }
            kept = 1;
        }
    }
    return 0.5 * (inside.log_sigma + outside.log_sigma);
}

}  // namespace

std::optional<Estimate> estimate(const Tally& tally) {
    if (tally.usableDarts() < kMinUsableDarts) {
        return std::nullopt;
    }
    Likelihood likelihood(tally);
    // The aims' chances at the greatest likelihood seen, which the top is.
    double best_value = -std::numeric_limits<double>::infinity();
    Weights best_weights{};
    const auto f = [&](double log_sigma) {
        const double value = likelihood.at(log_sigma);
        if (value > best_value) {
            best_value = value;
            best_weights = likelihood.weights();
        }
        return value;
    };
    const double least = std::log(kLeastSigmaMm);
    const double most = std::log(kMostSigmaMm);

    std::array<Point, kGridSteps + 1> grid{};
    std::size_t best = 0;
    for (std::size_t i = 0; i < grid.size(); ++i) {
        const double log_sigma = least + (most - least) * static_cast<double>(i) / kGridSteps;
        grid[i] = {log_sigma, f(log_sigma)};
        if (grid[i].value > grid[best].value) {
            best = i;
        }
    }
    const Point top =
        goldenMaximum(f, grid[best == 0 ? 0 : best - 1].log_sigma,
                      grid[std::min(best + 1, grid.size() - 1)].log_sigma, grid[best]);
    const double level = top.value - kInterval95;

    // Each end lies between the top and the first point of the grid beyond
    // it that is below the level; with none, at the bound.
    double low = least;
    for (std::size_t i = best + 1; i-- > 0;) {
        if (grid[i].log_sigma < top.log_sigma && grid[i].value < level) {
            low = crossing(f, level, top, grid[i]);
            break;
        }
    }
    double high = most;
    for (std::size_t i = best; i < grid.size(); ++i) {
        if (grid[i].log_sigma > top.log_sigma && grid[i].value < level) {
            high = crossing(f, level, top, grid[i]);
            break;
        }
    }

    Estimate result;
    result.sigma_mm = std::exp(top.log_sigma);
    result.low_mm = std::min(std::exp(low), result.sigma_mm);
    result.high_mm = std::max(std::exp(high), result.sigma_mm);
    result.darts = tally.usableDarts();
    result.aim_shares = best_weights;
    return result;
}

std::optional<Estimate> estimate(const std::vector<ThrownDart>& darts) {
    Tally tally;
    tally.add(darts);
    return estimate(tally);
}

std::optional<ScoringAim> bestScoringAim(double sigma_mm) {
    if (!(sigma_mm > 0.0) || !std::isfinite(sigma_mm)) {
        return std::nullopt;
    }
    const dartboard::BedChances board = dartboard::bedChances(sigma_mm);
    const auto points = [&board](int aim) {
        double sum = 0.0;
        for (int bed = 0; bed < kBedCount; ++bed) {
            sum += board[static_cast<std::size_t>(aim)][static_cast<std::size_t>(bed)] *
                   beds::bedValue(bed);
        }
        return sum;
    };
    ScoringAim best{0, points(0), points(beds::trebleBed(20))};
    for (int aim = 1; aim < dartboard::kAimCount; ++aim) {
        // Values that differ by less than rounding are equal.
        if (const double value = points(aim); value > best.points_per_dart + 1e-12) {
            best.aim = aim;
            best.points_per_dart = value;
        }
    }
    // OUTER and BULL are both the centre; BULL scores more when hit.
    if (best.aim == beds::kOuterBed) {
        best.aim = kBullBed;
    }
    return best;
}

}  // namespace game501::accuracy
