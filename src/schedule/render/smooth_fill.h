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
#include <utility>
#include <vector>

namespace quelvan {

// A polygon prepared for a width × height picture, filled row by row: the rows may be
// asked for in bands, from the top down, so that a picture is finished band by band.
class SmoothPolygonFill {
public:
    SmoothPolygonFill(std::span<const QPointF> points, int width, int height);
    // Fills rows `begin` up to `end`; each call must start at or below where the last ended.
    // `image` must be QImage::Format_ARGB32_Premultiplied of the prepared size; `argb` is
    // $AARRGGBB.
    void FillRows(QImage& image, std::uint32_t argb, int begin, int end);

private:
    struct Edge {
        double x0, y0, x1, y1;
        double dir;
    };
    void AddClippedEdge(double xa, double ya, double xb, double yb);
    std::pair<int, int> Accumulate(const Edge& e, int y);

    int width_;
    int height_;
    std::vector<Edge> edges_;  // sorted by their top
    std::size_t next_ = 0;     // the first edge not yet active
    std::vector<const Edge*> active_;
    std::vector<double> cells_;
    std::vector<std::pair<int, int>> touched_;
};

// The whole polygon at once.
void FillSmoothPolygon(QImage& image, std::span<const QPointF> points, std::uint32_t argb);

}  // namespace quelvan
