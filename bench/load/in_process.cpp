#include "in_process.h"

#include <sched.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "game_501.h"
#include "units.h"

namespace load {
namespace {

// Plays the script like a scorer does.
double inProcessDartsPerSecond(const Script& script, double seconds) {
    Game501 game;
    const auto budget = std::chrono::duration_cast<Clock::duration>(Seconds(seconds));
    const Clock::time_point stop = Clock::now() + budget;
    Clock::duration spent{};
    std::uint64_t accepted = 0;
    std::size_t game_index = 0;
    std::size_t dart = 0;
    Step step = Step::start;
    while (Clock::now() < stop) {
        if (step == Step::start) {
            dart = 0;
            step = nextStep(game.start(kPlayers).dump());
        } else if (step == Step::clear) {
            step = nextStep(game.markBoardClear().dump());
        } else {
            const ScriptDart& next = script.games[game_index][dart++];
            const Clock::time_point before = Clock::now();
            const std::string answer = game.addDart(next.notation, kSource).dump();
            spent += Clock::now() - before;
            accepted += startsWith(answer, kAccepted) ? 1 : 0;
            step = nextStep(answer);
            if (step == Step::start) {
                game_index = (game_index + 1) % script.games.size();
            }
        }
    }
    const double timed = Seconds(spent).count();
    return timed > 0 ? static_cast<double>(accepted) / timed : 0;
}

}  // namespace

// Virtual CPUs can differ in speed, and the engine's figure should not
// depend on where the scheduler put it. The affinity is restored after.
std::vector<std::pair<int, double>> inProcessByCpu(const Script& script, double seconds) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        return {{-1, inProcessDartsPerSecond(script, seconds)}};
    }
    const int count = CPU_COUNT(&allowed);
    std::vector<std::pair<int, double>> figures;
    for (int cpu = 0; cpu < CPU_SETSIZE && static_cast<int>(figures.size()) < count; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) {
            continue;
        }
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0) {
            continue;
        }
        figures.emplace_back(cpu, inProcessDartsPerSecond(script, seconds / count));
    }
    sched_setaffinity(0, sizeof allowed, &allowed);
    return figures;
}

}  // namespace load
