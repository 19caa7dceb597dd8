#include "schedule/graph_geometry.h"

#include <algorithm>

#include "device/numeric.h"

namespace quelvan {

namespace {

constexpr std::array<std::uint32_t, 12> kLineColors = {
    0xFFFFFFFF,  // Kanal <letter>
    0xFFFFFFFF,  // Weiß
    0xFFFF0000,  // Rot
    0xFF00FF00,  // Grün
    0xFF0000FF,  // Blau
    0xFFFF00FF,  // UV
    0xFF00FFFF,  // Mondlicht
    0xFFC0C0FF,  // Kaltweiß
    0xFFFFFFC0,  // Warmweiß
    0xFFFFFF00,  // Gelb
    0xFFFF8000,  // Pink
    0xFF0000FF,  // Royalblau
};

constexpr int kHitRadius = 8;

}  // namespace

float GraphX(int minutes, int width) {
    return static_cast<float>(minutes) * static_cast<float>(width - 2 * kGraphMargin) /
               static_cast<float>(kMinutesPerDay) +
           static_cast<float>(kGraphMargin);
}

float GraphY(int percent, int height) {
    return (1.0f - static_cast<float>(percent) / 100.0f) * static_cast<float>(height - 41) +
           static_cast<float>(kGraphMargin);
}

std::uint32_t GraphLineColor(int colorName) {
    if (colorName < 0 || colorName >= static_cast<int>(kLineColors.size())) colorName = 0;
    return kLineColors[static_cast<std::size_t>(colorName)];
}

std::uint32_t GraphPaleColor(int colorName) {
    return (GraphLineColor(colorName) & 0x00FFFFFF) | 0x20000000;
}

std::optional<int> HitTest(std::span<const GraphPoint> points, int channel, int x, int y) {
    if (channel < 0 || channel >= kChannelCount) return std::nullopt;
    for (std::size_t j = 0; j < points.size(); ++j) {
        const float px = points[j].X;
        const float py = points[j].Y[static_cast<std::size_t>(channel)];
        if (px - kHitRadius <= x && x <= px + kHitRadius && py - kHitRadius <= y && y <= py + kHitRadius)
            return static_cast<int>(j);
    }
    return std::nullopt;
}

std::optional<DragTarget> DragTo(int x, int y, int width, int height) {
    const int plotWidth = width - 2 * kGraphMargin;
    const int plotHeight = height - 41;
    if (plotWidth <= 0 || plotHeight <= 0) return std::nullopt;
    const long long product = static_cast<long long>(x - kGraphMargin) * kMinutesPerDay;
    const auto t = std::clamp<long long>(RoundHalfEven(static_cast<double>(product) / plotWidth), 0, kMinutesPerDay);
    const auto v = std::clamp<long long>(
        RoundHalfEven((1.0 - static_cast<double>(y - kGraphMargin) / plotHeight) * 100.0), 0, 100);
    return DragTarget{static_cast<int>(t / 60), static_cast<int>(t % 60), static_cast<int>(v)};
}

}  // namespace quelvan
