#pragma once
// The real window, shown and active (so keyboard focus works), connected to a simulated board
// prepared by the test: what the settings-page tests share.

#include <QAbstractButton>
#include <QLineEdit>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <functional>
#include <memory>
#include <optional>

#include "window_fixture.h"

namespace quelvan::test {

// The settings record as the board received it in one WriteDeviceConfig (reports 2, 4, 5, 6).
struct ConfigWrite {
    DeviceConfig config;
    bool complete = false;
};

class SettingsFixture : public WindowFixture {
public:
    explicit SettingsFixture(const std::function<void(sim::SimulatedBoard&)>& prepare = {},
                             sim::BoardSettings settings = {})
        : WindowFixture(std::move(settings)) {
        if (prepare) prepare(backend.Board());
        window->show();
        window->activateWindow();
        active = QTest::qWaitForWindowActive(window.get());
        Discover();
        backend.ClearTransfers();
    }

    template <typename T = QWidget>
    T* Control(const QString& name) const {
        T* control = window->findChild<T*>(name);
        if (!control) qFatal("no control %s", qPrintable(name));
        return control;
    }
    QLineEdit* Edit(const QString& name) const { return Control<QLineEdit>(name); }
    QSlider* Bar(const QString& name) const { return Control<QSlider>(name); }

    // Gives a control the keyboard focus as a user's click would: its page comes to the front
    // (a hidden page's tab is shown first, as the "Optionen" menu does).
    bool Focus(QWidget* control) {
        QTabWidget& pc = window->PageControl();
        for (int i = 0; i < pc.count(); ++i) {
            if (!pc.widget(i)->isAncestorOf(control)) continue;
            pc.setTabVisible(i, true);
            pc.setCurrentIndex(i);
        }
        control->setFocus(Qt::MouseFocusReason);
        return control->hasFocus();
    }
    // Types into an edit as the user does: focus, select all, key by key.
    void Type(const QString& edit, const QString& text) {
        QLineEdit* e = Edit(edit);
        if (!Focus(e)) qFatal("%s takes no focus", qPrintable(edit));
        e->selectAll();
        QTest::keyClicks(e, text);
    }
    // Moves the focus to a control that has no handler of its own.
    void FocusElsewhere() { Focus(Control<QWidget>("btnNow")); }

    void Tick() { window->tmrQuelvanTimer(); }

    // Every WriteDeviceConfig since the last ClearTransfers, as the records sent.
    std::vector<ConfigWrite> ConfigWrites() const {
        std::vector<ConfigWrite> writes;
        for (const sim::SimTransfer& t : backend.Transfers()) {
            if (!t.isSet || t.device != "board" || t.bytes.empty()) continue;
            const std::uint8_t id = t.bytes[0];
            if (id == report::kConfigPart1) writes.push_back({});
            if (writes.empty()) continue;
            DeviceConfig& c = writes.back().config;
            const std::uint8_t* payload = t.bytes.data() + 1;
            if (id == report::kConfigPart1)
                c.DecodePart1(
                    std::span<const std::uint8_t, DeviceConfig::kPart1Size>(payload, DeviceConfig::kPart1Size));
            if (id == report::kConfigPart2)
                c.DecodePart2(
                    std::span<const std::uint8_t, DeviceConfig::kPart2Size>(payload, DeviceConfig::kPart2Size));
            if (id == report::kConfigPart3)
                c.DecodePart3(
                    std::span<const std::uint8_t, DeviceConfig::kPart3Size>(payload, DeviceConfig::kPart3Size));
            if (id == report::kConfigPart4) {
                c.DecodePart4(
                    std::span<const std::uint8_t, DeviceConfig::kPart4Size>(payload, DeviceConfig::kPart4Size));
                writes.back().complete = true;
            }
        }
        return writes;
    }
    // Any set transfer at all since the last ClearTransfers.
    QStringList SetTransfers() const {
        QStringList sets;
        for (const QString& t : TransferSummary())
            if (t.startsWith("set")) sets << t;
        return sets;
    }

    bool active = false;
};

}  // namespace quelvan::test
