#include "schedule/render/graph_picture.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygonF>

#include "device/numeric.h"

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

// A 1-pixel line pen. Square ends, so that a line covers the pixels at both of its ends.
QPen LinePen(std::uint32_t argb) {
    QPen pen(Argb(argb), 1.0);
    pen.setCapStyle(Qt::SquareCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

void PlacePoints(const GraphInput& in, std::vector<GraphPoint>& points) {
    points.resize(in.table.size());
    for (std::size_t j = 0; j < in.table.size(); ++j) {
        const ScheduleEntry& e = in.table[j];
        points[j].X = GraphX(e.Hour * 60 + e.Minute, in.width);
        for (std::size_t c = 0; c < kChannelCount; ++c) points[j].Y[c] = GraphY(e.Color[c], in.height);
    }
}

void DrawGrid(QPainter& p, int w, int h) {
    p.setPen(LinePen(kGridLine));
    for (int i = 0; i <= 24; ++i) {
        const int x = Rounded(i * (w - 40) / 24.0) + 20;
        p.drawLine(QPointF(x, 20), QPointF(x, h - 21));
    }
    for (int i = 0; i <= 10; ++i) {
        const int y = Rounded(i * (h - 41) / 10.0 + 20);
        p.drawLine(QPointF(20, y), QPointF(w - 20, y));
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

void DrawCurve(QPainter& p, const GraphInput& in, const std::vector<GraphPoint>& points, int channel,
               QPolygonF& curve) {
    const auto c = static_cast<std::size_t>(channel);
    const int colorName = in.colorNames[c];
    const bool chosen = channel == in.channel;
    // The curve begins at midnight at the level of the day's last entry and ends at the
    // last entry; it is not carried on to 24:00.
    curve.clear();
    curve << QPointF(20, GraphY(in.table.back().Color[c], in.height));
    for (const GraphPoint& point : points) curve << QPointF(point.X, point.Y[c]);

    if (!chosen) {
        p.setPen(LinePen(GraphPaleColor(colorName)));
        p.drawPolyline(curve);
        return;
    }
    p.resetTransform();
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const GraphPoint& point : points) {
        const int left = Rounded(point.X - kSquareHalf);
        const int top = Rounded(point.Y[c] - kSquareHalf);
        const int right = Rounded(point.X + kSquareHalf);
        const int bottom = Rounded(point.Y[c] + kSquareHalf);
        p.fillRect(QRect(left, top, right - left, bottom - top), Argb(GraphLineColor(colorName)));
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    p.translate(0.5, 0.5);
    p.setPen(LinePen(GraphLineColor(colorName)));
    p.drawPolyline(curve);
    curve << QPointF(in.width - 20, in.height - 20) << QPointF(20, in.height - 20);
    p.setPen(Qt::NoPen);
    p.setBrush(Argb(GraphPaleColor(colorName)));
    p.drawPolygon(curve, Qt::OddEvenFill);
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
    QPainter p(&image);
    // Lines and curves use coordinates at pixel centres: x = 3 is the fourth column.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.translate(0.5, 0.5);
    DrawGrid(p, w, h);

    p.resetTransform();
    DrawLabels(p, in.font, w, h);

    p.translate(0.5, 0.5);
    const float marker = GraphX(in.clockHour * 60 + in.clockMinute, w);
    p.setPen(LinePen(kTimeMarker));
    p.drawLine(QPointF(marker, 0), QPointF(marker, h));

    if (!in.table.empty() && in.channel >= 0 && in.channel < kChannelCount) {
        QPolygonF curve;
        curve.reserve(static_cast<qsizetype>(points.size()) + 3);
        // The chosen channel comes last, on top of the others.
        for (int k = 1; k <= kChannelCount; ++k) DrawCurve(p, in, points, (in.channel + k) % kChannelCount, curve);
    }
    p.end();
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
