#include "checkout_hint.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "beds.h"
#include "dartboard.h"
#include "rules.h"
#include "sigma_cache.h"

namespace game501 {

namespace {

using beds::bedValue;
using beds::isDoubleBed;
using beds::kBedCount;
using beds::kBullBed;
using dartboard::kAimCount;

constexpr std::size_t kScores = kHighestFinish + 1;

constexpr std::size_t kCachedSigmas = 16;
// Chances that differ by less than rounding are equal.
constexpr double kSameChance = 1e-12;

// How a policy chooses among aims of (nearly) equal chance.
struct TieRule {
    double same_chance = kSameChance;
    // Name an aim even when nothing finishes: a route exists whenever an
    // aim may be chosen, however small the model says its chance is.
    bool even_hopeless = false;
    // Prefer the aim thrown most for its own bed before the fixed rules, so
    // that BULL and OUTER, both aimed at the centre, are named by what they are for.
    bool own_bed_first = false;
};

constexpr TieRule kAdviceTies{kSameChance, false, true};
// The hint treats as equal what the model cannot tell apart in real darts
// and leaves those routes to the fixed rules.
constexpr TieRule kHintTies{1e-3, true, false};

// Double segments in order of preference as the last dart (see the header).
constexpr std::array<int, 20> kFinishOrder = {16, 8,  20, 12, 4,  18, 14, 10, 6, 2,
                                              19, 17, 15, 13, 11, 9,  7,  5,  3, 1};

int finishRank(int bed) {
    if (bed == kBullBed) {
        return static_cast<int>(kFinishOrder.size());
    }
    if (!isDoubleBed(bed)) {
        return static_cast<int>(kFinishOrder.size()) + 1;
    }
    const int segment = bedValue(bed) / 2;
    return static_cast<int>(std::find(kFinishOrder.begin(), kFinishOrder.end(), segment) -
                            kFinishOrder.begin());
}

// Set-up beds by width: a single (or OUTER) is wider than a treble, a treble
// than a double (or BULL).
int narrowness(int bed) {
    if (isDoubleBed(bed)) {
        return 2;
    }
    return bed >= beds::trebleBed(1) && bed <= beds::trebleBed(20) ? 1 : 0;
}

// The aims of a turn in throwing order; complete when hitting each of them
// finishes.
struct Plan {
    std::array<std::int8_t, kDartsPerTurn> aims{};
    std::int8_t count = 0;
    bool complete = false;
};

// The fixed preference rules of the hint's header as one lexicographic key,
// lower first: double set-ups, finish rank, then per set-up dart its negated
// value and its narrowness.
using Key = std::array<int, 2 + 2 * (kDartsPerTurn - 1)>;

Key keyOf(const Plan& plan) {
    Key key{};
    const int setups = plan.count - 1;
    for (int i = 0; i < setups; ++i) {
        const int bed = plan.aims[static_cast<std::size_t>(i)];
        if (isDoubleBed(bed)) {
            ++key[0];
        }
        key[static_cast<std::size_t>(2 + 2 * i)] = -bedValue(bed);
        key[static_cast<std::size_t>(3 + 2 * i)] = narrowness(bed);
    }
    key[1] = finishRank(plan.aims[static_cast<std::size_t>(setups)]);
    return key;
}

// What one policy does from every score with every number of darts.
struct Policy {
    std::array<std::array<double, kScores>, kDartsPerTurn + 1> chance{};
    std::array<std::array<Plan, kScores>, kDartsPerTurn + 1> plan{};
};

struct Table {
    Policy advice;
    Policy hint;  // shortest routes only
};

// The fewest darts that finish each score, or kDartsPerTurn + 1 when three cannot.
std::array<int, kScores> fewestDarts() {
    std::array<int, kScores> fewest{};
    fewest.fill(kDartsPerTurn + 1);
    for (int darts = 1; darts <= kDartsPerTurn; ++darts) {
        for (int score = kHighestFinish; score >= 2; --score) {
            for (int bed = 0; bed < kAimCount; ++bed) {
                const int rest = score - bedValue(bed);
                const DartEffect effect = dartEffect(score, bedValue(bed), isDoubleBed(bed));
                if (effect == DartEffect::checks_out ||
                    (effect == DartEffect::scores &&
                     fewest[static_cast<std::size_t>(rest)] == darts - 1)) {
                    fewest[static_cast<std::size_t>(score)] =
                        std::min(fewest[static_cast<std::size_t>(score)], darts);
                }
            }
        }
    }
    return fewest;
}

class TableBuilder {
public:
    explicit TableBuilder(double sigma_mm) : chances_(dartboard::bedChances(sigma_mm)) {}

    // Fills `table` with the advice and the hint for every score and dart count.
    void build(Table& table) const {
        const std::array<int, kScores> fewest = fewestDarts();
        for (int darts = 1; darts <= kDartsPerTurn; ++darts) {
            for (int score = 2; score <= kHighestFinish; ++score) {
                decide(table.advice, score, darts, kAdviceTies, [](int) { return true; });
                // The hint aims only at the first dart of a shortest route.
                const int needed = fewest[static_cast<std::size_t>(score)];
                decide(table.hint, score, darts, kHintTies, [&](int aim) {
                    const DartEffect effect = dartEffect(score, bedValue(aim), isDoubleBed(aim));
                    if (needed == 1) {
                        return effect == DartEffect::checks_out;
                    }
                    return needed <= darts && effect == DartEffect::scores &&
                           fewest[static_cast<std::size_t>(score - bedValue(aim))] == needed - 1;
                });
            }
        }
    }

private:
    // Chooses the aim from `score` with `darts` left among those `allowed`,
    // knowing the policy's chances with one dart fewer.
    template <typename Allowed>
    void decide(Policy& policy, int score, int darts, const TieRule& ties,
                const Allowed& allowed) const {
        const auto& after = policy.chance[static_cast<std::size_t>(darts - 1)];
        // The chance of finishing once the dart has landed in each bed; a bust
        // finishes nothing.
        std::array<double, kBedCount> then{};
        for (std::size_t bed = 0; bed < then.size(); ++bed) {
            const int points = bedValue(static_cast<int>(bed));
            switch (dartEffect(score, points, isDoubleBed(static_cast<int>(bed)))) {
                case DartEffect::checks_out:
                    then[bed] = 1.0;
                    break;
                case DartEffect::scores:
                    then[bed] = after[static_cast<std::size_t>(score - points)];
                    break;
                case DartEffect::busts:
                    break;
            }
        }
        std::array<double, kAimCount> worth{};
        double best = 0.0;
        bool any = false;
        for (int aim = 0; aim < kAimCount; ++aim) {
            if (!allowed(aim)) {
                continue;
            }
            any = true;
            const auto& row = chances_[static_cast<std::size_t>(aim)];
            double sum = 0.0;
            for (std::size_t bed = 0; bed < then.size(); ++bed) {
                sum += row[bed] * then[bed];
            }
            worth[static_cast<std::size_t>(aim)] = sum;
            best = std::max(best, sum);
        }
        Plan& chosen =
            policy.plan[static_cast<std::size_t>(darts)][static_cast<std::size_t>(score)];
        policy.chance[static_cast<std::size_t>(darts)][static_cast<std::size_t>(score)] = best;
        if (!any || (best <= 0.0 && !ties.even_hopeless)) {
            return;
        }
        double chosen_own = -1.0;
        Key chosen_key{};
        for (int aim = 0; aim < kAimCount; ++aim) {
            if (!allowed(aim) || worth[static_cast<std::size_t>(aim)] < best - ties.same_chance) {
                continue;
            }
            const double own =
                ties.own_bed_first
                    ? chances_[static_cast<std::size_t>(aim)][static_cast<std::size_t>(aim)] *
                          then[static_cast<std::size_t>(aim)]
                    : 0.0;
            const Plan plan = planFrom(policy, score, darts, aim);
            const Key key = keyOf(plan);
            const bool better_own = own > chosen_own + kSameChance;
            const bool same_own = std::abs(own - chosen_own) <= kSameChance;
            if (chosen_own < 0.0 || better_own || (same_own && key < chosen_key)) {
                chosen = plan;
                chosen_own = own;
                chosen_key = key;
            }
        }
    }

    // The plan that starts with `aim` and continues with the policy's plan
    // for what a hit leaves; `aim` alone when that plan cannot finish.
    static Plan planFrom(const Policy& policy, int score, int darts, int aim) {
        Plan plan;
        plan.aims[0] = static_cast<std::int8_t>(aim);
        plan.count = 1;
        const DartEffect effect = dartEffect(score, bedValue(aim), isDoubleBed(aim));
        plan.complete = effect == DartEffect::checks_out;
        if (effect != DartEffect::scores || darts == 1) {
            return plan;
        }
        const int rest = score - bedValue(aim);
        const Plan& next =
            policy.plan[static_cast<std::size_t>(darts - 1)][static_cast<std::size_t>(rest)];
        if (!next.complete) {
            return plan;
        }
        for (int i = 0; i < next.count; ++i) {
            plan.aims[static_cast<std::size_t>(i + 1)] = next.aims[static_cast<std::size_t>(i)];
        }
        plan.count = static_cast<std::int8_t>(next.count + 1);
        plan.complete = true;
        return plan;
    }

    dartboard::BedChances chances_;
};

std::shared_ptr<const Table> tableFor(double sigma_mm) {
    static SigmaCache<Table> cache(
        kCachedSigmas, [](double sigma, Table& table) { TableBuilder(sigma).build(table); });
    return cache.get(sigma_mm);
}

bool inRange(int remaining, int darts_left) {
    return remaining >= 2 && remaining <= kHighestFinish && darts_left >= 1 &&
           darts_left <= kDartsPerTurn;
}

std::vector<std::string> notations(const Plan& plan) {
    std::vector<std::string> route;
    route.reserve(static_cast<std::size_t>(plan.count));
    for (int i = 0; i < plan.count; ++i) {
        route.push_back(beds::bedNotation(plan.aims[static_cast<std::size_t>(i)]));
    }
    return route;
}

}  // namespace

CheckoutAdvice checkoutAdvice(int remaining, int darts_left, double sigma_mm) {
    if (!inRange(remaining, darts_left) || !(sigma_mm > 0.0) || !std::isfinite(sigma_mm)) {
        return {};
    }
    const std::shared_ptr<const Table> table = tableFor(sigma_mm);
    const auto darts = static_cast<std::size_t>(darts_left);
    const auto score = static_cast<std::size_t>(remaining);
    CheckoutAdvice advice;
    advice.probability = table->advice.chance[darts][score];
    if (advice.probability > 0.0) {
        advice.route = notations(table->advice.plan[darts][score]);
    }
    return advice;
}

const std::array<SkillLevel, 3>& skillLevels() {
    static const std::array<SkillLevel, 3> levels = {{
        {"beginner", "Nybörjare", 35.0},
        {"club", "Klubbspelare", 19.0},
        {"strong", "Stark spelare", 8.5},
    }};
    return levels;
}

const SkillLevel* findSkillLevel(std::string_view id) {
    for (const SkillLevel& level : skillLevels()) {
        if (id == level.id) {
            return &level;
        }
    }
    return nullptr;
}

std::vector<std::string> checkoutHint(int remaining, int darts_left) {
    if (!inRange(remaining, darts_left)) {
        return {};
    }
    const std::shared_ptr<const Table> table = tableFor(findSkillLevel("club")->sigma_mm);
    const Plan& plan =
        table->hint.plan[static_cast<std::size_t>(darts_left)][static_cast<std::size_t>(remaining)];
    return plan.complete ? notations(plan) : std::vector<std::string>{};
}

}  // namespace game501
