#include "files/ini_file.h"

#include <cerrno>

#include "files/file_access.h"

namespace quelvan::files {

namespace {

// Another program writing the file at the same moment: the export reads it again and
// merges its values into what is there now, a few times at most.
constexpr int kExportAttempts = 3;

FileResult Failure(std::string message, std::string error, std::string reason) {
    return FileResult{false, std::move(message), std::move(error), std::move(reason), {}, {}};
}

FileResult ReadFailure(const std::string& path, int error) {
    const std::string reason = FileErrorText(error);
    if (error == ENOENT)
        return Failure("FEHLER: Datei " + path + " nicht gefunden!", "cannot read " + path + ": " + reason, reason);
    return Failure("FEHLER: Datei " + path + " konnte nicht gelesen werden!", "cannot read " + path + ": " + reason,
                   reason);
}

FileResult WriteFailure(const std::string& path, int error) {
    const std::string reason = FileErrorText(error);
    return Failure("FEHLER: Datei " + path + " konnte nicht geschrieben werden!",
                   "cannot export to " + path + ": " + reason, reason);
}

FileResult NotTextFailure(const std::string& path, const std::string& problem) {
    const std::string reason = "not a text INI file: " + problem;
    return Failure("FEHLER: Datei " + path + " ist keine INI-Textdatei und bleibt unverändert!",
                   "cannot export to " + path + ": " + reason + "; it was left as it was", reason);
}

// Where and what: the target checked, and its contents when it exists.
struct ExportTarget {
    WriteTarget target;
    std::string existing;
    std::optional<FileStamp> stamp;
};

std::optional<FileResult> OpenExportTarget(const std::string& path, ExportTarget& open) {
    if (const int error = PrepareWriteTarget(path, open.target)) return WriteFailure(path, error);
    open.existing.clear();
    open.stamp.reset();
    if (!open.target.exists) return std::nullopt;
    FileStamp stamp;
    // A file whose other contents cannot be read cannot keep them either.
    if (const int error = ReadRegularFile(open.target.path, kMaxReadBytes, open.existing, &stamp))
        return ReadFailure(path, error);
    open.stamp = stamp;
    return std::nullopt;
}

}  // namespace

std::string RowNumbersText(const std::vector<int>& rows, const std::string& to, const std::string& and_) {
    if (rows.size() > 2 && rows.back() - rows.front() + 1 == static_cast<int>(rows.size()))
        return std::to_string(rows.front()) + " " + to + " " + std::to_string(rows.back());
    std::string text;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) text += i + 1 == rows.size() ? " " + and_ + " " : ", ";
        text += std::to_string(rows[i]);
    }
    return text;
}

const char* const kConfigurationSectionsText = "none of the sections Config, Weather, Names, RC5";

std::string RowSectionsText(std::size_t rows) {
    if (rows == 0) return "the board has no rows";
    if (rows == 1) return "no row section 0";
    return "none of the row sections 0 to " + std::to_string(rows - 1);
}

FileResult NoSettingsFound(const std::string& path, const std::string& what) {
    return Failure("FEHLER: Keine Einstellungen in der Datei " + path + " gefunden!",
                   "no settings found in " + path + " (" + what + ")", what);
}

FileResult CheckExportTarget(const std::string& path) {
    ExportTarget open;
    if (auto failure = OpenExportTarget(path, open)) return *failure;
    if (open.target.exists) {
        const SettingsUpdate update = UpdateSettingsText(open.existing, DeviceConfig{}, {});
        if (update.problem) return NotTextFailure(path, *update.problem);
    }
    return {};
}

namespace {

FileResult Export(const std::string& path, const DeviceConfig* config, const std::vector<ScheduleEntry>& table) {
    for (int attempt = 1;; ++attempt) {
        ExportTarget open;
        if (auto failure = OpenExportTarget(path, open)) return *failure;
        SettingsUpdate update = UpdateSettingsText(open.existing, config, table);
        if (update.problem) return NotTextFailure(path, *update.problem);
        const int error = WriteFileContents(open.target, update.text, open.stamp);
        if (error == kFileChanged && attempt < kExportAttempts) continue;
        if (error) return WriteFailure(path, error);

        FileResult result;
        result.removedRows = std::move(update.removedRows);
        if (!result.removedRows.empty()) {
            const bool one = result.removedRows.size() == 1;
            result.message = std::string(one ? "Die Zeile " : "Die Zeilen ") +
                             RowNumbersText(result.removedRows, "bis", "und") + " einer früheren, längeren Tabelle " +
                             (one ? "wurde" : "wurden") + " aus der Datei " + path + " entfernt.";
        }
        return result;
    }
}

}  // namespace

FileResult ExportSettingsAndTable(const std::string& path, const DeviceConfig& config,
                                  const std::vector<ScheduleEntry>& table) {
    return Export(path, &config, table);
}

FileResult ExportTable(const std::string& path, const std::vector<ScheduleEntry>& table) {
    return Export(path, nullptr, table);
}

FileResult ReadSettingsFile(const std::string& path, std::string& text) {
    if (const int error = ReadRegularFile(path, kMaxReadBytes, text)) return ReadFailure(path, error);
    return {};
}

FileResult ImportConfiguration(const std::string& path, DeviceConfig& config) {
    std::string text;
    FileResult result = ReadSettingsFile(path, text);
    if (!result.ok) return result;
    if (!HasConfiguration(text)) return NoSettingsFound(path, kConfigurationSectionsText);
    ReadConfiguration(text, config);
    return result;
}

FileResult ImportTable(const std::string& path, std::vector<ScheduleEntry>& table) {
    std::string text;
    FileResult result = ReadSettingsFile(path, text);
    if (!result.ok) return result;
    if (!HasTableRows(text, table.size())) return NoSettingsFound(path, RowSectionsText(table.size()));
    ReadTable(text, table, &result.unfitting);
    return result;
}

}  // namespace quelvan::files
