#include "read_queue.h"

#include <pthread.h>
#include <sched.h>

#include <exception>
#include <utility>

#include "server_limits.h"

namespace game501::server {

ReadQueue::ReadQueue(unsigned threads, std::size_t queued) : max_queued_(queued) {
    for (unsigned i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { run(); });
    }
}

ReadQueue::~ReadQueue() {
    {
        const MutexLock lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

bool ReadQueue::post(Task task) {
    {
        const MutexLock lock(mutex_);
        if (tasks_.size() >= max_queued_) {
            return false;
        }
        tasks_.push_back(std::move(task));
    }
    changed_.notify_one();
    return true;
}

void lowerThreadPriority() {
    // SCHED_IDLE is a thread's own and always allowed: any of the boards'
    // threads that wakes takes the processor from a reader at once, where a
    // nice value would only have shared it less.
    const sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
}

void ReadQueue::run() {
    lowerThreadPriority();
    while (true) {
        Task task;
        {
            ReleasableMutexLock lock(mutex_);
            while (tasks_.empty() && !stopping_) {
                changed_.wait(lock);
            }
            if (tasks_.empty()) {
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        try {
            task();
        } catch (const std::exception&) {
            // The read goes unanswered: its connection closes as it is let go of.
        }
    }
}

}  // namespace game501::server
