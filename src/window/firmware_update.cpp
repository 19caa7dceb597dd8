// The firmware update from the window: the menu command with its warning, and the flashing
// through the held bootloader with the progress shown. Part of TfrmQuelvan.

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include "files/firmware_flasher.h"
#include "window/main_window.h"

namespace quelvan {

namespace {

const QString kWarningCaption = QStringLiteral("Firmware aktualisieren");
const QString kWarning = QStringLiteral(
    "Das Aktualisieren der Firmware geschieht auf eigene Gefahr.\n"
    "Treten Übertragungsfehler auf, ist die Firmware anschließend\n"
    "nicht lauffähig. Der Vorgang kann jedoch wiederholt werden.\n"
    "\n"
    "Bitte beachten, dass sämtliche Einstellungen (auch die der\n"
    "Lüfter) zurückgesetzt werden. Slave-Platinen müssen nach dem\n"
    "Update wieder manuell auf den Modus \"Slave\" gestellt werden!\n"
    "\n"
    "Vorgang fortsetzen?");

// The block lines reach the log in batches: every batch scrolls and repaints the log.
constexpr qint64 kLogIntervalMs = 500;

class LogLinesHeld {
public:
    explicit LogLinesHeld(TfrmQuelvan& window) : window_(window) { window_.HoldLogLines(true); }
    ~LogLinesHeld() { window_.HoldLogLines(false); }
    LogLinesHeld(const LogLinesHeld&) = delete;
    LogLinesHeld& operator=(const LogLinesHeld&) = delete;

private:
    TfrmQuelvan& window_;
};

}  // namespace

void TfrmQuelvan::mnuFlashClick() {
    if (BoardDevice()) {
        // The rest follows from the bootloader's arrival.
        if (dialogs_.AskYesNo(this, kWarningCaption, kWarning)) board_.EnterBootloader();
    } else if (BootloaderDevice()) {
        if (const std::optional<QString> fileName = dialogs_.GetOpenFileName(this, od)) FlashFirmware(*fileName);
    }
}

void TfrmQuelvan::FlashFirmware(const QString& fileName) {
    if (!BootloaderDevice()) return;
    // Device changes that arrive meanwhile must not release the bootloader under the update;
    // they are looked at once it has ended.
    flashing_ = true;
    if (changeNotifier_) changeNotifier_->setEnabled(false);
    {
        const std::unique_ptr<ProgressReporter> progress =
            dialogs_.StartProgress(this, kWarningCaption, QStringLiteral("Die Firmware wird geschrieben..."));
        const LogLinesHeld held(*this);
        QElapsedTimer shown;
        shown.start();
        files::FlashSeams seams;
        seams.LogMessage = [this](const std::string& text) { LogMessage(QString::fromStdString(text)); };
        seams.ReportStatus = [this](const std::string& text) { ReportStatus(QString::fromStdString(text)); };
        seams.Sleep = [this](std::chrono::milliseconds span) {
            ShowHeldLogLines();
            sleep_(span);
        };
        seams.Progress = [&](int done, int total) {
            if (done == total || shown.elapsed() >= kLogIntervalMs) {
                ShowHeldLogLines();
                shown.start();
            }
            progress->SetProgress(done, total);
        };
        seams.BootloaderPresent = [this] { return BootloaderDevice() && hidCtl_->StillPresent(*BootloaderDevice()); };
        files::FlashFirmware(bootloader_, fileName.toStdString(), seams);
    }
    if (changeNotifier_) changeNotifier_->setEnabled(true);
    flashing_ = false;
    // A change dropped during the update (the bootloader leaving, the board coming back) is
    // not lost: the devices present are scanned again.
    QTimer::singleShot(0, this, [this] {
        try {
            hidCtl_->NotifyDeviceChange();
        } catch (...) {
        }
    });
}

}  // namespace quelvan
