// Device discovery: which HID device is the board or its bootloader, the two device slots,
// and the connection and removal sequences. Part of TfrmQuelvan.

#include <QTabWidget>
#include <QTimer>

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
    board_.ReadLiveState();
    const int version = board_.live.FirmwareVersion;
    if (version == kSupportedFirmwareVersion) {
        ConnectBoard(version);
    } else if (version == 0) {
        ReportStatus("Quelvan 2.x erkannt (ältere Firmwareversion). Bitte aktualisieren (siehe Menü \"Datei\")!");
    } else {
        ReportStatus("Quelvan 2.x." + QString::number(version) +
                     " erkannt. Bitte die Firmware aktualisieren (siehe Menü \"Datei\")!");
    }
    return true;
}

void TfrmQuelvan::ConnectBoard(int version) {
    board_.ReadDeviceConfig();
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
    if (HidDevice* device = BootloaderDevice(); device && !device->PluggedIn()) {
        bootloader_.SetDevice(nullptr);
        hidCtl_->ReleaseDevice(device);
        ReportStatus("Dravik-Bootloader entfernt");
    }
    if (HidDevice* device = BoardDevice(); device && !device->PluggedIn()) {
        board_.SetDevice(nullptr);
        hidCtl_->ReleaseDevice(device);
        tmrQuelvan_->stop();
        pc_->setCurrentWidget(tsMessages_);
        SetControlsEnabled(false);
        ReportStatus("Quelvan 2.x entfernt");
        for (int panel = 1; panel < PanelStatusBar::kPanelCount; ++panel) sb_->SetPanelText(panel, QString());
    }
    hidCtl_->EnumerateDevices();
}

// Writing the file through the bootloader is not built yet. Until it is, the bootloader is
// told to start the application firmware again, so that the board does not stay stuck in it.
void TfrmQuelvan::FlashFirmware(const QString& fileName) {
    if (!BootloaderDevice()) return;
    LogMessage("Die Firmware-Aktualisierung ist in dieser Version noch nicht verfügbar; " + fileName +
               " wird nicht geschrieben.");
    bootloader_.LeaveBootloader();
}

}  // namespace quelvan
