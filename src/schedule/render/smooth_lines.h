#pragma once
// 1-pixel anti-aliased lines and polylines drawn straight into a premultiplied ARGB32
// image. QPainter blends translucent lines span by span and hands large images to worker
// threads, which made the graph's eleven pale curves its slowest part; these lines cost
// one blend per pixel touched.
//
// Coordinates are at pixel centres: (3, 4) is the middle of the pixel in column 3, row 4.
// A line covers the pixels at both of its ends; where two segments of a polyline meet,
// the shared pixel is blended once.

#include <QImage>
#include <QPointF>
#include <cstdint>
#include <span>

namespace quelvan {

// `image` must be QImage::Format_ARGB32_Premultiplied; `argb` is $AARRGGBB (not premultiplied).
void DrawSmoothLine(QImage& image, QPointF from, QPointF to, std::uint32_t argb);
void DrawSmoothPolyline(QImage& image, std::span<const QPointF> points, std::uint32_t argb);

}  // namespace quelvan
