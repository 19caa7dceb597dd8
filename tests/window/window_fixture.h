#pragma once
// The real main window on a simulated board, with a manual computer clock and scripted
// dialogs: what the window tests share.

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/clock.h"
#include "simulator/simulated_backend.h"
#include "window/dialog_service.h"
#include "window/main_window.h"
#include "window/status_bar.h"

namespace quelvan::test {

using Bytes = std::vector<std::uint8_t>;

class WindowFixture {
public:
    // The board stands still (frozen) so that values read are the values set; the window is
    // created at once, but nothing is discovered until Discover().
    explicit WindowFixture(sim::BoardSettings settings = {}, MainWindowOptions options = {})
        : clock(LocalDateTime{2024, 5, 17, 7, 5, 9, 0}), backend(std::move(settings), &clock) {
        backend.Board().SetFrozen(true);
        backend.RecordTransfers();
        window = std::make_unique<TfrmQuelvan>(backend, clock, dialogs, options);
    }

    // One device-change notification, as the event loop would deliver it.
    void Discover() { window->HidCtl().ProcessNotifications(); }

    QStringList LogLines() const {
        return window->findChild<QPlainTextEdit*>("mem")->toPlainText().split('\n', Qt::SkipEmptyParts);
    }
    // The log lines without their time stamps.
    QStringList LogTexts() const {
        QStringList texts;
        for (const QString& line : LogLines()) texts << line.mid(line.indexOf("] ") + 2);
        return texts;
    }
    QString Panel(int panel) const { return window->StatusPanels().PanelText(panel); }
    QWidget* Page(const char* name) const { return window->findChild<QWidget*>(name); }
    QWidget* CurrentPage() const { return window->PageControl().currentWidget(); }
    QAction* Action(const char* name) const { return window->findChild<QAction*>(name); }
    bool Enabled(const char* name) const {
        if (QAction* action = Action(name)) return action->isEnabled();
        QWidget* widget = window->findChild<QWidget*>(name);
        if (!widget) qFatal("no control %s", name);
        return widget->isEnabled();
    }

    // Every transfer attempt since the last ClearTransfers, as "get 1 42" / "set 3 28".
    QStringList TransferSummary() const {
        QStringList list;
        for (const sim::SimTransfer& t : backend.Transfers())
            list << QString("%1 %2 %3")
                        .arg(t.isSet ? "set" : "get")
                        .arg(t.bytes.empty() ? -1 : t.bytes[0])
                        .arg(t.bytes.size());
        return list;
    }
    std::vector<Bytes> Sets(const char* device, std::uint8_t reportId) const {
        std::vector<Bytes> sets;
        for (const sim::SimTransfer& t : backend.Transfers())
            if (t.isSet && t.device == device && !t.bytes.empty() && t.bytes[0] == reportId) sets.push_back(t.bytes);
        return sets;
    }

    ManualClock clock;
    sim::SimulatedHidBackend backend;
    ScriptedDialogService dialogs;
    std::unique_ptr<TfrmQuelvan> window;
};

}  // namespace quelvan::test
