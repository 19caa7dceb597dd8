#include "mqtt/mqtt_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "device/board_modes.h"
#include "device/channel_names.h"
#include "device/channel_values.h"
#include "device/weather_conversions.h"
#include "schedule/moon_phase.h"

namespace quelvan::service::mqtt {

namespace {

using nlohmann::json;

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

// A percentage as the window shows it: two decimals at most.
double PercentNumber(int value) {
    return std::nearbyint(PercentOfChannelValue(value) * 100) / 100;
}

template <typename T>
json OptionalNumber(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

}  // namespace

std::string ChannelEntityName(int channel, int colorName) {
    const std::string byLetter = ChannelDisplayName(channel, 0);
    if (colorName <= 0 || colorName >= static_cast<int>(ColorNames.size())) return byLetter;
    return byLetter + " (" + ChannelDisplayName(channel, colorName) + ")";
}

json BoardState(const std::string& serial, const std::string& service, const LiveState& live,
                const DeviceConfig& config) {
    json channels = json::array();
    for (int n = 0; n < kChannelCount; ++n) {
        const int value = live.ChannelValue[static_cast<std::size_t>(n)];
        channels.push_back({{"letter", std::string(1, ChannelLetter(n))},
                            {"name", ChannelDisplayName(n, config.ColorName[static_cast<std::size_t>(n)])},
                            {"value", value},
                            {"percent", PercentNumber(value)},
                            {"state", value > 0 ? "ON" : "OFF"}});
    }
    const std::string_view modeName = ModeName(config.Mode);
    const MoonPhase moon = ComputeMoonPhase(live.MoonTransitHour, live.MoonTransitMinute, config.FullmoonTransitHour,
                                            config.FullmoonTransitMinute);
    const WeatherView weather = ViewWeather(config);
    return {
        {"serial", serial},
        {"service", service},
        {"firmware_version", live.FirmwareVersion},
        {"clock", TwoDigits(live.ClockHour) + ":" + TwoDigits(live.ClockMinute) + ":" + TwoDigits(live.ClockSecond)},
        {"mode", config.Mode},
        {"mode_name", modeName.empty() ? json(nullptr) : json(std::string(modeName))},
        {"time_lapse", config.TimeLapse},
        {"channels", channels},
        {"supply_voltage", live.SupplyVoltage / 1000.0},
        {"temperature", live.Temperature == kNoTemperatureSensor ? json(nullptr) : json(live.Temperature / 10.0)},
        {"moon_transit", TwoDigits(live.MoonTransitHour) + ":" + TwoDigits(live.MoonTransitMinute)},
        {"moon_phase", moon.phase},
        {"moon_lit_side", moon.litRight ? "right" : "left"},
        {"clouds_per_day", weather.cloudsPerDay},
        {"cloud_seconds", OptionalNumber(weather.cloudSeconds)},
        {"storms_per_day", weather.stormsPerDay},
        {"storm_minutes", OptionalNumber(weather.stormMinutes)},
    };
}

std::string ChannelState(int value) {
    if (value <= 0) return json{{"state", "OFF"}, {"color_mode", "brightness"}}.dump();
    // A value beyond full (typed into the window) is as bright as the light gets.
    return json{{"state", "ON"}, {"brightness", std::min(value, kChannelFullOn)}, {"color_mode", "brightness"}}.dump();
}

const char* WaterTemperatureAvailability(const LiveState& live) {
    return live.Temperature == kNoTemperatureSensor ? "offline" : "online";
}

}  // namespace quelvan::service::mqtt
