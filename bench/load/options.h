// The command line of the load generator, and the kinds of run it asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "match_501.h"

namespace game501::load {

struct Scenario;

inline constexpr double kDefaultSeconds = 10;
// How long a --darts run may take at most when no --seconds says otherwise.
inline constexpr double kDefaultDartsTimeCap = 300;
inline constexpr double kInProcessSeconds = 2;

// disk: a database file in the run's own directory; memory: the server's
// database in memory, for comparisons of speed only.
enum class JournalKind { disk, memory };

// "disk" or "memory", as --journal takes it.
const char* journalName(JournalKind kind);

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
    int runs = 1;             // of each kind of run
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

// What a run is measured with besides its load: its journal, the format of
// its matches and its server. The runs of one invocation take every
// combination of the options' choices by turns, so that a slow minute of the
// machine falls on each of them alike, and their medians are compared.
struct RunKind {
    JournalKind journal = JournalKind::disk;
    Match501::Format format;
    bool other_server = false;  // --compare-server's, not --server's
};

// The part of a kind that a comparison holds apart and leaves out of its name.
enum class KindPart { none, format, server };

bool sameKind(const RunKind& a, const RunKind& b);

// Returns the formats of the runs: the one the others are compared with first.
std::vector<Match501::Format> runFormats(const Options& options);

// Returns every combination of the journals, formats and servers of
// `options`, in the order of one round of runs; --server's first.
std::vector<RunKind> runKinds(const Options& options);

// Returns "a single game", "first to 3 legs" or "first to 2 sets of 3 legs".
std::string formatName(const Match501::Format& format);

// Returns what tells `kind` from the other kinds of `options`, its journal
// always: "journal disk, first to 3 legs, the other server"; `leave_out`
// is not named.
std::string kindName(const RunKind& kind, const Options& options,
                     KindPart leave_out = KindPart::none);

}  // namespace game501::load
