#include "simulator/light_program.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "device/numeric.h"

namespace quelvan::sim {

namespace {

struct TimePoint {
    int minute = 0;  // 0..1440
    const ScheduleEntry* entry = nullptr;
};

std::vector<TimePoint> UsablePoints(std::span<const ScheduleEntry> rows) {
    std::vector<TimePoint> points;
    points.reserve(rows.size());
    for (const auto& row : rows) {
        const int minute = row.Hour * 60 + row.Minute;
        if (row.Hour < 0 || row.Minute < 0 || row.Minute > 59 || minute > kMinutesPerDay) continue;
        points.push_back({minute, &row});
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const TimePoint& a, const TimePoint& b) { return a.minute < b.minute; });
    return points;
}

}  // namespace

std::int16_t PercentToLevel(double percent) {
    const double clamped = std::clamp(percent, 0.0, 100.0);
    return static_cast<std::int16_t>(RoundHalfEven(clamped * kFullLevel / 100.0));
}

ChannelLevels PlaySchedule(std::span<const ScheduleEntry> rows, double minuteOfDay) {
    ChannelLevels out{};
    const std::vector<TimePoint> points = UsablePoints(rows);
    if (points.empty()) return out;

    // The last point at or before the time, else the day's last point seen from yesterday.
    auto after = std::upper_bound(points.begin(), points.end(), minuteOfDay,
                                  [](double t, const TimePoint& p) { return t < p.minute; });
    TimePoint prev, next;
    double prevMinute, nextMinute;
    if (after == points.begin()) {
        prev = points.back();
        prevMinute = prev.minute - kMinutesPerDay;
    } else {
        prev = *std::prev(after);
        prevMinute = prev.minute;
    }
    if (after == points.end()) {
        next = points.front();
        nextMinute = next.minute + kMinutesPerDay;
    } else {
        next = *after;
        nextMinute = next.minute;
    }

    const double span = nextMinute - prevMinute;
    const double share = span > 0 ? (minuteOfDay - prevMinute) / span : 0.0;
    for (int c = 0; c < kChannelCount; ++c) {
        const double from = std::min<int>(prev.entry->Color[c], 100);
        const double to = std::min<int>(next.entry->Color[c], 100);
        out[c] = PercentToLevel(from + (to - from) * share);
    }
    return out;
}

double MoonPhase(int transitMinute, int fullmoonTransitMinute) {
    int distance = std::abs(transitMinute - fullmoonTransitMinute) % kMinutesPerDay;
    if (distance > kMinutesPerDay / 2) distance = kMinutesPerDay - distance;
    return 1.0 - distance / (kMinutesPerDay / 2.0);
}

ChannelLevels Moonlight(const DeviceConfig& config, double phase) {
    ChannelLevels out{};
    for (int c = 0; c < kChannelCount; ++c)
        out[c] = static_cast<std::int16_t>(RoundHalfEven(config.MoonColor[c] * kFullMoonLevel / 255.0 * phase));
    return out;
}

ChannelLevels DemoCycle(std::int64_t boardMsOfDay) {
    constexpr double kPeriodMs = 24'000.0;
    ChannelLevels out{};
    const double base = 2.0 * std::numbers::pi * static_cast<double>(boardMsOfDay % 24'000) / kPeriodMs;
    for (int c = 0; c < kChannelCount; ++c) {
        const double wave = 0.5 + 0.5 * std::sin(base - 2.0 * std::numbers::pi * c / kChannelCount);
        out[c] = static_cast<std::int16_t>(RoundHalfEven(wave * kFullLevel));
    }
    return out;
}

}  // namespace quelvan::sim
