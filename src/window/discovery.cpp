// Device discovery: which HID device is the board or its bootloader, the two device slots,
// and the connection and removal sequences. Part of TfrmQuelvan.

#include <QTabWidget>
#include <QTimer>
#include <cerrno>

#include "device/identification.h"
#include "window/channel_control.h"
#include "window/main_window.h"
#include "window/status_bar.h"

namespace quelvan {

bool TfrmQuelvan::HidCtlEnumerate(HidDevice& device, int index) {
    const std::u16string manufacturer = device.ManufacturerString();
    const std::u16string product = device.ProductString();
    LogMessage(QString::fromStdString(DeviceLine(index, device.VendorID(), device.ProductID(), ToUtf8(manufacturer),
                                                 ToUtf8(product), ToUtf8(device.SerialNumberString()))));

    if (manufacturer != kMakerManufacturer) return true;
    if (!BootloaderDevice() && product == kBootloader1Product) BootloaderFound(index, QStringLiteral(".vbf"));
    if (!BootloaderDevice() && product == kBootloader2Product) BootloaderFound(index, QStringLiteral(".vbf328p"));
    if (BoardDevice()) return true;
    if (product != kBoardProduct) return true;

    board_.SetDevice(hidCtl_->AcquireDevice(index));
    connectFailure_.clear();
    TryConnectBoard();
    return true;
}

// The firmware version is judged only from a live state that this board really sent, and the
// board counts as connected only once its settings were read too: a record that was never
// read would otherwise be shown, and sent back, as zeros.
void TfrmQuelvan::TryConnectBoard() {
    if (!BoardDevice()) return;
    board_.ReadLiveState();
    if (!board_.LiveStateRead()) {
        const int error = BoardDevice()->LastOpenError();
        if (error == EACCES || error == EPERM)
            ConnectionFailed(
                "Quelvan 2.x erkannt, aber der Zugriff auf die Platine ist nicht erlaubt. Bitte die udev-Regel "
                "dist/linux/70-quelvan.rules installieren (siehe docs/udev.md) und die Platine neu anstecken.");
        else
            ConnectionFailed("Quelvan 2.x erkannt, antwortet aber nicht. Neuer Versuch jede Sekunde...");
        return;
    }
    const int version = board_.live.FirmwareVersion;
    if (version == kSupportedFirmwareVersion) {
        board_.ReadDeviceConfig();
        if (!board_.DeviceConfigRead()) {
            ConnectionFailed(
                "Quelvan 2.x erkannt, aber die Einstellungen konnten nicht gelesen werden. Neuer Versuch jede "
                "Sekunde...");
            return;
        }
        connectRetry_->stop();
        ConnectBoard(version);
        return;
    }
    connectRetry_->stop();
    if (version == 0) {
        ReportStatus("Quelvan 2.x erkannt (ältere Firmwareversion). Bitte aktualisieren (siehe Menü \"Datei\")!");
    } else {
        ReportStatus("Quelvan 2.x." + QString::number(version) +
                     " erkannt. Bitte die Firmware aktualisieren (siehe Menü \"Datei\")!");
    }
}

void TfrmQuelvan::ConnectionFailed(const QString& message) {
    if (message != connectFailure_) ReportStatus(message);
    connectFailure_ = message;
    if (!connectRetry_->isActive()) connectRetry_->start();
}

void TfrmQuelvan::RetryBoardConnection() {
    HidDevice* device = BoardDevice();
    if (!device || !device->PluggedIn() || tmrQuelvan_->isActive()) {
        connectRetry_->stop();
        return;
    }
    TryConnectBoard();
}

void TfrmQuelvan::ConnectBoard(int version) {
    LoadFromDevice();
    channels_->ShowChannelNames();
    ShowDeviceConfig();
    tmrQuelvan_->start();
    tmrQuelvanTimer();
    SetControlsEnabled(true);
    ReportStatus("Quelvan 2.x." + QString::number(version) + " erkannt");
}

void TfrmQuelvan::BootloaderFound(int index, const QString& extension) {
    bootloader_.SetDevice(hidCtl_->AcquireDevice(index));
    pc_->setCurrentWidget(tsMessages_);
    ReportStatus("Dravik-Bootloader erkannt");
    od.title = QStringLiteral("Quelvan 2.x - Firmwaredatei wählen");
    od.filter = "Quelvan 2.x - Firmware (*" + extension + ')';
    od.defaultSuffix = extension;
    // Modal, right inside the device-change handling: notifications meanwhile are dropped.
    if (const std::optional<QString> fileName = dialogs_.GetOpenFileName(this, od))
        FlashFirmware(*fileName);
    else
        bootloader_.LeaveBootloader();  // the board restarts its application firmware
}

void TfrmQuelvan::HidCtlDeviceChange() {
    const bool connectionPending = connectRetry_->isActive();
    if (HidDevice* device = BootloaderDevice(); device && !device->PluggedIn()) {
        bootloader_.SetDevice(nullptr);
        hidCtl_->ReleaseDevice(device);
        ReportStatus("Dravik-Bootloader entfernt");
    }
    if (HidDevice* device = BoardDevice(); device && !device->PluggedIn()) {
        board_.SetDevice(nullptr);
        hidCtl_->ReleaseDevice(device);
        tmrQuelvan_->stop();
        connectRetry_->stop();
        pc_->setCurrentWidget(tsMessages_);
        SetControlsEnabled(false);
        ReportStatus("Quelvan 2.x entfernt");
        for (int panel = 1; panel < PanelStatusBar::kPanelCount; ++panel) sb_->SetPanelText(panel, QString());
    }
    hidCtl_->EnumerateDevices();
    // A held board that has not answered yet gets another chance at every device change.
    if (connectionPending && connectRetry_->isActive()) RetryBoardConnection();
}

}  // namespace quelvan
