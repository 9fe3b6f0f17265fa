// The threads that answer reads of the archive: reports, careers and files
// of darts. They are few, run at a lower priority than the threads that
// serve the boards, and take reads from a queue of their own, bounded, so
// that no number of readers can delay a write or a board's GET; a read that
// finds the queue full is refused at once (the caller answers 503).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "mutex.h"

namespace game501::server {

// Lowers the calling thread's priority below the boards' (kBackgroundNice).
void lowerThreadPriority();

// Thread-safe.
class ReadQueue {
public:
    using Task = std::function<void()>;

    // Starts `threads` threads that take at most `queued` reads waiting.
    ReadQueue(unsigned threads, std::size_t queued);
    ReadQueue(const ReadQueue&) = delete;
    ReadQueue& operator=(const ReadQueue&) = delete;
    // Runs what is queued, then stops the threads.
    ~ReadQueue();

    // Queues `task`, to run on one of the threads; returns false, and drops
    // it, when `queued` reads wait already.
    [[nodiscard]] bool post(Task task);

private:
    void run();

    const std::size_t max_queued_;
    Mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<Task> tasks_ GAME501_GUARDED_BY(mutex_);
    bool stopping_ GAME501_GUARDED_BY(mutex_) = false;
    std::vector<std::thread> threads_;
};

}  // namespace game501::server
