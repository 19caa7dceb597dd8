#include "schedule/render/graph_picture.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "device/numeric.h"
#include "schedule/render/pixel_blend.h"
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

// The graph's geometry is in logical pixels; a picture for a high-density screen has `ratio`
// pixels for each of them. At ratio 1 both are the same and nothing is converted.
struct DeviceScale {
    double ratio = 1;
    // The edge between two logical pixels, as a pixel edge of the picture.
    int Edge(int logical) const { return ratio == 1 ? logical : Rounded(logical * ratio); }
    // A coordinate at a logical pixel's centre, as one at the picture's pixel centres.
    double Centre(double logical) const { return ratio == 1 ? logical : (logical + 0.5) * ratio - 0.5; }
    QPointF Centre(QPointF p) const { return {Centre(p.x()), Centre(p.y())}; }
};

double UsableRatio(double ratio) {
    return std::isfinite(ratio) && ratio > 0 && ratio <= 8 ? ratio : 1.0;
}

// Pixels begin up to, not including, end.
struct Span {
    int begin, end;
    bool Contains(int v) const { return v >= begin && v < end; }
};

// The hour and percent lines lie on whole logical pixels, where a line one logical pixel
// wide covers exactly its column or row, both ends included.
struct Grid {
    std::vector<Span> columns;  // the hour lines ...
    Span columnRows{};          // ... from y = 20 to y = H - 21
    std::vector<Span> rows;     // the percent lines ...
    Span rowColumns{};          // ... from x = 20 to x = W - 20
};

Grid GridLines(int w, int h, const DeviceScale& s) {
    Grid grid;
    for (int i = 0; i <= 24; ++i) {
        const int x = Rounded(i * (w - 40) / 24.0) + 20;
        grid.columns.push_back({s.Edge(x), s.Edge(x + 1)});
    }
    grid.columnRows = {s.Edge(20), s.Edge(h - 20)};
    for (int i = 0; i <= 10; ++i) {
        const int y = Rounded(i * (h - 41) / 10.0 + 20);
        grid.rows.push_back({s.Edge(y), s.Edge(y + 1)});
    }
    grid.rowColumns = {s.Edge(20), s.Edge(w - 19)};
    return grid;
}

// The labels as runs of pixels in the label colour: they are drawn without anti-aliasing,
// so a glyph sets a pixel to the colour or leaves it. Each text is drawn once into a
// small image of its own and taken from there; the picture is then finished band by band.
struct Run {
    int y, x0, x1;  // x1 one past the last pixel
};

void AddTextRuns(std::vector<Run>& runs, const QFont& font, const QFontMetrics& metrics, const QString& text, int left,
                 int baseline, int w, int h) {
    constexpr int kMargin = 4;  // glyphs may reach a little left of their origin
    QImage patch(metrics.horizontalAdvance(text) + 2 * kMargin, metrics.height() + 2 * kMargin,
                 QImage::Format_ARGB32_Premultiplied);
    patch.fill(0);
    {
        QPainter p(&patch);
        p.setFont(font);
        p.setRenderHint(QPainter::TextAntialiasing, false);
        p.setPen(Argb(kLabel));
        p.drawText(kMargin, kMargin + metrics.ascent(), text);
    }
    const int dx = left - kMargin;
    const int dy = baseline - metrics.ascent() - kMargin;
    for (int y = 0; y < patch.height(); ++y) {
        const int row = y + dy;
        if (row < 0 || row >= h) continue;
        const auto* line = reinterpret_cast<const std::uint32_t*>(patch.constScanLine(y));
        for (int x = 0; x < patch.width();) {
            if (qAlpha(line[x]) == 0) {
                ++x;
                continue;
            }
            int end = x;
            while (end < patch.width() && qAlpha(line[end]) != 0) ++end;
            const int x0 = std::max(x + dx, 0);
            const int x1 = std::min(end + dx, w);
            if (x0 < x1) runs.push_back({row, x0, x1});
            x = end;
        }
    }
}

// The labels of a w × h graph in a picture of W × H pixels.
std::vector<Run> LabelRuns(const QFont& font, int w, int h, const DeviceScale& s, int W, int H) {
    QFont plain(font);
    if (s.ratio != 1) {
        if (plain.pixelSize() > 0)
            plain.setPixelSize(std::max(1, Rounded(plain.pixelSize() * s.ratio)));
        else
            plain.setPointSizeF(plain.pointSizeF() * s.ratio);
    }
    plain.setStyleStrategy(QFont::NoAntialias);
    // Measured as on an image, where the text is drawn.
    QImage probe(1, 1, QImage::Format_ARGB32_Premultiplied);
    const QFontMetrics metrics(plain, &probe);
    const int ascent = metrics.ascent();
    const int textHeight = metrics.height();
    std::vector<Run> runs;
    for (int i = 0; i <= 24; ++i) {
        const int left = s.Edge(Rounded(i * (w - 40) / 24.0) + 20 - 5);
        const QString text = QString::number(i);
        AddTextRuns(runs, plain, metrics, text, left, s.Edge(1) + ascent, W, H);
        AddTextRuns(runs, plain, metrics, text, left, H - textHeight + ascent, W, H);
    }
    for (int i = 1; i <= 9; ++i) {
        const int top = s.Edge(Rounded(i * (h - 41) / 10.0 + 20) - 6);
        const QString text = QString::number(100 - 10 * i) + QStringLiteral(" %");
        AddTextRuns(runs, plain, metrics, text, 0, top + ascent, W, H);
        AddTextRuns(runs, plain, metrics, text, W - metrics.horizontalAdvance(text), top + ascent, W, H);
    }
    std::stable_sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.y < b.y; });
    return runs;
}

// Background, grid and labels of a band of rows.
void DrawBackground(QImage& image, const Grid& grid, const std::vector<Run>& labels, RowBand band) {
    const int w = image.width();
    const int left = std::clamp(grid.rowColumns.begin, 0, w);
    const int right = std::clamp(grid.rowColumns.end, 0, w);
    for (int y = band.begin; y < band.end; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        FillPixels(row, w, kBackground);
        if (grid.columnRows.Contains(y))
            for (const Span& column : grid.columns) {
                const int x0 = std::max(column.begin, 0);
                const int x1 = std::min(column.end, w);
                if (x0 < x1) std::fill(row + x0, row + x1, kGridLine);
            }
        if (left < right &&
            std::any_of(grid.rows.begin(), grid.rows.end(), [y](const Span& line) { return line.Contains(y); }))
            std::fill(row + left, row + right, kGridLine);
    }
    auto first =
        std::lower_bound(labels.begin(), labels.end(), band.begin, [](const Run& run, int y) { return run.y < y; });
    for (auto run = first; run != labels.end() && run->y < band.end; ++run) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(run->y));
        std::fill(row + run->x0, row + run->x1, kLabel);
    }
}

// Rows drawn together: about 256 KiB of pixels, which stay in the cache while every layer
// passes over them.
int BandRows(const QImage& image) {
    return std::max(8, static_cast<int>(256 * 1024 / std::max<qsizetype>(image.bytesPerLine(), 1)));
}

// The squares around the chosen channel's points, within a band of rows.
void FillSquares(QImage& image, const std::vector<GraphPoint>& points, std::size_t channel, std::uint32_t argb,
                 RowBand band, const DeviceScale& s) {
    const SolidBlend blend(argb, 1.0f);
    const int top = std::max(band.begin, 0);
    const int bottom = std::min(band.end, image.height());
    for (const GraphPoint& point : points) {
        const int left = std::max(s.Edge(Rounded(point.X - kSquareHalf)), 0);
        const int right = std::min(s.Edge(Rounded(point.X + kSquareHalf)), image.width());
        const int y0 = std::max(s.Edge(Rounded(point.Y[channel] - kSquareHalf)), top);
        const int y1 = std::min(s.Edge(Rounded(point.Y[channel] + kSquareHalf)), bottom);
        for (int y = y0; y < y1 && left < right; ++y)
            blend.Apply(reinterpret_cast<std::uint32_t*>(image.scanLine(y)) + left, right - left);
    }
}

}  // namespace

QImage DrawGraph(const GraphInput& in, std::vector<GraphPoint>& points, QImage reuse) {
    PlacePoints(in, points);
    if (in.width <= 0 || in.height <= 0) return {};
    // The geometry in logical pixels (w × h, where the points lie) ...
    const int w = in.width;
    const int h = in.height;
    // ... drawn into W × H pixels.
    const DeviceScale s{UsableRatio(in.scale)};
    const int W = s.ratio == 1 ? w : std::max(1, Rounded(w * s.ratio));
    const int H = s.ratio == 1 ? h : std::max(1, Rounded(h * s.ratio));

    // Drawn premultiplied; every pixel ends opaque (the background is), so the bytes are the
    // same as unpremultiplied ARGB.
    QImage image = std::move(reuse);
    if (image.size() != QSize(W, H) || image.depth() != 32 ||
        !image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied))
        image = QImage(W, H, QImage::Format_ARGB32_Premultiplied);
    const Grid grid = GridLines(w, h, s);
    const std::vector<Run> labels = LabelRuns(in.font, w, h, s, W, H);

    // Band by band, so that the pixels stay in the cache while every layer passes over
    // them; each pixel gets the same layers in the same order as if each layer were drawn
    // over the whole picture in turn: background, grid, labels, the board's time, the
    // other channels' curves, and the chosen channel's points, curve and shading.
    const float marker = GraphX(in.clockHour * 60 + in.clockMinute, w);
    // A line covers the logical pixels at both of its ends, which are `ratio` pixels high:
    // the marker reaches from the picture's first row to its last.
    const double endReach = (s.ratio - 1) / 2;
    const QPointF markerTop = s.Centre(QPointF(marker, 0)) - QPointF(0, endReach);
    const QPointF markerBottom = s.Centre(QPointF(marker, h)) + QPointF(0, endReach);
    const bool curves = !in.table.empty() && in.channel >= 0 && in.channel < kChannelCount;
    std::array<std::vector<QPointF>, kChannelCount> lines;
    if (curves) {
        for (std::size_t c = 0; c < lines.size(); ++c) {
            // A curve begins at midnight at the level of the day's last entry and ends at
            // the last entry; it is not carried on to 24:00.
            lines[c].reserve(points.size() + 3);
            lines[c].push_back(s.Centre(QPointF(20, GraphY(in.table.back().Color[c], h))));
            for (const GraphPoint& point : points) lines[c].push_back(s.Centre(QPointF(point.X, point.Y[c])));
        }
    }
    const auto chosen = static_cast<std::size_t>(curves ? in.channel : 0);
    const int chosenName = in.colorNames[chosen];
    // The area under the chosen curve, down to the bottom of the plot area.
    std::vector<QPointF> shade = lines[chosen];
    shade.push_back(s.Centre(QPointF(w - 20, h - 20)));
    shade.push_back(s.Centre(QPointF(20, h - 20)));
    SmoothPolygonFill shading(curves ? shade : std::vector<QPointF>{}, W, H);

    const int rows = BandRows(image);
    std::vector<BandedPolyline> banded;
    if (curves)
        for (const auto& line : lines) banded.emplace_back(line, rows, H, s.ratio);
    for (int top = 0, number = 0; top < H; top += rows, ++number) {
        const RowBand band{top, std::min(top + rows, H)};
        DrawBackground(image, grid, labels, band);
        DrawSmoothLine(image, markerTop, markerBottom, kTimeMarker, band, s.ratio);
        if (!curves) continue;
        // The chosen channel comes last, on top of the others.
        for (int k = 1; k < kChannelCount; ++k) {
            const auto c = static_cast<std::size_t>((in.channel + k) % kChannelCount);
            banded[c].DrawBand(image, GraphPaleColor(in.colorNames[c]), number);
        }
        FillSquares(image, points, chosen, GraphLineColor(chosenName), band, s);
        banded[chosen].DrawBand(image, GraphLineColor(chosenName), number);
        shading.FillRows(image, GraphPaleColor(chosenName), band.begin, band.end);
    }
    image.reinterpretAsFormat(QImage::Format_ARGB32);
    // Shown at the logical size: one picture pixel per device pixel.
    image.setDevicePixelRatio(s.ratio);
    return image;
}

QFont DefaultGraphFont() {
    // As the window: "Segoe UI" with a 16-pixel cell, that is a 12-pixel em.
    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(12);
    return font;
}

}  // namespace quelvan
