// One day's program from the sun: the day at the place (sunrise, sunset, noon, the moon),
// the curve sampled every half minute, and its fit to 24 rows with the largest difference.
#include <benchmark/benchmark.h>

#include "sun/daylight.h"

namespace {

using namespace quelvan::sun;

void GenerateAndFitOneDay(benchmark::State& state) {
    const Place berlin{"Europe/Berlin", "DE", 52.5, 13.37};
    double error = 0;
    for (auto _ : state) {
        const SunDay day(berlin, berlin.zone, {2026, 6, 21});
        DaylightOptions options;
        options.siesta = ParseSiesta("12:30-14:00=60");
        const DaylightCurve curve(day, options);
        const FittedProgram program = FitProgram(curve, static_cast<int>(state.range(0)));
        error = program.maxError;
        benchmark::DoNotOptimize(program.rows.data());
    }
    state.counters["max_error"] = error;
}
BENCHMARK(GenerateAndFitOneDay)->Arg(24)->Arg(64)->Unit(benchmark::kMillisecond);

// The sun's day alone, without the curve.
void SunDayAlone(benchmark::State& state) {
    const Place manaus{"America/Manaus", "BR", -3.13, -60.02};
    for (auto _ : state) {
        const SunDay day(manaus, manaus.zone, {2026, 3, 20});
        benchmark::DoNotOptimize(day.SolarNoon());
    }
}
BENCHMARK(SunDayAlone)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
