#pragma once
// The geometry of the graph of the day, without any drawing: where times and percentages
// lie on a picture of W × H pixels, the channels' colours, which point a press hits, and
// what time and brightness a dragged point takes.
//
// The plot area runs from x = 20 (0:00) to x = W - 20 (24:00) and from y = 20 (100 %) to
// y = H - 21 (0 %).

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "device/records.h"

namespace quelvan {

constexpr int kGraphMargin = 20;
constexpr int kMinutesPerDay = 1440;

// One point per table row: the pixel column of its time and the pixel row of its
// brightness in each channel, as the last drawing placed them.
struct GraphPoint {
    float X = 0;
    std::array<float, kChannelCount> Y{};
};

// Minutes after midnight (hour and minute signed) to a pixel column, and a percentage to a
// pixel row, unrounded in single precision.
float GraphX(int minutes, int width);
float GraphY(int percent, int height);

// The line and pale colours ($AARRGGBB) of a colour name. Names beyond the twelve (a
// settings import can store any byte) take the colours of name 0, as their channel is
// then named by its letter.
std::uint32_t GraphLineColor(int colorName);
std::uint32_t GraphPaleColor(int colorName);

// The first row (lowest index) whose point in `channel` lies within 8 pixels of (x, y) in
// both directions, bounds included; nullopt when none does.
std::optional<int> HitTest(std::span<const GraphPoint> points, int channel, int x, int y);

// Where a point dragged to (x, y) on a W × H picture goes: the time in minutes, limited to
// 0..1440 (the right edge is 24:00), and the brightness, limited to 0..100 %. Nullopt for
// a picture too small to have a plot area.
struct DragTarget {
    int hour = 0;
    int minute = 0;
    int percent = 0;
};
std::optional<DragTarget> DragTo(int x, int y, int width, int height);

}  // namespace quelvan
