#pragma once
// The settings file: the board's configuration and its schedule table in INI form.
//
// Export writes every key of the configuration and of each table row into the file and
// keeps whatever else the file holds. Import reads the configuration sections or the row
// sections into the records; keys that are missing or not integers leave their field.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/records.h"

namespace quelvan::files {

struct FileResult {
    bool ok = true;
    std::string message;  // when !ok: what went wrong, a German line for the log and status bar
    std::string reason;   // when !ok: the operating system's reason, for the command-line tool
};

FileResult ExportSettingsAndTable(const std::string& path, const DeviceConfig& config,
                                  const std::vector<ScheduleEntry>& table);
// The whole file, for an import that reads it before anything else happens.
FileResult ReadSettingsFile(const std::string& path, std::string& text);
// A file that cannot be read leaves the record untouched.
FileResult ImportConfiguration(const std::string& path, DeviceConfig& config);
// Fills rows 0 .. table.size()-1 from the sections "0", "1", ...; the table keeps its length.
FileResult ImportTable(const std::string& path, std::vector<ScheduleEntry>& table);

// The same on file contents in memory.
std::string WriteSettingsAndTable(std::string_view existing, const DeviceConfig& config,
                                  const std::vector<ScheduleEntry>& table);
void ReadConfiguration(std::string_view text, DeviceConfig& config);
void ReadTable(std::string_view text, std::vector<ScheduleEntry>& table);

// A value as the settings file holds it: decimal with an optional sign, or hexadecimal
// after "$", "0x" or "0X"; surrounding quotes are dropped. Nothing else is an integer.
std::optional<long long> ParseIniInteger(std::string_view text);

}  // namespace quelvan::files
