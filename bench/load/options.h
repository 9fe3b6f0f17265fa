// The command line of the load generator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "journal_files.h"
#include "match_501.h"
#include "scenarios.h"

namespace game501::load {

inline constexpr double kDefaultSeconds = 10;
// How long a --darts run may take at most when no --seconds says otherwise.
inline constexpr double kDefaultDartsTimeCap = 300;
inline constexpr double kInProcessSeconds = 2;

struct UsageError {
    std::string message;
};

struct Options {
    int boards = 1;
    int viewers = 0;
    int scorers = 1;
    double rate = 0;  // 0: every scorer throws as soon as its answer comes
    double seconds = kDefaultSeconds;
    bool seconds_given = false;
    std::uint64_t darts = 0;  // 0: the load is bounded by time alone
    int runs = 1;             // of each kind of run (run_kind.h)
    // The journals of the runs, taken by turns.
    std::vector<JournalKind> journals = {JournalKind::disk};
    // The matches the scorers start.
    Match501::Format format;
    // Whether the runs take `format` and a single game by turns, compared.
    bool against_single_game = false;
    std::string server = GAME501_SERVER_PATH;
    // Another server whose runs take turns with those of `server`; empty: none.
    std::string compare_server;
    std::vector<std::string> server_args;  // besides those of every run
    const Scenario* scenario = nullptr;
    bool smoke = false;
    double in_process_seconds = kInProcessSeconds;

    double loadSeconds() const {
        return darts == 0 || seconds_given ? seconds : kDefaultDartsTimeCap;
    }
};

// Returns the options, or nothing when help was asked for. Throws UsageError.
std::optional<Options> parseOptions(const std::vector<std::string>& args);

// Returns the text of --help.
std::string usage();

}  // namespace game501::load
