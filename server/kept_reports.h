// The reports of matches that are over, made once from the journal and kept:
// the darts of such a match never change, so the journal need not be read,
// nor the match played again, for each read of its report. Bounded in
// matches and bytes; the match read least recently goes first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mutex.h"

namespace game501::server {

// What is kept of one match.
struct KeptReport {
    std::uint64_t last_event = 0;      // the last journal row of the match
    std::string legs_json;             // legsJson of its legs
    std::string win_chance_json;       // winChanceCourseJson of its legs
    std::vector<std::string> players;  // the names csv_rows was made with
    std::string csv_rows;              // match_report::dartsCsvRows of its legs

    std::size_t bytes() const;
};

// Thread-safe.
class KeptReports {
public:
    KeptReports(std::size_t max_matches, std::size_t max_bytes)
        : max_matches_(max_matches), max_bytes_(max_bytes) {}
    KeptReports(const KeptReports&) = delete;
    KeptReports& operator=(const KeptReports&) = delete;

    // Returns what is kept of the board's match that began at
    // `start_event`; null when nothing is.
    std::shared_ptr<const KeptReport> find(int board, std::uint64_t start_event);
    // Keeps `report` of that match in place of what was, making room; a
    // report larger than every bound together is not kept.
    void keep(int board, std::uint64_t start_event, std::shared_ptr<const KeptReport> report);

private:
    using Key = std::pair<int, std::uint64_t>;
    struct Entry {
        std::shared_ptr<const KeptReport> report;
        std::list<Key>::iterator used;  // its place in used_
    };

    void dropLocked(std::map<Key, Entry>::iterator entry) GAME501_REQUIRES(mutex_);

    const std::size_t max_matches_;
    const std::size_t max_bytes_;
    Mutex mutex_;
    std::map<Key, Entry> entries_ GAME501_GUARDED_BY(mutex_);
    std::list<Key> used_ GAME501_GUARDED_BY(mutex_);  // the least recently read first
    std::size_t bytes_ GAME501_GUARDED_BY(mutex_) = 0;
};

}  // namespace game501::server
