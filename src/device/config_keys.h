#pragma once
// Every setting of the board under its configuration-file key: section, key name, the
// field it stands for, and that field's width and signedness. One table, in file order, for
// everything that reads or writes settings by name (configuration files, quelvanctl).

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "device/records.h"

namespace quelvan {

inline constexpr std::string_view kSectionConfig = "Config";
inline constexpr std::string_view kSectionWeather = "Weather";
inline constexpr std::string_view kSectionNames = "Names";
inline constexpr std::string_view kSectionRC5 = "RC5";
inline constexpr std::array<std::string_view, 4> kConfigSections = {kSectionConfig, kSectionWeather, kSectionNames,
                                                                    kSectionRC5};

enum class FieldType { Unsigned8, Signed8, Unsigned16, Signed16 };

// A field of a DeviceConfig, typed by its width and signedness.
using FieldRef = std::variant<std::uint8_t*, std::int8_t*, std::uint16_t*, std::int16_t*>;

struct ConfigKey {
    std::string_view section;
    std::string name;  // "LightningColor0" for element 0 of LightningColor
    FieldType type;
    std::function<FieldRef(DeviceConfig&)> field;
    // A setting that indexes a table (a channel's colour name) takes no more than its last
    // index, although the field could hold more.
    std::optional<long long> largest = std::nullopt;

    // The values a setting takes: what the field can hold (0..255, -128..127, 0..65535 or
    // -32768..32767), for a colour name 0..11.
    long long Minimum() const;
    long long Maximum() const;
    bool InRange(long long value) const { return value >= Minimum() && value <= Maximum(); }
    // "Section.Key".
    std::string QualifiedName() const;
};

// All 73 keys: Config (17), Weather (36), Names (12), RC5 (8), each section in file order.
const std::vector<ConfigKey>& ConfigKeys();
// The keys of one section, in file order (empty for an unknown section).
std::vector<const ConfigKey*> ConfigKeysOf(std::string_view section);

// Names compare without regard to ASCII case, as in configuration files.
bool SameName(std::string_view a, std::string_view b);
// The key of that name in that section, or null.
const ConfigKey* FindConfigKey(std::string_view section, std::string_view name);
// Every key of that name, whatever its section ("Step" is in Config and in RC5).
std::vector<const ConfigKey*> FindConfigKeysNamed(std::string_view name);

// The field's value (signed fields as negative numbers).
long long ReadConfigKey(const DeviceConfig& config, const ConfigKey& key);
// Stores the value's low 8 or 16 bits in the field (two's complement for signed fields),
// without refusing anything: 300 stores 44 in an 8-bit field.
void StoreConfigKey(DeviceConfig& config, const ConfigKey& key, long long value);

}  // namespace quelvan
