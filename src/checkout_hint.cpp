#include "checkout_hint.h"

#include <array>
#include <cstddef>
#include <optional>

namespace {

// Set-up beds by width: a single is wider than a treble, a treble than a double.
enum class Bed { kSingle = 0, kTreble = 1, kDouble = 2 };

struct Target {
    std::string notation;
    int value = 0;
    Bed bed = Bed::kSingle;
    int finish_rank = 0;  // lower is preferred; only for doubles and BULL
};

// Double segments in order of preference as the last dart (see the header).
constexpr std::array<int, 20> kFinishOrder = {16, 8,  20, 12, 4,  18, 14, 10, 6, 2,
                                              19, 17, 15, 13, 11, 9,  7,  5,  3, 1};
constexpr int kBullFinishRank = static_cast<int>(kFinishOrder.size());
constexpr int kMaxDarts = 3;

int finishRank(int segment) {
    for (std::size_t rank = 0; rank < kFinishOrder.size(); ++rank) {
        if (kFinishOrder[rank] == segment) {
            return static_cast<int>(rank);
        }
    }
    return kBullFinishRank;
}

// Every dart that scores; a miss never shortens a route.
std::vector<Target> makeTargets() {
    std::vector<Target> targets;
    for (int segment = 1; segment <= 20; ++segment) {
        const std::string number = std::to_string(segment);
        targets.push_back(Target{"S" + number, segment, Bed::kSingle, 0});
        targets.push_back(Target{"T" + number, 3 * segment, Bed::kTreble, 0});
        targets.push_back(Target{"D" + number, 2 * segment, Bed::kDouble, finishRank(segment)});
    }
    targets.push_back(Target{"OUTER", 25, Bed::kSingle, 0});
    targets.push_back(Target{"BULL", 50, Bed::kDouble, kBullFinishRank});
    return targets;
}

const std::vector<Target>& targets() {
    static const std::vector<Target> all = makeTargets();
    return all;
}

// The preference rules of the header as one lexicographic key, lower first:
// double set-ups, finish rank, then per set-up dart its negated value and bed.
using Key = std::array<int, 2 + 2 * (kMaxDarts - 1)>;

struct Route {
    std::array<const Target*, kMaxDarts> darts{};
    int count = 0;
};

Key keyOf(const Route& route) {
    Key key{};
    const int setups = route.count - 1;
    for (int i = 0; i < setups; ++i) {
        const Target& dart = *route.darts[static_cast<std::size_t>(i)];
        if (dart.bed == Bed::kDouble) {
            ++key[0];
        }
        key[static_cast<std::size_t>(2 + 2 * i)] = -dart.value;
        key[static_cast<std::size_t>(3 + 2 * i)] = static_cast<int>(dart.bed);
    }
    key[1] = route.darts[static_cast<std::size_t>(setups)]->finish_rank;
    return key;
}

// Finds the preferred route of exactly `count` darts, if any.
std::optional<Route> bestRoute(int remaining, int count) {
    std::optional<Route> best;
    Key best_key{};
    Route route;
    route.count = count;
    const auto consider = [&]() {
        const Key key = keyOf(route);
        if (!best || key < best_key) {
            best = route;
            best_key = key;
        }
    };
    const auto finishWith = [&](int left, std::size_t slot) {
        for (const Target& finish : targets()) {
            if (finish.bed == Bed::kDouble && finish.value == left) {
                route.darts[slot] = &finish;
                consider();
            }
        }
    };
    if (count == 1) {
        finishWith(remaining, 0);
        return best;
    }
    for (const Target& first : targets()) {
        route.darts[0] = &first;
        const int after_first = remaining - first.value;
        if (count == 2) {
            finishWith(after_first, 1);
            continue;
        }
        for (const Target& second : targets()) {
            route.darts[1] = &second;
            finishWith(after_first - second.value, 2);
        }
    }
    return best;
}

}  // namespace

std::vector<std::string> checkoutHint(int remaining, int darts_left) {
    if (darts_left < 1 || darts_left > kMaxDarts) {
        return {};
    }
    for (int count = 1; count <= darts_left; ++count) {
        if (const std::optional<Route> route = bestRoute(remaining, count)) {
            std::vector<std::string> notations;
            for (int i = 0; i < route->count; ++i) {
                notations.push_back(route->darts[static_cast<std::size_t>(i)]->notation);
            }
            return notations;
        }
    }
    return {};
}
