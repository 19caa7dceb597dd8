#pragma once
// The board's records as JSON: the names and units of `quelvanctl --json` (status, config,
// weather, schedule), which quelvand's web API answers with too. One mapping for both, so
// that a script written against one reads the other.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "device/records.h"
#include "schedule/moon_phase.h"

namespace quelvan {

// At least two digits: 7 -> "07" (printf's "%02d").
std::string TwoDigits(int value);
// The board's clock "HH:MM:SS" and today's moon transit "HH:MM".
std::string ClockText(const LiveState& live);
std::string MoonTransitText(const LiveState& live);
// The moon's phase from today's transit and the full moon's; "right" or "left".
MoonPhase BoardMoon(const LiveState& live, const DeviceConfig& config);
const char* MoonLitSide(const MoonPhase& moon);

// Live state and the settings that matter for operation (quelvanctl status).
nlohmann::json StatusJson(const LiveState& live, const DeviceConfig& config);
// Every setting under its configuration-file section and key (quelvanctl config).
nlohmann::ordered_json ConfigJson(const DeviceConfig& config);
// Clouds and storms as the weather page shows them, and their four fields (quelvanctl weather).
nlohmann::ordered_json WeatherJson(const DeviceConfig& config);
// The day program: {"entries": [{"index", "hour", "minute", "time", "channels"}]}.
nlohmann::json ScheduleJson(const std::vector<ScheduleEntry>& table);

}  // namespace quelvan
