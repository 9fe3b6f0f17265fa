// The idempotency keys a board remembers, so that a retry of a keyed write
// is recognised and answered as the write was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

namespace game501::server {

// The event ids of a board's last writes that carried an idempotency key,
// with a hash of each key, so that a retry is found without keeping the
// keys themselves; the caller confirms a hit against the row, since two keys
// may hash alike. Not thread-safe: the board's lock guards it.
class RecentKeys {
public:
    using Hash = std::uint64_t (*)(std::string_view key);

    // Remembers at least the last `capacity` keys; `hash` is FNV-1a unless a
    // test asks for another.
    explicit RecentKeys(std::size_t capacity, Hash hash = fnv1a)
        : capacity_(capacity), hash_(hash) {}

    // Returns the event ids whose key hashes as `key` does, newest first.
    std::vector<std::uint64_t> candidates(std::string_view key) const;
    // Remembers `key` as that of `event_id`, which is newer than every event
    // remembered; forgets the oldest past the capacity.
    void add(std::string_view key, std::uint64_t event_id);
    // Forgets every key of an event after `event_id`.
    void forgetAfter(std::uint64_t event_id);

    // FNV-1a, 64 bits: stable from run to run.
    static std::uint64_t fnv1a(std::string_view key);

private:
    struct Entry {
        std::uint64_t hash;
        std::uint64_t event_id;
    };

    const std::size_t capacity_;
    const Hash hash_;
    std::deque<Entry> entries_;  // oldest first
};

}  // namespace game501::server
