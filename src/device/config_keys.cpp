#include "device/config_keys.h"

#include "device/channel_names.h"
#include "device/numeric.h"

namespace quelvan {

namespace {

template <typename Field>
ConfigKey Key(std::string_view section, std::string name, Field DeviceConfig::*member) {
    FieldType type = FieldType::Unsigned8;
    if constexpr (std::is_same_v<Field, std::int8_t>) type = FieldType::Signed8;
    if constexpr (std::is_same_v<Field, std::uint16_t>) type = FieldType::Unsigned16;
    if constexpr (std::is_same_v<Field, std::int16_t>) type = FieldType::Signed16;
    return ConfigKey{section, std::move(name), type, [member](DeviceConfig& c) { return FieldRef(&(c.*member)); }};
}

ConfigKey RC5Key(std::string name, std::uint16_t RC5Codes::*member) {
    return ConfigKey{kSectionRC5, std::move(name), FieldType::Unsigned16,
                     [member](DeviceConfig& c) { return FieldRef(&(c.RC5.*member)); }};
}

// Stem0 .. Stem11 for the twelve elements of a per-channel array.
void AddChannelKeys(std::vector<ConfigKey>& keys, std::string_view section, const std::string& stem,
                    std::array<std::uint8_t, kChannelCount> DeviceConfig::*member,
                    std::optional<long long> largest = std::nullopt) {
    for (int n = 0; n < kChannelCount; ++n) {
        keys.push_back(ConfigKey{
            section, stem + std::to_string(n), FieldType::Unsigned8,
            [member, n](DeviceConfig& c) { return FieldRef(&(c.*member)[static_cast<std::size_t>(n)]); }, largest});
    }
}

std::vector<ConfigKey> BuildKeys() {
    using C = DeviceConfig;
    std::vector<ConfigKey> keys;
    const std::string_view config = kSectionConfig;
    keys.push_back(Key(config, "Mode", &C::Mode));
    keys.push_back(Key(config, "Step", &C::Step));
    keys.push_back(Key(config, "FanLow", &C::FanLow));
    keys.push_back(Key(config, "FanHigh", &C::FanHigh));
    keys.push_back(Key(config, "LCDBLMin", &C::LCDBLMin));
    keys.push_back(Key(config, "LCDBLMax", &C::LCDBLMax));
    keys.push_back(Key(config, "TimeLapse", &C::TimeLapse));
    keys.push_back(Key(config, "PoweronPosition", &C::PoweronPosition));
    keys.push_back(Key(config, "PWMPrescaler", &C::PWMPrescaler));
    keys.push_back(Key(config, "TWIBitrate", &C::TWIBitrate));
    keys.push_back(Key(config, "FanMode", &C::FanMode));
    keys.push_back(Key(config, "TempWaterLow", &C::TempWaterLow));
    keys.push_back(Key(config, "TempWaterHigh", &C::TempWaterHigh));
    keys.push_back(Key(config, "JMPMode", &C::JMPMode));
    keys.push_back(Key(config, "TempJMPLow", &C::TempJMPLow));
    keys.push_back(Key(config, "TempJMPHigh", &C::TempJMPHigh));
    keys.push_back(Key(config, "TempOffset", &C::TempOffset));

    const std::string_view weather = kSectionWeather;
    keys.push_back(Key(weather, "CloudP", &C::CloudP));
    keys.push_back(Key(weather, "CloudD", &C::CloudD));
    keys.push_back(Key(weather, "CloudAlpha", &C::CloudAlpha));
    keys.push_back(Key(weather, "CloudStep", &C::CloudStep));
    keys.push_back(Key(weather, "StormP", &C::StormP));
    keys.push_back(Key(weather, "StormD", &C::StormD));
    keys.push_back(Key(weather, "StormAlpha", &C::StormAlpha));
    keys.push_back(Key(weather, "StormStep", &C::StormStep));
    keys.push_back(Key(weather, "LightningP", &C::LightningP));
    keys.push_back(Key(weather, "LightningD", &C::LightningD));
    keys.push_back(Key(weather, "FullmoonTransitHour", &C::FullmoonTransitHour));
    keys.push_back(Key(weather, "FullmoonTransitMinute", &C::FullmoonTransitMinute));
    AddChannelKeys(keys, weather, "LightningColor", &C::LightningColor);
    AddChannelKeys(keys, weather, "MoonColor", &C::MoonColor);

    // The window shows a name past the table's end as the first one.
    AddChannelKeys(keys, kSectionNames, "ColorName", &C::ColorName, static_cast<long long>(ColorNames.size()) - 1);

    keys.push_back(RC5Key("Up", &RC5Codes::Up));
    keys.push_back(RC5Key("Down", &RC5Codes::Down));
    keys.push_back(RC5Key("Left", &RC5Codes::Left));
    keys.push_back(RC5Key("Right", &RC5Codes::Right));
    keys.push_back(RC5Key("Previous", &RC5Codes::Previous));
    keys.push_back(RC5Key("Next", &RC5Codes::Next));
    keys.push_back(RC5Key("Settings", &RC5Codes::Settings));
    keys.push_back(RC5Key("Step", &RC5Codes::Step));
    return keys;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

long long ConfigKey::Minimum() const {
    switch (type) {
        case FieldType::Unsigned8:
        case FieldType::Unsigned16:
            return 0;
        case FieldType::Signed8:
            return -128;
        case FieldType::Signed16:
            return -32768;
    }
    return 0;
}

long long ConfigKey::Maximum() const {
    if (largest) return *largest;
    switch (type) {
        case FieldType::Unsigned8:
            return 255;
        case FieldType::Signed8:
            return 127;
        case FieldType::Unsigned16:
            return 65535;
        case FieldType::Signed16:
            return 32767;
    }
    return 0;
}

std::string ConfigKey::QualifiedName() const {
    return std::string(section) + "." + name;
}

const std::vector<ConfigKey>& ConfigKeys() {
    static const std::vector<ConfigKey> keys = BuildKeys();
    return keys;
}

std::vector<const ConfigKey*> ConfigKeysOf(std::string_view section) {
    std::vector<const ConfigKey*> keys;
    for (const ConfigKey& key : ConfigKeys())
        if (SameName(key.section, section)) keys.push_back(&key);
    return keys;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

const ConfigKey* FindConfigKey(std::string_view section, std::string_view name) {
    for (const ConfigKey& key : ConfigKeys())
        if (SameName(key.section, section) && SameName(key.name, name)) return &key;
    return nullptr;
}

std::vector<const ConfigKey*> FindConfigKeysNamed(std::string_view name) {
    std::vector<const ConfigKey*> keys;
    for (const ConfigKey& key : ConfigKeys())
        if (SameName(key.name, name)) keys.push_back(&key);
    return keys;
}

long long ReadConfigKey(const DeviceConfig& config, const ConfigKey& key) {
    // The accessor only hands out the field's address; nothing is written through it here.
    const FieldRef field = key.field(const_cast<DeviceConfig&>(config));
    return std::visit([](auto* p) { return static_cast<long long>(*p); }, field);
}

void StoreConfigKey(DeviceConfig& config, const ConfigKey& key, long long value) {
    const FieldRef field = key.field(config);
    if (auto* p = std::get_if<std::uint8_t*>(&field)) **p = Low8(value);
    if (auto* p = std::get_if<std::int8_t*>(&field)) **p = LowSigned8(value);
    if (auto* p = std::get_if<std::uint16_t*>(&field)) **p = Low16(value);
    if (auto* p = std::get_if<std::int16_t*>(&field)) **p = LowSigned16(value);
}

}  // namespace quelvan
