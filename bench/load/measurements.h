// What the clients measure: latencies, and which posts every viewer of their
// board has seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace game501::load {

// Latencies in nanoseconds, in memory reserved once: past its capacity a
// uniform sample of all values is kept.
class Samples {
public:
    explicit Samples(std::size_t capacity);

    void add(std::int64_t value);
    std::uint64_t count() const { return count_; }
    // Nearest rank; -1 when there is no value.
    double percentileMs(double fraction);

private:
    const std::size_t capacity_;
    std::vector<std::int64_t> values_;
    std::uint64_t count_ = 0;
    std::mt19937_64 rng_;
};

// Matches each post with its event on every viewer of its board: the
// delivery latency runs from the post's sending to the moment the last
// viewer of the board holds the whole event. Answers and events arrive in
// either order.
class DeliveryTracker {
public:
    DeliveryTracker(int boards, Samples& samples);

    void addViewer(int board);
    // A viewer gone no longer holds up the events it will never see.
    void removeViewer(int board);
    void onSent(int board, std::uint64_t id, std::int64_t sent_ns);
    void onHeld(int board, std::uint64_t id, std::int64_t held_ns);

private:
    struct Slot {
        std::uint64_t id = 0;
        std::int64_t sent_ns = -1;
        std::int64_t held_ns = 0;
        int holders = 0;
        bool done = false;
    };
    struct BoardEvents {
        std::vector<Slot> slots;
        int viewers = 0;
    };

    static Slot& slotFor(BoardEvents& events, std::uint64_t id);
    void completeIfHeld(const BoardEvents& events, Slot& slot);

    std::vector<BoardEvents> boards_;
    Samples& samples_;
};

}  // namespace game501::load
