// Benchmarks of the engine at its worst case: 8 players with 32-byte names,
// 100 turns of history, 100 undo points, a 14-byte source label and a board
// clear after every third dart. Also counts the heap bytes one engine holds.
//
// The darts of the steady state are zero-point darts in three spellings, so a
// game never ends, every turn has three darts and the state stays at its
// largest however many darts a run throws.
//
// Every operation measured goes through one small function that is never
// inlined (acceptDart, readState ...), so an instruction profile can charge
// each call, the destruction of its document included, to that function.
//
// Where the engine has matches, the same worst case is also played as a leg
// of a match, so that the cost of a dart through Match501 reads directly
// against the cost through Game501 alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "game_501.h"
// Older engines, which bench/compare.sh measures too, have no matches.
#if __has_include("match_501.h")
#include "match_501.h"
#define GAME501_BENCH_MATCH 1
#endif

// Heap accounting: every block carries its requested size in a header, so the
// bytes held can be counted exactly whatever the allocator rounds up to. The
// benchmarks run on one thread, so plain counters are enough.
namespace {

constexpr std::size_t kHeader = alignof(std::max_align_t);
std::size_t heap_bytes_held = 0;

void* countedAllocate(std::size_t size) noexcept {
    void* const block = std::malloc(size + kHeader);
    if (block == nullptr) {
        return nullptr;
    }
    *static_cast<std::size_t*>(block) = size;
    heap_bytes_held += size;
    return static_cast<char*>(block) + kHeader;
}

void countedRelease(void* pointer) noexcept {
    if (pointer == nullptr) {
        return;
    }
    void* const block = static_cast<char*>(pointer) - kHeader;
    heap_bytes_held -= *static_cast<std::size_t*>(block);
    std::free(block);
}

void* countedAllocateOrThrow(std::size_t size) {
    void* const pointer = countedAllocate(size);
    if (pointer == nullptr) {
        throw std::bad_alloc();
    }
    return pointer;
}

}  // namespace

void* operator new(std::size_t size) { return countedAllocateOrThrow(size); }
void* operator new[](std::size_t size) { return countedAllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocate(size);
}
void operator delete(void* pointer) noexcept { countedRelease(pointer); }
void operator delete[](void* pointer) noexcept { countedRelease(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { countedRelease(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { countedRelease(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { countedRelease(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { countedRelease(pointer); }

namespace game501 {

namespace {

constexpr std::size_t kPlayers = 8;
constexpr std::size_t kNameBytes = 32;
constexpr int kDartsPerTurn = 3;
// 100 turns fill the history; 35 more make every one of the 100 undo points a
// snapshot of a full history.
constexpr int kWorstCaseTurns = 135;
constexpr int kMemoryRunDarts = 100000;
const std::string kSource = "keyboard-input";  // 14 bytes
const std::vector<std::string> kZeroDarts = {"MISS", "m", " 0 "};
// Valid and invalid notations, in several spellings and lengths.
// clang-format off
const std::vector<std::string> kNotationMix = {
    "T20", "d16", " bull ", "OUTER", "7", "MISS", "S19", "0", "25",
    "T21", "D0", "X5", "", "   ", "T", "S1a", "000000000000000020", "99999999999"};
// clang-format on

std::vector<std::string> longNames() {
    std::vector<std::string> names;
    for (std::size_t index = 0; index < kPlayers; ++index) {
        std::string name = "Spelare " + std::to_string(index + 1) + " ";
        name.resize(kNameBytes, 'x');
        names.push_back(name);
    }
    return names;
}

// Plays an engine (a game, or a match whose leg is that game) to the worst
// case and leaves two darts in the turn in progress, the largest current
// turn there is.
template <typename Engine = Game501>
struct WorstCase {
    std::unique_ptr<Engine> game = std::make_unique<Engine>();
    int darts_in_turn = 0;
    std::size_t next_dart = 0;

    WorstCase() {
        game->start(longNames());
        for (int dart = 0; dart < kWorstCaseTurns * kDartsPerTurn + 2; ++dart) {
            throwNext();
        }
    }

    const std::string& nextNotation() {
        const std::string& notation = kZeroDarts[next_dart];
        next_dart = (next_dart + 1) % kZeroDarts.size();
        return notation;
    }

    // Throws one dart and, after the third of a turn, clears the board.
    void throwNext() {
        game->addDart(nextNotation(), kSource);
        if (++darts_in_turn == kDartsPerTurn) {
            game->markBoardClear();
            darts_in_turn = 0;
        }
    }
};

[[gnu::noinline]] void acceptDart(Game501& game, const std::string& notation) {
    benchmark::DoNotOptimize(game.addDart(notation, kSource));
}

[[gnu::noinline]] void clearBoard(Game501& game) {
    benchmark::DoNotOptimize(game.markBoardClear());
}

#ifdef GAME501_BENCH_MATCH
[[gnu::noinline]] void acceptDart(Match501& match, const std::string& notation) {
    benchmark::DoNotOptimize(match.addDart(notation, kSource));
}

[[gnu::noinline]] void clearBoard(Match501& match) {
    benchmark::DoNotOptimize(match.markBoardClear());
}
#endif

[[gnu::noinline]] void readState(const Game501& game) { benchmark::DoNotOptimize(game.state()); }

[[gnu::noinline]] void undoLastDart(Game501& game) { benchmark::DoNotOptimize(game.undo()); }

[[gnu::noinline]] void parseNotation(const std::string& notation) {
    benchmark::DoNotOptimize(Game501::parseDart(notation));
}

[[gnu::noinline]] void startGame(Game501& game, const std::vector<std::string>& names) {
    benchmark::DoNotOptimize(game.start(names));
}

// One accepted dart with its response; the board clear after every third
// dart is left out of the time.
template <typename Engine>
void addDartAtWorstCase(benchmark::State& state) {
    WorstCase<Engine> worst;
    for (auto _ : state) {
        acceptDart(*worst.game, worst.nextNotation());
        if (++worst.darts_in_turn == kDartsPerTurn) {
            state.PauseTiming();
            clearBoard(*worst.game);
            worst.darts_in_turn = 0;
            state.ResumeTiming();
        }
    }
}

void BM_AddDart(benchmark::State& state) { addDartAtWorstCase<Game501>(state); }
BENCHMARK(BM_AddDart)->Unit(benchmark::kMicrosecond);

#ifdef GAME501_BENCH_MATCH
// The same dart through a match: the leg's engine's work and the record's.
void BM_MatchAddDart(benchmark::State& state) { addDartAtWorstCase<Match501>(state); }
BENCHMARK(BM_MatchAddDart)->Unit(benchmark::kMicrosecond);

[[gnu::noinline]] void readMatch(const Match501& match) { benchmark::DoNotOptimize(match.match()); }

// The match document of that leg: the state document and the score.
void BM_MatchDocument(benchmark::State& state) {
    const WorstCase<Match501> worst;
    for (auto _ : state) {
        readMatch(*worst.game);
    }
}
BENCHMARK(BM_MatchDocument)->Unit(benchmark::kMicrosecond);
#endif

void BM_State(benchmark::State& state) {
    const WorstCase<> worst;
    for (auto _ : state) {
        readState(*worst.game);
    }
}
BENCHMARK(BM_State)->Unit(benchmark::kMicrosecond);

// Takes back the newest dart and throws it again, so the state stays put.
void BM_UndoThenAddDart(benchmark::State& state) {
    WorstCase<> worst;
    const std::string& notation = kZeroDarts.front();
    for (auto _ : state) {
        undoLastDart(*worst.game);
        acceptDart(*worst.game, notation);
    }
}
BENCHMARK(BM_UndoThenAddDart)->Unit(benchmark::kMicrosecond);

void BM_ParseDart(benchmark::State& state) {
    std::size_t next = 0;
    for (auto _ : state) {
        parseNotation(kNotationMix[next]);
        next = next + 1 == kNotationMix.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseDart);

void BM_StartEightPlayers(benchmark::State& state) {
    const std::vector<std::string> names = longNames();
    Game501 game;
    for (auto _ : state) {
        startGame(game, names);
    }
}
BENCHMARK(BM_StartEightPlayers)->Unit(benchmark::kMicrosecond);

// Heap bytes held by one engine, returned documents all destroyed: at the
// worst case, after 100,000 more darts, and the most held between any two of
// those darts. Runs once; its time says nothing.
void BM_EngineMemory(benchmark::State& state) {
    for (auto _ : state) {
        const std::size_t before = heap_bytes_held;
        WorstCase<> worst;
        const std::size_t worst_case = heap_bytes_held - before;
        std::size_t peak = worst_case;
        for (int dart = 0; dart < kMemoryRunDarts; ++dart) {
            worst.throwNext();
            peak = std::max(peak, heap_bytes_held - before);
        }
        state.counters["bytes_worst_case"] = static_cast<double>(worst_case);
        state.counters["bytes_after_100k_darts"] = static_cast<double>(heap_bytes_held - before);
        state.counters["bytes_peak_100k_darts"] = static_cast<double>(peak);
    }
}
BENCHMARK(BM_EngineMemory)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace game501

BENCHMARK_MAIN();
