#pragma once
// Anti-aliased lines and polylines drawn straight into a premultiplied ARGB32 image, one
// pixel wide unless asked for wider (a picture drawn for a high-density screen). QPainter blends translucent lines span
// by span and hands large images to worker threads, which made the graph's eleven pale curves its slowest part; these
// lines cost one blend per pixel touched.
//
// Coordinates are at pixel centres: (3, 4) is the middle of the pixel in column 3, row 4.
// A line covers the pixels at both of its ends; where two segments of a polyline meet,
// the shared pixel is blended once.
//
// Drawing can be limited to a band of rows, so that a picture is finished band by band
// while its pixels are in the cache; the pixels come out the same as drawn in one go.

#include <QImage>
#include <QPointF>
#include <climits>
#include <cstdint>
#include <span>
#include <vector>

namespace quelvan {

// Rows `begin` up to, not including, `end`.
struct RowBand {
    int begin = INT_MIN;
    int end = INT_MAX;
};

// `image` must be QImage::Format_ARGB32_Premultiplied; `argb` is $AARRGGBB (not premultiplied).
// `width` is measured across the line's longer axis, in pixels.
void DrawSmoothLine(QImage& image, QPointF from, QPointF to, std::uint32_t argb, RowBand band = {}, double width = 1.0);
void DrawSmoothPolyline(QImage& image, std::span<const QPointF> points, std::uint32_t argb, RowBand band = {},
                        double width = 1.0);

// A polyline prepared for a picture drawn in bands of `bandRows` rows from the top: its
// segments sorted into the bands they can reach, so that a band costs only its own.
class BandedPolyline {
public:
    BandedPolyline(std::span<const QPointF> points, int bandRows, int height, double width = 1.0);
    // Draws band number `band` (rows band × bandRows up to the next band).
    void DrawBand(QImage& image, std::uint32_t argb, int band) const;

private:
    std::vector<QPointF> points_;
    int bandRows_;
    int height_;
    double width_;
    std::vector<int> firstOfBand_;  // per band, where its segments start in segments_
    std::vector<int> segments_;     // segment i runs from point i - 1 to point i
};

}  // namespace quelvan
