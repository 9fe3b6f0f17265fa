// What the generator prints of its runs.
#pragma once

#include <string>
#include <vector>

#include "figures.h"
#include "options.h"
#include "script.h"

namespace load {

// Returns `value` with `decimals` decimals, or "n/a" for a figure not measured.
std::string fixed(double value, int decimals);

// Prints the command line, the machine and the load, before the runs.
void printHeading(int argc, char** argv, const Options& options);

void printScript(const Script& script);

// Prints the line before run `run`, with the machine's load average.
void printRunStart(int run, const Options& options);

void printFigures(const Options& options, const RunFigures& figures);

// Returns every figure as the median of its own values over the runs.
RunFigures medianFigures(const std::vector<RunFigures>& runs);

}  // namespace load
