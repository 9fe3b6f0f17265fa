#include "measurements.h"

#include <algorithm>
#include <cmath>

#include "server_limits.h"
#include "units.h"

namespace game501::load {
namespace {

constexpr std::uint64_t kSamplingSeed = 1;
// Events remembered per board for matching answers with viewers: more than
// a viewer may fall behind before the server cuts it off.
constexpr std::size_t kTrackedEventsPerBoard = 4 * game501::server::kMaxQueuedEvents;

}  // namespace

Samples::Samples(std::size_t capacity) : capacity_(capacity), rng_(kSamplingSeed) {
    values_.reserve(capacity);
}

void Samples::add(std::int64_t value) {
    ++count_;
    if (values_.size() < capacity_) {
        values_.push_back(value);
        return;
    }
    const std::uint64_t slot = rng_() % count_;
    if (slot < capacity_) {
        values_[static_cast<std::size_t>(slot)] = value;
    }
}

double Samples::percentileMs(double fraction) {
    if (values_.empty()) {
        return -1;
    }
    const auto rank = static_cast<std::size_t>(
        std::max(1.0, std::ceil(fraction * static_cast<double>(values_.size()))) - 1);
    std::nth_element(values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(rank),
                     values_.end());
    return static_cast<double>(values_[rank]) / kNanosPerMilli;
}

DeliveryTracker::DeliveryTracker(int boards, Samples& samples)
    : boards_(static_cast<std::size_t>(boards)), samples_(samples) {}

void DeliveryTracker::addViewer(int board) {
    BoardEvents& events = boards_[static_cast<std::size_t>(board)];
    if (events.slots.empty()) {
        events.slots.resize(kTrackedEventsPerBoard);
    }
    ++events.viewers;
}

void DeliveryTracker::removeViewer(int board) {
    BoardEvents& events = boards_[static_cast<std::size_t>(board)];
    --events.viewers;
    for (Slot& slot : events.slots) {
        completeIfHeld(events, slot);
    }
}

void DeliveryTracker::onSent(int board, std::uint64_t id, std::int64_t sent_ns) {
    BoardEvents& events = boards_[static_cast<std::size_t>(board)];
    if (events.viewers == 0) {
        return;
    }
    Slot& slot = slotFor(events, id);
    slot.sent_ns = sent_ns;
    completeIfHeld(events, slot);
}

void DeliveryTracker::onHeld(int board, std::uint64_t id, std::int64_t held_ns) {
    BoardEvents& events = boards_[static_cast<std::size_t>(board)];
    Slot& slot = slotFor(events, id);
    ++slot.holders;
    slot.held_ns = std::max(slot.held_ns, held_ns);
    completeIfHeld(events, slot);
}

DeliveryTracker::Slot& DeliveryTracker::slotFor(BoardEvents& events, std::uint64_t id) {
    Slot& slot = events.slots[static_cast<std::size_t>(id % events.slots.size())];
    if (slot.id != id) {
        slot = Slot{};
        slot.id = id;
    }
    return slot;
}

void DeliveryTracker::completeIfHeld(const BoardEvents& events, Slot& slot) {
    if (slot.id == 0 || slot.done || slot.sent_ns < 0 || slot.holders == 0 ||
        slot.holders < events.viewers) {
        return;
    }
    slot.done = true;
    samples_.add(slot.held_ns - slot.sent_ns);
}

}  // namespace game501::load
