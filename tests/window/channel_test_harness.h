#pragma once
// A simulated board behind the channel pages and the clock controls, as the main window
// connects them: the board acquired by the controller, its records read, and the
// controls shown in a window that is active so that keyboard focus works.

#include <QMainWindow>
#include <QTabWidget>
#include <QTest>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/board_protocol.h"
#include "device/clock.h"
#include "device/hid_device_controller.h"
#include "device/identification.h"
#include "simulator/simulated_backend.h"
#include "window/channel_control.h"

namespace quelvan::test {

using Bytes = std::vector<std::uint8_t>;

// Signed 16-bit channel value n of a report-1 buffer.
inline int ChannelIn(const Bytes& buffer, int channel) {
    const std::size_t at = 13 + 2 * static_cast<std::size_t>(channel);
    return static_cast<std::int16_t>(buffer[at] | (buffer[at + 1] << 8));
}

class ChannelHarness {
public:
    // `prepare` sets up the board before the window connects to it.
    template <typename Prepare>
    explicit ChannelHarness(Prepare prepare)
        : clock(LocalDateTime{2024, 5, 17, 12, 34, 56, 500}), backend(sim::BoardSettings{}, &clock) {
        backend.Board().SetFrozen(true);
        backend.RecordTransfers();
        prepare(backend.Board());
        controller = std::make_unique<HidDeviceController>(backend);
        controller->OnEnumerate = [this](HidDevice& device, int index) {
            if (IdentifyDevice(device.ManufacturerString(), device.ProductString()) == DeviceRole::Board)
                if (HidDevice* held = controller->AcquireDevice(index)) board.SetDevice(held);
            return true;
        };
        controller->OnDeviceChange = [this] { controller->EnumerateDevices(); };
        controller->ProcessNotifications();
        connected = board.Device() != nullptr;
        board.ReadLiveState();
        board.ReadDeviceConfig();

        pc = new QTabWidget(&window);
        channelsAF = new QWidget;
        channelsGL = new QWidget;
        config = new QWidget;
        other = new QWidget;
        pc->addTab(channelsAF, QStringLiteral("Kanäle A-F"));
        pc->addTab(channelsGL, QStringLiteral("Kanäle G-L"));
        pc->addTab(config, QStringLiteral("Konfiguration"));
        pc->addTab(other, QStringLiteral("Meldungen"));
        window.setCentralWidget(pc);
        channels = std::make_unique<ChannelControl>(board, pc, channelsAF, channelsGL, config);
        channels->ShowChannelNames();
        channels->RefreshChannels();
        channels->RefreshClock();

        window.resize(682, 560);
        window.show();
        window.activateWindow();
        windowActive = QTest::qWaitForWindowActive(&window);
        backend.ClearTransfers();
    }

    // One poll tick's share of the channel and clock controls.
    void Poll() {
        board.ReadLiveState();
        board.ReadDeviceConfig();
        channels->RefreshChannels();
        channels->RefreshClock();
    }

    // Every set transfer of one report that the board received, in order.
    std::vector<Bytes> Sets(std::uint8_t reportId) const {
        std::vector<Bytes> sets;
        for (const sim::SimTransfer& t : backend.Transfers())
            if (t.device == "board" && t.isSet && !t.bytes.empty() && t.bytes[0] == reportId) sets.push_back(t.bytes);
        return sets;
    }
    // The report IDs of all set transfers, in order.
    std::vector<int> SetIds() const {
        std::vector<int> ids;
        for (const sim::SimTransfer& t : backend.Transfers())
            if (t.device == "board" && t.isSet && !t.bytes.empty()) ids.push_back(t.bytes[0]);
        return ids;
    }

    template <typename T>
    T* Find(const QString& name) {
        return window.findChild<T*>(name);
    }

    // Gives a control the keyboard focus as a user's click would, on its own page.
    bool Focus(QWidget* widget) {
        for (QWidget* page : {channelsAF, channelsGL, config})
            if (page->isAncestorOf(widget)) pc->setCurrentWidget(page);
        widget->setFocus(Qt::MouseFocusReason);
        return widget->hasFocus();
    }

    ManualClock clock;
    sim::SimulatedHidBackend backend;
    std::unique_ptr<HidDeviceController> controller;
    BoardProtocol board{clock};
    QMainWindow window;
    QTabWidget* pc = nullptr;
    QWidget* channelsAF = nullptr;
    QWidget* channelsGL = nullptr;
    QWidget* config = nullptr;
    QWidget* other = nullptr;
    std::unique_ptr<ChannelControl> channels;
    bool connected = false;
    bool windowActive = false;
};

}  // namespace quelvan::test
