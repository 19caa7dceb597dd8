#pragma once
// The settings history on disk: for each board a folder of entries, each a settings file in
// the export's INI format (so that `quelvanctl import config|table` takes it as it is) with
// a few comment lines on top saying when, by whom and what changed. Entries are numbered
// per board; a new one is written to a fresh 0600 file beside its name, synced and renamed
// into place, and only then are the oldest beyond the limit removed, so a full disk or a
// folder that cannot be written loses nothing that was there.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "device/records.h"

namespace quelvan::service {

struct HistoryEntry {
    int id = 0;
    std::string time;                  // local time, "2026-12-09 17:03:04"
    std::string by;                    // "quelvanctl", "the window", "MQTT", "web", "the board itself", ...
    std::vector<std::string> changed;  // keys and "row N" that differ from the entry before
};

struct HistoryRecord {
    DeviceConfig config;
    std::vector<ScheduleEntry> table;
};

// The settings file's text for a record (the export's format).
std::string HistoryText(const HistoryRecord& record);
// The record an entry's text holds (its row sections 0, 1, ... in a row).
HistoryRecord RecordOfText(const std::string& text);
// The text without the entry's comment lines on top: what HistoryText gave.
std::string BodyOfText(const std::string& text);
// The keys ("FanLow") and rows ("row 3") in which two records differ.
std::vector<std::string> HistoryDifferences(const HistoryRecord& before, const HistoryRecord& after);

class HistoryStore {
public:
    static constexpr std::size_t kKept = 200;
    explicit HistoryStore(std::string folder, std::size_t kept = kKept);

    const std::string& Folder() const { return folder_; }
    // Writes a new entry; its id, or nullopt with the reason in `error`.
    std::optional<int> Add(const std::string& serial, const HistoryEntry& entry, const std::string& text,
                           std::string* error);
    // Oldest first.
    std::vector<HistoryEntry> List(const std::string& serial) const;
    // The entry's whole file.
    std::optional<std::string> Text(const std::string& serial, int id) const;
    // The boards that have a history.
    std::vector<std::string> Boards() const;

private:
    std::string BoardFolder(const std::string& serial) const;
    std::vector<int> Ids(const std::string& serial) const;

    std::string folder_;
    std::size_t kept_;
};

// The default folder: "history" in the service's state directory.
std::string DefaultHistoryFolder();

}  // namespace quelvan::service
