#include "computer_player.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <memory>
#include <mutex>
#include <random>
#include <utility>

#include "beds.h"
#include "checkout_hint.h"
#include "dartboard.h"
#include "rules.h"
#include "sigma_cache.h"

namespace game501 {

namespace {

using beds::bedValue;
using beds::isDoubleBed;
using beds::kBedCount;
using dartboard::kAimCount;

constexpr int kMostPoints = 60;  // the most that one dart scores
// Above this score with `darts` left, no visit can leave a finish.
constexpr int lastPlanned(int darts) { return kHighestFinish + kMostPoints * darts; }
constexpr std::size_t kPlannedScores = lastPlanned(kDartsPerTurn) + 1;

// A certain finish next visit is worth this many visits of the player's best
// scoring. Simulated legs at sigmas from 5.5 to 26 mm take the fewest darts
// for 4 to 12, about 1 % fewer than with no worth at all.
constexpr double kFinishWorthVisits = 6.0;
constexpr std::size_t kCachedSigmas = 16;
// Values that differ by less than rounding are equal.
constexpr double kSameValue = 1e-12;

// The aims of one sigma by score and darts left.
struct AimTable {
    std::array<std::array<std::int8_t, kPlannedScores>, kDartsPerTurn + 1> planned{};
    int far_aim = 0;  // the best expected score, for scores above lastPlanned
};

int aimFrom(const AimTable& table, int remaining, int darts_left) {
    if (remaining > lastPlanned(darts_left)) {
        return table.far_aim;
    }
    return table.planned[static_cast<std::size_t>(darts_left)][static_cast<std::size_t>(remaining)];
}

int adviceAim(int remaining, int darts_left, double sigma_mm) {
    const CheckoutAdvice advice = checkoutAdvice(remaining, darts_left, sigma_mm);
    return advice.route.empty() ? -1 : beds::parseBed(advice.route.front()).value();
}

AimTable buildTable(double sigma_mm) {
    const dartboard::BedChances chances = dartboard::bedChances(sigma_mm);
    const auto dot = [&chances](int aim, const std::array<double, kBedCount>& worth) {
        const auto& row = chances[static_cast<std::size_t>(aim)];
        double sum = 0.0;
        for (std::size_t bed = 0; bed < worth.size(); ++bed) {
            sum += row[bed] * worth[bed];
        }
        return sum;
    };
    const auto bestOf = [&](const std::array<double, kBedCount>& worth) {
        std::pair<int, double> best{0, dot(0, worth)};
        for (int aim = 1; aim < kAimCount; ++aim) {
            const double value = dot(aim, worth);
            if (value > best.second + kSameValue) {
                best = {aim, value};
            }
        }
        return best;
    };

    AimTable table;
    std::array<double, kBedCount> points{};
    for (std::size_t bed = 0; bed < points.size(); ++bed) {
        points[bed] = bedValue(static_cast<int>(bed));
    }
    // A pair, not a structured binding: C++17 lambdas cannot capture those.
    const std::pair<int, double> far = bestOf(points);
    table.far_aim = far.first;
    const double best_points = far.second;
    const double finish_worth = kFinishWorthVisits * kDartsPerTurn * best_points;

    std::array<double, kHighestFinish + 1> next_visit{};
    for (int score = 2; score <= kHighestFinish; ++score) {
        next_visit[static_cast<std::size_t>(score)] =
            checkoutAdvice(score, kDartsPerTurn, sigma_mm).probability;
    }
    // The worth of ending the visit on `score`, in points: nearer is better by
    // a point a point, and a finish next visit adds its chance's worth.
    const auto leave = [&](int score) {
        if (score == 0) {
            return finish_worth;
        }
        const double finish =
            score <= kHighestFinish ? next_visit[static_cast<std::size_t>(score)] : 0.0;
        return -score + finish_worth * finish;
    };

    // value[darts][score]: the expected worth of the visit's end from here.
    std::array<std::array<double, kPlannedScores>, kDartsPerTurn + 1> value{};
    for (int darts = 1; darts <= kDartsPerTurn; ++darts) {
        const auto after = [&](int rest) {
            if (darts == 1) {
                return leave(rest);
            }
            if (rest > lastPlanned(darts - 1)) {
                return -rest + (darts - 1) * best_points;
            }
            return value[static_cast<std::size_t>(darts - 1)][static_cast<std::size_t>(rest)];
        };
        for (int score = 2; score <= lastPlanned(darts); ++score) {
            std::array<double, kBedCount> worth{};
            for (std::size_t bed = 0; bed < worth.size(); ++bed) {
                const int scored = bedValue(static_cast<int>(bed));
                switch (dartEffect(score, scored, isDoubleBed(static_cast<int>(bed)))) {
                    case DartEffect::checks_out:
                        worth[bed] = finish_worth;
                        break;
                    case DartEffect::busts:
                        worth[bed] = leave(score);
                        break;
                    case DartEffect::scores:
                        worth[bed] = after(score - scored);
                        break;
                }
            }
            std::pair<int, double> chosen;
            const int advised = score <= kHighestFinish ? adviceAim(score, darts, sigma_mm) : -1;
            if (advised >= 0) {
                chosen = {advised, dot(advised, worth)};
            } else {
                chosen = bestOf(worth);
            }
            const auto d = static_cast<std::size_t>(darts);
            const auto s = static_cast<std::size_t>(score);
            table.planned[d][s] = static_cast<std::int8_t>(chosen.first);
            value[d][s] = chosen.second;
        }
    }
    return table;
}

// Tables by sigma; the calibrated targets' sigmas are pinned as they are
// found (at most 81).
SigmaCache<AimTable>& aimCache() {
    static SigmaCache<AimTable> cache(
        kCachedSigmas, [](double sigma, AimTable& table) { table = buildTable(sigma); });
    return cache;
}

bool validSigma(double sigma_mm) { return sigma_mm > 0.0 && std::isfinite(sigma_mm); }

// The splitmix64 finaliser: a change of any input bit changes about half the
// output bits, so that nearby seeds and situations draw unrelated darts.
std::uint64_t mixed(std::uint64_t value) {
    value += 0x9e3779b97f4a7c15ULL;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

std::uint64_t mixedWith(std::uint64_t key, int value) {
    return mixed(key ^ static_cast<std::uint64_t>(static_cast<std::uint32_t>(value)));
}

// Draws a dart's random numbers. A linear congruential engine (Knuth's
// 64-bit constants) is fully specified by the standard and cheap to seed, so
// every dart can seed its own from its situation.
using DartEngine = std::linear_congruential_engine<std::uint64_t, 6364136223846793005ULL,
                                                   1442695040888963407ULL, 0ULL>;

// Where the dart of `seed` at (leg, visit, darts_left) lands when aimed at
// `aim`. The uniform numbers and the Gaussian are our own arithmetic
// (Box-Muller): the standard's distributions differ from one library to the
// next.
int landing(int aim, double sigma_mm, std::uint64_t seed, int leg, int visit, int darts_left) {
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kUnit = 1.0 / 9007199254740992.0;  // 2^-53
    std::uint64_t key = mixed(seed);
    key = mixedWith(key, leg);
    key = mixedWith(key, visit);
    key = mixedWith(key, darts_left);
    DartEngine engine(key);
    const std::uint64_t first = engine();
    const std::uint64_t second = engine();
    // (0, 1], so that the logarithm is finite, and [0, 1).
    const double radial = static_cast<double>((first >> 11) + 1) * kUnit;
    const double turn = static_cast<double>(second >> 11) * kUnit;
    const double length = sigma_mm * std::sqrt(-2.0 * std::log(radial));
    const double angle = 2.0 * kPi * turn;
    const dartboard::Point target = dartboard::aimPoint(aim);
    return dartboard::bedAt(
        {target.x + length * std::cos(angle), target.y + length * std::sin(angle)});
}

// Darts of simulated legs.
struct LegTotals {
    long points = 0;
    long darts = 0;  // as dartsCharged counts them
};

// Past this many visits a leg is given up; no sigma the search tries needs
// as many.
constexpr int kMostVisits = 500;

// Plays `legs` legs of 501 alone with the darts a thrower of `seed` throws.
LegTotals playLegs(const AimTable& table, double sigma_mm, int legs, std::uint64_t seed) {
    LegTotals totals;
    for (int leg = 0; leg < legs; ++leg) {
        int score = kStartScore;
        for (int visit = 0; visit < kMostVisits && score > 0; ++visit) {
            const int start = score;
            TurnOutcome outcome = TurnOutcome::scored;
            int thrown = 0;
            for (int darts_left = kDartsPerTurn; darts_left >= 1 && outcome == TurnOutcome::scored;
                 --darts_left) {
                const int aim = aimFrom(table, score, darts_left);
                const int bed = landing(aim, sigma_mm, seed, leg, visit, darts_left);
                ++thrown;
                switch (dartEffect(score, bedValue(bed), isDoubleBed(bed))) {
                    case DartEffect::busts:
                        outcome = TurnOutcome::bust;
                        score = start;
                        break;
                    case DartEffect::checks_out:
                        outcome = TurnOutcome::checkout;
                        score = 0;
                        break;
                    case DartEffect::scores:
                        score -= bedValue(bed);
                        break;
                }
            }
            totals.darts += dartsCharged(outcome, thrown);
            totals.points += start - score;
        }
    }
    return totals;
}

// 8,000 legs give an average within about 0.2 of what endless legs give.
constexpr int kCalibrationLegs = 8000;
constexpr std::uint64_t kCalibrationSeed = 501;
constexpr double kCalibrationTolerance = 0.1;
constexpr int kCalibrationSteps = 30;
// Sigmas whose legs average more than the highest target and less than the
// lowest.
constexpr double kSharpestSigma = 4.0;
constexpr double kWildestSigma = 32.0;

double simulatedAverage(double sigma_mm) {
    const AimTable table = buildTable(sigma_mm);
    const LegTotals totals = playLegs(table, sigma_mm, kCalibrationLegs, kCalibrationSeed);
    return static_cast<double>(kDartsPerTurn) * static_cast<double>(totals.points) /
           static_cast<double>(std::max(totals.darts, 1L));
}

// The average falls as sigma grows, nearly in a straight line against log
// sigma, so the search keeps a bracket in log sigma and tries where a straight
// line through its ends meets the target (false position; an end kept twice
// in a row has its gap halved so that the bracket keeps shrinking on both
// sides). The same legs are played at every sigma, so the averages of nearby
// sigmas differ by their sigma, not by luck.
double calibrate(int target) {
    static const double sharpest = simulatedAverage(kSharpestSigma);
    static const double wildest = simulatedAverage(kWildestSigma);
    double low = std::log(kSharpestSigma);
    double high = std::log(kWildestSigma);
    double low_gap = sharpest - target;  // above the target
    double high_gap = wildest - target;  // below it
    double best = low_gap < -high_gap ? low : high;
    double best_gap = std::min(std::abs(low_gap), std::abs(high_gap));
    int replaced = 0;  // the end replaced last time: -1 low, 1 high
    for (int step = 0; step < kCalibrationSteps && best_gap > kCalibrationTolerance; ++step) {
        double middle = (low * -high_gap + high * low_gap) / (low_gap - high_gap);
        if (!(middle > low && middle < high)) {
            middle = 0.5 * (low + high);
        }
        const double gap = simulatedAverage(std::exp(middle)) - target;
        if (std::abs(gap) < best_gap) {
            best = middle;
            best_gap = std::abs(gap);
        }
        if (gap > 0.0) {
            low = middle;
            low_gap = gap;
            if (replaced == -1) {
                high_gap *= 0.5;
            }
            replaced = -1;
        } else {
            high = middle;
            high_gap = gap;
            if (replaced == 1) {
                low_gap *= 0.5;
            }
            replaced = 1;
        }
    }
    return std::exp(best);
}

double calibratedSigma(int target) {
    struct Calibration {
        std::once_flag done;
        double sigma_mm = 0.0;
    };
    static std::array<Calibration, kMaxComputerAverage - kMinComputerAverage + 1> calibrations;
    Calibration& calibration = calibrations[static_cast<std::size_t>(target - kMinComputerAverage)];
    std::call_once(calibration.done, [&calibration, target]() {
        calibration.sigma_mm = calibrate(target);
        aimCache().pin(calibration.sigma_mm);
    });
    return calibration.sigma_mm;
}

ComputerLevel skillComputerLevel(const SkillLevel& skill) {
    return ComputerLevel{skill.id, skill.name, 0, skill.sigma_mm};
}

const ComputerThrower* computerOf(int player,
                                  const std::vector<std::optional<ComputerThrower>>& computers) {
    const auto index = static_cast<std::size_t>(player);
    return index < computers.size() && computers[index] ? &*computers[index] : nullptr;
}

// The board clear after a turn of the match's `player`, if a computer threw it.
ComputerMove clearBy(int player, const std::vector<std::optional<ComputerThrower>>& computers) {
    return computerOf(player, computers) == nullptr ? ComputerMove{}
                                                    : ComputerMove{ComputerMove::Kind::clear, {}};
}

// The dart of the match's `player` in `situation`, if a computer is to throw it.
ComputerMove dartBy(int player, const DartSituation& situation,
                    const std::vector<std::optional<ComputerThrower>>& computers) {
    const ComputerThrower* const computer = computerOf(player, computers);
    const std::optional<ComputerDart> dart =
        computer == nullptr ? std::nullopt : computer->throwDart(situation);
    if (!dart) {
        return {};
    }
    return ComputerMove{ComputerMove::Kind::dart, dartValue(dart->bed)};
}

}  // namespace

std::string targetAverageName(int target_average) {
    return "Snitt " + std::to_string(target_average);
}

std::optional<ComputerLevel> computerLevelForAverage(int target_average) {
    if (target_average < kMinComputerAverage || target_average > kMaxComputerAverage) {
        return std::nullopt;
    }
    return ComputerLevel{std::to_string(target_average), targetAverageName(target_average),
                         target_average, calibratedSigma(target_average)};
}

std::optional<ComputerLevel> parseComputerLevel(std::string_view text) {
    if (const SkillLevel* const skill = findSkillLevel(text)) {
        return skillComputerLevel(*skill);
    }
    int target = 0;
    const char* const end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, target);
    if (read.ec != std::errc() || read.ptr != end) {
        return std::nullopt;
    }
    return computerLevelForAverage(target);
}

std::optional<ComputerLevel> computerLevelFromJson(const nlohmann::json& value) {
    if (value.is_string()) {
        const SkillLevel* const skill = findSkillLevel(value.get_ref<const std::string&>());
        return skill == nullptr ? std::nullopt : std::optional(skillComputerLevel(*skill));
    }
    if (!value.is_number()) {
        return std::nullopt;
    }
    const double number = value.get<double>();
    if (!(number >= kMinComputerAverage && number <= kMaxComputerAverage) ||
        std::floor(number) != number) {
        return std::nullopt;
    }
    return computerLevelForAverage(static_cast<int>(number));
}

nlohmann::json computerLevelJson(const ComputerLevel& level) {
    if (level.target_average != 0) {
        return level.target_average;
    }
    return level.id;
}

std::optional<int> chooseAim(int remaining, int darts_left, double sigma_mm) {
    if (remaining < 2 || darts_left < 1 || darts_left > kDartsPerTurn || !validSigma(sigma_mm)) {
        return std::nullopt;
    }
    return aimFrom(*aimCache().get(sigma_mm), remaining, darts_left);
}

ComputerThrower::ComputerThrower(double sigma_mm, std::uint64_t seed)
    : sigma_mm_(sigma_mm), seed_(seed) {}

ComputerThrower::ComputerThrower(const ComputerLevel& level, std::uint64_t seed)
    : ComputerThrower(level.sigma_mm, seed) {}

std::optional<ComputerDart> ComputerThrower::throwDart(const DartSituation& situation) const {
    const std::optional<int> aim = chooseAim(situation.remaining, situation.darts_left, sigma_mm_);
    if (!aim) {
        return std::nullopt;
    }
    const int bed =
        landing(*aim, sigma_mm_, seed_, situation.leg, situation.visit, situation.darts_left);
    return ComputerDart{beds::bedNotation(*aim), beds::bedNotation(bed), bed};
}

std::vector<std::optional<ComputerThrower>> seatComputers(
    const std::vector<std::optional<ComputerLevel>>& levels, std::uint64_t seed) {
    std::vector<std::optional<ComputerThrower>> computers;
    computers.reserve(levels.size());
    for (std::size_t player = 0; player < levels.size(); ++player) {
        if (levels[player]) {
            computers.emplace_back(std::in_place, *levels[player], seed + player);
        } else {
            computers.emplace_back();
        }
    }
    return computers;
}

std::uint64_t randomSeed() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32U) ^ device();
}

ComputerMove nextComputerMove(const Match& match,
                              const std::vector<std::optional<ComputerThrower>>& computers) {
    if (match.standing().status != GameStatus::playing) {
        return {};
    }
    const Leg& leg = match.leg();
    // After its own turn, or its winning dart of a leg, a computer says the
    // board is clear.
    const bool leg_won = leg.status() == GameStatus::finished;
    if (leg_won || leg.awaitingClear()) {
        const int thrower = leg_won ? leg.winner() : leg.history().back().player;
        return clearBy(match.player(thrower), computers);
    }
    const Leg::Turn& turn = leg.turn();
    const DartSituation situation{leg.players()[static_cast<std::size_t>(turn.player)].score,
                                  kDartsPerTurn - static_cast<int>(turn.darts.size()),
                                  static_cast<int>(match.legs().size()), turn.round};
    return dartBy(match.player(turn.player), situation, computers);
}

}  // namespace game501
