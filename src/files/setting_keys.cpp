#include "files/setting_keys.h"

#include <type_traits>

#include "device/numeric.h"

namespace quelvan::files {

int FieldRef::Bits() const {
    return std::visit([](auto* p) { return static_cast<int>(8 * sizeof(*p)); }, p_);
}

bool FieldRef::Signed() const {
    return std::visit([](auto* p) { return std::is_signed_v<std::remove_pointer_t<decltype(p)>>; }, p_);
}

long long FieldRef::Value() const {
    return std::visit([](auto* p) { return static_cast<long long>(*p); }, p_);
}

void FieldRef::Store(long long value) const {
    std::visit(
        [value](auto* p) {
            using T = std::remove_pointer_t<decltype(p)>;
            if constexpr (std::is_same_v<T, std::uint8_t>) *p = Low8(value);
            if constexpr (std::is_same_v<T, std::int8_t>) *p = LowSigned8(value);
            if constexpr (std::is_same_v<T, std::uint16_t>) *p = Low16(value);
            if constexpr (std::is_same_v<T, std::int16_t>) *p = LowSigned16(value);
        },
        p_);
}

namespace {

template <auto Member>
FieldRef Scalar(DeviceConfig& c, int) {
    return FieldRef(&(c.*Member));
}

template <auto Member>
FieldRef Element(DeviceConfig& c, int i) {
    return FieldRef(&(c.*Member)[static_cast<std::size_t>(i)]);
}

template <auto Member>
FieldRef RemoteKey(DeviceConfig& c, int) {
    return FieldRef(&(c.RC5.*Member));
}

std::vector<ConfigKey> MakeConfigKeys() {
    std::vector<ConfigKey> keys;
    auto add = [&](const char* section, std::string name, FieldRef (*field)(DeviceConfig&, int), int index = 0) {
        keys.push_back({section, std::move(name), field, index});
    };
    auto addNumbered = [&](const char* section, const char* stem, FieldRef (*field)(DeviceConfig&, int)) {
        for (int i = 0; i < kChannelCount; ++i) add(section, stem + std::to_string(i), field, i);
    };

    add("Config", "Mode", Scalar<&DeviceConfig::Mode>);
    add("Config", "Step", Scalar<&DeviceConfig::Step>);
    add("Config", "FanLow", Scalar<&DeviceConfig::FanLow>);
    add("Config", "FanHigh", Scalar<&DeviceConfig::FanHigh>);
    add("Config", "LCDBLMin", Scalar<&DeviceConfig::LCDBLMin>);
    add("Config", "LCDBLMax", Scalar<&DeviceConfig::LCDBLMax>);
    add("Config", "TimeLapse", Scalar<&DeviceConfig::TimeLapse>);
    add("Config", "PoweronPosition", Scalar<&DeviceConfig::PoweronPosition>);
    add("Config", "PWMPrescaler", Scalar<&DeviceConfig::PWMPrescaler>);
    add("Config", "TWIBitrate", Scalar<&DeviceConfig::TWIBitrate>);
    add("Config", "FanMode", Scalar<&DeviceConfig::FanMode>);
    add("Config", "TempWaterLow", Scalar<&DeviceConfig::TempWaterLow>);
    add("Config", "TempWaterHigh", Scalar<&DeviceConfig::TempWaterHigh>);
    add("Config", "JMPMode", Scalar<&DeviceConfig::JMPMode>);
    add("Config", "TempJMPLow", Scalar<&DeviceConfig::TempJMPLow>);
    add("Config", "TempJMPHigh", Scalar<&DeviceConfig::TempJMPHigh>);
    add("Config", "TempOffset", Scalar<&DeviceConfig::TempOffset>);

    add("Weather", "CloudP", Scalar<&DeviceConfig::CloudP>);
    add("Weather", "CloudD", Scalar<&DeviceConfig::CloudD>);
    add("Weather", "CloudAlpha", Scalar<&DeviceConfig::CloudAlpha>);
    add("Weather", "CloudStep", Scalar<&DeviceConfig::CloudStep>);
    add("Weather", "StormP", Scalar<&DeviceConfig::StormP>);
    add("Weather", "StormD", Scalar<&DeviceConfig::StormD>);
    add("Weather", "StormAlpha", Scalar<&DeviceConfig::StormAlpha>);
    add("Weather", "StormStep", Scalar<&DeviceConfig::StormStep>);
    add("Weather", "LightningP", Scalar<&DeviceConfig::LightningP>);
    add("Weather", "LightningD", Scalar<&DeviceConfig::LightningD>);
    add("Weather", "FullmoonTransitHour", Scalar<&DeviceConfig::FullmoonTransitHour>);
    add("Weather", "FullmoonTransitMinute", Scalar<&DeviceConfig::FullmoonTransitMinute>);
    addNumbered("Weather", "LightningColor", Element<&DeviceConfig::LightningColor>);
    addNumbered("Weather", "MoonColor", Element<&DeviceConfig::MoonColor>);

    addNumbered("Names", "ColorName", Element<&DeviceConfig::ColorName>);

    add("RC5", "Up", RemoteKey<&RC5Codes::Up>);
    add("RC5", "Down", RemoteKey<&RC5Codes::Down>);
    add("RC5", "Left", RemoteKey<&RC5Codes::Left>);
    add("RC5", "Right", RemoteKey<&RC5Codes::Right>);
    add("RC5", "Previous", RemoteKey<&RC5Codes::Previous>);
    add("RC5", "Next", RemoteKey<&RC5Codes::Next>);
    add("RC5", "Settings", RemoteKey<&RC5Codes::Settings>);
    add("RC5", "Step", RemoteKey<&RC5Codes::Step>);
    return keys;
}

std::vector<RowKey> MakeRowKeys() {
    std::vector<RowKey> keys;
    keys.push_back({"", "Hour", [](ScheduleEntry& e, int) { return FieldRef(&e.Hour); }, 0});
    keys.push_back({"", "Minute", [](ScheduleEntry& e, int) { return FieldRef(&e.Minute); }, 0});
    for (int i = 0; i < kChannelCount; ++i) {
        keys.push_back({"", "Color" + std::to_string(i),
                        [](ScheduleEntry& e, int n) { return FieldRef(&e.Color[static_cast<std::size_t>(n)]); }, i});
    }
    return keys;
}

}  // namespace

const std::vector<ConfigKey>& ConfigKeys() {
    static const std::vector<ConfigKey> keys = MakeConfigKeys();
    return keys;
}

const std::vector<RowKey>& RowKeys() {
    static const std::vector<RowKey> keys = MakeRowKeys();
    return keys;
}

std::string RowSection(std::size_t index) {
    return std::to_string(index);
}

}  // namespace quelvan::files
