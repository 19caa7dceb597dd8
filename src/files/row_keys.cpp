#include "files/row_keys.h"

#include "device/numeric.h"

namespace quelvan::files {

long long RowKey::Read(const ScheduleEntry& entry) const {
    if (column == kHour) return entry.Hour;
    if (column == kMinute) return entry.Minute;
    return entry.Color[static_cast<std::size_t>(column)];
}

void RowKey::Store(ScheduleEntry& entry, long long value) const {
    if (column == kHour)
        entry.Hour = LowSigned8(value);
    else if (column == kMinute)
        entry.Minute = LowSigned8(value);
    else
        entry.Color[static_cast<std::size_t>(column)] = Low8(value);
}

const std::vector<RowKey>& RowKeys() {
    static const std::vector<RowKey> keys = [] {
        std::vector<RowKey> list = {{"Hour", RowKey::kHour}, {"Minute", RowKey::kMinute}};
        for (int channel = 0; channel < kChannelCount; ++channel)
            list.push_back({"Color" + std::to_string(channel), channel});
        return list;
    }();
    return keys;
}

std::string RowSection(std::size_t index) {
    return std::to_string(index);
}

}  // namespace quelvan::files
