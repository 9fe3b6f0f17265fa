// The record of the match a board plays (match_record.h) as its readers
// share it, so that a report of a match being played is made from the
// board's own records without replaying it. A write copies only what it
// can change, the visit being thrown; the legs before it and the leg's
// visits before that are shared with the record of the write before, and so
// is the text each settled leg is reported with.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "match.h"
#include "match_record.h"

namespace game501::server {

// Returns `legs` as match_report::legs has them, serialised; the same text
// as LiveRecord::legsJson gives for the same legs.
std::string legsJson(const std::vector<LegRecord>& legs, int player_count);

// Never changes once made, but for each settled leg's text, made at most
// once; so it may be shared by any number of threads.
class LiveRecord {
public:
    // Returns the record of `match`. `before` is the record of the same
    // board one write earlier, whose settled legs that write cannot have
    // changed; null after a rebuild, when nothing is known of it.
    static std::shared_ptr<const LiveRecord> of(const Match& match, const LiveRecord* before);

    // Returns every leg, oldest first, copied.
    std::vector<LegRecord> legs() const;
    // Returns legsJson(legs(), player_count), each settled leg's part made
    // once.
    std::string legsJson(int player_count) const;

private:
    // A leg before the last: no write changes it, though an undo may take
    // the last leg away and make it the last again.
    struct Settled {
        LegRecord record;
        mutable std::once_flag made;
        mutable std::string json;
    };

    // The leg being played: its visits but the last, which a write cannot
    // change, shared from one record to the next, and the last visit.
    struct Last {
        LegRecord leg;  // without its visits
        std::shared_ptr<const std::vector<VisitRecord>> before_last;
        std::optional<VisitRecord> last_visit;  // none before the first dart
        LegRecord record() const;
    };

    std::vector<std::shared_ptr<const Settled>> settled_;
    std::optional<Last> last_;  // none when idle
};

}  // namespace game501::server
