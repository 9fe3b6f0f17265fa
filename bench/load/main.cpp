// Load generator for game-501-server. It starts the server on loopback, puts
// viewers on the boards' event streams and scorers that play real games,
// and reports accepted darts per second, answer and delivery latencies,
// lost events and the server's memory, beside the same darts played in
// process. Every run is bounded in time and stops the server it started.
//
// Exit status: 0 all well, 1 errors, 2 bad usage, 3 a run passed its hard
// time limit.
#include <sys/resource.h>
#include <unistd.h>

#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "figures.h"
#include "options.h"
#include "report.h"
#include "run_once.h"
#include "scenarios.h"
#include "script.h"

namespace {

void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// A smoke run is small enough that any lost event is the generator's or the
// server's fault, never the machine's.
bool allWell(const load::Options& options, const std::vector<load::RunFigures>& runs) {
    bool ok = true;
    for (const load::RunFigures& run : runs) {
        ok = ok && run.errors == 0 && run.server_clean && run.viewers_all_ready && run.darts > 0;
        ok = ok && (!options.smoke ||
                    (run.events_lost == 0 && (options.viewers == 0 || run.events_held > 0)));
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<load::Options> options;
    try {
        options = load::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (!options) {
            std::cout << load::usage();
            return 0;
        }
        if (access(options->server.c_str(), X_OK) != 0) {
            throw load::UsageError{"cannot run the server " + options->server + " (see --server)"};
        }
    } catch (const load::UsageError& error) {
        std::cerr << "game501_server_load: " << error.message
                  << "\nRun \"game501_server_load --help\" for help.\n";
        return 2;
    }
    raiseDescriptorLimit();
    load::printHeading(argc, argv, *options);

    std::vector<load::RunFigures> runs;
    try {
        const load::Script script = load::buildScript();
        load::printScript(script);
        for (int run = 1; run <= options->runs; ++run) {
            load::printRunStart(run, *options);
            runs.push_back(load::runOnce(*options, script));
            load::printFigures(*options, runs.back());
        }
    } catch (const std::exception& error) {
        std::cerr << "game501_server_load: " << error.what() << "\n";
        return 1;
    }
    if (runs.size() > 1 || options->scenario != nullptr) {
        const load::RunFigures medians = load::medianFigures(runs);
        std::cout << "median of " << runs.size() << " runs\n";
        load::printFigures(*options, medians);
        if (options->scenario != nullptr && options->scenario->targets != nullptr) {
            options->scenario->targets(*options, runs, medians);
        }
    }

    const bool ok = allWell(*options, runs);
    if (!ok) {
        std::cerr << "game501_server_load: the run had errors (see above)\n";
    }
    return ok ? 0 : 1;
}
