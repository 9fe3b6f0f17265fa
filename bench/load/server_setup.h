// What a run's server is started with: tokens of its own in the run's
// directory, its boards, loopback and a port of its choice, and its journal.
#pragma once

#include <string>
#include <vector>

#include "journal_files.h"
#include "options.h"
#include "temp_dir.h"

namespace load {

struct ServerSetup {
    std::vector<std::string> tokens;  // board 1 first
    std::string data;                 // the journal, as --data names it
    std::vector<std::string> args;    // the whole command line but the program
};

// Writes fresh tokens into `dir` and returns the server's command line.
ServerSetup prepareServer(const Options& options, JournalKind journal, TempDir& dir);

}  // namespace load
