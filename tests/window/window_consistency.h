#pragma once
// Whether the window's state hangs together after any device change has been handled: the
// slots hold only devices that are on the bus, the poll runs only for a connected board,
// the device-bound controls are usable exactly while a board is connected, and a held board
// that is not connected is being tried again (or runs another firmware).

#include <QMenu>
#include <set>
#include <string>

#include "device/identification.h"
#include "window/main_window.h"
#include "window/status_bar.h"

namespace quelvan::test {

// A board counts as connected once its connection sequence completed: it is held and polled.
inline bool Connected(TfrmQuelvan& window) {
    return window.BoardDevice() && window.StatusTimer().isActive();
}

// Empty when the state is consistent; otherwise what is not.
inline QString WindowInconsistency(TfrmQuelvan& window) {
    std::set<std::string> onBus;
    for (const HidInterfaceInfo& info : window.HidCtl().Backend().Enumerate()) onBus.insert(info.identity);
    auto present = [&](const HidDevice* device) {
        return device->PluggedIn() && device->Acquired() && onBus.count(device->DeviceInstance()) > 0;
    };
    HidDevice* board = window.BoardDevice();
    HidDevice* loader = window.BootloaderDevice();
    if (board && !present(board)) return "the board slot holds a device that has left";
    if (loader && !present(loader)) return "the bootloader slot holds a device that has left";

    const bool polling = window.StatusTimer().isActive();
    const bool retrying = window.ConnectRetryTimer().isActive();
    const bool connected = Connected(window);
    if (polling && !board) return "the status poll runs without a board";
    if (connected && !(window.Board().LiveStateRead() && window.Board().DeviceConfigRead()))
        return "connected, but the board's records were never read from it";
    if (retrying && (!board || connected)) return "the connection is retried without a board waiting for it";
    const bool otherFirmware =
        window.Board().LiveStateRead() && window.Board().live.FirmwareVersion != kSupportedFirmwareVersion;
    if (board && !connected && !retrying && !otherFirmware)
        return "a board is held, but neither connected nor tried again";

    // A few controls of every page and menu, and per-channel controls of both channel pages.
    static const char* const kBound[] = {"mnuDataImport",
                                         "mnuConfigImport",
                                         "mnuDataConfigExport",
                                         "mnuModeAuto",
                                         "mnuSaveEEPROM",
                                         "mnuStep",
                                         "mnuAllOn",
                                         "sg",
                                         "btnUpload",
                                         "cmbVisualize",
                                         "img",
                                         "trbTime",
                                         "edtTime",
                                         "btnNow",
                                         "trbCloudCount",
                                         "edtMoonTransit",
                                         "edtPoweronPosition",
                                         "rbtJMPStorm",
                                         "trb0",
                                         "edt5",
                                         "btnOn6",
                                         "btnOff11",
                                         "cmbName3",
                                         "edtMoon9"};
    for (const char* name : kBound) {
        bool enabled = false;
        if (auto* action = window.findChild<QAction*>(name))
            enabled = action->isEnabled();
        else if (auto* widget = window.findChild<QWidget*>(name))
            enabled = !widget->testAttribute(Qt::WA_ForceDisabled);  // its own state: pages follow the mode
        else
            return QStringLiteral("no control %1").arg(name);
        if (enabled != connected)
            return QStringLiteral("%1 is %2 while the board is %3")
                .arg(name, enabled ? "enabled" : "disabled", connected ? "connected" : "not connected");
    }
    // "Firmware aktualisieren..." as the "Datei" menu shows it when it opens.
    emit window.findChild<QMenu*>("mnuFile")->aboutToShow();
    if (window.findChild<QAction*>("mnuFlash")->isEnabled() != (board || loader))
        return "the firmware item does not follow the slots";
    if (!connected) {
        for (int panel = 1; panel < PanelStatusBar::kPanelCount; ++panel)
            if (!window.StatusPanels().PanelText(panel).isEmpty())
                return QStringLiteral("status panel %1 shows \"%2\" without a connected board")
                    .arg(panel)
                    .arg(window.StatusPanels().PanelText(panel));
    }
    return {};
}

}  // namespace quelvan::test
