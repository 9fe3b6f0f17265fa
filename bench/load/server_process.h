// The server as a child process: the directory of a run's files, the
// server's command line and journal, starting it with a pipe on its standard
// output, stopping it with SIGTERM, watching it through /proc, and the
// watchdog that ends a run that hangs.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "measurements.h"
#include "options.h"
#include "server_limits.h"

namespace game501::load {

// From the start of the server to its banner: its boards rebuilt from the
// journal, and listening.
inline constexpr std::chrono::seconds kServerStartTime{10};
// The server waits kStopGrace for answers in flight; a little more for it to exit.
inline constexpr std::chrono::seconds kServerStopTime =
    game501::server::kStopGrace + std::chrono::seconds{5};
// The generator's exit status when the watchdog ends it.
inline constexpr int kHardTimeoutStatus = 3;
// What a run's hard time limit adds to the longest its phases may take.
inline constexpr std::chrono::seconds kHardTimeoutMargin{30};

// A directory of its own for a run's files, the tokens file among them;
// removed with everything written into it.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() { remove(); }

    // Where the directories are made: $TMPDIR, or /tmp.
    static std::string base();

    void remove() const;
    // Writes the file `name` and returns its path.
    std::string write(const std::string& name, const std::string& text);
    // Returns the path of `name`, a file that another process may write, to
    // be removed with the directory.
    std::string adopt(const std::string& name);

private:
    std::string path_;
    std::vector<std::string> files_;
};

// The bytes of a database file and of its write-ahead log; -1 where there
// is no such file.
struct JournalBytes {
    double file = -1;
    double wal = -1;
};

// Returns the sizes of the journal that --data named `data`; none for one
// in memory.
JournalBytes journalBytes(const std::string& data);

// Whether `path` is on a file system in memory, where a commit never waits
// for a disk.
bool onTmpfs(const std::string& path);

// A server program the runs start.
struct ServerProgram {
    std::string path;
    bool takes_data = true;  // false: a server before the journal, which keeps nothing
};

// Returns whether a server's --help text names the option --data.
bool helpNamesData(const std::string& help);

// Asks the server at `path` for its --help. Throws std::runtime_error when
// it does not answer in time.
ServerProgram probeServer(const std::string& path);

struct ServerSetup {
    std::vector<std::string> tokens;  // board 1 first
    std::string data;                 // the journal, as --data names it; empty: none
    std::vector<std::string> args;    // the whole command line but the program
};

// Writes fresh tokens into `dir` and returns the server's command line:
// loopback and a port of its choice, its boards, and --data unless the
// program takes none (a file in `dir`, removed with it together with the
// files the database keeps beside it, or ":memory:").
ServerSetup prepareServer(const Options& options, const ServerProgram& program, JournalKind journal,
                          TempDir& dir);

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

// The last resort of a run that hangs: ends everything if a run outlives its
// hard deadline, even when the server or the generator hangs: the server is
// killed, the temporary files go and the generator exits.
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
