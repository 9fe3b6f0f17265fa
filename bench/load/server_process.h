// The server as a child process: started with a pipe on its standard
// output, stopped with SIGTERM, watched through /proc.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "server_limits.h"
#include "units.h"

namespace game501::load {

// From the start of the server to its banner: its boards rebuilt from the
// journal, and listening.
inline constexpr std::chrono::seconds kServerStartTime{10};
// The server waits kStopGrace for answers in flight; a little more for it to exit.
inline constexpr std::chrono::seconds kServerStopTime =
    game501::server::kStopGrace + std::chrono::seconds{5};

class ServerProcess {
public:
    // Starts the server; its standard output comes back through a pipe.
    ServerProcess(const std::string& path, const std::vector<std::string>& args);
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    // A server still running when a run fails is stopped as at the end.
    ~ServerProcess();

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && !status_; }

    // Reads the server's output up to its last board's line and returns the
    // port it listens on. Throws if it exits or says nothing in time.
    unsigned short waitForPort(int boards, Clock::time_point deadline);

    // Reads the program's output until it closes it, waits for the program
    // to end and returns the output. Throws if that takes past `deadline`.
    std::string outputUntilExit(Clock::time_point deadline);

    // Stops the server with SIGTERM and returns how it ended; kills it if it
    // has not ended within `grace`.
    std::string stop(std::chrono::seconds grace = kServerStopTime);

    bool exitedCleanly() const;

    // Resident memory in KiB, or -1 when it cannot be read.
    long rssKib() const;

    // User and system time used so far, in seconds.
    double cpuSeconds() const;

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::optional<int> status_;
};

}  // namespace game501::load
