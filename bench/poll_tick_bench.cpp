// One status-poll tick of the real window on the simulated board with a link of no latency:
// what the tool itself spends of the 500 ms period. The window is 1920 × 1080 with the page
// "Grafik" showing and the board holds 255 time points, so the graph redrawn on every tick
// is as large as it gets. The board runs (not frozen) on a clock that the benchmark moves
// 500 ms per tick, so that its channels, clock and weather change as on a real board.
//
//   BM_PollTick          tmrQuelvanTimer alone: the reads, the controls, the graph
//   BM_PollTickPainted   the same and the repaint it causes (the event loop's paint events)
//   BM_BoardReads        only the five reads on the simulated board: its share of the above

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <memory>

#include "device/board_protocol.h"
#include "device/clock.h"
#include "simulator/simulated_backend.h"
#include "window/dialog_service.h"
#include "window/graph_image.h"
#include "window/main_window.h"

namespace {

using namespace quelvan;

// 255 time points over the day; every channel rises and falls once, shifted by channel.
std::vector<ScheduleEntry> FullDay() {
    std::vector<ScheduleEntry> table(255);
    for (std::size_t j = 0; j < table.size(); ++j) {
        const int minutes = static_cast<int>(j) * 1439 / 254;
        table[j].Hour = static_cast<std::int8_t>(minutes / 60);
        table[j].Minute = static_cast<std::int8_t>(minutes % 60);
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            const double phase = (minutes - 720.0 - 30.0 * static_cast<double>(c)) / 1440.0 * 2 * 3.14159265358979;
            table[j].Color[c] = static_cast<std::uint8_t>(std::lround(50.0 + 50.0 * std::cos(phase)));
        }
    }
    return table;
}

class Rig {
    static constexpr std::int64_t kStartMs = (14 * 3600 + 35 * 60) * 1000LL;

public:
    Rig(int width, int height)
        : clock_(LocalDateTime{2024, 5, 17, 14, 35, 0, 0}), backend_({}, &clock_, [this] { return nowMs_; }) {
        backend_.Board().Schedule() = FullDay();
        MainWindowOptions options;
        options.ppi = 96;
        window_ = std::make_unique<TfrmQuelvan>(backend_, clock_, dialogs_, options);
        window_->resize(width, height);
        window_->show();
        window_->activateWindow();
        (void)QTest::qWaitForWindowExposed(window_.get());
        window_->HidCtl().ProcessNotifications();
        // The benchmark runs the ticks; the window's own timers must not add any.
        window_->StatusTimer().stop();
        window_->PageControl().setCurrentWidget(window_->findChild<QWidget*>("tsVisualize"));
        QCoreApplication::processEvents();
    }

    // The computer's clock and the board's time move on by one period, then the tick.
    void Tick() {
        nowMs_ += 500;
        const std::int64_t ms = (kStartMs + nowMs_) % (24 * 3600 * 1000);
        clock_.SetTimeOfDay(static_cast<int>(ms / 3'600'000), static_cast<int>(ms / 60'000 % 60),
                            static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
        window_->tmrQuelvanTimer();
    }

    bool Connected() const { return window_->BoardDevice() != nullptr; }
    QSize GraphSize() const { return window_->findChild<GraphImage*>("img")->size(); }
    BoardProtocol& Board() { return window_->Board(); }

private:
    ManualClock clock_;
    std::int64_t nowMs_ = 0;
    sim::SimulatedHidBackend backend_;
    ScriptedDialogService dialogs_;
    std::unique_ptr<TfrmQuelvan> window_;
};

void Describe(benchmark::State& state, const Rig& rig) {
    state.counters["graph_w"] = rig.GraphSize().width();
    state.counters["graph_h"] = rig.GraphSize().height();
}

void BM_PollTick(benchmark::State& state) {
    Rig rig(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!rig.Connected()) state.SkipWithError("the board did not connect");
    for (auto _ : state) rig.Tick();
    Describe(state, rig);
}

void BM_PollTickPainted(benchmark::State& state) {
    Rig rig(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!rig.Connected()) state.SkipWithError("the board did not connect");
    for (auto _ : state) {
        rig.Tick();
        QCoreApplication::processEvents();
    }
    Describe(state, rig);
}

void BM_BoardReads(benchmark::State& state) {
    Rig rig(682, 560);
    if (!rig.Connected()) state.SkipWithError("the board did not connect");
    for (auto _ : state) {
        rig.Board().ReadLiveState();
        rig.Board().ReadDeviceConfig();
    }
}

BENCHMARK(BM_PollTick)->Args({1920, 1080})->Args({682, 560})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollTickPainted)->Args({1920, 1080})->Args({682, 560})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoardReads)->Unit(benchmark::kMicrosecond);

}  // namespace
