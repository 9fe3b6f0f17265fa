// The group tables: figures counted from the decided matches, and the order
// the competition's tiebreakers give.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "competition.h"

namespace game501::competition {
namespace {

// Returns which of two rows a tiebreaker puts first: above 0 `a`, below 0 `b`,
// 0 when it leaves them level. Head to head is not a comparison of two rows
// alone and is handled by its caller.
int compare(Tiebreaker tiebreaker, const Row& a, const Row& b) {
    const auto sign = [](std::int64_t value) { return value > 0 ? 1 : value < 0 ? -1 : 0; };
    switch (tiebreaker) {
        case Tiebreaker::Points:
            return sign(a.points - b.points);
        case Tiebreaker::LegDifference:
            return sign(a.leg_difference - b.leg_difference);
        case Tiebreaker::LegsWon:
            return sign(a.legs_for - b.legs_for);
        case Tiebreaker::Average: {
            // points / darts compared exactly; no darts is an average of 0.
            const std::int64_t a_darts = std::max<std::int64_t>(a.counts.darts, 1);
            const std::int64_t b_darts = std::max<std::int64_t>(b.counts.darts, 1);
            const std::int64_t a_points = a.counts.darts > 0 ? a.counts.points : 0;
            const std::int64_t b_points = b.counts.darts > 0 ? b.counts.points : 0;
            return sign(a_points * b_darts - b_points * a_darts);
        }
        case Tiebreaker::HeadToHead:
            break;
    }
    return 0;
}

// Returns how many of `matches` player `a` won against player `b`.
int winsAgainst(int a, int b, const std::vector<const Match*>& matches) {
    int wins = 0;
    for (const Match* match : matches) {
        const int winner = match->result->winner;
        if (match->players[static_cast<std::size_t>(winner)] == a &&
            match->players[static_cast<std::size_t>(1 - winner)] == b) {
            ++wins;
        }
    }
    return wins;
}

// Rows that no tiebreaker has told apart yet: [begin, end) of the ranking.
struct Block {
    std::size_t begin;
    std::size_t end;
};

}  // namespace

std::vector<Row> rank(const std::vector<int>& players, const std::vector<const Match*>& matches,
                      const Points& points, const std::vector<Tiebreaker>& tiebreakers) {
    std::vector<Row> rows(players.size());
    // Each player's row, by player; -1 for a player outside the table.
    std::vector<std::ptrdiff_t> row_of;
    for (std::size_t i = 0; i < players.size(); ++i) {
        rows[i].player = players[i];
        const auto player = static_cast<std::size_t>(players[i]);
        row_of.resize(std::max(row_of.size(), player + 1), -1);
        row_of[player] = static_cast<std::ptrdiff_t>(i);
    }
    const auto position = [&](const std::optional<int>& player) -> std::ptrdiff_t {
        const auto index = static_cast<std::size_t>(player.value_or(-1));
        return player && *player >= 0 && index < row_of.size() ? row_of[index] : -1;
    };
    std::vector<const Match*> counted;
    for (const Match* match : matches) {
        if (!match->result) {
            continue;
        }
        const std::ptrdiff_t first = position(match->players[0]);
        const std::ptrdiff_t second = position(match->players[1]);
        if (first < 0 || second < 0) {
            continue;
        }
        counted.push_back(match);
        const Result& result = *match->result;
        const std::ptrdiff_t at[2] = {first, second};
        for (std::size_t side = 0; side < 2; ++side) {
            Row& row = rows[static_cast<std::size_t>(at[side])];
            const bool won = result.winner == static_cast<int>(side);
            ++row.played;
            row.won += won ? 1 : 0;
            row.lost += won ? 0 : 1;
            row.legs_for += result.legs[side];
            row.legs_against += result.legs[1 - side];
            if (result.counts.size() == 2) {
                row.counts += result.counts[side];
            }
        }
    }
    for (Row& row : rows) {
        row.leg_difference = row.legs_for - row.legs_against;
        row.points = row.won * points.win + row.lost * points.loss + row.legs_for * points.leg;
        row.average = statistics::threeDartAverage(row.counts);
    }

    // Each tiebreaker splits the blocks still level; the rows keep the order
    // of the draw within a block, which is the draw's own rule.
    std::vector<Block> level = {{0, rows.size()}};
    for (const Tiebreaker tiebreaker : tiebreakers) {
        std::vector<Block> still;
        for (const Block block : level) {
            const auto begin = rows.begin() + static_cast<std::ptrdiff_t>(block.begin);
            const auto end = rows.begin() + static_cast<std::ptrdiff_t>(block.end);
            if (tiebreaker == Tiebreaker::HeadToHead) {
                if (block.end - block.begin != 2) {
                    still.push_back(block);
                    continue;
                }
                const int forward = winsAgainst(begin->player, (begin + 1)->player, counted);
                const int back = winsAgainst((begin + 1)->player, begin->player, counted);
                if (forward == back) {
                    still.push_back(block);
                } else if (back > forward) {
                    std::iter_swap(begin, begin + 1);
                }
                continue;
            }
            std::stable_sort(begin, end, [tiebreaker](const Row& a, const Row& b) {
                return compare(tiebreaker, a, b) > 0;
            });
            std::size_t start = block.begin;
            for (std::size_t i = block.begin + 1; i <= block.end; ++i) {
                if (i == block.end || compare(tiebreaker, rows[start], rows[i]) != 0) {
                    if (i - start > 1) {
                        still.push_back({start, i});
                    }
                    start = i;
                }
            }
        }
        level = std::move(still);
    }
    for (const Block block : level) {
        if (block.end - block.begin > 1) {
            for (std::size_t i = block.begin; i < block.end; ++i) {
                rows[i].by_draw = true;
            }
        }
    }
    return rows;
}

}  // namespace game501::competition
