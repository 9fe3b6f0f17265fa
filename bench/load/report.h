// What the generator prints of its runs.
#pragma once

#include <string>
#include <vector>

#include "figures.h"
#include "options.h"
#include "script.h"

namespace game501::load {

// Returns `value` with `decimals` decimals, or "n/a" for a figure not measured.
std::string fixed(double value, int decimals);

// Says whether a journal's size includes a WAL that the server left.
std::string walText(double wal_bytes);

// Returns the middle value, or the mean of the two middle ones.
double median(std::vector<double> values);

// Prints the size of the journal `data` once its server has stopped, and its
// bytes per row of the `rows` it holds.
void printJournal(const std::string& data, double rows);

// Returns the machine's load average over 1, 5 and 15 minutes.
std::string loadAverage();

// Prints the command line, the machine, the journals and the load, before
// the runs.
void printHeading(int argc, char** argv, const Options& options);

void printScript(const Script& script);

// Prints the line before run `run` of `runs`, with its kind (kindName) and
// the machine's load average.
void printRunStart(int run, int runs, const std::string& kind);

void printFigures(const Options& options, const RunFigures& figures);

// Returns every figure as the median of its own values over the runs, all
// of one kind.
RunFigures medianFigures(const std::vector<RunFigures>& runs);

}  // namespace game501::load
