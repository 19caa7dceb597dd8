#pragma once
// The graph of the day as a picture: the hour and percent grid with its labels, the
// board's time, every channel's curve over the day, the chosen channel drawn last with
// its points and the area under it shaded. A function of its inputs only.
//
// QPainter draws the label texts; lines, curves and the shading are drawn straight into
// the pixels (smooth_lines.h, smooth_fill.h), band by band, which keeps a redraw at full
// screen size within the few milliseconds that dragging a point allows.

#include <QFont>
#include <QImage>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "device/records.h"
#include "schedule/graph_geometry.h"

namespace quelvan {

struct GraphInput {
    std::span<const ScheduleEntry> table;
    int clockHour = 0;  // the board's clock, signed as read
    int clockMinute = 0;
    std::array<std::uint8_t, kChannelCount> colorNames{};
    int channel = 0;  // the chosen channel, 0..11
    int width = 0;    // the graph's size in logical pixels, where its geometry and points lie
    int height = 0;
    // Picture pixels per logical pixel, the screen's device-pixel ratio: the picture is drawn
    // with width × scale by height × scale pixels, every size (lines, squares, text) scaled
    // with it, and marked with that ratio. At 1 it is the picture the geometry describes.
    double scale = 1.0;
    QFont font;
};

// Paints a width × height ARGB32 picture and stores in `points` (resized to the table's
// length) where each row's points lie. With no area to paint the image is null, and the
// points are placed all the same. A picture from an earlier call handed in as `reuse` lends
// its memory when it has the same size (a window redrawing 40 times a second would
// otherwise have fresh pages zeroed for every picture); its contents do not matter.
QImage DrawGraph(const GraphInput& input, std::vector<GraphPoint>& points, QImage reuse = {});

// The font the window draws the labels in, for pictures made outside the window.
QFont DefaultGraphFont();

}  // namespace quelvan
