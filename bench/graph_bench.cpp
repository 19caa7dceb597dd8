// DrawGraph at the sizes a full-screen window reaches, with the largest table a board
// holds (255 entries). While a point is dragged the graph is redrawn every 25 ms.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cmath>
#include <vector>

#include "schedule/render/graph_picture.h"

namespace {

using namespace quelvan;

// 255 time points spread over the day. Smooth: each channel rises and falls once a day,
// shifted by channel, as a day program does. Jagged: every entry jumps by 7 % of the
// height (wrapping), far steeper than any day program, to see the cost of long edges.
enum class Shape { Smooth, Jagged };

std::vector<ScheduleEntry> FullTable(Shape shape) {
    std::vector<ScheduleEntry> table(255);
    for (std::size_t j = 0; j < table.size(); ++j) {
        const int minutes = static_cast<int>(j) * 1440 / 254;
        table[j].Hour = static_cast<std::int8_t>(minutes / 60);
        table[j].Minute = static_cast<std::int8_t>(minutes % 60);
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            const double phase = (minutes - 720.0 - 30.0 * static_cast<double>(c)) / 1440.0 * 2 * 3.14159265358979;
            table[j].Color[c] = shape == Shape::Smooth
                                    ? static_cast<std::uint8_t>(std::lround(50.0 + 50.0 * std::cos(phase)))
                                    : static_cast<std::uint8_t>((j * 7 + c * 13) % 101);
        }
    }
    return table;
}

void DrawFullTable(benchmark::State& state, Shape shape) {
    const std::vector<ScheduleEntry> table = FullTable(shape);
    GraphInput in;
    in.table = table;
    in.clockHour = 14;
    in.clockMinute = 35;
    in.colorNames = {1, 7, 8, 11, 4, 2, 3, 5, 6, 9, 10, 0};
    in.channel = 3;
    in.width = static_cast<int>(state.range(0));
    in.height = static_cast<int>(state.range(1));
    in.font = DefaultGraphFont();
    std::vector<GraphPoint> points;
    // As the window does: each picture drawn into the memory of the one before.
    QImage image;
    for (auto _ : state) {
        image = DrawGraph(in, points, std::move(image));
        benchmark::DoNotOptimize(image.constBits());
    }
}
void BM_DrawGraph(benchmark::State& state) {
    DrawFullTable(state, Shape::Smooth);
}
void BM_DrawGraphJagged(benchmark::State& state) {
    DrawFullTable(state, Shape::Jagged);
}
BENCHMARK(BM_DrawGraph)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawGraphJagged)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

}  // namespace
