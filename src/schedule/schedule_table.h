#pragma once
// The window's copy of the board's day program: the rows in board order, how they sort by
// time, the texts of their grid cells, and which rows arrived in the last load.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "device/records.h"

namespace quelvan {

// Stable sort by (Hour, Minute), both signed: a top-down merge sort whose merge takes the
// left entry on equal times, so rows with the same time keep their order.
void SortTableByTime(std::vector<ScheduleEntry>& table);

// The texts an entry shows in the grid: "Pos." (its index), "Zeit" (hour and minute as
// signed numbers of at least two digits, "07:05", "12:-56"), and the twelve percentages.
struct EntryCells {
    std::string pos;
    std::string time;
    std::array<std::string, kChannelCount> channels;
};
EntryCells CellTexts(int index, const ScheduleEntry& entry);

// Takes an entry's values from the texts of its grid row. In the time cell the text before
// the first colon is the hour and the rest the minute; without a colon the whole text is
// the minute. A text that is not a whole number leaves its field as it was; every number
// is stored as its low 8 bits.
void ReadCellTexts(ScheduleEntry& entry, std::string_view timeCell,
                   const std::array<std::string, kChannelCount>& channelCells);

class ScheduleTable {
public:
    std::size_t Size() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }
    const std::vector<ScheduleEntry>& Entries() const { return entries_; }
    // The rows may be edited and reordered in place; only a load changes their number.
    std::vector<ScheduleEntry>& Rows() { return entries_; }
    void SortByTime() { SortTableByTime(entries_); }

    // A load from the board of the given device generation begins: the table takes the
    // board's entry count (rows kept as far as they reach) and no row has arrived yet.
    void BeginLoad(int entryCount, std::uint64_t deviceGeneration);
    // One read of the load. The entry is stored at the index the board sent with it; a
    // failed read (nullopt) and an index at or past the end store nothing. True if stored.
    bool Store(const std::optional<std::pair<std::uint8_t, ScheduleEntry>>& read);
    int ArrivedCount() const;
    // Every row 0..N-1 arrived in the last load, and that load was from this device
    // generation. Only then may the rows be written back over the board's program.
    bool LoadedCompletelyFrom(std::uint64_t deviceGeneration) const;

private:
    std::vector<ScheduleEntry> entries_;
    std::vector<bool> arrived_;
    std::optional<std::uint64_t> loadedFrom_;
};

}  // namespace quelvan
