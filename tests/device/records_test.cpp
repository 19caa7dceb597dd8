#include "device/records.h"

#include <gtest/gtest.h>

#include <numeric>

#include "device/clock.h"

namespace quelvan {
namespace {

template <std::size_t N>
std::array<std::uint8_t, N> Counting() {
    std::array<std::uint8_t, N> a{};
    std::iota(a.begin(), a.end(), std::uint8_t{1});
    return a;
}

TEST(LiveStateCodec, FieldsSitAtTheirBytesLittleEndian) {
    // Payload offset = report byte - 1.
    auto bytes = Counting<LiveState::kSize>();
    bytes[12] = 0x00;  // channel A = 0x0800 (2048)
    bytes[13] = 0x08;
    bytes[38] = 0x13;  // temperature = -237 (0xFF13)
    bytes[39] = 0xFF;
    const LiveState s = LiveState::Decode(bytes);
    EXPECT_EQ(s.FirmwareVersion, 1);
    EXPECT_EQ(s.EntryCount, 2);
    EXPECT_EQ(s.ClockTick, 5);
    EXPECT_EQ(s.ClockSecond, 6);
    EXPECT_EQ(s.ClockMinute, 7);
    EXPECT_EQ(s.ClockHour, 8);
    EXPECT_EQ(s.MoonTransitMinute, 11);
    EXPECT_EQ(s.MoonTransitHour, 12);
    EXPECT_EQ(s.ChannelValue[0], 2048);
    EXPECT_EQ(s.ChannelValue[11], 0x2423);  // bytes 35..36
    EXPECT_EQ(s.SupplyVoltage, 0x2625);     // bytes 37..38
    EXPECT_EQ(s.Temperature, -237);
    EXPECT_EQ(s.Reserved1, (std::array<std::uint8_t, 2>{3, 4}));
    EXPECT_EQ(s.Reserved2, (std::array<std::uint8_t, 2>{9, 10}));
    EXPECT_EQ(s.Reserved3, 41);
    // Everything, reserved bytes included, goes back unchanged.
    EXPECT_EQ(s.Encode(), bytes);
}

TEST(LiveStateCodec, SignedFieldsKeepTheirSign) {
    LiveState s;
    s.ClockHour = -1;
    s.ChannelValue[3] = -5;
    const auto bytes = s.Encode();
    EXPECT_EQ(bytes[7], 0xFF);
    EXPECT_EQ(bytes[18], 0xFB);
    EXPECT_EQ(bytes[19], 0xFF);
    EXPECT_EQ(LiveState::Decode(bytes), s);
}

TEST(DeviceConfigCodec, EachPartRoundTripsAndDecodesOnlyItsFields) {
    const auto p1 = Counting<DeviceConfig::kPart1Size>();
    const auto p2 = Counting<DeviceConfig::kPart2Size>();
    const auto p3 = Counting<DeviceConfig::kPart3Size>();
    const auto p4 = Counting<DeviceConfig::kPart4Size>();
    DeviceConfig c;
    c.DecodePart1(p1);
    EXPECT_EQ(c.Mode, 1);
    EXPECT_EQ(c.TimeLapse, 7);
    EXPECT_EQ(c.ColorName[0], 8);
    EXPECT_EQ(c.ColorName[11], 19);
    EXPECT_EQ(c.CloudP, 0x1514);
    EXPECT_EQ(c.StormD, 0x1B1A);
    EXPECT_EQ(c.RC5, RC5Codes{});  // untouched by part 1
    c.DecodePart2(p2);
    EXPECT_EQ(c.RC5.Up, 0x0201);
    EXPECT_EQ(c.RC5.Step, 0x100F);
    c.DecodePart3(p3);
    EXPECT_EQ(c.FanMode, 1);
    EXPECT_EQ(c.TempOffset, 6);
    EXPECT_EQ(c.TempWaterLow, 0x0807);
    EXPECT_EQ(c.TempJMPHigh, 0x0E0D);
    EXPECT_EQ(c.FullmoonTransitHour, 15);
    EXPECT_EQ(c.FullmoonTransitMinute, 16);
    EXPECT_EQ(c.MoonColor[11], 28);
    c.DecodePart4(p4);
    EXPECT_EQ(c.CloudAlpha, 0x0201);
    EXPECT_EQ(c.LightningD, 0x0C0B);
    EXPECT_EQ(c.LightningColor[0], 13);
    EXPECT_EQ(c.EncodePart1(), p1);
    EXPECT_EQ(c.EncodePart2(), p2);
    EXPECT_EQ(c.EncodePart3(), p3);
    EXPECT_EQ(c.EncodePart4(), p4);
}

TEST(ScheduleEntryCodec, HourMinuteThenTwelvePercentages) {
    ScheduleEntry e;
    e.Hour = 24;
    e.Minute = 0;
    e.Color[0] = 100;
    e.Color[11] = 7;
    const auto bytes = e.Encode();
    EXPECT_EQ(bytes[0], 24);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 100);
    EXPECT_EQ(bytes[13], 7);
    EXPECT_EQ(ScheduleEntry::Decode(bytes), e);
}

TEST(ClockTick, MillisecondsInFortiethsRoundedHalfToEven) {
    const std::pair<int, int> cases[] = {{0, 0},   {19, 0},  {20, 0},   {21, 1},   {60, 2},
                                         {100, 2}, {140, 4}, {500, 12}, {980, 24}, {999, 25}};
    for (auto [ms, tick] : cases) EXPECT_EQ(ClockTickFromMilliseconds(ms), tick) << ms << " ms";
}

}  // namespace
}  // namespace quelvan
