// The graph's own anti-aliased lines and polygon fill: which pixels they cover and by how
// much, at pixel centres, at the image's borders and where the outline overlaps itself.

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <vector>

#include "schedule/render/smooth_fill.h"
#include "schedule/render/smooth_lines.h"

namespace quelvan {
namespace {

constexpr std::uint32_t kBlack = 0xFF000000;
constexpr std::uint32_t kWhite = 0xFFFFFFFF;

QImage Black(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(kBlack);
    return image;
}

int Level(const QImage& image, int x, int y) {
    return qRed(image.pixel(x, y));
}

double CoveredArea(const QImage& image) {
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) sum += Level(image, x, y) / 255.0;
    return sum;
}

TEST(SmoothLines, LinesOnPixelCentresCoverWholePixelsWithBothEnds) {
    QImage image = Black(12, 8);
    DrawSmoothLine(image, QPointF(2, 3), QPointF(9, 3), kWhite);
    for (int x = 0; x < 12; ++x) EXPECT_EQ(image.pixel(x, 3), x >= 2 && x <= 9 ? kWhite : kBlack) << x;
    EXPECT_EQ(CoveredArea(image), 8.0);

    image = Black(12, 12);
    DrawSmoothLine(image, QPointF(1, 1), QPointF(8, 8), kWhite);
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(image.pixel(i, i), kWhite) << i;
    EXPECT_EQ(CoveredArea(image), 8.0);
}

TEST(SmoothLines, BetweenPixelCentresTheCoverageIsShared) {
    QImage image = Black(12, 8);
    DrawSmoothLine(image, QPointF(2, 3.5), QPointF(9, 3.5), kWhite);
    EXPECT_EQ(Level(image, 5, 3), 128);
    EXPECT_EQ(Level(image, 5, 4), 128);
    image = Black(12, 8);
    DrawSmoothLine(image, QPointF(4.25, 0), QPointF(4.25, 7), kWhite);
    EXPECT_EQ(Level(image, 4, 2), 191);
    EXPECT_EQ(Level(image, 5, 2), 64);
    EXPECT_EQ(Level(image, 3, 2), 0);
}

TEST(SmoothLines, TranslucentPolylineBlendsSharedPointsOnce) {
    QImage image = Black(12, 8);
    const std::vector<QPointF> points = {{1, 4}, {5, 4}, {10, 4}, {10, 4}};
    DrawSmoothPolyline(image, points, 0x40FFFFFF);
    for (int x = 1; x <= 10; ++x) EXPECT_EQ(image.pixel(x, 4), 0xFF404040u) << x;
    EXPECT_EQ(image.pixel(0, 4), kBlack);
    EXPECT_EQ(image.pixel(11, 4), kBlack);
}

TEST(SmoothLines, FarOutsideTheImageIsClippedQuietly) {
    QImage image = Black(20, 10);
    DrawSmoothLine(image, QPointF(-1e6, 3), QPointF(1e6, 3), kWhite);
    for (int x = 0; x < 20; ++x) EXPECT_EQ(image.pixel(x, 3), kWhite) << x;
    DrawSmoothLine(image, QPointF(5, -1e6), QPointF(5, 1e6), kWhite);
    for (int y = 0; y < 10; ++y) EXPECT_EQ(image.pixel(5, y), kWhite) << y;
    DrawSmoothLine(image, QPointF(-50, -50), QPointF(-10, 70), kWhite);
    DrawSmoothLine(image, QPointF(-1e12, 7), QPointF(3e13, 7.0000001), 0x00FFFFFF);  // invisible colour
    DrawSmoothLine(image, QPointF(-1e12, -1e12), QPointF(-5e11, 1e12), kWhite);
    DrawSmoothLine(image, QPointF(NAN, 1), QPointF(3, 3), kWhite);
    EXPECT_EQ(CoveredArea(image), 29.0);
    // Another format is left alone.
    QImage other(4, 4, QImage::Format_RGB32);
    other.fill(kBlack);
    DrawSmoothLine(other, QPointF(0, 1), QPointF(3, 1), kWhite);
    EXPECT_EQ(other.pixel(1, 1), kBlack);
}

TEST(SmoothFill, SquareOnPixelCentresHasHalfCoveredEdges) {
    QImage image = Black(10, 10);
    const std::vector<QPointF> square = {{2, 2}, {7, 2}, {7, 7}, {2, 7}};
    FillSmoothPolygon(image, square, kWhite);
    EXPECT_EQ(Level(image, 4, 4), 255);
    EXPECT_EQ(Level(image, 2, 4), 128);
    EXPECT_EQ(Level(image, 7, 5), 128);
    EXPECT_EQ(Level(image, 4, 2), 128);
    EXPECT_EQ(Level(image, 2, 2), 64);
    EXPECT_EQ(Level(image, 1, 4), 0);
    EXPECT_EQ(Level(image, 8, 4), 0);
    EXPECT_NEAR(CoveredArea(image), 25.0, 0.05);  // each half pixel rounds 127.5 up
}

TEST(SmoothFill, CoveredAreaEqualsThePolygonsArea) {
    QImage image = Black(20, 12);
    const std::vector<QPointF> triangle = {{0.3, 0.7}, {15.2, 3.1}, {6.6, 9.4}};
    FillSmoothPolygon(image, triangle, kWhite);
    double area = 0;
    for (std::size_t i = 0; i < triangle.size(); ++i) {
        const QPointF& a = triangle[i];
        const QPointF& b = triangle[(i + 1) % triangle.size()];
        area += a.x() * b.y() - b.x() * a.y();
    }
    EXPECT_NEAR(CoveredArea(image), std::abs(area) / 2, 0.2);
}

TEST(SmoothFill, PartsBeyondTheBordersAreClipped) {
    QImage image = Black(10, 10);
    // From far left to far right, rows 3..7 wholly, rows 2 and 8 half.
    const std::vector<QPointF> band = {{-100, 2}, {200, 2}, {200, 8}, {-100, 8}};
    FillSmoothPolygon(image, band, kWhite);
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(Level(image, x, 5), 255) << x;
        EXPECT_EQ(Level(image, x, 2), 128) << x;
        EXPECT_EQ(Level(image, x, 1), 0) << x;
    }
    // A slanted edge that leaves the image on the left.
    image = Black(10, 10);
    const std::vector<QPointF> wedge = {{-20, 0}, {5, 0}, {5, 9}, {-20, 9}};
    FillSmoothPolygon(image, wedge, kWhite);
    EXPECT_EQ(Level(image, 0, 4), 255);
    EXPECT_EQ(Level(image, 4, 4), 255);
    EXPECT_EQ(Level(image, 5, 4), 128);
    EXPECT_EQ(Level(image, 6, 4), 0);
}

// Inside a part the outline runs round twice the colour is laid on once, not twice.
TEST(SmoothFill, OverlappingOutlineIsFilledOnceInside) {
    QImage once = Black(10, 10);
    QImage twice = Black(10, 10);
    const std::vector<QPointF> square = {{2, 2}, {7, 2}, {7, 7}, {2, 7}};
    std::vector<QPointF> doubled = square;
    doubled.insert(doubled.end(), square.begin(), square.end());
    FillSmoothPolygon(once, square, 0x20FF0000);
    FillSmoothPolygon(twice, doubled, 0x20FF0000);
    for (int y = 3; y <= 6; ++y)
        for (int x = 3; x <= 6; ++x) EXPECT_EQ(twice.pixel(x, y), 0xFF200000u) << x << "," << y;
    EXPECT_EQ(once.pixel(4, 4), 0xFF200000u);
    EXPECT_EQ(twice.pixel(1, 4), kBlack);
}

TEST(SmoothFill, DegenerateInputDrawsNothing) {
    QImage image = Black(10, 10);
    FillSmoothPolygon(image, std::vector<QPointF>{{1, 1}, {5, 5}}, kWhite);
    FillSmoothPolygon(image, std::vector<QPointF>{{1, 1}, {5, 1}, {9, 1}}, kWhite);
    FillSmoothPolygon(image, std::vector<QPointF>{{1, 1}, {5, NAN}, {9, 9}}, kWhite);
    FillSmoothPolygon(image, std::vector<QPointF>{{-50, -50}, {-10, -50}, {-10, -10}}, kWhite);
    EXPECT_EQ(CoveredArea(image), 0.0);
}

}  // namespace
}  // namespace quelvan

namespace quelvan {
namespace {

// A zig-zag with steep, shallow, vertical, horizontal and repeated points, partly outside.
std::vector<QPointF> ZigZag() {
    return {{-5, 20}, {3, 2}, {9.5, 37.25}, {9.5, 11}, {17, 11}, {17, 11}, {30.7, 0.2}, {33, 45}, {12, 39.5}};
}

TEST(SmoothDrawing, BandsGiveTheSamePixelsAsOneGo) {
    const std::vector<QPointF> line = ZigZag();
    for (int rows : {1, 3, 7, 40}) {
        QImage whole = Black(32, 40);
        QImage banded = Black(32, 40);
        DrawSmoothPolyline(whole, line, 0x80FF8000);
        FillSmoothPolygon(whole, line, 0x20FFFFFF);
        const BandedPolyline polyline(line, rows, 40);
        SmoothPolygonFill fill(line, 32, 40);
        for (int band = 0; band * rows < 40; ++band) {
            polyline.DrawBand(banded, 0x80FF8000, band);
            fill.FillRows(banded, 0x20FFFFFF, band * rows, (band + 1) * rows);
        }
        EXPECT_EQ(whole, banded) << rows;
        EXPECT_GT(CoveredArea(banded), 100.0);
    }
}

}  // namespace
}  // namespace quelvan

namespace quelvan {
namespace {

// Outlines reaching far past every border, with points on and near them, at small sizes:
// rounding must never carry a cell outside the picture (the sanitizer build watches).
TEST(SmoothDrawing, OutlinesAcrossTheBordersStayInside) {
    std::uint32_t seed = 12345;
    auto next = [&seed](int low, int high) {
        seed = seed * 1664525u + 1013904223u;
        return low + static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(high - low + 1));
    };
    for (int round = 0; round < 300; ++round) {
        const int w = next(1, 60);
        const int h = next(1, 40);
        QImage image = Black(w, h);
        std::vector<QPointF> outline;
        for (int i = next(3, 12); i > 0; --i)
            outline.emplace_back(next(-3 * w, 4 * w) / 3.0 - 0.5, next(-3 * h, 4 * h) / 7.0 - 0.5);
        FillSmoothPolygon(image, outline, kWhite);
        DrawSmoothPolyline(image, outline, kWhite);
        ASSERT_LE(CoveredArea(image), double(w) * h + 1e-9) << round;
    }
}

}  // namespace
}  // namespace quelvan
