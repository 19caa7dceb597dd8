// Flashing a 30 KiB image (240 blocks of 128 bytes) through the simulated bootloader on a
// link that spends a fixed time on every report, as a low-speed USB device does on each
// control transfer. The transfers alone take at least blocks × latency; what the tool adds
// on top is its own cost.
//
// Latency of a low-speed control transfer: a low-speed device moves 8 bytes per transaction,
// so a block report (132 bytes) is a setup stage, 17 data packets and a status stage. At best
// they all go out within two 1 ms frames (about 2 ms); a device behind a hub's transaction
// translator gets about one packet per frame (about 19 ms). Both ends are measured.
//
//   BM_FlashCore     the flashing procedure as quelvanctl runs it (log lines collected)
//   BM_FlashWindow   the window's update, from the file's choice at the bootloader's arrival
//                    to its end: the blocks written with the log and the progress display
//
// Counters: min_ms = blocks × latency; over_min = how far the measured time lies above it.
// The information get and the restart are two more transfers (0.8 % of 240 blocks).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <memory>

#include "device/board_protocol.h"
#include "device/bootloader_protocol.h"
#include "device/hid_device_controller.h"
#include "device/identification.h"
#include "files/firmware_flasher.h"
#include "simulator/simulated_backend.h"
#include "window/dialog_service.h"
#include "window/main_window.h"

namespace {

using namespace quelvan;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t kImageBytes = 30 * 1024;
constexpr int kBlocks = kImageBytes / 128;

// A firmware file: start and end address, the bytes, and the checksum over all of them.
std::vector<std::uint8_t> FirmwareFile() {
    std::vector<std::uint8_t> bytes;
    std::uint32_t sum = 0;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const std::int32_t end = kImageBytes - 1;
    put32(0);
    put32(static_cast<std::uint32_t>(end));
    sum += static_cast<std::uint32_t>(end);
    for (std::int32_t a = 0; a <= end; ++a) {
        const auto b = static_cast<std::uint8_t>(a * 7 + 3);
        bytes.push_back(b);
        sum += b;
    }
    put32(sum);
    return bytes;
}

void Finish(benchmark::State& state, double measuredMs, std::int64_t latencyUs, int flashes) {
    const double minimum = kBlocks * static_cast<double>(latencyUs) / 1000.0;
    const double mean = measuredMs / flashes;
    state.counters["min_ms"] = minimum;
    state.counters["over_min_pct"] = (mean - minimum) / minimum * 100.0;
}

// The board restarted into its bootloader and held, as quelvanctl flash holds it.
class CoreRig {
public:
    CoreRig() : backend_({}, &clock_), controller_(backend_), protocol_(clock_) {
        backend_.Board().SetFrozen(true);
        controller_.OnDeviceChange = [this] { controller_.EnumerateDevices(); };
        controller_.ProcessNotifications();
    }

    bool EnterBootloader() {
        HidDevice* board = Acquire(kBoardProduct);
        if (!board) return false;
        protocol_.SetDevice(board);
        protocol_.EnterBootloader();
        protocol_.SetDevice(nullptr);
        controller_.ReleaseDevice(board);
        controller_.ProcessNotifications();
        HidDevice* loader = Acquire(kBootloader2Product);
        bootloader_.SetDevice(loader);
        return loader != nullptr;
    }

    files::FlashResult Flash(const std::vector<std::uint8_t>& file) {
        files::FlashSeams seams;
        seams.LogMessage = [this](const std::string& line) { log_.push_back(line); };
        seams.ReportStatus = [this](const std::string& line) { log_.push_back(line); };
        seams.Progress = [this](int done, int) { done_ = done; };
        const files::FlashResult result = files::FlashFirmware(
            bootloader_,
            [&](files::FlashImage& image, std::int32_t& start, std::int32_t& end, const files::StatusSink& report) {
                return files::ReadFirmwareData(file, image, start, end, report);
            },
            seams);
        // The bootloader restarts the application: the board is back for the next round.
        HidDevice* loader = bootloader_.Device();
        bootloader_.SetDevice(nullptr);
        controller_.ProcessNotifications();
        if (loader) controller_.ReleaseDevice(loader);
        log_.clear();
        return result;
    }

    sim::SimulatedHidBackend& Backend() { return backend_; }

private:
    HidDevice* Acquire(std::u16string_view product) {
        HidDevice* held = nullptr;
        controller_.OnEnumerate = [&](HidDevice& device, int index) {
            if (!held && device.ProductString() == product) held = controller_.AcquireDevice(index);
            return true;
        };
        controller_.EnumerateDevices();
        controller_.OnEnumerate = nullptr;
        return held;
    }

    ManualClock clock_{LocalDateTime{2026, 3, 14, 9, 0, 0, 0}};
    sim::SimulatedHidBackend backend_;
    HidDeviceController controller_;
    BoardProtocol protocol_;
    BootloaderProtocol bootloader_;
    std::vector<std::string> log_;
    int done_ = 0;
};

void BM_FlashCore(benchmark::State& state) {
    const auto latency = std::chrono::microseconds(state.range(0));
    const std::vector<std::uint8_t> file = FirmwareFile();
    CoreRig rig;
    double totalMs = 0;
    int flashes = 0;
    for (auto _ : state) {
        rig.Backend().SetLatency(std::chrono::microseconds(0));
        if (!rig.EnterBootloader()) {
            state.SkipWithError("no bootloader");
            break;
        }
        rig.Backend().SetLatency(latency);
        const auto start = Clock::now();
        const files::FlashResult result = rig.Flash(file);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!result.Succeeded() || result.blockCount != kBlocks) {
            state.SkipWithError("the flash did not succeed");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
        totalMs += ms;
        ++flashes;
    }
    if (flashes > 0) Finish(state, totalMs, state.range(0), flashes);
}

// The window's dialogs: the file is the one prepared, the progress display is Qt's own.
class BenchDialogs final : public DialogService {
public:
    explicit BenchDialogs(QString file) : file_(std::move(file)) {}
    std::unique_ptr<ProgressReporter> StartProgress(QWidget* parent, const QString& title,
                                                    const QString& label) override {
        return real_.StartProgress(parent, title, label);
    }
    std::optional<QString> GetOpenFileName(QWidget*, const QString&, const QString&, const QString&,
                                           const QString&) override {
        chosen = Clock::now();
        return file_;
    }
    std::optional<QString> GetSaveFileName(QWidget*, const QString&, const QString&, const QString&,
                                           const QString&) override {
        return std::nullopt;
    }
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }

    Clock::time_point chosen;  // when the file was taken: the update starts

private:
    QString file_;
    QtDialogService real_;
};

void BM_FlashWindow(benchmark::State& state) {
    const auto latency = std::chrono::microseconds(state.range(0));
    QTemporaryDir dir;
    const QString path = dir.filePath("firmware.vbf328p");
    {
        const std::vector<std::uint8_t> file = FirmwareFile();
        std::ofstream out(path.toStdString(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    ManualClock clock(LocalDateTime{2026, 3, 14, 9, 0, 0, 0});
    sim::SimulatedHidBackend backend({}, &clock);
    backend.Board().SetFrozen(true);
    BenchDialogs dialogs(path);
    MainWindowOptions options;
    options.ppi = 96;
    options.sleep = [](std::chrono::milliseconds) {};
    TfrmQuelvan window(backend, clock, dialogs, options);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    window.HidCtl().ProcessNotifications();
    window.StatusTimer().stop();

    double totalMs = 0;
    int flashes = 0;
    for (auto _ : state) {
        backend.SetLatency(std::chrono::microseconds(0));
        if (!window.BoardDevice()) {
            state.SkipWithError("the board is not connected");
            break;
        }
        const int blocksBefore = backend.Board().BlocksWritten();
        window.Board().EnterBootloader();
        backend.SetLatency(latency);
        // The bootloader's arrival: discovery takes the file and writes it, as in the program.
        window.HidCtl().ProcessNotifications();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - dialogs.chosen).count();
        backend.SetLatency(std::chrono::microseconds(0));
        if (backend.Board().BlocksWritten() - blocksBefore != kBlocks) {
            state.SkipWithError("the flash did not write every block");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
        totalMs += ms;
        ++flashes;
        // The rescan after the update brings the board back.
        QCoreApplication::processEvents();
        window.HidCtl().ProcessNotifications();
        window.StatusTimer().stop();
    }
    if (flashes > 0) Finish(state, totalMs, state.range(0), flashes);
}

BENCHMARK(BM_FlashCore)->Arg(2000)->Arg(19000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlashWindow)->Arg(2000)->Arg(19000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
