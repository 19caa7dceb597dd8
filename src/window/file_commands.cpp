// The settings file from the "Datei" menu: exporting table and configuration to an INI file,
// and importing either half back into the board. Part of TfrmQuelvan.

#include "files/ini_file.h"
#include "window/channel_control.h"
#include "window/main_window.h"
#include "window/table_page.h"

namespace quelvan {

namespace {

const QString kFilter = QStringLiteral("Quelvan-Konfiguration (*.ini)");
const QString kSuffix = QStringLiteral(".ini");

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
    if (!result.message.empty()) ReportStatus(QString::fromStdString(result.message));
}

void TfrmQuelvan::mnuConfigImportClick() {
    SetUp(od, QStringLiteral("Konfiguration importieren von..."));
    const std::optional<QString> fileName = dialogs_.GetOpenFileName(this, od);
    if (!fileName) return;
    // A file that cannot be read imports nothing, and nothing is sent for it.
    const files::FileResult result = files::ImportConfiguration(fileName->toStdString(), board_.config);
    if (!result.ok) {
        ReportStatus(QString::fromStdString(result.message));
        return;
    }
    board_.WriteDeviceConfig();  // the whole record, the file's mode and step width included
    channels_->ShowChannelNames();
    if (hooks.showDeviceConfig) hooks.showDeviceConfig();
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
    Table().UploadSchedule();
}

}  // namespace quelvan
