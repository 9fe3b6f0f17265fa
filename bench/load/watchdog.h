// The last resort of a run that hangs.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "temp_dir.h"
#include "units.h"

namespace game501::load {

// The generator's exit status when the watchdog ends it.
inline constexpr int kHardTimeoutStatus = 3;

// Ends everything if a run outlives its hard deadline, even when the server
// or the generator hangs: the server is killed, the temporary files go and
// the generator exits.
class Watchdog {
public:
    Watchdog(Clock::time_point deadline, pid_t server, const TempDir& dir);
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    ~Watchdog();

    // The server to kill from now on, one that took the place of the last;
    // 0 while there is none.
    void watch(pid_t server);

private:
    std::atomic<pid_t> server_;
    const TempDir& dir_;
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace game501::load
