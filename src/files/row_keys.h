#pragma once
// The keys of a table row in the settings file (the settings' own keys are the device
// layer's key table): Hour, Minute, Color0 .. Color11, in the order an export writes them.

#include <cstddef>
#include <string>
#include <vector>

#include "device/records.h"

namespace quelvan::files {

struct RowKey {
    std::string name;
    int column = 0;  // kHour, kMinute, or the channel 0..11 of Color

    static constexpr int kHour = -2;
    static constexpr int kMinute = -1;

    // The field's value (Hour and Minute signed).
    long long Read(const ScheduleEntry& entry) const;
    // Keeps the low 8 bits (two's complement for Hour and Minute).
    void Store(ScheduleEntry& entry, long long value) const;
};

// The 14 keys of one row.
const std::vector<RowKey>& RowKeys();

// Section name of table row `index`: the index in decimal.
std::string RowSection(std::size_t index);

}  // namespace quelvan::files
