// Load generator for game-501-server. It starts the server on loopback, puts
// viewers on the boards' event streams and scorers that play real games,
// and reports accepted darts per second, answer and delivery latencies,
// lost events, the server's memory and its journal's size, beside the same
// darts played in process, for each kind of run and compared; or, in the
// restart scenario, how long the server takes to rebuild its boards from
// the journal, and that it rebuilds them exactly; or, in the career
// scenario, how fast it answers one player's career of 1,000 matches. Every
// run is bounded in time and stops the server it started.
//
// Exit status: 0 all well, 1 errors, 2 bad usage, 3 a run passed its hard
// time limit.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <exception>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "comparisons.h"
#include "figures.h"
#include "options.h"
#include "report.h"
#include "run_kind.h"
#include "run_once.h"
#include "scenarios.h"
#include "script.h"
#include "server_setup.h"

namespace {

void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// A smoke run is small enough that any lost event is the generator's or the
// server's fault, never the machine's; with one scorer a board, so is a
// refused dart.
bool allWell(const game501::load::Options& options,
             const std::vector<game501::load::RunFigures>& runs) {
    bool ok = true;
    for (const game501::load::RunFigures& run : runs) {
        ok = ok && run.errors == 0 && run.server_clean && run.viewers_all_ready && run.darts > 0;
        ok = ok && (!options.smoke ||
                    (run.events_lost == 0 && (options.viewers == 0 || run.events_held > 0) &&
                     (options.scorers > options.boards || run.refused == 0)));
    }
    return ok;
}

// Returns --server's program, then --compare-server's if any, and says of
// each that keeps nothing.
std::vector<game501::load::ServerProgram> probePrograms(const game501::load::Options& options) {
    std::vector<game501::load::ServerProgram> programs = {
        game501::load::probeServer(options.server)};
    if (!options.compare_server.empty()) {
        programs.push_back(game501::load::probeServer(options.compare_server));
    }
    for (const game501::load::ServerProgram& program : programs) {
        if (!program.takes_data) {
            std::cout << "note: " << program.path
                      << " names no --data in its --help: started without it, it keeps "
                         "nothing\n";
        }
    }
    return programs;
}

// Runs the load options.runs times with each kind of run, by turns, and
// prints the medians of each kind, their comparisons and the scenario's
// targets. Returns whether all was well.
bool runLoads(const game501::load::Options& options) {
    const game501::load::Script script = game501::load::buildScript();
    game501::load::printScript(script);
    const std::vector<game501::load::ServerProgram> programs = probePrograms(options);
    const std::vector<game501::load::RunKind> kinds = game501::load::runKinds(options);
    const int runs = options.runs * static_cast<int>(kinds.size());
    std::vector<game501::load::RunFigures> figures;
    for (int run = 0; run < runs; ++run) {
        const game501::load::RunKind& kind = kinds[static_cast<std::size_t>(run) % kinds.size()];
        game501::load::printRunStart(run + 1, runs, game501::load::kindName(kind, options));
        figures.push_back(
            game501::load::runOnce(options, script, kind, programs[kind.other_server ? 1 : 0]));
        game501::load::printFigures(options, figures.back());
    }
    if (figures.size() > 1 || options.scenario != nullptr) {
        std::vector<game501::load::RunFigures> medians;
        for (const game501::load::RunKind& kind : kinds) {
            std::vector<game501::load::RunFigures> of_kind;
            std::copy_if(figures.begin(), figures.end(), std::back_inserter(of_kind),
                         [&kind](const game501::load::RunFigures& f) {
                             return game501::load::sameKind(f.kind, kind);
                         });
            medians.push_back(game501::load::medianFigures(of_kind));
            std::cout << "median of " << of_kind.size() << " runs, "
                      << game501::load::kindName(kind, options) << "\n";
            game501::load::printFigures(options, medians.back());
        }
        game501::load::printComparisons(options, medians);
        if (options.scenario != nullptr && options.scenario->targets != nullptr) {
            options.scenario->targets(options, figures, medians);
        }
    }
    return allWell(options, figures);
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<game501::load::Options> options;
    try {
        options = game501::load::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (!options) {
            std::cout << game501::load::usage();
            return 0;
        }
        if (access(options->server.c_str(), X_OK) != 0) {
            throw game501::load::UsageError{"cannot run the server " + options->server +
                                            " (see --server)"};
        }
        if (!options->compare_server.empty() &&
            access(options->compare_server.c_str(), X_OK) != 0) {
            throw game501::load::UsageError{"cannot run the server " + options->compare_server +
                                            " (see --compare-server)"};
        }
    } catch (const game501::load::UsageError& error) {
        std::cerr << "game501_server_load: " << error.message
                  << "\nRun \"game501_server_load --help\" for help.\n";
        return 2;
    }
    raiseDescriptorLimit();
    game501::load::printHeading(argc, argv, *options);

    bool ok = false;
    try {
        const game501::load::Runner runner =
            options->scenario != nullptr ? options->scenario->runner : nullptr;
        ok = runner != nullptr ? runner(*options) : runLoads(*options);
    } catch (const std::exception& error) {
        std::cerr << "game501_server_load: " << error.what() << "\n";
        return 1;
    }
    if (!ok) {
        std::cerr << "game501_server_load: the run had errors (see above)\n";
    }
    return ok ? 0 : 1;
}
