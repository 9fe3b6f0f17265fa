#include "win_chance.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "beds.h"
#include "computer_player.h"
#include "rules.h"
#include "sigma_cache.h"

namespace game501 {

namespace {

constexpr int kMostPoints = 60;  // the most that one dart scores
constexpr std::size_t kCachedSigmas = 16;
// The first stretch of visits followed; longer chains grow by estimate.
constexpr int kFirstVisits = 64;

// The computer's policy, this file's one use of computer_player.h, so that a
// change of that API is one edit here.
int policyAim(int remaining, int darts_left, double sigma_mm) {
    return chooseAim(remaining, darts_left, sigma_mm).value();
}

bool validSigma(double sigma_mm) { return sigma_mm > 0.0 && std::isfinite(sigma_mm); }

// What each bed scores, and what a dart in it does from each score, by the
// rules, worked out once: the chains ask it for every bed from every score.
struct BedValues {
    std::array<int, beds::kBedCount> points{};
    std::vector<std::array<DartEffect, beds::kBedCount>> effects;  // by score
};

const BedValues& bedValues() {
    static const BedValues values = [] {
        BedValues made;
        made.effects.resize(VisitChain::kMaxScore + 1);
        for (int bed = 0; bed < beds::kBedCount; ++bed) {
            const auto index = static_cast<std::size_t>(bed);
            made.points[index] = beds::bedValue(bed);
            for (int score = 0; score <= VisitChain::kMaxScore; ++score) {
                made.effects[static_cast<std::size_t>(score)][index] =
                    dartEffect(score, made.points[index], beds::isDoubleBed(bed));
            }
        }
        return made;
    }();
    return values;
}

// One way a visit from a score ends, other than a finish or where it began.
struct Step {
    int to = 0;
    double chance = 0.0;
};

// One visit from each score: its steps, from begin[score] to
// begin[score + 1], and the chance that it ends where it began.
struct Visits {
    std::vector<std::size_t> begin;
    std::vector<Step> steps;
    std::vector<double> stay;
};

// The chain while it is built: the chance of needing more than k visits from
// each score, for k from 0 to `longest`.
struct Rows {
    int longest = 0;
    std::vector<double> more;  // a row of longest + 1 per score

    std::size_t stride() const { return static_cast<std::size_t>(longest) + 1; }
    double* row(std::size_t score) { return more.data() + score * stride(); }
    const double* row(std::size_t score) const { return more.data() + score * stride(); }

    double worstAt(int visits) const {
        double worst = 0.0;
        for (std::size_t score = 0; score < more.size() / stride(); ++score) {
            worst = std::max(worst, row(score)[visits]);
        }
        return worst;
    }
};

// Returns the rows' first `longest` + 1 visits, the rest 0.
Rows resized(const Rows& rows, int longest) {
    Rows made{longest, {}};
    const std::size_t scores = rows.more.size() / rows.stride();
    made.more.assign(scores * made.stride(), 0.0);
    for (std::size_t score = 0; score < scores; ++score) {
        std::copy_n(rows.row(score), std::min(rows.stride(), made.stride()), made.row(score));
    }
    return made;
}

// Returns the rows followed to `longest` visits. A row depends only on lower
// scores' rows one visit shorter and on its own, so rows are filled in
// ascending order of score; a block of visits at a time, so that the rows'
// block stays in the cache while every score reads it.
Rows extended(const Rows& rows, const Visits& visits, int longest) {
    constexpr std::size_t kBlock = 32;
    Rows made = resized(rows, longest);
    const std::size_t end = made.stride();
    std::vector<double> moved(end, 0.0);
    for (std::size_t first = rows.stride(); first < end; first += kBlock) {
        const std::size_t last = std::min(end, first + kBlock);
        for (std::size_t score = 2; score < visits.stay.size(); ++score) {
            std::fill(moved.begin() + static_cast<std::ptrdiff_t>(first),
                      moved.begin() + static_cast<std::ptrdiff_t>(last), 0.0);
            for (std::size_t i = visits.begin[score]; i < visits.begin[score + 1]; ++i) {
                const Step& step = visits.steps[i];
                const double* const other = made.row(static_cast<std::size_t>(step.to));
                for (std::size_t k = first; k < last; ++k) {
                    moved[k] += step.chance * other[k - 1];
                }
            }
            double* const row = made.row(score);
            for (std::size_t k = first; k < last; ++k) {
                row[k] = visits.stay[score] * row[k - 1] + moved[k];
            }
        }
    }
    return made;
}

// The visits to follow next when `rows` leave `worst` over VisitChain::kTail:
// the tail falls geometrically, at the rate it fell over the last half.
int nextLongest(const Rows& rows, double worst) {
    const int longest = rows.longest;
    const int half = longest / 2;
    const double rate = std::pow(worst / rows.worstAt(half), 1.0 / (longest - half));
    int more = longest;
    if (rate > 0.0 && rate < 1.0) {
        more = static_cast<int>(
                   std::ceil(1.1 * std::log(VisitChain::kTail / worst) / std::log(rate))) +
               8;
    }
    return std::min(VisitChain::kMostVisits, longest + std::clamp(more, 16, longest));
}

}  // namespace

// The chains' insides, for the chances below.
struct WinChanceAccess {
    static bool empty(const VisitChain& chain) { return chain.more_.empty(); }

    // The chance that the player to throw, standing at `place`, wins against
    // one on `other_score` (2 or more) who throws after.
    static double throwerChance(const VisitChain& thrower, const LegPlace& place,
                                const VisitChain& other, int other_score) {
        const int cut = std::min(thrower.longest_, other.longest_);
        const double* const o = other.row(other_score);
        if (place.darts_left == VisitChain::kDarts) {
            // The thrower wins when needing no more visits than the other.
            const double* const t = thrower.row(place.score);
            double sum = 0.5 * t[cut] * o[cut];
            for (int n = 1; n <= cut; ++n) {
                sum += (t[n - 1] - t[n]) * o[n - 1];
            }
            return sum;
        }
        std::array<double, VisitChain::kScores> ends{};
        thrower.visitEnds(place.score, place.score - place.points, place.darts_left, 1.0, ends);
        double sum = 0.0;
        for (int end = 0; end <= place.score; ++end) {
            const double chance = ends[static_cast<std::size_t>(end)];
            if (chance > 0.0) {
                // After this visit, the thrower wins when needing fewer
                // visits than the other.
                const double* const t = thrower.row(end);
                double beats = (1.0 - t[0]) * o[0] + 0.5 * t[cut] * o[cut];
                for (int n = 1; n <= cut; ++n) {
                    beats += (t[n - 1] - t[n]) * o[n];
                }
                sum += chance * beats;
            }
        }
        return sum;
    }
};

std::optional<VisitChain> VisitChain::compute(double sigma_mm) {
    if (!validSigma(sigma_mm)) {
        return std::nullopt;
    }
    VisitChain chain;
    chain.sigma_mm_ = sigma_mm;
    chain.chances_ = dartboard::bedChances(sigma_mm);
    for (int darts = 1; darts <= kDarts; ++darts) {
        for (int score = 2; score <= kMaxScore; ++score) {
            chain.aims_[static_cast<std::size_t>(darts)][static_cast<std::size_t>(score)] =
                static_cast<std::int8_t>(policyAim(score, darts, sigma_mm));
        }
    }

    // Where one visit from each score ends.
    Visits visits;
    visits.begin.assign(kScores + 1, 0);
    visits.stay.assign(kScores, 0.0);
    for (std::size_t score = 2; score < kScores; ++score) {
        std::array<double, kScores> ends{};
        chain.visitEnds(static_cast<int>(score), static_cast<int>(score), kDarts, 1.0, ends);
        visits.stay[score] = ends[score];
        for (std::size_t end = 2; end < score; ++end) {
            if (ends[end] > 0.0) {
                visits.steps.push_back({static_cast<int>(end), ends[end]});
            }
        }
        visits.begin[score + 1] = visits.steps.size();
    }

    Rows rows{0, std::vector<double>(kScores, 1.0)};
    rows.more[0] = 0.0;
    rows.more[1] = 0.0;  // never reached
    for (int next = kFirstVisits;;) {
        rows = extended(rows, visits, next);
        const double worst = rows.worstAt(rows.longest);
        if (worst <= kTail || rows.longest >= kMostVisits) {
            break;
        }
        next = nextLongest(rows, worst);
    }
    // Keep no more visits than kTail asks for.
    int longest = rows.longest;
    while (longest > 0 && rows.worstAt(longest - 1) <= kTail) {
        --longest;
    }
    if (longest < rows.longest) {
        rows = resized(rows, longest);
    }
    chain.longest_ = rows.longest;
    chain.more_ = std::move(rows.more);
    return chain;
}

double VisitChain::moreThan(int score, int visits) const {
    if (more_.empty() || score < 0 || score == 1 || score > kMaxScore) {
        return 0.0;
    }
    if (visits < 0) {
        return 1.0;
    }
    return row(score)[std::min(visits, longest_)];
}

double VisitChain::exactly(int score, int visits) const {
    if (more_.empty() || score < 0 || score == 1 || score > kMaxScore || visits < 0 ||
        visits > longest_) {
        return 0.0;
    }
    const double* const more = row(score);
    return (visits == 0 ? 1.0 : more[visits - 1]) - more[visits];
}

double VisitChain::expectedVisits(int score) const {
    double sum = 0.0;
    for (int visits = 0; visits <= longest_; ++visits) {
        sum += moreThan(score, visits);
    }
    return sum;
}

void VisitChain::visitEnds(int start, int remaining, int darts_left, double weight,
                           std::array<double, kScores>& ends) const {
    const BedValues& values = bedValues();
    // The chance of each score before the next dart, and the scores held.
    std::array<double, kScores> now{};
    std::array<double, kScores> after{};
    std::vector<int> held{remaining};
    std::vector<int> next_held;
    now[static_cast<std::size_t>(remaining)] = weight;
    for (int darts = darts_left; darts >= 1; --darts) {
        next_held.clear();
        for (const int score : held) {
            const double chance = std::exchange(now[static_cast<std::size_t>(score)], 0.0);
            if (chance == 0.0) {
                continue;
            }
            const int aim = aims_[static_cast<std::size_t>(darts)][static_cast<std::size_t>(score)];
            const auto& lands = chances_[static_cast<std::size_t>(aim)];
            for (std::size_t bed = 0; bed < lands.size(); ++bed) {
                const double p = chance * lands[bed];
                if (p == 0.0) {
                    continue;
                }
                const int rest = score - values.points[bed];
                const DartEffect effect = values.effects[static_cast<std::size_t>(score)][bed];
                if (effect == DartEffect::checks_out) {
                    ends[0] += p;
                } else if (effect == DartEffect::busts) {
                    ends[static_cast<std::size_t>(start)] += p;
                } else if (darts == 1) {
                    ends[static_cast<std::size_t>(rest)] += p;
                } else {
                    double& slot = after[static_cast<std::size_t>(rest)];
                    if (slot == 0.0) {
                        next_held.push_back(rest);
                    }
                    slot += p;
                }
            }
        }
        std::swap(now, after);
        std::swap(held, next_held);
    }
}

std::shared_ptr<const VisitChain> visitChain(double sigma_mm) {
    if (!validSigma(sigma_mm)) {
        return nullptr;
    }
    static SigmaCache<VisitChain> cache(kCachedSigmas, [](double sigma, VisitChain& chain) {
        chain = std::move(*VisitChain::compute(sigma));
    });
    return cache.get(sigma_mm);
}

namespace {

bool validPlace(const LegPlace& place, bool throwing) {
    const int darts = static_cast<int>(Game501::kDartsPerTurn);
    if (place.score == 0) {
        return place.points == 0 && place.darts_left == darts;
    }
    if (place.score < 2 || place.score > VisitChain::kMaxScore || place.darts_left < 1 ||
        place.darts_left > darts) {
        return false;
    }
    const int thrown = darts - place.darts_left;
    if (thrown > 0 && (!throwing || place.score - place.points < 2)) {
        return false;
    }
    return place.points >= 0 && place.points <= kMostPoints * thrown;
}

bool isChance(double chance) { return chance >= 0.0 && chance <= 1.0; }

// Player 0's chance to be first to `target` wins from `won`, when the next
// contest, which player `opener` opens, gives player 0 the chance `next`,
// and the opening passes to the other player every contest after it;
// by_opener[s] is player 0's chance in a contest that player s opens.
double race(int target, const std::array<int, 2>& won, int opener,
            const std::array<double, 2>& by_opener, double next) {
    if (won[0] >= target || won[1] >= target) {
        return won[0] >= target ? 1.0 : 0.0;
    }
    // chance[i][j]: from i wins to j; filled from the end.
    constexpr int kMost = std::max(Match501::kMaxLegs, Match501::kMaxSets) + 1;
    std::array<std::array<double, kMost>, kMost> chance{};
    const auto at = [&chance](int i, int j) -> double& {
        return chance[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    };
    for (int j = 0; j < target; ++j) {
        at(target, j) = 1.0;
    }
    for (int i = target - 1; i >= won[0]; --i) {
        for (int j = target - 1; j >= won[1]; --j) {
            const int played = i - won[0] + j - won[1];
            const double p =
                played == 0 ? next : by_opener[static_cast<std::size_t>((opener + played) % 2)];
            at(i, j) = p * at(i + 1, j) + (1.0 - p) * at(i, j + 1);
        }
    }
    return at(won[0], won[1]);
}

}  // namespace

std::optional<std::array<double, 2>> legWinChances(const VisitChain& first,
                                                   const VisitChain& second,
                                                   const LegStanding& leg) {
    const int thrower = leg.to_throw;
    if ((thrower != 0 && thrower != 1) || WinChanceAccess::empty(first) ||
        WinChanceAccess::empty(second)) {
        return std::nullopt;
    }
    const LegPlace& mine = leg.players[static_cast<std::size_t>(thrower)];
    const LegPlace& theirs = leg.players[static_cast<std::size_t>(1 - thrower)];
    if (!validPlace(mine, true) || !validPlace(theirs, false) ||
        (mine.score == 0 && theirs.score == 0)) {
        return std::nullopt;
    }
    double chance = 0.0;  // the thrower's
    if (mine.score == 0 || theirs.score == 0) {
        chance = mine.score == 0 ? 1.0 : 0.0;
    } else {
        const VisitChain& mine_chain = thrower == 0 ? first : second;
        const VisitChain& their_chain = thrower == 0 ? second : first;
        chance = WinChanceAccess::throwerChance(mine_chain, mine, their_chain, theirs.score);
    }
    return thrower == 0 ? std::array<double, 2>{chance, 1.0 - chance}
                        : std::array<double, 2>{1.0 - chance, chance};
}

std::optional<double> matchWinChance(Match501::Format format, const MatchStanding& standing,
                                     const std::array<double, 2>& fresh, double leg) {
    const int legs = format.legs;
    const int sets = format.sets;
    if (legs < Match501::kMinLegs || legs > Match501::kMaxLegs || sets < Match501::kMinSets ||
        sets > Match501::kMaxSets || (standing.starter != 0 && standing.starter != 1) ||
        !isChance(fresh[0]) || !isChance(fresh[1]) || !isChance(leg)) {
        return std::nullopt;
    }
    for (std::size_t player = 0; player < 2; ++player) {
        if (standing.sets[player] < 0 || standing.sets[player] > sets ||
            standing.legs[player] < 0 || standing.legs[player] > legs) {
            return std::nullopt;
        }
    }
    if (standing.sets[0] == sets || standing.sets[1] == sets) {
        if (standing.sets[0] == standing.sets[1]) {
            return std::nullopt;
        }
        return standing.sets[0] == sets ? 1.0 : 0.0;
    }
    if (standing.legs[0] == legs || standing.legs[1] == legs) {
        return std::nullopt;
    }
    // Player 0's chance to win the set being played, and a set from the
    // start by who opens it.
    const double this_set = race(legs, standing.legs, standing.starter, fresh, leg);
    std::array<double, 2> set_by_opener{};
    for (int opener = 0; opener < 2; ++opener) {
        set_by_opener[static_cast<std::size_t>(opener)] =
            race(legs, {0, 0}, opener, fresh, fresh[static_cast<std::size_t>(opener)]);
    }
    const int set_opener = (standing.starter + standing.legs[0] + standing.legs[1]) % 2;
    return race(sets, standing.sets, set_opener, set_by_opener, this_set);
}

std::optional<WinChances> winChances(const VisitChain& first, const VisitChain& second,
                                     Match501::Format format, const MatchStanding& standing,
                                     const LegStanding& leg) {
    const std::optional<std::array<double, 2>> leg_chances = legWinChances(first, second, leg);
    if (!leg_chances) {
        return std::nullopt;
    }
    std::array<double, 2> fresh{};
    for (int opener = 0; opener < 2; ++opener) {
        fresh[static_cast<std::size_t>(opener)] =
            (*legWinChances(first, second, LegStanding{{}, opener}))[0];
    }
    std::optional<double> match;
    const int winner = leg.players[0].score == 0 ? 0 : leg.players[1].score == 0 ? 1 : -1;
    if (winner < 0) {
        match = matchWinChance(format, standing, fresh, (*leg_chances)[0]);
    } else {
        const int won = standing.legs[static_cast<std::size_t>(winner)];
        const int lost = standing.legs[static_cast<std::size_t>(1 - winner)];
        if (won <= 0 || won > format.legs || lost < 0 || lost >= format.legs ||
            (standing.starter != 0 && standing.starter != 1)) {
            return std::nullopt;
        }
        // The next leg, the throw passed on.
        MatchStanding next = standing;
        next.starter = 1 - standing.starter;
        if (won == format.legs) {
            // The first leg of the next set, opened by the other player than
            // the first leg of the set just won: the won leg was its
            // (won + lost)th.
            next.legs = {0, 0};
            next.starter = (standing.starter + won + lost) % 2;
        }
        match = matchWinChance(format, next, fresh, fresh[static_cast<std::size_t>(next.starter)]);
    }
    if (!match) {
        return std::nullopt;
    }
    return WinChances{*leg_chances, {*match, 1.0 - *match}};
}

}  // namespace game501
