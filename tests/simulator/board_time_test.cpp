// The board's own behaviour over time: its clock, the moon, the sensors, and the
// schedule played in "Auto".

#include <gtest/gtest.h>

#include "sim_bench.h"
#include "simulator/light_program.h"

namespace quelvan::sim::testing {
namespace {

int ClockSeconds(const LiveState& live) {
    return (live.ClockHour * 60 + live.ClockMinute) * 60 + live.ClockSecond;
}

TEST(BoardTime, ClockRunsAtTimeLapseTimesRealTime) {
    struct Case {
        std::uint8_t timeLapse;
        std::int64_t realMs;
        int boardSeconds;
    };
    for (const Case& c : {Case{1, 90'000, 90}, Case{10, 90'000, 900}, Case{0, 90'000, 90}, Case{255, 1000, 255}}) {
        SimBench bench({}, At(23, 59, 0));
        bench.Board().Config().TimeLapse = c.timeLapse;
        const int before = ClockSeconds(bench.Board().Live());
        bench.nowMs += c.realMs;
        const int after = ClockSeconds(bench.Board().Live());
        EXPECT_EQ((after - before + 86400) % 86400, c.boardSeconds) << "TimeLapse " << int(c.timeLapse);
    }
}

TEST(BoardTime, FrozenBoardStandsStillUntilAdvanced) {
    SimBench bench({}, At(12, 0));
    SimulatedBoard& board = bench.Board();
    board.SetFrozen(true);
    const LiveState before = board.Live();
    bench.nowMs += 3'600'000;
    EXPECT_EQ(board.Live(), before);

    board.Advance(std::chrono::minutes(30));
    EXPECT_EQ(board.Live().ClockHour, 12);
    EXPECT_EQ(board.Live().ClockMinute, 30);
}

TEST(BoardTime, MoonTransitMovesAboutFortyNineMinutesADay) {
    SimBench bench;
    SimulatedBoard& board = bench.Board();
    board.SetFrozen(true);
    auto transit = [&] { return board.Live().MoonTransitHour * 60 + board.Live().MoonTransitMinute; };
    const int start = transit();
    board.Advance(std::chrono::hours(24));
    EXPECT_EQ(transit() - start, 48);  // 48.8, the fraction carried
    board.Advance(std::chrono::hours(24));
    EXPECT_EQ(transit() - start, 97);
    board.Advance(std::chrono::hours(24 * 27));  // a whole lunar month comes round again
    EXPECT_EQ((transit() - start + 1440) % 1440, 1415);
}

TEST(BoardTime, SensorsReportAPlausibleSupplyAndWaterTemperature) {
    BoardSettings settings;
    settings.randomSeed = 7;
    SimBench a(settings), b(settings);
    std::vector<std::uint16_t> supply;
    for (int i = 0; i < 500; ++i) {
        a.nowMs += 500;
        b.nowMs += 500;
        const LiveState& live = a.Board().Live();
        EXPECT_GE(live.SupplyVoltage, 11850);
        EXPECT_LE(live.SupplyVoltage, 12150);
        EXPECT_NEAR(live.Temperature, 253, 5);
        EXPECT_EQ(b.Board().Live().SupplyVoltage, live.SupplyVoltage) << "the same seed replays the same noise";
        supply.push_back(live.SupplyVoltage);
    }
    EXPECT_GT(*std::max_element(supply.begin(), supply.end()), *std::min_element(supply.begin(), supply.end()));

    a.Board().Config().TempOffset = -30;
    a.nowMs += 500;
    EXPECT_NEAR(a.Board().Live().Temperature, 223, 5);
    a.Board().MutableSettings().temperatureSensor = false;
    EXPECT_EQ(a.Board().Live().Temperature, kNoTemperatureSensor);
}

TEST(BoardTime, AutoPlaysTheScheduleAtTheBoardsTime) {
    SimBench bench({}, At(9, 15));
    SimulatedBoard& board = bench.Board();
    board.SetFrozen(true);
    ScheduleEntry morning, noon, evening;
    morning.Hour = 8;
    noon.Hour = 10;
    noon.Color = {100, 50, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0};
    evening.Hour = 20;
    board.Schedule() = {noon, evening, morning};  // the board plays its rows in time order
    board.Config().MoonColor.fill(0);
    board.Advance(std::chrono::milliseconds(0));
    const auto& v = board.Live().ChannelValue;
    EXPECT_EQ(v[0], 2560);  // 62.5 % of 4096
    EXPECT_EQ(v[1], 1280);
    EXPECT_EQ(v[2], 0);
    EXPECT_EQ(v[3], 256);

    // From the day's last point on to the next day's first: 20:00 dark, 08:00 dark.
    board.Advance(std::chrono::hours(14));  // 23:15
    EXPECT_EQ(board.Live().ChannelValue, ChannelLevels{});

    // Night: the moon's channels glow with the phase.
    board.Config().MoonColor[8] = 255;
    board.Config().FullmoonTransitHour = static_cast<std::uint8_t>(board.Live().MoonTransitHour);
    board.Config().FullmoonTransitMinute = static_cast<std::uint8_t>(board.Live().MoonTransitMinute);
    board.Advance(std::chrono::milliseconds(0));
    EXPECT_EQ(board.Live().ChannelValue[8], 246);
}

TEST(BoardTime, CloudsDimTheProgramInAuto) {
    SimBench bench({}, At(13, 0));
    SimulatedBoard& board = bench.Board();
    DeviceConfig& config = board.Config();
    config.CloudP = 65535;  // a cloud within a few seconds ...
    config.CloudD = 0;      // ... that stays
    config.CloudAlpha = 0;
    config.CloudStep = 0;
    config.StormP = 0;
    const auto clear = board.Live().ChannelValue;
    EXPECT_GT(clear[0], 3000);
    bench.nowMs += 60'000;
    EXPECT_EQ(board.Live().ChannelValue, ChannelLevels{});
    config.Mode = 0;  // "Manuell" takes the channels as they are and holds them
    bench.nowMs += 60'000;
    EXPECT_EQ(board.Live().ChannelValue, ChannelLevels{});
}

}  // namespace
}  // namespace quelvan::sim::testing
