#include "in_process.h"

#include <sched.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "game_501.h"
#include "measurements.h"

namespace game501::load {
namespace {

// Plays the script like a scorer does; `start` starts a match on `engine`.
template <typename Engine, typename Start>
double dartsPerSecond(const Script& script, double seconds, Engine& engine, Start start) {
    const auto budget = std::chrono::duration_cast<Clock::duration>(Seconds(seconds));
    const Clock::time_point stop = Clock::now() + budget;
    Clock::duration spent{};
    std::uint64_t accepted = 0;
    ScriptPlay play(script, 0);
    while (Clock::now() < stop) {
        if (play.next() == Step::start) {
            play.onAnswer(start(engine).dump());
        } else if (play.next() == Step::clear) {
            play.onAnswer(engine.markBoardClear().dump());
        } else {
            const ScriptDart& next = play.dart();
            const Clock::time_point before = Clock::now();
            const std::string answer = engine.addDart(next.notation, kSource).dump();
            spent += Clock::now() - before;
            const Reading reading = readAnswer(answer, play.needsStatus()).value_or(Reading{});
            accepted += reading.accepted ? 1 : 0;
            play.onAnswer(reading);
        }
    }
    const double timed = Seconds(spent).count();
    return timed > 0 ? static_cast<double>(accepted) / timed : 0;
}

double inProcessDartsPerSecond(const Script& script, const Match501::Format& format,
                               double seconds) {
    if (isSingleGame(format)) {
        Game501 game;
        return dartsPerSecond(script, seconds, game,
                              [](Game501& engine) { return engine.start(kPlayers); });
    }
    Match501 match;
    return dartsPerSecond(script, seconds, match,
                          [&format](Match501& engine) { return engine.start(kPlayers, format); });
}

}  // namespace

// Virtual CPUs can differ in speed, and the engine's figure should not
// depend on where the scheduler put it. The affinity is restored after.
std::vector<std::pair<int, double>> inProcessByCpu(const Script& script,
                                                   const Match501::Format& format, double seconds) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        return {{-1, inProcessDartsPerSecond(script, format, seconds)}};
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
        figures.emplace_back(cpu, inProcessDartsPerSecond(script, format, seconds / count));
    }
    sched_setaffinity(0, sizeof allowed, &allowed);
    return figures;
}

}  // namespace game501::load
