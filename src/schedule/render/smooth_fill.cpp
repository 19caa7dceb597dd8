#include "schedule/render/smooth_fill.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "schedule/render/pixel_blend.h"

namespace quelvan {

namespace {

// An edge in pixel-corner coordinates, top to bottom; `dir` +1 for an edge that runs
// downwards in the outline, -1 for one that runs upwards.
struct Edge {
    double x0, y0, x1, y1;
    double dir;
};

// Pieces of the outline left of the image count as lying on its left border (they cover
// every pixel right of them), pieces right of it on its right border (they cover none).
void AddClippedEdge(std::vector<Edge>& edges, double xa, double ya, double xb, double yb, double width) {
    if (ya == yb) return;  // horizontal edges cover nothing
    const double dir = ya < yb ? 1.0 : -1.0;
    if (ya > yb) {
        std::swap(xa, xb);
        std::swap(ya, yb);
    }
    // Split where the edge crosses x = 0 and x = width.
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
        const double xt = std::clamp(xAt(top), 0.0, width);
        const double xbm = std::clamp(xAt(bottom), 0.0, width);
        edges.push_back({xt, top, xbm, bottom, dir});
    }
}

// Adds an edge's share of row y (between y and y + 1) to the row's cells: each cell holds
// the change of coverage from the pixel before it. Returns the cells touched.
std::pair<int, int> Accumulate(const Edge& e, int y, std::vector<double>& cells) {
    const double top = std::max<double>(y, e.y0);
    const double bottom = std::min<double>(y + 1, e.y1);
    const double dxdy = (e.x1 - e.x0) / (e.y1 - e.y0);
    const double xa = e.x0 + (top - e.y0) * dxdy;
    const double xb = e.x0 + (bottom - e.y0) * dxdy;
    const double d = (bottom - top) * e.dir;
    const double x0 = std::min(xa, xb);
    const double x1 = std::max(xa, xb);
    const double x0floor = std::floor(x0);
    const auto x0i = static_cast<int>(x0floor);
    const double x1ceil = std::ceil(x1);
    const auto x1i = static_cast<int>(x1ceil);
    if (x1i <= x0i + 1) {
        // Within one pixel: split by where the edge crosses it on average.
        const double xmf = 0.5 * (xa + xb) - x0floor;
        cells[static_cast<std::size_t>(x0i)] += d - d * xmf;
        cells[static_cast<std::size_t>(x0i) + 1] += d * xmf;
        return {x0i, x0i + 1};
    }
    // Across several pixels: the covered area grows quadratically in the first and last
    // pixel and linearly between them.
    const double s = 1.0 / (x1 - x0);
    const double x0f = x0 - x0floor;
    const double a0 = 0.5 * s * (1.0 - x0f) * (1.0 - x0f);
    const double x1f = x1 - x1ceil + 1.0;
    const double am = 0.5 * s * x1f * x1f;
    cells[static_cast<std::size_t>(x0i)] += d * a0;
    if (x1i == x0i + 2) {
        cells[static_cast<std::size_t>(x0i) + 1] += d * (1.0 - a0 - am);
    } else {
        const double a1 = s * (1.5 - x0f);
        cells[static_cast<std::size_t>(x0i) + 1] += d * (a1 - a0);
        for (int xi = x0i + 2; xi < x1i - 1; ++xi) cells[static_cast<std::size_t>(xi)] += d * s;
        const double a2 = a1 + (x1i - x0i - 3) * s;
        cells[static_cast<std::size_t>(x1i) - 1] += d * (1.0 - a2 - am);
    }
    cells[static_cast<std::size_t>(x1i)] += d * am;
    return {x0i, x1i};
}

float Coverage(double winding) {
    return static_cast<float>(std::min(1.0, std::abs(winding)));
}

}  // namespace

void FillSmoothPolygon(QImage& image, std::span<const QPointF> points, std::uint32_t argb) {
    const int width = image.width();
    const int height = image.height();
    if (image.format() != QImage::Format_ARGB32_Premultiplied || width <= 0 || height <= 0 || points.size() < 3) return;
    for (const QPointF& p : points)
        if (!std::isfinite(p.x()) || !std::isfinite(p.y())) return;

    std::vector<Edge> edges;
    edges.reserve(points.size() + 8);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const QPointF& a = points[i];
        const QPointF& b = points[(i + 1) % points.size()];
        // Pixel centres lie half a pixel into their pixel.
        AddClippedEdge(edges, a.x() + 0.5, a.y() + 0.5, b.x() + 0.5, b.y() + 0.5, width);
    }
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
    if (edges.empty()) return;

    double lowest = edges.front().y1;
    for (const Edge& e : edges) lowest = std::max(lowest, e.y1);
    const int firstRow = std::max(0, static_cast<int>(std::floor(edges.front().y0)));
    const int endRow = std::min(height, static_cast<int>(std::ceil(lowest)));

    auto* bits = reinterpret_cast<std::uint32_t*>(image.bits());
    const std::ptrdiff_t stride = image.bytesPerLine() / 4;
    const SolidBlend full(argb, 1.0f);
    std::vector<double> cells(static_cast<std::size_t>(width) + 2, 0.0);
    std::vector<const Edge*> active;
    std::vector<std::pair<int, int>> touched;
    std::size_t next = 0;

    for (int y = firstRow; y < endRow; ++y) {
        while (next < edges.size() && edges[next].y0 < y + 1) active.push_back(&edges[next++]);
        std::erase_if(active, [y](const Edge* e) { return e->y1 <= y; });
        touched.clear();
        for (const Edge* e : active)
            if (e->y0 < y + 1 && e->y1 > y) touched.push_back(Accumulate(*e, y, cells));
        if (touched.empty()) continue;
        std::sort(touched.begin(), touched.end());

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
        for (std::size_t i = 0; i < touched.size();) {
            const int lo = touched[i].first;
            int hi = touched[i].second;
            for (++i; i < touched.size() && touched[i].first <= hi + 1; ++i) hi = std::max(hi, touched[i].second);
            blendRun(x, std::min(lo, width));
            for (int c = lo; c <= hi; ++c) {
                winding += cells[static_cast<std::size_t>(c)];
                cells[static_cast<std::size_t>(c)] = 0.0;
                if (c < width)
                    if (const SolidBlend blend(argb, Coverage(winding)); blend.Visible()) blend.Apply(row[c]);
            }
            x = hi + 1;
        }
        blendRun(std::min(x, width), width);
    }
}

}  // namespace quelvan
