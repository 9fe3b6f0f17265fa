#include "match.h"

#include <algorithm>
#include <utility>

#include "ascii.h"

namespace game501 {

namespace {

bool inRange(int value, int low, int high) { return value >= low && value <= high; }

// Returns a leg that has a winner as the standing lists it.
Match::FinishedLeg wonLeg(const LegRecord& leg) {
    int darts = 0;
    for (const VisitRecord& visit : leg.visits) {
        if (visit.player == leg.winner) {
            darts += dartsCharged(visit.outcome, static_cast<int>(visit.darts.size()));
        }
    }
    return Match::FinishedLeg{leg.set, leg.leg, leg.starter, leg.winner, darts};
}

}  // namespace

Match::Match(Leg::Clock clock) : clock_(std::move(clock)), leg_(clock_) {}

Answer Match::start(const std::vector<std::string>& players, Format format) {
    if (!inRange(format.legs, kMinLegs, kMaxLegs)) {
        return refusal(rangeRefusal(kMinLegs, kMaxLegs, "legs"));
    }
    if (!inRange(format.sets, kMinSets, kMaxSets)) {
        return refusal(rangeRefusal(kMinSets, kMaxSets, "set"));
    }
    // The leg in progress takes the start: a refusal leaves it untouched,
    // and its answer shows the game as it stands.
    Answer answer = leg_.start(players);
    if (!answer.accepted) {
        return answer;
    }
    names_.clear();
    leg_names_.clear();
    for (std::size_t index = 0; index < players.size(); ++index) {
        names_.push_back(leg_.players()[index].name);
        // A blank name is named after its place in the first leg; later legs
        // throw in another order and must keep that name, while every other
        // name comes out of the leg the same wherever it stands.
        leg_names_.push_back(ascii::trimmed(players[index]).empty() ? names_.back()
                                                                    : players[index]);
    }
    format_ = format;
    finished_leg_.reset();
    legs_.assign(1, LegRecord{});
    finished_.reset();
    return answer;
}

Answer Match::addDart(const std::string& notation, const std::string& source) {
    Answer answer = leg_.addDart(notation, source);
    if (answer.accepted) {
        recordDart(answer.outcome);
    }
    return answer;
}

Answer Match::addDart(const DartValue& dart, const std::string& source) {
    Answer answer = leg_.addDart(dart, source);
    if (answer.accepted) {
        recordDart(answer.outcome);
    }
    return answer;
}

Answer Match::undo() {
    // A leg without a dart standing has nothing of its own to take back, so
    // the winning dart of the leg before it is the one to undo.
    if (finished_leg_ && !legs_.empty() && legs_.back().visits.empty()) {
        legs_.pop_back();
        leg_ = std::move(*finished_leg_);
        finished_leg_.reset();
    }
    Answer answer = leg_.undo();
    if (answer.accepted) {
        takeBackDart();
    }
    return answer;
}

Answer Match::markBoardClear() {
    if (!legs_.empty() && legs_.back().winner >= 0 && standing().winner < 0) {
        return startNextLeg();
    }
    return leg_.markBoardClear();
}

Answer Match::reset() {
    Answer answer = leg_.reset();
    format_ = Format{};
    names_.clear();
    leg_names_.clear();
    finished_leg_.reset();
    legs_.clear();
    finished_.reset();
    return answer;
}

int Match::player(int position) const {
    if (legs_.empty() || names_.empty()) {
        return position;
    }
    return (legs_.back().starter + position) % static_cast<int>(names_.size());
}

Match::Standing Match::standing() const {
    Standing standing;
    standing.legs.assign(names_.size(), 0);
    standing.sets.assign(names_.size(), 0);
    int set = 0;
    for (const LegRecord& leg : legs_) {
        if (leg.set != set) {
            set = leg.set;
            std::fill(standing.legs.begin(), standing.legs.end(), 0);
        }
        if (leg.winner < 0) {
            continue;
        }
        const auto winner = static_cast<std::size_t>(leg.winner);
        if (++standing.legs[winner] == format_.legs && ++standing.sets[winner] == format_.sets) {
            standing.winner = leg.winner;
        }
    }
    standing.status = legs_.empty()          ? GameStatus::idle
                      : standing.winner >= 0 ? GameStatus::finished
                                             : GameStatus::playing;
    return standing;
}

Match::Figures Match::figures() const {
    const int players = static_cast<int>(names_.size());
    Figures figures{std::vector<statistics::Counts>(names_.size()), finished().counts};
    if (!legs_.empty()) {
        for (int player = 0; player < players; ++player) {
            const auto index = static_cast<std::size_t>(player);
            figures.leg[index] = statistics::legCounts(legs_.back(), player);
            figures.match[index] += figures.leg[index];
        }
    }
    return figures;
}

Match::Overview Match::overview() const {
    Overview overview{format_, names_, standing(), finished().won, {}};
    if (!legs_.empty()) {
        const LegRecord& last = legs_.back();
        if (last.winner >= 0) {
            overview.finished_legs.push_back(wonLeg(last));
        }
        overview.set = last.set;
        overview.leg = last.leg;
        overview.starter = last.starter;
    }
    overview.throwing_order.reserve(names_.size());
    for (std::size_t position = 0; position < names_.size(); ++position) {
        overview.throwing_order.push_back(player(static_cast<int>(position)));
    }
    return overview;
}

const Match::Finished& Match::finished() const {
    // Worked out once, not at every dart.
    const std::size_t legs = legs_.empty() ? 0 : legs_.size() - 1;
    if (!finished_ || finished_->legs != legs) {
        Finished finished{legs, std::vector<statistics::Counts>(names_.size()), {}};
        const int players = static_cast<int>(names_.size());
        for (std::size_t leg = 0; leg < legs; ++leg) {
            for (int player = 0; player < players; ++player) {
                finished.counts[static_cast<std::size_t>(player)] +=
                    statistics::legCounts(legs_[leg], player);
            }
            if (legs_[leg].winner >= 0) {
                finished.won.push_back(wonLeg(legs_[leg]));
            }
        }
        finished_.emplace(std::move(finished));
    }
    return *finished_;
}

Answer Match::startNextLeg() {
    const LegRecord& last = legs_.back();
    const bool set_won = standing().legs[static_cast<std::size_t>(last.winner)] == format_.legs;
    const int set = set_won ? last.set + 1 : last.set;
    const int leg = set_won ? 1 : last.leg + 1;
    const std::size_t count = names_.size();
    const auto starter = static_cast<std::size_t>(legStarter(set, leg, static_cast<int>(count)));
    std::vector<std::string> order;
    order.reserve(count);
    for (std::size_t position = 0; position < count; ++position) {
        order.push_back(leg_names_[(starter + position) % count]);
    }
    Leg next(clock_);
    Answer answer = next.start(order);
    legs_.push_back(LegRecord{set, leg, static_cast<int>(starter), -1, {}});
    finished_leg_ = std::move(leg_);
    leg_ = std::move(next);
    return answer;
}

Answer Match::refusal(std::string message) const {
    return Answer{false, std::move(message), leg_.status(), TurnOutcome::open};
}

void Match::recordDart(TurnOutcome outcome) {
    // A visit that has ended is the newest of the leg's history; the winning
    // visit stays the leg's turn as well.
    const Leg::Turn& thrown = outcome == TurnOutcome::open ? leg_.turn() : leg_.history().back();
    LegRecord& leg = legs_.back();
    if (leg.visits.empty() || leg.visits.back().outcome != TurnOutcome::open) {
        VisitRecord visit{player(thrown.player), thrown.start_score, {}, TurnOutcome::open};
        visit.darts.reserve(static_cast<std::size_t>(kDartsPerTurn));
        leg.visits.push_back(std::move(visit));
    }
    VisitRecord& visit = leg.visits.back();
    visit.darts.push_back(thrown.darts.back());
    visit.outcome = outcome;
    if (leg_.status() == GameStatus::finished) {
        leg.winner = player(leg_.winner());
    }
}

void Match::takeBackDart() {
    if (legs_.empty() || legs_.back().visits.empty()) {
        return;
    }
    LegRecord& leg = legs_.back();
    // The winning dart is a leg's last, so whatever dart goes, the leg is open.
    leg.winner = -1;
    VisitRecord& visit = leg.visits.back();
    visit.darts.pop_back();
    if (visit.darts.empty()) {
        leg.visits.pop_back();
    } else {
        visit.outcome = TurnOutcome::open;
    }
}

}  // namespace game501
