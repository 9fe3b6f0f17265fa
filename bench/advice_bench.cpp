// Benchmarks of the checkout advice: building the tables for a sigma never
// asked for before, and one advice from tables already built. Linked into
// game501_bench when the benchmark is built with the project.
#include <benchmark/benchmark.h>

#include "checkout_hint.h"

namespace game501 {
namespace {

// Each iteration asks for a sigma never asked before, a few nanometres above
// the argument in millimetres, so every call builds new tables (and drops
// the oldest cached ones). Small sigmas cut the beds near the aim finest.
void BM_AdviceTablesForNewSigma(benchmark::State& state) {
    static double offset_mm = 0.0;
    for (auto _ : state) {
        offset_mm += 1e-9;
        benchmark::DoNotOptimize(
            checkoutAdvice(100, 3, static_cast<double>(state.range(0)) + offset_mm));
    }
}
BENCHMARK(BM_AdviceTablesForNewSigma)->Arg(5)->Arg(19)->Arg(100)->Unit(benchmark::kMillisecond);

// One advice with three darts, over the scores 2 to 170 in turn, the route
// and its strings included.
void BM_CheckoutAdviceWarm(benchmark::State& state) {
    const double sigma_mm = findSkillLevel("club")->sigma_mm;
    benchmark::DoNotOptimize(checkoutAdvice(2, 3, sigma_mm));
    int score = 2;
    for (auto _ : state) {
        benchmark::DoNotOptimize(checkoutAdvice(score, 3, sigma_mm));
        score = score == 170 ? 2 : score + 1;
    }
}
BENCHMARK(BM_CheckoutAdviceWarm);

}  // namespace
}  // namespace game501
