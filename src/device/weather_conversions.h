#pragma once
// Clouds and thunderstorms as the user thinks of them (how many a day, how long each) and as
// the board takes them (four probabilities per step of its weather process), both ways.
// Shared by the window's weather page and the command-line tool, so both store the same
// numbers and show the same numbers back.

#include <cstdint>
#include <optional>

#include "device/records.h"

namespace quelvan {

// The scale of all four probabilities: 2^24 / 100. All arithmetic is in double.
inline constexpr double kWeatherScale = 16777216.0 / 100.0;  // 167772.16

// The ranges of the window's weather track bars.
struct WeatherRange {
    int minimum;
    int maximum;
};
inline constexpr WeatherRange kCloudCountRange{0, 1000};
inline constexpr WeatherRange kCloudSecondsRange{1, 900};
inline constexpr WeatherRange kStormCountRange{0, 20};
inline constexpr WeatherRange kStormMinutesRange{1, 200};

// Limits a value to a track bar's range, as the track bar itself does.
int ClampToRange(long long value, WeatherRange range);

// ---- towards the board ----
// CloudP or StormP for an average number per day: round(count × K / 24 / 3600).
std::uint16_t ProbabilityFromCountPerDay(int countPerDay);
// CloudD for an average cloud duration: min(65535, round(K / seconds)); nullopt (field left
// as it is) for a duration that is not positive.
std::optional<std::uint16_t> CloudDFromSeconds(int seconds);
// StormD for an average storm duration: round((K / 60) / minutes), never above 2796 for
// whole minutes, so not clamped; nullopt for a duration that is not positive.
std::optional<std::uint16_t> StormDFromMinutes(int minutes);

// Both fields of a pair from the two track bar positions, as the window's update functions
// compute them (the caller writes the record).
void SetCloudProbabilities(DeviceConfig& config, int cloudsPerDay, int cloudSeconds);
void SetStormProbabilities(DeviceConfig& config, int stormsPerDay, int stormMinutes);

// Values a user gives for some of the four, each in its range: only the fields of the
// values given change. (The window's pages recompute a whole pair from both track bars,
// which would turn an unchanged duration into its rounded form.)
struct WeatherChange {
    std::optional<int> cloudsPerDay;
    std::optional<int> cloudSeconds;
    std::optional<int> stormsPerDay;
    std::optional<int> stormMinutes;
};
void ApplyWeatherChange(DeviceConfig& config, const WeatherChange& change);

// ---- back from the board (unlimited; the track bars limit them to their ranges) ----
// round(P / K × 24 × 3600), for CloudP and StormP.
long long CountPerDayFromProbability(std::uint16_t probability);
// round(K / CloudD); nullopt for 0, which leaves the track bar where it is.
std::optional<long long> CloudSecondsFromD(std::uint16_t cloudD);
// round((K / 60) / StormD); nullopt for 0.
std::optional<long long> StormMinutesFromD(std::uint16_t stormD);

// The share of weather time: P × 100 / (P + D) percent; nullopt when both are 0 (the share
// label is then empty).
std::optional<double> WeatherSharePercent(std::uint16_t probability, std::uint16_t duration);

// What the weather page shows for a record: the track bar positions (limited to their
// ranges; a duration is nullopt when its field is 0) and the two shares.
struct WeatherView {
    int cloudsPerDay = 0;
    std::optional<int> cloudSeconds;
    int stormsPerDay = 0;
    std::optional<int> stormMinutes;
    std::optional<double> cloudShare;
    std::optional<double> stormShare;
};
WeatherView ViewWeather(const DeviceConfig& config);

}  // namespace quelvan
