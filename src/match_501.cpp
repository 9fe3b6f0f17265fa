#include "match_501.h"

#include <cstddef>
#include <utility>

#include "json_members.h"
#include "statistics.h"

namespace game501 {

Match501::Match501() = default;

Match501::Match501(Clock clock) : match_(std::move(clock)) {}

Match501::json Match501::start(const std::vector<std::string>& players, Format format) {
    const MutexLock lock(mutex_);
    return respondLocked(match_.start(players, format));
}

Match501::json Match501::addDart(const std::string& notation, const std::string& source) {
    const MutexLock lock(mutex_);
    return respondLocked(match_.addDart(notation, source));
}

Match501::json Match501::undo() {
    const MutexLock lock(mutex_);
    return respondLocked(match_.undo());
}

Match501::json Match501::markBoardClear() {
    const MutexLock lock(mutex_);
    return respondLocked(match_.markBoardClear());
}

Match501::json Match501::reset() {
    const MutexLock lock(mutex_);
    return respondLocked(match_.reset());
}

Match501::json Match501::state() const {
    const MutexLock lock(mutex_);
    return Game501::stateDocument(match_.leg());
}

Match501::json Match501::match() const {
    const MutexLock lock(mutex_);
    return matchDocument(match_);
}

Match501::json Match501::standing() const {
    const MutexLock lock(mutex_);
    return withFigures(standingDocument(match_), match_.figures());
}

std::pair<Match501::json, Match501::Figures> Match501::standingAndFigures() const {
    const MutexLock lock(mutex_);
    return {standingDocument(match_), match_.figures()};
}

std::vector<LegRecord> Match501::legs() const {
    const MutexLock lock(mutex_);
    return match_.legs();
}

std::vector<std::string> Match501::players() const {
    const MutexLock lock(mutex_);
    return match_.players();
}

Match501::Format Match501::format() const {
    const MutexLock lock(mutex_);
    return match_.format();
}

Match501::json Match501::respondLocked(const Answer& answer) const {
    return Game501::responseDocument(answer, match_.leg());
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

Match501::json Match501::matchDocument(const Match& match) {
    json document = withFigures(standingDocument(match), match.figures());
    document["game"] = Game501::stateDocument(match.leg());
    return document;
}

Match501::json Match501::standingDocument(const Match& match) {
    return standingDocument(match.overview());
}

Match501::json Match501::standingDocument(const Match::Overview& overview) {
    json finished_legs(json::value_t::array);
    auto& finished_entries = finished_legs.get_ref<json::array_t&>();
    finished_entries.reserve(overview.finished_legs.size());
    for (const Match::FinishedLeg& leg : overview.finished_legs) {
        auto& members =
            finished_entries.emplace_back(json::value_t::object).get_ref<json::object_t&>();
        addMember(members, "darts", leg.darts);
        addMember(members, "leg", leg.leg);
        addMember(members, "set", leg.set);
        addMember(members, "starter", leg.starter);
        addMember(members, "winner", leg.winner);
    }

    json format(json::value_t::object);
    auto& format_members = format.get_ref<json::object_t&>();
    addMember(format_members, "legs", overview.format.legs);
    addMember(format_members, "sets", overview.format.sets);

    const std::vector<std::string>& names = overview.players;
    json players(json::value_t::array);
    auto& player_entries = players.get_ref<json::array_t&>();
    player_entries.reserve(names.size());
    for (std::size_t index = 0; index < names.size(); ++index) {
        auto& members =
            player_entries.emplace_back(json::value_t::object).get_ref<json::object_t&>();
        addMember(members, "legs", overview.standing.legs[index]);
        addMember(members, "name", names[index]);
        addMember(members, "sets", overview.standing.sets[index]);
    }

    json throwing_order(json::value_t::array);
    auto& order_entries = throwing_order.get_ref<json::array_t&>();
    order_entries.reserve(overview.throwing_order.size());
    for (const int player : overview.throwing_order) {
        order_entries.emplace_back(player);
    }

    json document(json::value_t::object);
    auto& members = document.get_ref<json::object_t&>();
    addMember(members, "finished_legs", std::move(finished_legs));
    addMember(members, "format", std::move(format));
    addMember(members, "leg", overview.leg);
    addMember(members, "players", std::move(players));
    addMember(members, "set", overview.set);
    addMember(members, "starter", overview.starter);
    addMember(members, "status", statusName(overview.standing.status));
    addMember(members, "throwing_order", std::move(throwing_order));
    addMember(members, "winner", overview.standing.winner);
    return document;
}

}  // namespace game501
