#include "read_queue.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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
    // On Linux a thread's nice value is its own: the boards' threads win the
    // processor whenever both want it. Raising it is always allowed.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kBackgroundNice);
}

void ReadQueue::run() {
    // Lower still than lowerThreadPriority(), and as allowed: a reader runs
    // only when no other thread wants the processor, and gives it up at once
    // to a board's thread that wakes. A reader's queue is bounded, so it
    // cannot fall behind without bound as a cache could.
    const sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
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
