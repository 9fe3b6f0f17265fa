#include "kept_reports.h"

namespace game501::server {

std::size_t KeptReport::bytes() const {
    std::size_t bytes =
        sizeof(KeptReport) + legs_json.size() + win_chance_json.size() + csv_rows.size();
    for (const std::string& player : players) {
        bytes += player.size() + sizeof(std::string);
    }
    return bytes;
}

std::shared_ptr<const KeptReport> KeptReports::find(int board, std::uint64_t start_event) {
    const MutexLock lock(mutex_);
    const auto found = entries_.find({board, start_event});
    if (found == entries_.end()) {
        return nullptr;
    }
    used_.splice(used_.end(), used_, found->second.used);
    return found->second.report;
}

void KeptReports::keep(int board, std::uint64_t start_event,
                       std::shared_ptr<const KeptReport> report) {
    const std::size_t bytes = report->bytes();
    // The texts replaced are let go of outside the lock.
    std::vector<std::shared_ptr<const KeptReport>> dropped;
    const MutexLock lock(mutex_);
    const Key key{board, start_event};
    if (const auto found = entries_.find(key); found != entries_.end()) {
        dropped.push_back(found->second.report);
        dropLocked(found);
    }
    if (bytes > max_bytes_ || max_matches_ == 0) {
        return;
    }
    while (!used_.empty() && (entries_.size() >= max_matches_ || bytes_ + bytes > max_bytes_)) {
        const auto oldest = entries_.find(used_.front());
        dropped.push_back(oldest->second.report);
        dropLocked(oldest);
    }
    bytes_ += bytes;
    entries_.emplace(key, Entry{std::move(report), used_.insert(used_.end(), key)});
}

void KeptReports::dropLocked(std::map<Key, Entry>::iterator entry) {
    bytes_ -= entry->second.report->bytes();
    used_.erase(entry->second.used);
    entries_.erase(entry);
}

}  // namespace game501::server
