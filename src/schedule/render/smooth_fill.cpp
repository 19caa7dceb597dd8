#include "schedule/render/smooth_fill.h"

#include <algorithm>
#include <cmath>

#include "schedule/render/pixel_blend.h"

namespace quelvan {

namespace {

float Coverage(double winding) {
    return static_cast<float>(std::min(1.0, std::abs(winding)));
}

}  // namespace

SmoothPolygonFill::SmoothPolygonFill(std::span<const QPointF> points, int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)) {
    if (points.size() < 3) return;
    for (const QPointF& p : points)
        if (!std::isfinite(p.x()) || !std::isfinite(p.y())) return;
    edges_.reserve(points.size() + 8);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const QPointF& a = points[i];
        const QPointF& b = points[(i + 1) % points.size()];
        // Pixel centres lie half a pixel into their pixel.
        AddClippedEdge(a.x() + 0.5, a.y() + 0.5, b.x() + 0.5, b.y() + 0.5);
    }
    std::sort(edges_.begin(), edges_.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
    cells_.assign(static_cast<std::size_t>(width_) + 2, 0.0);
}

// Edges run top to bottom, `dir` +1 for one that runs downwards in the outline. Pieces left
// of the picture count as lying on its left border (they cover every pixel right of them),
// pieces right of it on its right border (they cover none).
void SmoothPolygonFill::AddClippedEdge(double xa, double ya, double xb, double yb) {
    if (ya == yb) return;  // horizontal edges cover nothing
    const double dir = ya < yb ? 1.0 : -1.0;
    if (ya > yb) {
        std::swap(xa, xb);
        std::swap(ya, yb);
    }
    const double width = width_;
    double cuts[4] = {ya, yb, yb, yb};
    int n = 1;
    for (const double border : {0.0, width}) {
        if ((xa - border) * (xb - border) < 0) cuts[n++] = ya + (border - xa) * (yb - ya) / (xb - xa);
    }
    if (n == 3 && cuts[2] < cuts[1]) std::swap(cuts[1], cuts[2]);
    cuts[n] = yb;
    auto xAt = [&](double y) { return xa + (y - ya) * (xb - xa) / (yb - ya); };
    for (int i = 0; i < n; ++i) {
        const double top = cuts[i];
        const double bottom = cuts[i + 1];
        if (bottom <= top) continue;
        edges_.push_back({std::clamp(xAt(top), 0.0, width), top, std::clamp(xAt(bottom), 0.0, width), bottom, dir});
    }
}

// Adds an edge's share of row y (between y and y + 1) to the row's cells: each cell holds
// the change of coverage from the pixel before it. Returns the cells touched.
std::pair<int, int> SmoothPolygonFill::Accumulate(const Edge& e, int y) {
    const double top = std::max<double>(y, e.y0);
    const double bottom = std::min<double>(y + 1, e.y1);
    const double dxdy = (e.x1 - e.x0) / (e.y1 - e.y0);
    // Rounding must not carry a point past the picture's borders, where the cells end.
    const double width = width_;
    const double xa = std::clamp(e.x0 + (top - e.y0) * dxdy, 0.0, width);
    const double xb = std::clamp(e.x0 + (bottom - e.y0) * dxdy, 0.0, width);
    const double d = (bottom - top) * e.dir;
    const double x0 = std::min(xa, xb);
    const double x1 = std::max(xa, xb);
    const double x0floor = std::floor(x0);
    const auto x0i = static_cast<int>(x0floor);
    const double x1ceil = std::ceil(x1);
    const auto x1i = static_cast<int>(x1ceil);
    auto cell = [this](int i) -> double& { return cells_[static_cast<std::size_t>(i)]; };
    if (x1i <= x0i + 1) {
        // Within one pixel: split by where the edge crosses it on average.
        const double xmf = 0.5 * (xa + xb) - x0floor;
        cell(x0i) += d - d * xmf;
        cell(x0i + 1) += d * xmf;
        return {x0i, x0i + 1};
    }
    // Across several pixels: the covered area grows quadratically in the first and last
    // pixel and linearly between them.
    const double s = 1.0 / (x1 - x0);
    const double x0f = x0 - x0floor;
    const double a0 = 0.5 * s * (1.0 - x0f) * (1.0 - x0f);
    const double x1f = x1 - x1ceil + 1.0;
    const double am = 0.5 * s * x1f * x1f;
    cell(x0i) += d * a0;
    if (x1i == x0i + 2) {
        cell(x0i + 1) += d * (1.0 - a0 - am);
    } else {
        const double a1 = s * (1.5 - x0f);
        cell(x0i + 1) += d * (a1 - a0);
        for (int xi = x0i + 2; xi < x1i - 1; ++xi) cell(xi) += d * s;
        const double a2 = a1 + (x1i - x0i - 3) * s;
        cell(x1i - 1) += d * (1.0 - a2 - am);
    }
    cell(x1i) += d * am;
    return {x0i, x1i};
}

void SmoothPolygonFill::FillRows(QImage& image, std::uint32_t argb, int begin, int end) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied || image.width() != width_ || image.height() != height_ ||
        edges_.empty())
        return;
    begin = std::max(begin, 0);
    end = std::min(end, height_);
    auto* bits = reinterpret_cast<std::uint32_t*>(image.bits());
    const std::ptrdiff_t stride = image.bytesPerLine() / 4;
    const SolidBlend full(argb, 1.0f);

    for (int y = begin; y < end; ++y) {
        while (next_ < edges_.size() && edges_[next_].y0 < y + 1) active_.push_back(&edges_[next_++]);
        std::erase_if(active_, [y](const Edge* e) { return e->y1 <= y; });
        touched_.clear();
        for (const Edge* e : active_)
            if (e->y0 < y + 1 && e->y1 > y) touched_.push_back(Accumulate(*e, y));
        if (touched_.empty()) continue;
        std::sort(touched_.begin(), touched_.end());

        // Between touched cells the coverage stays as it is: blend whole runs at once.
        std::uint32_t* row = bits + static_cast<std::ptrdiff_t>(y) * stride;
        double winding = 0.0;
        int x = 0;
        auto blendRun = [&](int from, int to) {
            if (from >= to) return;
            const float coverage = Coverage(winding);
            if (coverage >= 1.0f) {
                full.Apply(row + from, to - from);
            } else if (const SolidBlend blend(argb, coverage); blend.Visible()) {
                blend.Apply(row + from, to - from);
            }
        };
        for (std::size_t i = 0; i < touched_.size();) {
            const int lo = touched_[i].first;
            int hi = touched_[i].second;
            for (++i; i < touched_.size() && touched_[i].first <= hi + 1; ++i) hi = std::max(hi, touched_[i].second);
            blendRun(x, std::min(lo, width_));
            for (int c = lo; c <= hi; ++c) {
                winding += cells_[static_cast<std::size_t>(c)];
                cells_[static_cast<std::size_t>(c)] = 0.0;
                if (c < width_)
                    if (const SolidBlend blend(argb, Coverage(winding)); blend.Visible()) blend.Apply(row[c]);
            }
            x = hi + 1;
        }
        blendRun(std::min(x, width_), width_);
    }
}

void FillSmoothPolygon(QImage& image, std::span<const QPointF> points, std::uint32_t argb) {
    SmoothPolygonFill fill(points, image.width(), image.height());
    fill.FillRows(image, argb, 0, image.height());
}

}  // namespace quelvan
