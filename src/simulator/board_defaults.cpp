// The schedule and settings a new simulated board comes with: a reef-tank day with a
// slow dawn, a bright noon, a warm dusk and moonlight on the "Mondlicht" channel.

#include "simulator/simulated_backend.h"

namespace quelvan::sim {

namespace {

ScheduleEntry Point(int hour, int minute, std::array<std::uint8_t, kChannelCount> percent) {
    ScheduleEntry e;
    e.Hour = static_cast<std::int8_t>(hour);
    e.Minute = static_cast<std::int8_t>(minute);
    e.Color = percent;
    return e;
}

}  // namespace

std::vector<ScheduleEntry> DefaultSchedule() {
    //                         A    B    C    D    E   F   G   H   I   J   K  L
    return {
        Point(0, 0, /*night*/ {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
        Point(7, 0, /*dawn*/ {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
        Point(8, 0, /*sunrise*/ {10, 5, 20, 30, 20, 15, 5, 5, 0, 10, 10, 0}),
        Point(10, 0, /*morning*/ {80, 60, 70, 90, 70, 40, 30, 40, 0, 30, 30, 0}),
        Point(13, 0, /*noon*/ {100, 90, 80, 100, 90, 50, 40, 60, 0, 40, 35, 0}),
        Point(16, 0, /*afternoon*/ {80, 60, 70, 90, 70, 40, 30, 40, 0, 30, 30, 0}),
        Point(19, 0, /*dusk*/ {30, 10, 50, 60, 40, 40, 10, 10, 5, 30, 25, 0}),
        Point(20, 30, /*late dusk*/ {0, 0, 5, 20, 10, 10, 0, 0, 10, 0, 5, 0}),
        Point(22, 0, /*night*/ {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
        Point(24, 0, /*end of day*/ {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
    };
}

DeviceConfig DefaultConfig() {
    DeviceConfig c;
    c.Mode = 1;  // "Auto"
    c.Step = 0;
    c.FanLow = 90;
    c.FanHigh = 230;
    c.LCDBLMin = 10;
    c.LCDBLMax = 180;
    c.TimeLapse = 1;
    // Weiß, Kaltweiß, Warmweiß, Royalblau, Blau, Rot, Grün, UV, Mondlicht, Gelb, Pink, Kanal L
    c.ColorName = {1, 7, 8, 11, 4, 2, 3, 5, 6, 9, 10, 0};
    c.CloudP = 194;   // about 100 clouds a day
    c.CloudD = 5592;  // of about 30 s each
    c.StormP = 4;     // about 2 storms a day
    c.StormD = 62;    // of about 45 minutes each

    c.FanMode = 0;
    c.PoweronPosition = 0;
    c.JMPMode = 0;
    c.PWMPrescaler = 0;
    c.TWIBitrate = 10;
    c.TempOffset = 0;
    c.TempWaterLow = 260;
    c.TempWaterHigh = 290;
    c.TempJMPLow = 240;
    c.TempJMPHigh = 250;
    c.FullmoonTransitHour = 0;
    c.FullmoonTransitMinute = 0;
    c.MoonColor = {0, 0, 0, 40, 0, 0, 0, 0, 255, 0, 0, 0};

    c.CloudAlpha = 26000;
    c.CloudStep = 400;
    c.StormAlpha = 9000;
    c.StormStep = 60;
    c.LightningP = 400;
    c.LightningD = 16000;
    c.LightningColor = {100, 100, 60, 80, 0, 0, 0, 0, 0, 0, 0, 0};
    return c;
}

}  // namespace quelvan::sim
