#pragma once
// The settings file: the board's configuration and its schedule table in INI form.
//
// Export owns the keys it writes (those of the sections Config, Weather, Names and RC5, and
// those of the row sections 0 .. N-1 of an N-row table) and the row sections N and above,
// which it takes out: they are rows of an earlier, longer table. Every other line stays
// byte for byte where it was. A file that is not a text INI file is not written at all.
// Import reads the configuration sections or the row sections into the records; keys that
// are missing or not integers leave their field, and a file without any of the sections
// the import needs is an error.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/records.h"

namespace quelvan::files {

// A number of a row section that its field cannot hold (the table keeps its low byte): the
// window shows the number as the file has it, so that the cell is named instead of running
// as some other value.
struct UnfittingValue {
    std::size_t row = 0;
    int column = 0;  // the row key's: RowKey::kHour, RowKey::kMinute or the channel
    long long value = 0;
};

struct FileResult {
    bool ok = true;
    // A German line for the log and the status bar: what went wrong, or after a successful
    // export what the user should know (row sections taken out); empty otherwise.
    std::string message;
    std::string error;                      // when !ok: the English sentence for the command line
    std::string reason;                     // when !ok: the reason alone, as the operating system or the file gives it
    std::vector<int> removedRows;           // export: row sections of a longer table that were taken out
    std::vector<UnfittingValue> unfitting;  // table import: the numbers the table could not hold
};

// Checks, before the board is asked for anything, that an export into `path` can be done:
// a new name in a folder that may be written, or a regular text INI file that may be written.
FileResult CheckExportTarget(const std::string& path);
FileResult ExportSettingsAndTable(const std::string& path, const DeviceConfig& config,
                                  const std::vector<ScheduleEntry>& table);
// The row sections alone, as the export writes them (a table made without a board).
FileResult ExportTable(const std::string& path, const std::vector<ScheduleEntry>& table);
// The whole file (a regular file of at most kMaxReadBytes), for an import that reads it
// before anything else happens.
FileResult ReadSettingsFile(const std::string& path, std::string& text);
// A file that cannot be read, or holds none of the configuration sections, leaves the
// record untouched.
FileResult ImportConfiguration(const std::string& path, DeviceConfig& config);
// Fills rows 0 .. table.size()-1 from the sections "0", "1", ...; the table keeps its length.
// A file without any of these sections leaves the table untouched.
FileResult ImportTable(const std::string& path, std::vector<ScheduleEntry>& table);

// The same on file contents in memory.
struct SettingsUpdate {
    std::optional<std::string> problem;  // why the existing text is not written over (English)
    std::string text;                    // otherwise the new contents
    std::vector<int> removedRows;
};
SettingsUpdate UpdateSettingsText(std::string_view existing, const DeviceConfig& config,
                                  const std::vector<ScheduleEntry>& table);
// Without a configuration (null) only the row sections are owned: a table file made without
// a board carries no made-up settings for `import config` to take.
SettingsUpdate UpdateSettingsText(std::string_view existing, const DeviceConfig* config,
                                  const std::vector<ScheduleEntry>& table);
void ReadConfiguration(std::string_view text, DeviceConfig& config);
// `unfitting`, when given, gets the numbers that do not fit their field.
void ReadTable(std::string_view text, std::vector<ScheduleEntry>& table,
               std::vector<UnfittingValue>* unfitting = nullptr);
// Whether the text holds any section a configuration import reads, or any row section of
// a table of `rows` rows.
bool HasConfiguration(std::string_view text);
bool HasTableRows(std::string_view text, std::size_t rows);
// The failure of an import that found nothing to read; `what` says which sections it looked for.
FileResult NoSettingsFound(const std::string& path, const std::string& what);
// "none of the row sections 0 to 3" for a table of four rows.
std::string RowSectionsText(std::size_t rows);
extern const char* const kConfigurationSectionsText;
// Sorted row numbers as words: "4", "4 and 5", "4, 6 and 9", "4 to 7" (with `to` and `and_`
// in the reader's language).
std::string RowNumbersText(const std::vector<int>& rows, const std::string& to, const std::string& and_);

// A value as the settings file holds it: decimal with an optional sign, or hexadecimal
// after "$", "0x" or "0X"; surrounding quotes are dropped. Nothing else is an integer.
std::optional<long long> ParseIniInteger(std::string_view text);

}  // namespace quelvan::files
