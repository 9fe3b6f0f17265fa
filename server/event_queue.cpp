#include "event_queue.h"

#include <utility>

namespace game501::server {

EventQueue::EventQueue(std::size_t max_events, std::size_t max_bytes, std::function<void()> wake)
    : max_events_(max_events), max_bytes_(max_bytes), wake_(std::move(wake)) {}

void EventQueue::push(EventText event) {
    bool wake = false;
    {
        const MutexLock lock(mutex_);
        if (closed_) {
            return;
        }
        if (events_.size() >= max_events_ || bytes_ + event->size() > max_bytes_) {
            closed_ = true;
            events_.clear();
            bytes_ = 0;
        } else {
            bytes_ += event->size();
            events_.push_back(std::move(event));
        }
        wake = !woken_;
        woken_ = true;
    }
    if (wake) {
        wake_();
    }
}

void EventQueue::take(std::deque<EventText>& out) {
    const MutexLock lock(mutex_);
    woken_ = false;
    bytes_ = 0;
    while (!events_.empty()) {
        out.push_back(std::move(events_.front()));
        events_.pop_front();
    }
}

void EventQueue::close() {
    bool wake = false;
    {
        const MutexLock lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
        events_.clear();
        bytes_ = 0;
        wake = !woken_;
        woken_ = true;
    }
    if (wake) {
        wake_();
    }
}

bool EventQueue::closed() const {
    const MutexLock lock(mutex_);
    return closed_;
}

}  // namespace game501::server
