#include "watchdog.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

namespace game501::load {

Watchdog::Watchdog(Clock::time_point deadline, pid_t server, const TempDir& dir)
    : server_(server), dir_(dir) {
    thread_ = std::thread([this, deadline] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!done_cv_.wait_until(lock, deadline, [this] { return done_; })) {
            std::cerr << "game501_server_load: the run passed its hard time limit; "
                         "killing the server\n";
            const pid_t watched = server_;
            if (watched > 0) {
                kill(watched, SIGKILL);
                waitpid(watched, nullptr, 0);
            }
            dir_.remove();
            _exit(kHardTimeoutStatus);
        }
    });
}

void Watchdog::watch(pid_t server) { server_ = server; }

Watchdog::~Watchdog() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
}

}  // namespace game501::load
