// A mutex that says what it guards, so that clang's -Wthread-safety checks
// at compile time that every guarded member is touched only under its lock.
// With other compilers the annotations expand to nothing and the types are
// std::mutex and its locks.
//
// Example:
//   class Counter {
//   public:
//       void add() {
//           const game501::MutexLock lock(mutex_);
//           ++count_;
//       }
//   private:
//       game501::Mutex mutex_;
//       int count_ GAME501_GUARDED_BY(mutex_) = 0;
//   };
#pragma once

#include <mutex>

#if defined(__clang__)
#define GAME501_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define GAME501_THREAD_ANNOTATION(x)
#endif

#define GAME501_CAPABILITY(name) GAME501_THREAD_ANNOTATION(capability(name))
#define GAME501_SCOPED_CAPABILITY GAME501_THREAD_ANNOTATION(scoped_lockable)
#define GAME501_GUARDED_BY(mutex) GAME501_THREAD_ANNOTATION(guarded_by(mutex))
#define GAME501_PT_GUARDED_BY(mutex) GAME501_THREAD_ANNOTATION(pt_guarded_by(mutex))
#define GAME501_REQUIRES(...) GAME501_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define GAME501_EXCLUDES(...) GAME501_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define GAME501_ACQUIRE(...) GAME501_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define GAME501_RELEASE(...) GAME501_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define GAME501_NO_THREAD_SAFETY_ANALYSIS GAME501_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace game501 {

// A non-recursive mutex, std::mutex with the annotations.
class GAME501_CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() GAME501_ACQUIRE() { mutex_.lock(); }
    void unlock() GAME501_RELEASE() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

// Holds a Mutex for its scope, as std::lock_guard does.
class GAME501_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) GAME501_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() GAME501_RELEASE() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};

// Holds a Mutex for its scope and may let it go early (unlock) or take it
// again (lock), as std::unique_lock does; what is guarded is checked between.
// A std::condition_variable_any waits on it.
class GAME501_SCOPED_CAPABILITY ReleasableMutexLock {
public:
    explicit ReleasableMutexLock(Mutex& mutex) GAME501_ACQUIRE(mutex) : mutex_(mutex) {
        mutex_.lock();
    }
    ~ReleasableMutexLock() GAME501_RELEASE() {
        if (held_) {
            mutex_.unlock();
        }
    }
    ReleasableMutexLock(const ReleasableMutexLock&) = delete;
    ReleasableMutexLock& operator=(const ReleasableMutexLock&) = delete;

    void lock() GAME501_ACQUIRE() {
        mutex_.lock();
        held_ = true;
    }
    void unlock() GAME501_RELEASE() {
        mutex_.unlock();
        held_ = false;
    }

private:
    Mutex& mutex_;
    bool held_ = true;
};

}  // namespace game501
