// The settings file from the "Datei" menu: exporting table and configuration to an INI file,
// and importing either half back into the board. Part of TfrmQuelvan.

#include <QFileInfo>
#include <QTabWidget>

#include "files/ini_file.h"
#include "window/cell_check.h"
#include "window/channel_control.h"
#include "window/main_window.h"
#include "window/table_page.h"

namespace quelvan {

namespace {

const QString kFilter = QStringLiteral("Quelvan-Konfiguration (*.ini)");
const QString kSuffix = QStringLiteral(".ini");

// The status bar names the file without its folder.
QString FileNameOnly(const QString& path) {
    return QFileInfo(path).fileName();
}

void SetUp(FileDialogSettings& dialog, const QString& title) {
    dialog.title = title;
    dialog.filter = kFilter;
    dialog.defaultSuffix = kSuffix;
}

}  // namespace

void TfrmQuelvan::mnuDataConfigExportClick() {
    // Rows that never arrived from the board would go into the file as made-up ones.
    if (!Schedule().LoadedCompletelyFrom(board_.DeviceGeneration())) {
        ReportStatus(
            QStringLiteral("Die Tabelle wurde nicht vollständig von der Platine gelesen und wird daher nicht "
                           "exportiert. Bitte die Seite \"Tabelle\" neu öffnen."));
        return;
    }
    SetUp(sd, QStringLiteral("Tabelle und Konfiguration exportieren nach..."));
    const std::optional<QString> fileName = dialogs_.GetSaveFileName(this, sd);
    if (!fileName) return;
    // The grid's edits go into the table, sorted; nothing is uploaded.
    Table().SortSchedule();
    // A file that cannot be written is said so, and stays as it was; row sections of a
    // longer table that the export took out are named.
    const files::FileResult result =
        files::ExportSettingsAndTable(fileName->toStdString(), board_.config, Schedule().Entries());
    if (!result.ok) {
        ReportStatus(QString::fromStdString(result.message));
        return;
    }
    const QString done = "Tabelle und Konfiguration exportiert nach " + FileNameOnly(*fileName);
    if (result.message.empty()) {
        ShowStatusMessage(done);
        return;
    }
    // Row sections taken out of the file stay on record in the log.
    LogMessage(QString::fromStdString(result.message));
    ShowStatusMessage(done + ". " + QString::fromStdString(result.message));
}

void TfrmQuelvan::mnuConfigImportClick() {
    SetUp(od, QStringLiteral("Konfiguration importieren von..."));
    const std::optional<QString> fileName = dialogs_.GetOpenFileName(this, od);
    if (!fileName) return;
    // Shared through the service: the file's keys go over what the board holds now.
    const ExclusiveUse exclusive(board_.Device());
    board_.RereadIfShared();
    // A file that cannot be read imports nothing, and nothing is sent for it.
    const files::FileResult result = files::ImportConfiguration(fileName->toStdString(), board_.config);
    if (!result.ok) {
        ReportStatus(QString::fromStdString(result.message));
        return;
    }
    if (HidDevice* device = board_.Device()) device->AnnounceImport();
    const TransferResult sent = board_.WriteDeviceConfig();  // the whole record, mode and step width included
    channels_->ShowChannelNames();
    if (hooks.showDeviceConfig) hooks.showDeviceConfig();
    ShowStatusMessage(sent.ok ? "Konfiguration importiert aus " + FileNameOnly(*fileName)
                              : "Konfiguration aus " + FileNameOnly(*fileName) +
                                    " gelesen, aber nicht an die Platine gesendet");
}

void TfrmQuelvan::mnuDataImportClick() {
    SetUp(od, QStringLiteral("Tabelle importieren von..."));
    const std::optional<QString> fileName = dialogs_.GetOpenFileName(this, od);
    if (!fileName) return;
    const files::FileResult result = files::ImportTable(fileName->toStdString(), Schedule().Rows());
    if (!result.ok) {
        ReportStatus(QString::fromStdString(result.message));
        return;
    }
    // Grid edits not yet taken into the table give way to the file's rows.
    Table().ShowSchedule();
    Table().ShowFileNumbers(result.unfitting);
    // Values the board cannot run are shown and named, and the table stays on its page to
    // be corrected instead of being sent (or lost by a reload when the page is entered).
    if (const QStringList bad = Table().BadCells(); !bad.isEmpty()) {
        pc_->setCurrentWidget(findChild<QWidget*>(QStringLiteral("tsData")));
        Table().MarkUnsent();
        ReportStatus("Tabelle aus " + FileNameOnly(*fileName) + " importiert, aber nicht hochgeladen: " +
                     BadCellsText(bad) + ". Bitte korrigieren und \"Hochladen\" klicken.");
        return;
    }
    // Shared through the service: the rows go in one piece, and the service keeps the day
    // program from before them.
    const ExclusiveUse exclusive(board_.Device());
    if (HidDevice* device = board_.Device()) device->AnnounceImport();
    // A refused or incomplete upload has said so already.
    if (Table().UploadSchedule()) ShowStatusMessage("Tabelle importiert aus " + FileNameOnly(*fileName));
}

}  // namespace quelvan
