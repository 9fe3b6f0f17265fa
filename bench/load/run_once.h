// One whole run: a server of its own, the load on it, and the same darts in
// process.
#pragma once

#include "figures.h"
#include "journal_files.h"
#include "options.h"
#include "script.h"

namespace load {

// Starts the server with a fresh tokens file and journal, puts the load on
// it, stops it, measures the journal and plays the same darts in process.
// Throws when the server cannot be started or the run is interrupted.
RunFigures runOnce(const Options& options, const Script& script, JournalKind journal);

}  // namespace load
