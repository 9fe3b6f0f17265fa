// The events waiting for one viewer of a board's event stream.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "mutex.h"

namespace game501::server {

// Serialised event text, shared by every viewer that receives it.
using EventText = std::shared_ptr<const std::string>;

// Filled by the board, in event order, from whichever thread ran the
// command; emptied by the viewer's connection. Bounded: a viewer that falls
// behind by more than `max_events` events or `max_bytes` of their text is cut
// off instead of holding them.
class EventQueue {
public:
    // `wake` is called, outside the queue's lock, when events arrive at an
    // empty queue or the queue closes; the connection then calls take().
    EventQueue(std::size_t max_events, std::size_t max_bytes, std::function<void()> wake);

    // Adds an event; closes the queue instead when the viewer is too far
    // behind. Does nothing once the queue is closed.
    void push(EventText event);

    // Moves out every waiting event, oldest first, into `out`.
    void take(std::deque<EventText>& out);

    // Stops further events and wakes the connection, which sees closed().
    void close();
    bool closed() const;

private:
    const std::size_t max_events_;
    const std::size_t max_bytes_;
    const std::function<void()> wake_;
    mutable Mutex mutex_;
    std::deque<EventText> events_ GAME501_GUARDED_BY(mutex_);
    std::size_t bytes_ GAME501_GUARDED_BY(mutex_) = 0;
    bool closed_ GAME501_GUARDED_BY(mutex_) = false;
    // A wake is pending that take() has not answered yet.
    bool woken_ GAME501_GUARDED_BY(mutex_) = false;
};

}  // namespace game501::server
