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
    record->last_ = legs.back();
    return record;
}

std::vector<LegRecord> LiveRecord::legs() const {
    std::vector<LegRecord> legs;
    legs.reserve(settled_.size() + 1);
    for (const std::shared_ptr<const Settled>& leg : settled_) {
        legs.push_back(leg->record);
    }
    if (last_) {
        legs.push_back(*last_);
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
        json += (json.size() > 1 ? "," : "") + legJson(*last_, player_count);
    }
    return json + "]";
}

}  // namespace game501::server
