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

#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "measurements.h"
#include "options.h"
#include "runs.h"
#include "scenarios.h"

namespace {

void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
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
        ok = runner != nullptr ? runner(*options) : game501::load::runLoads(*options);
    } catch (const std::exception& error) {
        std::cerr << "game501_server_load: " << error.what() << "\n";
        return 1;
    }
    if (!ok) {
        std::cerr << "game501_server_load: the run had errors (see above)\n";
    }
    return ok ? 0 : 1;
}
