#include "schedule/schedule_table.h"

#include <algorithm>

#include "device/numeric.h"
#include "schedule/time_text.h"

namespace quelvan {

namespace {

// True when `left` goes first: an earlier hour, or the same hour and a minute not later.
bool TakeLeft(const ScheduleEntry& left, const ScheduleEntry& right) {
    return left.Hour < right.Hour || (left.Hour == right.Hour && left.Minute <= right.Minute);
}

void Merge(std::vector<ScheduleEntry>& table, std::vector<ScheduleEntry>& scratch, int l, int m, int r) {
    scratch.clear();
    int i = l;
    int j = m + 1;
    while (i <= m && j <= r) {
        if (TakeLeft(table[static_cast<std::size_t>(i)], table[static_cast<std::size_t>(j)]))
            scratch.push_back(table[static_cast<std::size_t>(i++)]);
        else
            scratch.push_back(table[static_cast<std::size_t>(j++)]);
    }
    while (i <= m) scratch.push_back(table[static_cast<std::size_t>(i++)]);
    while (j <= r) scratch.push_back(table[static_cast<std::size_t>(j++)]);
    std::copy(scratch.begin(), scratch.end(), table.begin() + l);
}

void Sort(std::vector<ScheduleEntry>& table, std::vector<ScheduleEntry>& scratch, int l, int r) {
    if (l >= r) return;
    const int m = (l + r) / 2;
    Sort(table, scratch, l, m);
    Sort(table, scratch, m + 1, r);
    Merge(table, scratch, l, m, r);
}

}  // namespace

void SortTableByTime(std::vector<ScheduleEntry>& table) {
    std::vector<ScheduleEntry> scratch;
    scratch.reserve(table.size());
    Sort(table, scratch, 0, static_cast<int>(table.size()) - 1);
}

EntryCells CellTexts(int index, const ScheduleEntry& entry) {
    EntryCells cells;
    cells.pos = std::to_string(index);
    cells.time = FormatTimeOfDay(entry.Hour, entry.Minute);
    for (std::size_t c = 0; c < cells.channels.size(); ++c) cells.channels[c] = std::to_string(entry.Color[c]);
    return cells;
}

void ReadCellTexts(ScheduleEntry& entry, std::string_view timeCell,
                   const std::array<std::string, kChannelCount>& channelCells) {
    const ColonSplit split = SplitAtFirstColon(timeCell);
    // Without a colon the text before it is empty: only the minute can be given.
    if (split.hasColon)
        if (const auto hour = ParseInteger(split.before)) entry.Hour = LowSigned8(*hour);
    if (const auto minute = ParseInteger(split.hasColon ? split.after : split.before))
        entry.Minute = LowSigned8(*minute);
    for (std::size_t c = 0; c < channelCells.size(); ++c)
        if (const auto value = ParseInteger(channelCells[c])) entry.Color[c] = Low8(*value);
}

void ScheduleTable::BeginLoad(int entryCount, std::uint64_t deviceGeneration) {
    const auto count = static_cast<std::size_t>(std::clamp(entryCount, 0, 255));
    entries_.resize(count);
    arrived_.assign(count, false);
    loadedFrom_ = deviceGeneration;
}

bool ScheduleTable::Store(const std::optional<std::pair<std::uint8_t, ScheduleEntry>>& read) {
    if (!read || read->first >= entries_.size()) return false;
    entries_[read->first] = read->second;
    arrived_[read->first] = true;
    return true;
}

int ScheduleTable::ArrivedCount() const {
    return static_cast<int>(std::count(arrived_.begin(), arrived_.end(), true));
}

bool ScheduleTable::LoadedCompletelyFrom(std::uint64_t deviceGeneration) const {
    return loadedFrom_ == deviceGeneration && arrived_.size() == entries_.size() &&
           std::all_of(arrived_.begin(), arrived_.end(), [](bool arrived) { return arrived; });
}

}  // namespace quelvan
