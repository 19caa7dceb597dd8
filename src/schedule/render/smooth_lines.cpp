#include "schedule/render/smooth_lines.h"

#include <algorithm>
#include <cmath>

#include "schedule/render/pixel_blend.h"

namespace quelvan {

namespace {

class Plotter {
public:
    Plotter(QImage& image, std::uint32_t argb, RowBand band)
        : bits_(reinterpret_cast<std::uint32_t*>(image.bits())),
          stride_(image.bytesPerLine() / 4),
          width_(image.width()),
          height_(image.height()),
          top_(std::max(band.begin, 0)),
          bottom_(std::min(band.end, image.height())),
          opaque_(0xFF000000u | (argb & 0xFFFFFFu)),
          alpha_(argb >> 24) {}

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Top() const { return top_; }
    int Bottom() const { return bottom_; }  // one past the last row

    // Source-over with the colour's alpha times coverage/256 (coverage 0..256).
    void Blend(int x, int y, std::uint32_t coverage) const {
        if (x < 0 || x >= width_ || y < top_ || y >= bottom_) return;
        const std::uint32_t a = (alpha_ * coverage + 128) >> 8;
        if (a == 0) return;
        std::uint32_t& pixel = bits_[static_cast<std::ptrdiff_t>(y) * stride_ + x];
        pixel = ByteMul(opaque_, a) + ByteMul(pixel, 255 - a);
    }

private:
    std::uint32_t* bits_;
    std::ptrdiff_t stride_;
    int width_;
    int height_;
    int top_;
    int bottom_;
    std::uint32_t opaque_;
    std::uint32_t alpha_;
};

int RoundToPixel(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

bool Finite(QPointF p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

// How many rows beyond the one-pixel line's a line of `width` can reach on either side.
int ExtraReach(double width) {
    return width == 1.0 ? 0 : static_cast<int>(std::ceil(width / 2)) + 1;
}

// A wider line at one step: every pixel across the line takes the share of it that the
// line's band [centre - width/2, centre + width/2] covers (pixel p spans p - 0.5 to p + 0.5).
template <typename Plot>
void WideStep(double centre, double width, Plot plot) {
    const double low = centre - width / 2;
    const double high = centre + width / 2;
    const int first = static_cast<int>(std::floor(low + 0.5));
    const int last = static_cast<int>(std::floor(high + 0.5));
    for (int p = first; p <= last; ++p) {
        const double covered = std::min(high, p + 0.5) - std::max(low, p - 0.5);
        if (covered > 0) plot(p, static_cast<std::uint32_t>(std::lround(std::min(covered, 1.0) * 256)));
    }
}

// Steps along the line's longer axis, one pixel pair per step, from the pixel of `from`
// to that of `to`; `skipFirst` leaves out the first step (a polyline's shared point).
// Only the steps that can reach the plotter's rows and columns are taken.
// Cuts a segment to the box; false when nothing of it lies inside.
bool ClipToBox(QPointF& from, QPointF& to, double left, double top, double right, double bottom) {
    double t0 = 0.0, t1 = 1.0;
    const double dx = to.x() - from.x();
    const double dy = to.y() - from.y();
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {from.x() - left, right - from.x(), from.y() - top, bottom - from.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    const QPointF start = from;
    if (t0 > 0) from = start + QPointF(dx * t0, dy * t0);
    if (t1 < 1) to = start + QPointF(dx * t1, dy * t1);
    return true;
}

void Segment(const Plotter& plot, QPointF from, QPointF to, bool skipFirst, double width) {
    if (plot.Top() >= plot.Bottom()) return;
    // Far-away ends are brought to a few pixels outside the picture, which changes no pixel
    // inside it and keeps the fixed-point steps below in range.
    constexpr double kMargin = 4;
    const QPointF start = from;
    if (!ClipToBox(from, to, -kMargin, -kMargin, plot.Width() + kMargin, plot.Height() + kMargin)) return;
    if (from != start) skipFirst = false;  // the shared point lies outside anyway
    // Each step touches the pixel rows around the line: rows outside [top - 1, bottom]
    // cannot be reached.
    const int extra = ExtraReach(width);
    if (std::max(from.y(), to.y()) < plot.Top() - 1 - extra || std::min(from.y(), to.y()) > plot.Bottom() + extra)
        return;
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
    // The range of steps that can touch the band and the image.
    int low = steep ? plot.Top() : 0;
    int high = steep ? plot.Bottom() - 1 : plot.Width() - 1;
    if (!steep && gradient != 0.0) {
        // Steps whose rows lie in the band: y between top - 1 and bottom.
        const double a = x0 + (plot.Top() - 1 - extra - y0) / gradient;
        const double b = x0 + (plot.Bottom() + extra - y0) / gradient;
        low = std::max(low, static_cast<int>(std::max(std::floor(std::min(a, b)) - 1, -1e9)));
        high = std::min(high, static_cast<int>(std::min(std::ceil(std::max(a, b)) + 1, 1e9)));
    }
    int begin = skipFirst ? first + step : first;
    int end = last;
    if (step > 0) {
        begin = std::max(begin, low);
        end = std::min(end, high);
    } else {
        begin = std::min(begin, high);
        end = std::max(end, low);
    }
    // The minor coordinate in fixed point with 32 fraction bits, stepped exactly, so that a
    // band starting halfway gives the same pixels as the whole line.
    constexpr double kOne = 4294967296.0;
    const auto slope = static_cast<std::int64_t>(std::llround(gradient * kOne));
    const auto atFirst = static_cast<std::int64_t>(std::llround((y0 + gradient * (first - x0)) * kOne));
    std::int64_t minor = atFirst + slope * (begin - first);
    const std::int64_t minorStep = slope * step;
    if (width != 1.0) {
        for (int major = begin; step > 0 ? major <= end : major >= end; major += step, minor += minorStep) {
            const double centre = static_cast<double>(minor) / kOne;
            if (steep)
                WideStep(centre, width, [&](int p, std::uint32_t coverage) { plot.Blend(p, major, coverage); });
            else
                WideStep(centre, width, [&](int p, std::uint32_t coverage) { plot.Blend(major, p, coverage); });
        }
        return;
    }
    for (int major = begin; step > 0 ? major <= end : major >= end; major += step, minor += minorStep) {
        const auto m = static_cast<int>(minor >> 32);
        // The share of the line in the second of the two pixels, in 256ths.
        const auto share = static_cast<std::uint32_t>((minor >> 24) & 0xFF);
        if (steep) {
            plot.Blend(m, major, 256 - share);
            plot.Blend(m + 1, major, share);
        } else {
            plot.Blend(major, m, 256 - share);
            plot.Blend(major, m + 1, share);
        }
    }
}

// A width that is not a usable number of pixels is drawn as one pixel.
double UsableWidth(double width) {
    return std::isfinite(width) && width > 0 && width < 1e4 ? width : 1.0;
}

}  // namespace

void DrawSmoothLine(QImage& image, QPointF from, QPointF to, std::uint32_t argb, RowBand band, double width) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied || !Finite(from) || !Finite(to)) return;
    Segment(Plotter(image, argb, band), from, to, false, UsableWidth(width));
}

void DrawSmoothPolyline(QImage& image, std::span<const QPointF> points, std::uint32_t argb, RowBand band,
                        double width) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied) return;
    const Plotter plot(image, argb, band);
    width = UsableWidth(width);
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (!Finite(points[i - 1]) || !Finite(points[i])) continue;
        Segment(plot, points[i - 1], points[i], i > 1, width);
    }
    if (points.size() == 1 && Finite(points[0])) Segment(plot, points[0], points[0], false, width);
}

BandedPolyline::BandedPolyline(std::span<const QPointF> points, int bandRows, int height, double width)
    : points_(points.begin(), points.end()),
      bandRows_(std::max(bandRows, 1)),
      height_(std::max(height, 0)),
      width_(UsableWidth(width)) {
    const int bands = (height_ + bandRows_ - 1) / bandRows_;
    // The bands a segment can reach: its rows, and one more on either side.
    auto reach = [&](std::size_t i, int& first, int& last) {
        const QPointF& a = points_[i == 0 ? 0 : i - 1];
        const QPointF& b = points_[i];
        if (!Finite(a) || !Finite(b)) return false;
        const int extra = ExtraReach(width_);
        const double top = std::max(std::floor(std::min(a.y(), b.y())) - 1 - extra, 0.0);
        const double bottom = std::min(std::ceil(std::max(a.y(), b.y())) + 1 + extra, height_ - 1.0);
        if (top > bottom) return false;
        first = static_cast<int>(top) / bandRows_;
        last = static_cast<int>(bottom) / bandRows_;
        return true;
    };
    // A single point is drawn as a segment of its own (number 0).
    const std::size_t firstSegment = points_.size() == 1 ? 0 : 1;
    std::vector<int> counts(static_cast<std::size_t>(bands) + 1, 0);
    for (std::size_t i = firstSegment; i < points_.size(); ++i) {
        int first = 0, last = 0;
        if (!reach(i, first, last)) continue;
        for (int band = first; band <= last; ++band) ++counts[static_cast<std::size_t>(band) + 1];
    }
    for (std::size_t b = 1; b < counts.size(); ++b) counts[b] += counts[b - 1];
    firstOfBand_ = counts;
    segments_.resize(static_cast<std::size_t>(counts.back()));
    for (std::size_t i = firstSegment; i < points_.size(); ++i) {
        int first = 0, last = 0;
        if (!reach(i, first, last)) continue;
        for (int band = first; band <= last; ++band)
            segments_[static_cast<std::size_t>(counts[static_cast<std::size_t>(band)]++)] = static_cast<int>(i);
    }
}

void BandedPolyline::DrawBand(QImage& image, std::uint32_t argb, int band) const {
    if (image.format() != QImage::Format_ARGB32_Premultiplied || image.height() != height_ || band < 0 ||
        static_cast<std::size_t>(band) + 1 >= firstOfBand_.size())
        return;
    const Plotter plot(image, argb, RowBand{band * bandRows_, (band + 1) * bandRows_});
    const auto b = static_cast<std::size_t>(band);
    for (int k = firstOfBand_[b]; k < firstOfBand_[b + 1]; ++k) {
        const auto i = static_cast<std::size_t>(segments_[static_cast<std::size_t>(k)]);
        Segment(plot, points_[i == 0 ? 0 : i - 1], points_[i], i > 1, width_);
    }
}

}  // namespace quelvan
