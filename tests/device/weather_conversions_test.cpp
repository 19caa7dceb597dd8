#include "device/weather_conversions.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quelvan {
namespace {

// The worked values: what the user sets, what the board stores, what the track bar shows
// again after the next poll (limited to its range).
struct WorkedRow {
    const char* what;
    int input;
    std::uint16_t stored;
    int shownAgain;
};

TEST(WeatherConversions, CloudCountsBothWays) {
    const WorkedRow rows[] = {
        {"1000 clouds per day", 1000, 1942, 1000},
        {"1 cloud per day", 1, 2, 1},
        {"no clouds", 0, 0, 0},
    };
    for (const WorkedRow& row : rows) {
        EXPECT_EQ(ProbabilityFromCountPerDay(row.input), row.stored) << row.what;
        EXPECT_EQ(ClampToRange(CountPerDayFromProbability(row.stored), kCloudCountRange), row.shownAgain) << row.what;
    }
}

TEST(WeatherConversions, CloudDurationsBothWaysClampedTo65535) {
    const WorkedRow rows[] = {
        {"1 s", 1, 65535, 3},   {"2 s", 2, 65535, 3},     {"3 s", 3, 55924, 3},
        {"60 s", 60, 2796, 60}, {"600 s", 600, 280, 599}, {"900 s (902 limited)", 900, 186, 900},
    };
    for (const WorkedRow& row : rows) {
        EXPECT_EQ(CloudDFromSeconds(row.input), row.stored) << row.what;
        const std::optional<long long> back = CloudSecondsFromD(row.stored);
        ASSERT_TRUE(back) << row.what;
        EXPECT_EQ(ClampToRange(*back, kCloudSecondsRange), row.shownAgain) << row.what;
    }
    EXPECT_EQ(CloudSecondsFromD(186), 902) << "the track bar limits it, the conversion does not";
}

TEST(WeatherConversions, StormCountsAndDurationsBothWays) {
    const WorkedRow counts[] = {{"20 storms per day", 20, 39, 20}, {"1 storm", 1, 2, 1}};
    for (const WorkedRow& row : counts) {
        EXPECT_EQ(ProbabilityFromCountPerDay(row.input), row.stored) << row.what;
        EXPECT_EQ(ClampToRange(CountPerDayFromProbability(row.stored), kStormCountRange), row.shownAgain) << row.what;
    }
    const WorkedRow durations[] = {
        {"1 min", 1, 2796, 1},
        {"60 min", 60, 47, 59},
        {"190 min", 190, 15, 186},
        {"200 min", 200, 14, 200},
    };
    for (const WorkedRow& row : durations) {
        EXPECT_EQ(StormDFromMinutes(row.input), row.stored) << row.what;
        const std::optional<long long> back = StormMinutesFromD(row.stored);
        ASSERT_TRUE(back) << row.what;
        EXPECT_EQ(ClampToRange(*back, kStormMinutesRange), row.shownAgain) << row.what;
    }
}

TEST(WeatherConversions, ZeroDurationsLeaveFieldsAndTrackBarsAlone) {
    EXPECT_EQ(CloudDFromSeconds(0), std::nullopt);
    EXPECT_EQ(StormDFromMinutes(-3), std::nullopt);
    EXPECT_EQ(CloudSecondsFromD(0), std::nullopt);
    EXPECT_EQ(StormMinutesFromD(0), std::nullopt);

    DeviceConfig config;
    config.CloudD = 1234;
    config.StormD = 99;
    SetCloudProbabilities(config, 1000, 0);
    SetStormProbabilities(config, 20, 0);
    EXPECT_EQ(config.CloudP, 1942);
    EXPECT_EQ(config.CloudD, 1234);
    EXPECT_EQ(config.StormP, 39);
    EXPECT_EQ(config.StormD, 99);
    // Both fields of a pair always come from the two positions.
    SetCloudProbabilities(config, 1, 60);
    SetStormProbabilities(config, 0, 60);
    EXPECT_EQ(config.CloudP, 2);
    EXPECT_EQ(config.CloudD, 2796);
    EXPECT_EQ(config.StormP, 0);
    EXPECT_EQ(config.StormD, 47);
}

TEST(WeatherConversions, SharesAndTheViewOfARecord) {
    const std::optional<double> share = WeatherSharePercent(1942, 186);
    ASSERT_TRUE(share);
    EXPECT_NEAR(*share, 91.259, 0.001);
    EXPECT_EQ(WeatherSharePercent(0, 0), std::nullopt);
    EXPECT_EQ(WeatherSharePercent(0, 5), 0.0);
    EXPECT_EQ(WeatherSharePercent(65535, 65535), 50.0);  // no 16-bit overflow in the sum

    DeviceConfig config;
    config.CloudP = 1942;
    config.CloudD = 186;
    config.StormP = 65535;  // far beyond the track bar's 20
    config.StormD = 0;
    const WeatherView view = ViewWeather(config);
    EXPECT_EQ(view.cloudsPerDay, 1000);
    EXPECT_EQ(view.cloudSeconds, 900);
    EXPECT_EQ(view.stormsPerDay, 20);
    EXPECT_EQ(view.stormMinutes, std::nullopt);
    EXPECT_EQ(view.stormShare, 100.0);
}

}  // namespace
}  // namespace quelvan
