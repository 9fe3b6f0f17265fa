// What a run's server is started with: tokens of its own in the run's
// directory, its boards, loopback and a port of its choice, and its journal.
#pragma once

#include <string>
#include <vector>

#include "journal_files.h"
#include "options.h"
#include "temp_dir.h"

namespace game501::load {

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

// Writes fresh tokens into `dir` and returns the server's command line,
// with --data unless the program takes none.
ServerSetup prepareServer(const Options& options, const ServerProgram& program, JournalKind journal,
                          TempDir& dir);

}  // namespace game501::load
