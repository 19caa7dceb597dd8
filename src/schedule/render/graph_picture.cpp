#include "schedule/render/graph_picture.h"

#include <QFontMetrics>
#include <QPainter>
#include <vector>

#include "device/numeric.h"
#include "schedule/render/smooth_fill.h"
#include "schedule/render/smooth_lines.h"

namespace quelvan {

namespace {

constexpr std::uint32_t kBackground = 0xFF000000;
constexpr std::uint32_t kGridLine = 0xFF101010;
constexpr std::uint32_t kLabel = 0xFF808080;
constexpr std::uint32_t kTimeMarker = 0xFFC0C0C0;
constexpr int kSquareHalf = 5;

QColor Argb(std::uint32_t argb) {
    return QColor::fromRgba(argb);
}

int Rounded(double value) {
    return static_cast<int>(RoundHalfEven(value));
}

void PlacePoints(const GraphInput& in, std::vector<GraphPoint>& points) {
    points.resize(in.table.size());
    for (std::size_t j = 0; j < in.table.size(); ++j) {
        const ScheduleEntry& e = in.table[j];
        points[j].X = GraphX(e.Hour * 60 + e.Minute, in.width);
        for (std::size_t c = 0; c < kChannelCount; ++c) points[j].Y[c] = GraphY(e.Color[c], in.height);
    }
}

// The grid lines lie on whole pixels, where a 1-pixel line covers exactly one row or column
// of pixels, both ends included: solid rectangles give the same pixels, much faster.
void DrawGrid(QPainter& p, int w, int h) {
    const QColor color = Argb(kGridLine);
    for (int i = 0; i <= 24; ++i) {
        const int x = Rounded(i * (w - 40) / 24.0) + 20;
        p.fillRect(QRect(QPoint(x, 20), QPoint(x, h - 21)), color);
    }
    for (int i = 0; i <= 10; ++i) {
        const int y = Rounded(i * (h - 41) / 10.0 + 20);
        p.fillRect(QRect(QPoint(20, y), QPoint(w - 20, y)), color);
    }
}

void DrawLabels(QPainter& p, const QFont& font, int w, int h) {
    QFont plain(font);
    plain.setStyleStrategy(QFont::NoAntialias);
    p.setFont(plain);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.setPen(Argb(kLabel));
    const QFontMetrics metrics(plain, p.device());
    const int ascent = metrics.ascent();
    const int textHeight = metrics.height();
    for (int i = 0; i <= 24; ++i) {
        const int left = Rounded(i * (w - 40) / 24.0) + 20 - 5;
        const QString text = QString::number(i);
        p.drawText(left, 1 + ascent, text);
        p.drawText(left, h - textHeight + ascent, text);
    }
    for (int i = 1; i <= 9; ++i) {
        const int top = Rounded(i * (h - 41) / 10.0 + 20) - 6;
        const QString text = QString::number(100 - 10 * i) + QStringLiteral(" %");
        p.drawText(0, top + ascent, text);
        p.drawText(w - metrics.horizontalAdvance(text), top + ascent, text);
    }
}

void DrawCurve(QImage& image, const GraphInput& in, const std::vector<GraphPoint>& points, int channel,
               std::vector<QPointF>& curve) {
    const auto c = static_cast<std::size_t>(channel);
    const int colorName = in.colorNames[c];
    // The curve begins at midnight at the level of the day's last entry and ends at the
    // last entry; it is not carried on to 24:00.
    curve.clear();
    curve.emplace_back(20, GraphY(in.table.back().Color[c], in.height));
    for (const GraphPoint& point : points) curve.emplace_back(point.X, point.Y[c]);

    if (channel != in.channel) {
        DrawSmoothPolyline(image, curve, GraphPaleColor(colorName));
        return;
    }
    const QColor line = Argb(GraphLineColor(colorName));
    {
        QPainter p(&image);
        for (const GraphPoint& point : points) {
            const int left = Rounded(point.X - kSquareHalf);
            const int top = Rounded(point.Y[c] - kSquareHalf);
            const int right = Rounded(point.X + kSquareHalf);
            const int bottom = Rounded(point.Y[c] + kSquareHalf);
            p.fillRect(QRect(left, top, right - left, bottom - top), line);
        }
    }
    DrawSmoothPolyline(image, curve, GraphLineColor(colorName));
    // The area under the curve, down to the bottom of the plot area.
    curve.emplace_back(in.width - 20, in.height - 20);
    curve.emplace_back(20, in.height - 20);
    FillSmoothPolygon(image, curve, GraphPaleColor(colorName));
}

}  // namespace

QImage DrawGraph(const GraphInput& in, std::vector<GraphPoint>& points) {
    PlacePoints(in, points);
    if (in.width <= 0 || in.height <= 0) return {};
    const int w = in.width;
    const int h = in.height;

    // Painted premultiplied, which QPainter handles fastest; every pixel ends opaque (the
    // background is), so the bytes are the same as unpremultiplied ARGB.
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(kBackground);
    {
        QPainter p(&image);
        DrawGrid(p, w, h);
        DrawLabels(p, in.font, w, h);
    }
    const float marker = GraphX(in.clockHour * 60 + in.clockMinute, w);
    DrawSmoothLine(image, QPointF(marker, 0), QPointF(marker, h), kTimeMarker);

    if (!in.table.empty() && in.channel >= 0 && in.channel < kChannelCount) {
        std::vector<QPointF> curve;
        curve.reserve(points.size() + 3);
        // The chosen channel comes last, on top of the others.
        for (int k = 1; k <= kChannelCount; ++k) DrawCurve(image, in, points, (in.channel + k) % kChannelCount, curve);
    }
    image.reinterpretAsFormat(QImage::Format_ARGB32);
    return image;
}

QFont DefaultGraphFont() {
    // As the window: "Segoe UI" with a 16-pixel cell, that is a 12-pixel em.
    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(12);
    return font;
}

}  // namespace quelvan
