#include "recent_keys.h"

namespace game501::server {

std::uint64_t RecentKeys::fnv1a(std::string_view key) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : key) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return hash;
}

std::vector<std::uint64_t> RecentKeys::candidates(std::string_view key) const {
    const std::uint64_t wanted = hash_(key);
    std::vector<std::uint64_t> found;
    for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
        if (entry->hash == wanted) {
            found.push_back(entry->event_id);
        }
    }
    return found;
}

void RecentKeys::add(std::string_view key, std::uint64_t event_id) {
    entries_.push_back(Entry{hash_(key), event_id});
    if (entries_.size() > capacity_) {
        entries_.pop_front();
    }
}

void RecentKeys::forgetAfter(std::uint64_t event_id) {
    while (!entries_.empty() && entries_.back().event_id > event_id) {
        entries_.pop_back();
    }
}

}  // namespace game501::server
