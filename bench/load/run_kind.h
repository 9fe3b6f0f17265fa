// What a run is measured with besides its load: its journal, the format of
// its matches and its server. The runs of one invocation take every
// combination of the options' choices by turns, so that a slow minute of the
// machine falls on each of them alike, and their medians are compared.
#pragma once

#include <string>
#include <vector>

#include "journal_files.h"
#include "match_501.h"

namespace game501::load {

struct Options;

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
