#pragma once
// The keys of the settings file: which section and name carries which record field, in
// the order in which an export writes them.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "device/records.h"

namespace quelvan::files {

// One integer field of a record, whatever its width and signedness.
class FieldRef {
public:
    using Pointer = std::variant<std::uint8_t*, std::int8_t*, std::uint16_t*, std::int16_t*>;
    explicit FieldRef(Pointer p) : p_(p) {}

    int Bits() const;
    bool Signed() const;
    long long Value() const;
    // Keeps the low 8 or 16 bits (two's complement for signed fields).
    void Store(long long value) const;

private:
    Pointer p_;
};

template <class Record>
struct RecordKey {
    std::string section;  // empty for the keys of a table row: their section is the row index
    std::string name;
    FieldRef (*field)(Record& record, int index) = nullptr;
    int index = 0;  // channel or column number for the numbered keys

    FieldRef In(Record& record) const { return field(record, index); }
};

using ConfigKey = RecordKey<DeviceConfig>;
using RowKey = RecordKey<ScheduleEntry>;

// Sections Config (17 keys), Weather (36), Names (12), RC5 (8), in file order.
const std::vector<ConfigKey>& ConfigKeys();
// The 14 keys of one table row: Hour, Minute, Color0 .. Color11.
const std::vector<RowKey>& RowKeys();

constexpr std::string_view kConfigSections[] = {"Config", "Weather", "Names", "RC5"};

// Section name of table row `index`: the index in decimal.
std::string RowSection(std::size_t index);

}  // namespace quelvan::files
