// One whole run: a server of its own, the load on it, and the same darts in
// process.
#pragma once

#include "figures.h"
#include "options.h"
#include "script.h"

namespace load {

// Starts the server with a fresh tokens file, puts the load on it, stops it
// and plays the same darts in process. Throws when the server cannot be
// started or the run is interrupted.
RunFigures runOnce(const Options& options, const Script& script);

}  // namespace load
