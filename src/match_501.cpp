#include "match_501.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "ascii.h"
#include "statistics.h"

namespace game501 {

namespace {

using json = Match501::json;

const char* const kOpen = "open";

// Adds a member to an object built in ascending key order, as the engine
// builds its documents: each member goes in at the end of the map.
template <typename Value>
json& addMember(json::object_t& members, const char* key, Value&& value) {
    return members.emplace_hint(members.end(), key, std::forward<Value>(value))->second;
}

// A bust visit is charged its full three darts, however early it busted:
// the player had no more darts of that visit to throw.
int dartsCharged(const VisitRecord& visit) {
    return visit.outcome == "bust" ? static_cast<int>(Game501::kDartsPerTurn)
                                   : static_cast<int>(visit.darts.size());
}

bool inRange(int value, int low, int high) { return value >= low && value <= high; }

std::string rangeText(int low, int high, const char* unit) {
    return "Välj mellan " + std::to_string(low) + " och " + std::to_string(high) + " " + unit;
}

}  // namespace

Match501::Match501() : Match501(Clock()) {}

Match501::Match501(Clock clock) : clock_(std::move(clock)), leg_(newEngine()) {}

Match501::json Match501::start(const std::vector<std::string>& players, Format format) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!inRange(format.legs, kMinLegs, kMaxLegs)) {
        return refusalLocked(rangeText(kMinLegs, kMaxLegs, "legs"));
    }
    if (!inRange(format.sets, kMinSets, kMaxSets)) {
        return refusalLocked(rangeText(kMinSets, kMaxSets, "set"));
    }
    // The engine of the leg in progress takes the start: a refusal leaves it
    // untouched, and its answer shows the game as it stands.
    json response = leg_->start(players);
    if (!response.at("accepted").get<bool>()) {
        return response;
    }
    const json& named = response.at("game").at("players");
    std::vector<std::string> names;
    std::vector<std::string> leg_names;
    names.reserve(players.size());
    leg_names.reserve(players.size());
    for (std::size_t index = 0; index < players.size(); ++index) {
        names.push_back(named.at(index).at("name").get<std::string>());
        // A blank name is named after its place in the first leg; later legs
        // throw in another order and must keep that name, while every other
        // name comes out of the engine the same wherever it stands.
        leg_names.push_back(ascii::trimmed(players[index]).empty() ? names.back() : players[index]);
    }
    std::vector<LegRecord> legs(1);
    format_ = format;
    names_ = std::move(names);
    leg_names_ = std::move(leg_names);
    finished_leg_.reset();
    legs_ = std::move(legs);
    finished_counts_.reset();
    return response;
}

Match501::json Match501::addDart(const std::string& notation, const std::string& source) {
    const std::lock_guard<std::mutex> lock(mutex_);
    json response = leg_->addDart(notation, source);
    if (response.at("accepted").get<bool>()) {
        recordDartLocked(response);
    }
    return response;
}

Match501::json Match501::undo() {
    const std::lock_guard<std::mutex> lock(mutex_);
    // A leg without a dart standing has nothing of its own to take back, so
    // the winning dart of the leg before it is the one to undo.
    if (finished_leg_ && !legs_.empty() && legs_.back().visits.empty()) {
        legs_.pop_back();
        leg_ = std::move(finished_leg_);
    }
    json response = leg_->undo();
    if (response.at("accepted").get<bool>()) {
        takeBackDartLocked();
    }
    return response;
}

Match501::json Match501::markBoardClear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!legs_.empty() && legs_.back().winner >= 0 && tallyLocked().winner < 0) {
        return startNextLegLocked();
    }
    return leg_->markBoardClear();
}

Match501::json Match501::reset() {
    const std::lock_guard<std::mutex> lock(mutex_);
    json response = leg_->reset();
    format_ = Format{};
    names_.clear();
    leg_names_.clear();
    finished_leg_.reset();
    legs_.clear();
    finished_counts_.reset();
    return response;
}

Match501::json Match501::state() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return leg_->state();
}

Match501::json Match501::match() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    json document = withFigures(standingLocked(), figuresLocked());
    document["game"] = leg_->state();
    return document;
}

Match501::json Match501::standing() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return withFigures(standingLocked(), figuresLocked());
}

std::pair<Match501::json, Match501::Figures> Match501::standingAndFigures() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return {standingLocked(), figuresLocked()};
}

Match501::json Match501::withFigures(json standing, const Figures& figures) {
    json& players = standing["players"];
    for (std::size_t index = 0; index < players.size(); ++index) {
        json& entry = players[index];
        entry["figures"] = {{"leg", statistics::toJson(figures.leg.at(index))},
                            {"match", statistics::toJson(figures.match.at(index))}};
    }
    return standing;
}

Match501::Figures Match501::figuresLocked() const {
    Figures figures{std::vector<statistics::Counts>(names_.size()), countsLocked()};
    if (!legs_.empty()) {
        for (std::size_t player = 0; player < names_.size(); ++player) {
            figures.leg[player] = statistics::legCounts(legs_.back(), static_cast<int>(player));
        }
    }
    return figures;
}

Match501::json Match501::standingLocked() const {
    const Tally tally = tallyLocked();

    json finished_legs(json::value_t::array);
    auto& finished_entries = finished_legs.get_ref<json::array_t&>();
    for (const LegRecord& leg : legs_) {
        if (leg.winner < 0) {
            continue;
        }
        int darts = 0;
        for (const VisitRecord& visit : leg.visits) {
            if (visit.player == leg.winner) {
                darts += dartsCharged(visit);
            }
        }
        auto& members =
            finished_entries.emplace_back(json::value_t::object).get_ref<json::object_t&>();
        addMember(members, "darts", darts);
        addMember(members, "leg", leg.leg);
        addMember(members, "set", leg.set);
        addMember(members, "starter", leg.starter);
        addMember(members, "winner", leg.winner);
    }

    json format(json::value_t::object);
    auto& format_members = format.get_ref<json::object_t&>();
    addMember(format_members, "legs", format_.legs);
    addMember(format_members, "sets", format_.sets);

    const bool idle = legs_.empty();
    json players(json::value_t::array);
    auto& player_entries = players.get_ref<json::array_t&>();
    player_entries.reserve(names_.size());
    for (std::size_t index = 0; index < names_.size(); ++index) {
        auto& members =
            player_entries.emplace_back(json::value_t::object).get_ref<json::object_t&>();
        addMember(members, "legs", tally.legs[index]);
        addMember(members, "name", names_[index]);
        addMember(members, "sets", tally.sets[index]);
    }

    const int starter = idle ? -1 : legs_.back().starter;
    json throwing_order(json::value_t::array);
    auto& order_entries = throwing_order.get_ref<json::array_t&>();
    order_entries.reserve(names_.size());
    for (std::size_t position = 0; position < names_.size(); ++position) {
        order_entries.emplace_back(matchPlayerLocked(static_cast<int>(position)));
    }

    json document(json::value_t::object);
    auto& members = document.get_ref<json::object_t&>();
    addMember(members, "finished_legs", std::move(finished_legs));
    addMember(members, "format", std::move(format));
    addMember(members, "leg", idle ? 0 : legs_.back().leg);
    addMember(members, "players", std::move(players));
    addMember(members, "set", idle ? 0 : legs_.back().set);
    addMember(members, "starter", starter);
    addMember(members, "status", idle ? "idle" : tally.winner >= 0 ? "finished" : "playing");
    addMember(members, "throwing_order", std::move(throwing_order));
    addMember(members, "winner", tally.winner);
    return document;
}

std::vector<LegRecord> Match501::legs() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return legs_;
}

std::vector<statistics::Counts> Match501::counts() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return countsLocked();
}

std::vector<std::string> Match501::players() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return names_;
}

Match501::Format Match501::format() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return format_;
}

std::unique_ptr<Game501> Match501::newEngine() const {
    return clock_ ? std::make_unique<Game501>(clock_) : std::make_unique<Game501>();
}

Match501::json Match501::startNextLegLocked() {
    const LegRecord& last = legs_.back();
    const bool set_won = tallyLocked().legs[static_cast<std::size_t>(last.winner)] == format_.legs;
    const int set = set_won ? last.set + 1 : last.set;
    const int leg = set_won ? 1 : last.leg + 1;
    const std::size_t count = names_.size();
    // The throw passes on by one place a leg, and the first throw of a set
    // by one place a set.
    const auto starter = static_cast<std::size_t>(set - 1 + leg - 1) % count;
    std::vector<std::string> order;
    order.reserve(count);
    for (std::size_t position = 0; position < count; ++position) {
        order.push_back(leg_names_[(starter + position) % count]);
    }
    std::unique_ptr<Game501> next = newEngine();
    json response = next->start(order);
    legs_.push_back(LegRecord{set, leg, static_cast<int>(starter), -1, {}});
    finished_leg_ = std::move(leg_);
    leg_ = std::move(next);
    return response;
}

Match501::json Match501::refusalLocked(const std::string& message) const {
    json response(json::value_t::object);
    auto& members = response.get_ref<json::object_t&>();
    addMember(members, "accepted", false);
    addMember(members, "game", leg_->state());
    addMember(members, "message", message);
    return response;
}

void Match501::recordDartLocked(const json& response) {
    const json& game = response.at("game");
    const json& turn = game.at("current_turn");
    const bool finished = game.at("status").get_ref<const std::string&>() == "finished";
    // A visit that ends leaves the turn in progress and is the archive's
    // newest turn; only the winning visit stays in the turn as well, to show
    // how the leg ended.
    const bool open = !finished && !turn.at("darts").empty();
    const json& thrown = open ? turn : game.at("history").at(0);
    const json& dart = thrown.at("darts").back();

    LegRecord& leg = legs_.back();
    if (leg.visits.empty() || leg.visits.back().outcome != kOpen) {
        const int position =
            open ? game.at("active_player").get<int>() : thrown.at("player_index").get<int>();
        VisitRecord visit{
            matchPlayerLocked(position), thrown.at("start_score").get<int>(), {}, kOpen};
        visit.darts.reserve(Game501::kDartsPerTurn);
        leg.visits.push_back(std::move(visit));
    }
    VisitRecord& visit = leg.visits.back();
    visit.darts.push_back(
        DartRecord{dart.at("notation").get<std::string>(), dart.at("value").get<int>(),
                   dart.at("double").get<bool>(), dart.at("bust").get<bool>(),
                   dart.at("source").get<std::string>(), dart.at("timestamp").get<std::int64_t>()});
    if (!open) {
        visit.outcome = thrown.at("outcome").get<std::string>();
    }
    if (finished) {
        leg.winner = matchPlayerLocked(game.at("winner").get<int>());
    }
}

void Match501::takeBackDartLocked() {
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
        visit.outcome = kOpen;
    }
}

int Match501::matchPlayerLocked(int position) const {
    if (legs_.empty() || names_.empty()) {
        return position;
    }
    return (legs_.back().starter + position) % static_cast<int>(names_.size());
}

std::vector<statistics::Counts> Match501::countsLocked() const {
    // The finished legs are summed once, not at every dart: they change only
    // by an undo that puts the last of them back in play, which leaves one
    // leg fewer behind it, or by a new match.
    const std::size_t finished = legs_.empty() ? 0 : legs_.size() - 1;
    const int players = static_cast<int>(names_.size());
    if (!finished_counts_ || finished_counts_->first != finished) {
        std::vector<statistics::Counts> sums(names_.size());
        for (std::size_t leg = 0; leg < finished; ++leg) {
            for (int player = 0; player < players; ++player) {
                sums[static_cast<std::size_t>(player)] += statistics::legCounts(legs_[leg], player);
            }
        }
        finished_counts_.emplace(finished, std::move(sums));
    }
    std::vector<statistics::Counts> counts = finished_counts_->second;
    if (!legs_.empty()) {
        for (int player = 0; player < players; ++player) {
            counts[static_cast<std::size_t>(player)] += statistics::legCounts(legs_.back(), player);
        }
    }
    return counts;
}

Match501::Tally Match501::tallyLocked() const {
    Tally tally;
    tally.legs.assign(names_.size(), 0);
    tally.sets.assign(names_.size(), 0);
    int set = 0;
    for (const LegRecord& leg : legs_) {
        if (leg.set != set) {
            set = leg.set;
            std::fill(tally.legs.begin(), tally.legs.end(), 0);
        }
        if (leg.winner < 0) {
            continue;
        }
        const auto winner = static_cast<std::size_t>(leg.winner);
        if (++tally.legs[winner] == format_.legs && ++tally.sets[winner] == format_.sets) {
            tally.winner = leg.winner;
        }
    }
    return tally;
}

}  // namespace game501
