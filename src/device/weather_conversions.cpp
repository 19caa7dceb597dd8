#include "device/weather_conversions.h"

#include <algorithm>

#include "device/numeric.h"

namespace quelvan {

namespace {

constexpr double kHoursPerDay = 24.0;
constexpr double kSecondsPerHour = 3600.0;
// The storm durations are in minutes: K / 60 = 2796.2026666...
constexpr double kStormScale = kWeatherScale / 60.0;

}  // namespace

int ClampToRange(long long value, WeatherRange range) {
    return static_cast<int>(std::clamp<long long>(value, range.minimum, range.maximum));
}

std::uint16_t ProbabilityFromCountPerDay(int countPerDay) {
    return Low16(RoundHalfEven(countPerDay * kWeatherScale / kHoursPerDay / kSecondsPerHour));
}

std::optional<std::uint16_t> CloudDFromSeconds(int seconds) {
    if (seconds <= 0) return std::nullopt;
    return static_cast<std::uint16_t>(std::min<long long>(0xFFFF, RoundHalfEven(kWeatherScale / seconds)));
}

std::optional<std::uint16_t> StormDFromMinutes(int minutes) {
    if (minutes <= 0) return std::nullopt;
    return Low16(RoundHalfEven(kStormScale / minutes));
}

void ApplyWeatherChange(DeviceConfig& config, const WeatherChange& change) {
    if (change.cloudsPerDay) config.CloudP = ProbabilityFromCountPerDay(*change.cloudsPerDay);
    if (change.cloudSeconds)
        if (const auto d = CloudDFromSeconds(*change.cloudSeconds)) config.CloudD = *d;
    if (change.stormsPerDay) config.StormP = ProbabilityFromCountPerDay(*change.stormsPerDay);
    if (change.stormMinutes)
        if (const auto d = StormDFromMinutes(*change.stormMinutes)) config.StormD = *d;
}

void SetCloudProbabilities(DeviceConfig& config, int cloudsPerDay, int cloudSeconds) {
    config.CloudP = ProbabilityFromCountPerDay(cloudsPerDay);
    if (const auto d = CloudDFromSeconds(cloudSeconds)) config.CloudD = *d;
}

void SetStormProbabilities(DeviceConfig& config, int stormsPerDay, int stormMinutes) {
    config.StormP = ProbabilityFromCountPerDay(stormsPerDay);
    if (const auto d = StormDFromMinutes(stormMinutes)) config.StormD = *d;
}

long long CountPerDayFromProbability(std::uint16_t probability) {
    return RoundHalfEven(probability / kWeatherScale * kHoursPerDay * kSecondsPerHour);
}

std::optional<long long> CloudSecondsFromD(std::uint16_t cloudD) {
    if (cloudD == 0) return std::nullopt;
    return RoundHalfEven(kWeatherScale / cloudD);
}

std::optional<long long> StormMinutesFromD(std::uint16_t stormD) {
    if (stormD == 0) return std::nullopt;
    return RoundHalfEven(kStormScale / stormD);
}

std::optional<double> WeatherSharePercent(std::uint16_t probability, std::uint16_t duration) {
    const int sum = probability + duration;
    if (sum == 0) return std::nullopt;
    return probability * 100.0 / sum;
}

WeatherView ViewWeather(const DeviceConfig& config) {
    WeatherView view;
    view.cloudsPerDay = ClampToRange(CountPerDayFromProbability(config.CloudP), kCloudCountRange);
    if (const auto s = CloudSecondsFromD(config.CloudD)) view.cloudSeconds = ClampToRange(*s, kCloudSecondsRange);
    view.stormsPerDay = ClampToRange(CountPerDayFromProbability(config.StormP), kStormCountRange);
    if (const auto m = StormMinutesFromD(config.StormD)) view.stormMinutes = ClampToRange(*m, kStormMinutesRange);
    view.cloudShare = WeatherSharePercent(config.CloudP, config.CloudD);
    view.stormShare = WeatherSharePercent(config.StormP, config.StormD);
    return view;
}

}  // namespace quelvan
