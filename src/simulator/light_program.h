#pragma once
// What the board's own light program puts on the twelve channels: the daily schedule
// played by time of day, moonlight while the schedule is dark, and the demo cycle.
// Pure functions of their inputs, so that playback can be checked without a board.

#include <array>
#include <cstdint>
#include <span>

#include "device/records.h"

namespace quelvan::sim {

using ChannelLevels = std::array<std::int16_t, kChannelCount>;

constexpr int kFullLevel = 4096;
constexpr int kMinutesPerDay = 1440;
constexpr std::int64_t kMsPerDay = 86'400'000;
// MoonColor 255 stands for about 6 % of full brightness.
constexpr int kFullMoonLevel = 246;

// Percent (0..100, more is taken as 100) to a channel level 0..4096, rounded halves to even.
std::int16_t PercentToLevel(double percent);

// The schedule's levels at a time of day (minutes after midnight, with fraction).
// Points are taken in time order (equal times keep their row order); between two points
// each channel is interpolated linearly, and from the last point of the day it runs on
// to the first point of the next day. Rows with a time outside 0:00..24:00 are skipped.
// No usable row: all channels dark.
ChannelLevels PlaySchedule(std::span<const ScheduleEntry> rows, double minuteOfDay);

// Lunar phase from today's transit and the full moon's transit, both minutes after
// midnight: 1 when they agree (full moon), 0 when twelve hours apart (new moon).
double MoonPhase(int transitMinute, int fullmoonTransitMinute);

// Moonlight per channel: MoonColor scaled to at most kFullMoonLevel, times the phase.
ChannelLevels Moonlight(const DeviceConfig& config, double phase);

// The demo mode's colour cycle: every channel swells and fades, one after the other.
ChannelLevels DemoCycle(std::int64_t boardMsOfDay);

}  // namespace quelvan::sim
