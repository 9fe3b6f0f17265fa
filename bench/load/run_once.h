// One whole run: a server of its own, the load on it, and the same darts in
// process.
#pragma once

#include "figures.h"
#include "options.h"
#include "run_kind.h"
#include "script.h"
#include "server_setup.h"

namespace game501::load {

// Starts `program` with a fresh tokens file and the journal of `kind`, puts
// the load on it with matches of that kind's format, stops it, measures the
// journal and plays the same darts in process. Throws when the server cannot
// be started or the run is interrupted.
RunFigures runOnce(const Options& options, const Script& script, const RunKind& kind,
                   const ServerProgram& program);

}  // namespace game501::load
