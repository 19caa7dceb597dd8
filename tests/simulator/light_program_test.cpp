// Schedule playback, moon phase and the default program.

#include "simulator/light_program.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "simulator/simulated_backend.h"

namespace quelvan::sim {
namespace {

ScheduleEntry Row(int hour, int minute, std::uint8_t a) {
    ScheduleEntry e;
    e.Hour = static_cast<std::int8_t>(hour);
    e.Minute = static_cast<std::int8_t>(minute);
    e.Color[0] = a;
    return e;
}

TEST(LightProgram, InterpolatesByTimeOfDayAndWrapsRoundMidnight) {
    const std::vector<ScheduleEntry> rows = {Row(20, 0, 40), Row(8, 0, 0), Row(12, 0, 100), Row(30, 0, 100),
                                             Row(9, 75, 100)};  // the last two are not times of day
    struct Case {
        double minute;
        std::int16_t level;
    };
    for (const Case& c : {Case{8 * 60, 0}, Case{10 * 60, 2048}, Case{12 * 60, 4096}, Case{16 * 60, 2867},
                          Case{20 * 60, 1638}, Case{2 * 60, 819}, Case{0, 1092}, Case{23 * 60 + 59.5, 1093}}) {
        EXPECT_EQ(PlaySchedule(rows, c.minute)[0], c.level) << c.minute;
    }
    EXPECT_EQ(PlaySchedule({}, 600), ChannelLevels{});
    EXPECT_EQ(PlaySchedule(std::vector{Row(5, 0, 30)}, 100)[0], 1229) << "a single point holds all day";
}

TEST(LightProgram, LevelsRoundHalvesToEven) {
    // 0 % at 00:00 to 25 % at 01:04 gives level = ms / 3750: halves at 1875 and 5625 ms.
    const std::vector<ScheduleEntry> rows = {Row(0, 0, 0), Row(1, 4, 25)};
    EXPECT_EQ(PlaySchedule(rows, 1875 / 60000.0)[0], 0);
    EXPECT_EQ(PlaySchedule(rows, 5625 / 60000.0)[0], 2);
    EXPECT_EQ(PercentToLevel(100), 4096);
    EXPECT_EQ(PercentToLevel(250), 4096) << "more than full is full";
}

TEST(LightProgram, EndOfDayPointAndEqualTimes) {
    const std::vector<ScheduleEntry> rows = {Row(0, 0, 0), Row(12, 0, 20), Row(12, 0, 80), Row(24, 0, 0)};
    EXPECT_EQ(PlaySchedule(rows, 6 * 60)[0], PercentToLevel(10));
    EXPECT_EQ(PlaySchedule(rows, 12 * 60)[0], PercentToLevel(80)) << "the later row of equal times counts from then";
    EXPECT_EQ(PlaySchedule(rows, 18 * 60)[0], PercentToLevel(40));
}

TEST(LightProgram, MoonPhaseAndMoonlight) {
    EXPECT_DOUBLE_EQ(MoonPhase(0, 0), 1.0);
    EXPECT_DOUBLE_EQ(MoonPhase(720, 0), 0.0);
    EXPECT_DOUBLE_EQ(MoonPhase(1080, 0), 0.5);
    EXPECT_DOUBLE_EQ(MoonPhase(60, 1320), 0.75);
    DeviceConfig config;
    config.MoonColor[2] = 255;
    config.MoonColor[3] = 128;
    EXPECT_EQ(Moonlight(config, 1.0)[2], 246);
    EXPECT_EQ(Moonlight(config, 1.0)[3], 123);
    EXPECT_EQ(Moonlight(config, 0.5)[2], 123);
    EXPECT_EQ(Moonlight(config, 0.0)[2], 0);
}

TEST(LightProgram, DefaultsDescribeADayWithDawnDuskAndMoon) {
    const auto schedule = DefaultSchedule();
    EXPECT_GE(schedule.size(), 8u);
    EXPECT_LE(schedule.size(), 12u);
    EXPECT_TRUE(std::is_sorted(schedule.begin(), schedule.end(), [](const auto& a, const auto& b) {
        return a.Hour * 60 + a.Minute < b.Hour * 60 + b.Minute;
    }));
    const auto noon = PlaySchedule(schedule, 13 * 60);
    const auto night = PlaySchedule(schedule, 2 * 60);
    EXPECT_GT(*std::max_element(noon.begin(), noon.end()), 3000);
    EXPECT_EQ(night, ChannelLevels{});
    const DeviceConfig config = DefaultConfig();
    EXPECT_EQ(config.Mode, 1);
    EXPECT_EQ(config.TimeLapse, 1);
    EXPECT_TRUE(std::all_of(config.ColorName.begin(), config.ColorName.end(), [](auto n) { return n <= 11; }));
    const ChannelLevels moon = Moonlight(config, 1.0);
    EXPECT_GT(*std::max_element(moon.begin(), moon.end()), 0);
}

}  // namespace
}  // namespace quelvan::sim
