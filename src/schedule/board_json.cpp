#include "schedule/board_json.h"

#include <array>
#include <cstdio>

#include "device/board_modes.h"
#include "device/channel_names.h"
#include "device/channel_values.h"
#include "device/config_keys.h"
#include "device/numeric.h"
#include "device/weather_conversions.h"
#include "schedule/time_text.h"

namespace quelvan {

namespace {

// A share as the window's label shows it: one decimal at most.
nlohmann::json ShareNumber(const std::optional<double>& share) {
    if (!share) return nullptr;
    return RoundHalfEven(*share * 10) / 10.0;
}

template <typename T>
nlohmann::json OptionalNumber(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace

std::string TwoDigits(int value) {
    std::array<char, 16> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%02d", value);
    return buffer.data();
}

std::string ClockText(const LiveState& live) {
    return TwoDigits(live.ClockHour) + ":" + TwoDigits(live.ClockMinute) + ":" + TwoDigits(live.ClockSecond);
}

std::string MoonTransitText(const LiveState& live) {
    return TwoDigits(live.MoonTransitHour) + ":" + TwoDigits(live.MoonTransitMinute);
}

MoonPhase BoardMoon(const LiveState& live, const DeviceConfig& config) {
    return ComputeMoonPhase(live.MoonTransitHour, live.MoonTransitMinute, config.FullmoonTransitHour,
                            config.FullmoonTransitMinute);
}

const char* MoonLitSide(const MoonPhase& moon) {
    return moon.litRight ? "right" : "left";
}

nlohmann::json StatusJson(const LiveState& live, const DeviceConfig& config) {
    nlohmann::json channels = nlohmann::json::array();
    for (int n = 0; n < kChannelCount; ++n) {
        const auto i = static_cast<std::size_t>(n);
        const int value = live.ChannelValue[i];
        channels.push_back({
            {"letter", std::string(1, ChannelLetter(n))},
            {"name", ChannelDisplayName(n, config.ColorName[i])},
            {"value", value},
            {"percent", PercentNumber(value)},
        });
    }
    const std::string_view modeName = ModeName(config.Mode);
    const MoonPhase moon = BoardMoon(live, config);
    return {
        {"firmware_version", live.FirmwareVersion},
        {"entry_count", live.EntryCount},
        {"clock", ClockText(live)},
        {"mode", config.Mode},
        {"mode_name", modeName.empty() ? nlohmann::json(nullptr) : nlohmann::json(std::string(modeName))},
        {"time_lapse", config.TimeLapse},
        {"channels", channels},
        {"supply_voltage", live.SupplyVoltage / 1000.0},
        {"temperature",
         live.Temperature == kNoTemperatureSensor ? nlohmann::json(nullptr) : nlohmann::json(live.Temperature / 10.0)},
        {"moon_transit", MoonTransitText(live)},
        {"moon_phase", moon.phase},
        {"moon_lit_side", MoonLitSide(moon)},
    };
}

nlohmann::ordered_json ConfigJson(const DeviceConfig& config) {
    nlohmann::ordered_json all = nlohmann::ordered_json::object();
    for (std::string_view section : kConfigSections) {
        nlohmann::ordered_json keys = nlohmann::ordered_json::object();
        for (const ConfigKey* key : ConfigKeysOf(section)) keys[key->name] = ReadConfigKey(config, *key);
        all[std::string(section)] = keys;
    }
    return all;
}

nlohmann::ordered_json WeatherJson(const DeviceConfig& config) {
    const WeatherView view = ViewWeather(config);
    nlohmann::ordered_json j;
    j["clouds_per_day"] = view.cloudsPerDay;
    j["cloud_seconds"] = OptionalNumber(view.cloudSeconds);
    j["cloud_share"] = ShareNumber(view.cloudShare);
    j["storms_per_day"] = view.stormsPerDay;
    j["storm_minutes"] = OptionalNumber(view.stormMinutes);
    j["storm_share"] = ShareNumber(view.stormShare);
    j["CloudP"] = config.CloudP;
    j["CloudD"] = config.CloudD;
    j["StormP"] = config.StormP;
    j["StormD"] = config.StormD;
    return j;
}

nlohmann::json ScheduleJson(const std::vector<ScheduleEntry>& table) {
    nlohmann::json entries = nlohmann::json::array();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const ScheduleEntry& e = table[i];
        nlohmann::json channels = nlohmann::json::array();
        for (std::uint8_t c : e.Color) channels.push_back(int{c});
        entries.push_back({{"index", i},
                           {"hour", int{e.Hour}},
                           {"minute", int{e.Minute}},
                           {"time", FormatTimeOfDay(e.Hour, e.Minute)},
                           {"channels", channels}});
    }
    return {{"entries", entries}};
}

}  // namespace quelvan
