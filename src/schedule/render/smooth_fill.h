#pragma once
// An anti-aliased polygon fill straight into a premultiplied ARGB32 image: each pixel
// takes the colour with the share of its area that the polygon covers. QPainter's
// anti-aliased fill slows down badly on polygons with many long steep edges (a day
// program whose values jump from entry to entry); this one works row by row and costs
// the edges' length plus one blend per covered pixel.
//
// Coordinates are at pixel centres, as for the smooth lines. The closing edge is implied.
// Where the outline runs round a part twice (a curve dragged back over itself), that part
// is filled once, not twice (the non-zero rule).

#include <QImage>
#include <QPointF>
#include <cstdint>
#include <span>

namespace quelvan {

// `image` must be QImage::Format_ARGB32_Premultiplied; `argb` is $AARRGGBB.
void FillSmoothPolygon(QImage& image, std::span<const QPointF> points, std::uint32_t argb);

}  // namespace quelvan
