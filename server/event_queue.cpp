#include "event_queue.h"

#include <utility>

namespace game501_server {

EventQueue::EventQueue(std::size_t capacity, std::function<void()> wake)
    : capacity_(capacity), wake_(std::move(wake)) {}

bool EventQueue::push(EventText event) {
    bool wake = false;
    bool kept = true;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return false;
        }
        if (events_.size() >= capacity_) {
            closed_ = true;
            events_.clear();
            kept = false;
        } else {
            events_.push_back(std::move(event));
        }
        wake = !woken_;
        woken_ = true;
    }
    if (wake) {
        wake_();
    }
    return kept;
}

void EventQueue::take(std::deque<EventText>& out) {
    const std::lock_guard<std::mutex> lock(mutex_);
    woken_ = false;
    while (!events_.empty()) {
        out.push_back(std::move(events_.front()));
        events_.pop_front();
    }
}

void EventQueue::close() {
    bool wake = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
        events_.clear();
        wake = !woken_;
        woken_ = true;
    }
    if (wake) {
        wake_();
    }
}

bool EventQueue::closed() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

}  // namespace game501_server
