#include "live_record.h"

#include <algorithm>

#include "front_end.h"
#include "match_report.h"

namespace game501::server {

namespace {

std::string legJson(const LegRecord& leg, int player_count) {
    return front_end::serialise(match_report::legs({leg}, player_count).front());
}

}  // namespace

std::string legsJson(const std::vector<LegRecord>& legs, int player_count) {
    std::string json = "[";
    for (const LegRecord& leg : legs) {
        json += (json.size() > 1 ? "," : "") + legJson(leg, player_count);
    }
    return json + "]";
}

std::shared_ptr<const LiveRecord> LiveRecord::of(const Match& match, const LiveRecord* before) {
    auto record = std::make_shared<LiveRecord>();
    const std::vector<LegRecord>& legs = match.legs();
    if (legs.empty()) {
        return record;
    }
    const std::size_t settled = legs.size() - 1;
    // A write changes the last leg only, or takes it away, or adds one:
    // what was settled before it and is settled after it is the same.
    const std::size_t shared = before != nullptr ? std::min(settled, before->settled_.size()) : 0;
    record->settled_.reserve(settled);
    if (before != nullptr) {
        record->settled_.assign(before->settled_.begin(),
                                before->settled_.begin() + static_cast<std::ptrdiff_t>(shared));
    }
    for (std::size_t leg = shared; leg < settled; ++leg) {
        auto kept = std::make_shared<Settled>();
        kept->record = legs[leg];
        record->settled_.push_back(std::move(kept));
    }
    // Nor does it change the leg's visits before its last: the same count of
    // them in the same leg are the same visits.
    const LegRecord& leg = legs.back();
    const std::size_t visits_before = leg.visits.empty() ? 0 : leg.visits.size() - 1;
    Last last{LegRecord{leg.set, leg.leg, leg.starter, leg.winner, {}}, nullptr, std::nullopt};
    if (before != nullptr && before->last_ && before->settled_.size() == settled &&
        before->last_->before_last->size() == visits_before) {
        last.before_last = before->last_->before_last;
    } else {
        last.before_last = std::make_shared<const std::vector<VisitRecord>>(
            leg.visits.begin(), leg.visits.begin() + static_cast<std::ptrdiff_t>(visits_before));
    }
    if (!leg.visits.empty()) {
        last.last_visit = leg.visits.back();
    }
    record->last_ = std::move(last);
    return record;
}

LegRecord LiveRecord::Last::record() const {
    LegRecord record = leg;
    record.visits.reserve(before_last->size() + 1);
    record.visits.assign(before_last->begin(), before_last->end());
    if (last_visit) {
        record.visits.push_back(*last_visit);
    }
    return record;
}

std::vector<LegRecord> LiveRecord::legs() const {
    std::vector<LegRecord> legs;
    legs.reserve(settled_.size() + 1);
    for (const std::shared_ptr<const Settled>& leg : settled_) {
        legs.push_back(leg->record);
    }
    if (last_) {
        legs.push_back(last_->record());
    }
    return legs;
}

std::string LiveRecord::legsJson(int player_count) const {
    std::string json = "[";
    for (const std::shared_ptr<const Settled>& leg : settled_) {
        // The players are the match's, the same for each of its legs.
        std::call_once(leg->made,
                       [&leg, player_count] { leg->json = legJson(leg->record, player_count); });
        json += (json.size() > 1 ? "," : "") + leg->json;
    }
    if (last_) {
        json += (json.size() > 1 ? "," : "") + legJson(last_->record(), player_count);
    }
    return json + "]";
}

}  // namespace game501::server
