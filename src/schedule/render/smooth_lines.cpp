#include "schedule/render/smooth_lines.h"

#include <algorithm>
#include <cmath>

#include "schedule/render/pixel_blend.h"

namespace quelvan {

namespace {

class Plotter {
public:
    Plotter(QImage& image, std::uint32_t argb)
        : bits_(reinterpret_cast<std::uint32_t*>(image.bits())),
          stride_(image.bytesPerLine() / 4),
          width_(image.width()),
          height_(image.height()),
          argb_(argb) {}

    int Width() const { return width_; }
    int Height() const { return height_; }

    // Source-over with the colour's alpha times `coverage` (0..1).
    void Blend(int x, int y, float coverage) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        const SolidBlend blend(argb_, coverage);
        if (blend.Visible()) blend.Apply(bits_[static_cast<std::ptrdiff_t>(y) * stride_ + x]);
    }

private:
    std::uint32_t* bits_;
    std::ptrdiff_t stride_;
    int width_;
    int height_;
    std::uint32_t argb_;
};

int RoundToPixel(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

// Steps along the line's longer axis, one pixel pair per step, from the pixel of `from`
// to that of `to`; `skipFirst` leaves out the first step (a polyline's shared point).
void Segment(const Plotter& plot, QPointF from, QPointF to, bool skipFirst) {
    double x0 = from.x(), y0 = from.y(), x1 = to.x(), y1 = to.y();
    const bool steep = std::abs(y1 - y0) > std::abs(x1 - x0);
    if (steep) {
        std::swap(x0, y0);
        std::swap(x1, y1);
    }
    const int first = RoundToPixel(x0);
    const int last = RoundToPixel(x1);
    const int step = last >= first ? 1 : -1;
    const double gradient = x1 == x0 ? 0.0 : (y1 - y0) / (x1 - x0);
    // Only the steps that can reach the image.
    const int limit = (steep ? plot.Height() : plot.Width()) - 1;
    int from_ = skipFirst ? first + step : first;
    int to_ = last;
    if (step > 0) {
        from_ = std::max(from_, 0);
        to_ = std::min(to_, limit);
    } else {
        from_ = std::min(from_, limit);
        to_ = std::max(to_, 0);
    }
    for (int major = from_; step > 0 ? major <= to_ : major >= to_; major += step) {
        const double minor = y0 + gradient * (major - x0);
        const double lower = std::floor(minor);
        const auto cover = static_cast<float>(minor - lower);
        const int m = static_cast<int>(lower);
        if (steep) {
            plot.Blend(m, major, 1.0f - cover);
            plot.Blend(m + 1, major, cover);
        } else {
            plot.Blend(major, m, 1.0f - cover);
            plot.Blend(major, m + 1, cover);
        }
    }
}

bool Finite(QPointF p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

}  // namespace

void DrawSmoothLine(QImage& image, QPointF from, QPointF to, std::uint32_t argb) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied || !Finite(from) || !Finite(to)) return;
    Segment(Plotter(image, argb), from, to, false);
}

void DrawSmoothPolyline(QImage& image, std::span<const QPointF> points, std::uint32_t argb) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied) return;
    const Plotter plot(image, argb);
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (!Finite(points[i - 1]) || !Finite(points[i])) continue;
        Segment(plot, points[i - 1], points[i], i > 1);
    }
    if (points.size() == 1 && Finite(points[0])) Segment(plot, points[0], points[0], false);
}

}  // namespace quelvan
