// The graph of the day: its geometry (colours, hit test, drag arithmetic) and the picture,
// checked pixel by pixel on a 1480 × 541 picture, where a minute is a pixel (x = 20 + t)
// and a percent five pixels (y = 520 - 5v).

#include <gtest/gtest.h>

#include <QImage>

#include "schedule/graph_geometry.h"
#include "schedule/render/argb_image.h"
#include "schedule/render/graph_picture.h"

namespace quelvan {
namespace {

constexpr int kW = 1480;
constexpr int kH = 541;
constexpr std::uint32_t kBlack = 0xFF000000;
constexpr std::uint32_t kGrid = 0xFF101010;
constexpr std::uint32_t kGrey = 0xFF808080;
constexpr std::uint32_t kRed = 0xFFFF0000;
constexpr std::uint32_t kPaleRedOnBlack = 0xFF200000;
constexpr std::uint32_t kPaleGreenOnBlack = 0xFF002000;

ScheduleEntry At(int hour, int minute, std::array<std::uint8_t, kChannelCount> percent = {}) {
    ScheduleEntry e;
    e.Hour = static_cast<std::int8_t>(hour);
    e.Minute = static_cast<std::int8_t>(minute);
    e.Color = percent;
    return e;
}

struct Drawn {
    QImage image;
    std::vector<GraphPoint> points;
};

// Channel A is "Rot" and chosen, B "Grün"; the board's clock stands at 10:00.
Drawn Draw(const std::vector<ScheduleEntry>& table, int channel = 0, int width = kW, int height = kH,
           std::array<std::uint8_t, kChannelCount> names = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1, 0}, double scale = 1.0) {
    GraphInput in;
    in.table = table;
    in.clockHour = 10;
    in.clockMinute = 0;
    in.colorNames = names;
    in.channel = channel;
    in.width = width;
    in.height = height;
    in.scale = scale;
    in.font = DefaultGraphFont();
    Drawn d;
    d.image = DrawGraph(in, d.points);
    return d;
}

int CountColor(const QImage& image, QRect area, std::uint32_t argb) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += PixelArgb(image, x, y) == argb;
    return n;
}

TEST(GraphColors, TableIsExactAndNamesBeyondItAreWhite) {
    const std::uint32_t line[] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFF00FF,
                                  0xFF00FFFF, 0xFFC0C0FF, 0xFFFFFFC0, 0xFFFFFF00, 0xFFFF8000, 0xFF0000FF};
    for (int name = 0; name < 12; ++name) {
        EXPECT_EQ(GraphLineColor(name), line[name]) << name;
        EXPECT_EQ(GraphPaleColor(name), (line[name] & 0xFFFFFF) | 0x20000000u) << name;
    }
    for (int name : {12, 200, 255, -1}) {
        EXPECT_EQ(GraphLineColor(name), 0xFFFFFFFFu) << name;
        EXPECT_EQ(GraphPaleColor(name), 0x20FFFFFFu) << name;
    }
}

TEST(GraphGeometry, HitTestTakesTheLowestIndexWithinEightPixels) {
    std::vector<GraphPoint> points(3);
    points[0].X = 100;
    points[0].Y[2] = 200;
    points[1].X = 104;
    points[1].Y[2] = 204;
    points[2].X = 300.5f;
    points[2].Y[2] = 50;
    points[2].Y[0] = 400;  // another channel's point is never hit
    struct Case {
        int x, y;
        std::optional<int> hit;
    };
    const Case cases[] = {
        {103, 203, 0}, {112, 212, 1}, {108, 192, 0}, {92, 208, 0},   {111, 200, 1}, {113, 200, {}},
        {308, 58, 2},  {309, 58, {}}, {292, 42, {}}, {300, 400, {}}, {0, 0, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(HitTest(points, 2, c.x, c.y), c.hit) << c.x << "," << c.y;
    EXPECT_EQ(HitTest(points, 0, 300, 400), 2);
    EXPECT_EQ(HitTest(points, 12, 100, 200), std::nullopt);
    EXPECT_EQ(HitTest({}, 0, 100, 200), std::nullopt);
}

TEST(GraphGeometry, DragClampsTimeAndBrightness) {
    struct Case {
        int x, y, width, height;
        int hour, minute, percent;
    };
    const Case cases[] = {
        {347, 270, 674, 541, 12, 23, 50},  // t = round(327 × 1440 / 634) = 743
        {2000, 270, 674, 541, 24, 0, 50},  // beyond the right edge: 24:00
        {654, 270, 674, 541, 24, 0, 50},   // the right edge itself
        {-50, 270, 674, 541, 0, 0, 50},    // beyond the left edge
        {20, -100, 674, 541, 0, 0, 100},   // above the top
        {20, 900, 674, 541, 0, 0, 0},      // below the bottom
        {20, 520, 674, 541, 0, 0, 0},      // the 0 % line
        {21, 20, 2920, 541, 0, 0, 100},    // t = 0.5 rounds to even: 0
        {23, 20, 2920, 541, 0, 2, 100},    // t = 1.5 rounds to even: 2
        {745, 145, 1480, 541, 12, 5, 75},  //
    };
    for (const Case& c : cases) {
        const auto target = DragTo(c.x, c.y, c.width, c.height);
        ASSERT_TRUE(target) << c.x;
        EXPECT_EQ(target->hour, c.hour) << c.x << "," << c.y;
        EXPECT_EQ(target->minute, c.minute) << c.x << "," << c.y;
        EXPECT_EQ(target->percent, c.percent) << c.x << "," << c.y;
    }
    EXPECT_FALSE(DragTo(10, 10, 40, 541)) << "no plot width";
    EXPECT_FALSE(DragTo(10, 10, 674, 41)) << "no plot height";
}

TEST(GraphPicture, EmptyTableShowsGridLabelsAndTimeMarkerOnly) {
    const Drawn d = Draw({});
    ASSERT_EQ(d.image.size(), QSize(kW, kH));
    EXPECT_EQ(d.image.format(), QImage::Format_ARGB32);
    EXPECT_TRUE(d.points.empty());
    // Background between the lines, inside and outside the plot area.
    for (QPoint p : {QPoint(30, 40), QPoint(1470, 300), QPoint(50, 532), QPoint(700, 500)})
        EXPECT_EQ(PixelArgb(d.image, p.x(), p.y()), kBlack) << p.x() << "," << p.y();
    // Hour lines every 60 pixels from 20 to 1460, percent lines every 50 from 20 to 520.
    for (int i = 0; i <= 24; ++i) {
        if (i == 10) continue;  // under the time marker
        EXPECT_EQ(PixelArgb(d.image, 20 + 60 * i, 45), kGrid) << "hour " << i;
        EXPECT_EQ(PixelArgb(d.image, 20 + 60 * i + 1, 45), kBlack) << "hour " << i;
    }
    for (int i = 0; i <= 10; ++i) {
        EXPECT_EQ(PixelArgb(d.image, 50, 20 + 50 * i), kGrid) << "percent " << i;
        EXPECT_EQ(PixelArgb(d.image, 50, 20 + 50 * i + 1), kBlack) << "percent " << i;
    }
    EXPECT_EQ(PixelArgb(d.image, 50, 19), kBlack) << "lines end at the plot area";
    EXPECT_EQ(PixelArgb(d.image, 1461, 100), kBlack);
    // The board's time, 10:00, across the whole height.
    for (int y : {0, 5, 300, 540}) EXPECT_EQ(PixelArgb(d.image, 620, y), 0xFFC0C0C0u) << y;
    EXPECT_EQ(PixelArgb(d.image, 621, 300), kBlack);
}

TEST(GraphPicture, LabelsStandAtTheirLinesInPlainGrey) {
    const Drawn d = Draw({});
    const int textHeight = QFontMetrics(DefaultGraphFont()).height();
    // Hour labels, top and bottom: "12" from x = 735.
    EXPECT_GT(CountColor(d.image, QRect(735, 1, 16, textHeight), kGrey), 10);
    EXPECT_GT(CountColor(d.image, QRect(735, kH - textHeight, 16, textHeight), kGrey), 10);
    EXPECT_GT(CountColor(d.image, QRect(15, 1, 10, textHeight), kGrey), 3) << "\"0\"";
    EXPECT_GT(CountColor(d.image, QRect(1455, 1, 16, textHeight), kGrey), 10) << "\"24\"";
    // Percent labels on both sides, "90 %" at y = 64, "10 %" at y = 464.
    EXPECT_GT(CountColor(d.image, QRect(0, 64, 20, textHeight), kGrey), 10);
    EXPECT_GT(CountColor(d.image, QRect(kW - 20, 64, 20, textHeight), kGrey), 10);
    EXPECT_GT(CountColor(d.image, QRect(0, 464, 20, textHeight), kGrey), 10);
    EXPECT_GT(CountColor(d.image, QRect(kW - 20, 464, 20, textHeight), kGrey), 10);
    // Right-aligned: the last column holds the label's end, not its beginning.
    EXPECT_GT(CountColor(d.image, QRect(kW - 3, 64, 3, textHeight), kGrey), 0);
    // No label for 100 % and 0 %; none between the rows.
    EXPECT_EQ(CountColor(d.image, QRect(0, 17, 12, 12), kGrey), 0);
    EXPECT_EQ(CountColor(d.image, QRect(0, 510, 12, 12), kGrey), 0);
    EXPECT_EQ(CountColor(d.image, QRect(0, 90, 12, 20), kGrey), 0);
    // Drawn without anti-aliasing: only the label grey, no shades of it.
    int shades = 0;
    for (int y = 1; y < 1 + textHeight; ++y)
        for (int x = 735; x < 751; ++x) {
            const std::uint32_t p = PixelArgb(d.image, x, y);
            shades += p != kGrey && p != kBlack;
        }
    EXPECT_EQ(shades, 0);
}

TEST(GraphPicture, TriangleWithSquaresAndShading) {
    const std::vector<ScheduleEntry> table = {At(0, 0, {0}), At(12, 0, {100}), At(24, 0, {0})};
    const Drawn d = Draw(table);
    ASSERT_EQ(d.points.size(), 3u);
    EXPECT_FLOAT_EQ(d.points[0].X, 20);
    EXPECT_FLOAT_EQ(d.points[1].X, 740);
    EXPECT_FLOAT_EQ(d.points[2].X, 1460);
    EXPECT_FLOAT_EQ(d.points[0].Y[0], 520);
    EXPECT_FLOAT_EQ(d.points[1].Y[0], 20);
    EXPECT_FLOAT_EQ(d.points[1].Y[5], 520);

    // The 10 × 10 squares around each point of the chosen channel, in its line colour;
    // pixels of a square above the curve are not shaded.
    EXPECT_EQ(CountColor(d.image, QRect(735, 15, 10, 4), kRed), 40) << "top of the middle square";
    EXPECT_EQ(PixelArgb(d.image, 734, 16), kBlack) << "left of it";
    EXPECT_EQ(PixelArgb(d.image, 745, 16), kBlack) << "right edge excluded";
    EXPECT_EQ(PixelArgb(d.image, 736, 14), kBlack) << "above it";
    EXPECT_EQ(PixelArgb(d.image, 15, 515), kRed) << "square at the first point";
    EXPECT_EQ(PixelArgb(d.image, 1464, 515), kRed) << "square at the last point";
    EXPECT_EQ(PixelArgb(d.image, 1465, 515), kBlack);

    // Under the curve, away from lines: pale red over black; above it: untouched.
    for (QPoint p : {QPoint(750, 300), QPoint(400, 450), QPoint(1110, 300), QPoint(30, 515)})
        EXPECT_EQ(PixelArgb(d.image, p.x(), p.y()), kPaleRedOnBlack) << p.x() << "," << p.y();
    for (QPoint p : {QPoint(100, 100), QPoint(1410, 100), QPoint(410, 200)})
        EXPECT_EQ(PixelArgb(d.image, p.x(), p.y()), kBlack) << p.x() << "," << p.y();
    // On the curve itself: mostly red.
    EXPECT_GT(qRed(PixelArgb(d.image, 380, 270)), 0x90);
}

TEST(GraphPicture, CurvesStartAtTheLastEntrysLevelAndEndAtIt) {
    // Channel A (chosen, red) at 50 %, channel B (green) at 75 %; the day's last entry is 20:00.
    const std::vector<ScheduleEntry> table = {At(6, 0, {50, 75}), At(20, 0, {50, 75})};
    const Drawn d = Draw(table);
    EXPECT_EQ(PixelArgb(d.image, 50, 270) & 0xFFFFFF, 0xFF0000u & 0xFFFFFF) << "chosen curve from the left edge";
    EXPECT_EQ(PixelArgb(d.image, 50, 145), kPaleGreenOnBlack) << "other curve in its pale colour";
    EXPECT_EQ(PixelArgb(d.image, 1300, 145), kBlack) << "not carried on to 24:00";
    EXPECT_EQ(PixelArgb(d.image, 1300, 250), kBlack);
    // The shading's edge runs from the 20:00 point (1220, 270) to the bottom right corner.
    EXPECT_EQ(PixelArgb(d.image, 1300, 340), kBlack) << "above the edge";
    EXPECT_EQ(PixelArgb(d.image, 1300, 400), kPaleRedOnBlack) << "below the edge";
    EXPECT_EQ(PixelArgb(d.image, 1450, 515), kPaleRedOnBlack);
    EXPECT_EQ(PixelArgb(d.image, 210, 400), kPaleRedOnBlack);
}

TEST(GraphPicture, ChosenChannelIsDrawnLastAndUnknownNamesInWhite) {
    // Both channels at the same level: the chosen one's square lies on top.
    const std::vector<ScheduleEntry> table = {At(12, 0, {50, 50})};
    EXPECT_EQ(PixelArgb(Draw(table, 0).image, 737, 267), kRed);
    EXPECT_EQ(PixelArgb(Draw(table, 1).image, 737, 267), 0xFF00FF00u);
    // A colour name beyond the table (after an import) draws in the colours of name 0.
    std::array<std::uint8_t, kChannelCount> names{};
    names[1] = 200;
    EXPECT_EQ(PixelArgb(Draw(table, 1, kW, kH, names).image, 737, 267), 0xFFFFFFFFu);
}

// For a screen of device-pixel ratio 2 the same graph has twice the pixels each way: lines,
// squares and labels twice as large, the points still where the graph's geometry puts them.
TEST(GraphPicture, HighDensityPictureIsTheSameGraphAtTwiceThePixels) {
    const std::vector<ScheduleEntry> table = {At(0, 0, {0}), At(12, 0, {100}), At(24, 0, {0})};
    const Drawn one = Draw(table);
    const Drawn two = Draw(table, 0, kW, kH, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1, 0}, 2.0);
    ASSERT_EQ(two.image.size(), QSize(2 * kW, 2 * kH));
    EXPECT_EQ(two.image.devicePixelRatio(), 2.0);
    EXPECT_EQ(two.image.deviceIndependentSize(), QSizeF(kW, kH));
    ASSERT_EQ(two.points.size(), one.points.size());
    for (std::size_t j = 0; j < one.points.size(); ++j) {
        EXPECT_FLOAT_EQ(two.points[j].X, one.points[j].X);
        EXPECT_FLOAT_EQ(two.points[j].Y[0], one.points[j].Y[0]);
    }
    // An hour line (logical x = 80) is two pixels wide, from the plot area's top down.
    EXPECT_EQ(PixelArgb(two.image, 160, 90), kGrid);
    EXPECT_EQ(PixelArgb(two.image, 161, 90), kGrid);
    EXPECT_EQ(PixelArgb(two.image, 159, 90), kBlack);
    EXPECT_EQ(PixelArgb(two.image, 162, 90), kBlack);
    EXPECT_EQ(PixelArgb(two.image, 160, 39), kBlack) << "lines end at the plot area";
    // The board's time (logical x = 620) is two opaque pixels wide over the whole height
    // (above the curves).
    for (int y : {0, 20, 2 * kH - 1}) {
        EXPECT_EQ(PixelArgb(two.image, 1240, y), 0xFFC0C0C0u) << y;
        EXPECT_EQ(PixelArgb(two.image, 1241, y), 0xFFC0C0C0u) << y;
        EXPECT_EQ(PixelArgb(two.image, 1239, y), kBlack) << y;
        EXPECT_EQ(PixelArgb(two.image, 1242, y), kBlack) << y;
    }
    // The middle point's square is 20 × 20 pixels: its part above the curve is solid red.
    EXPECT_EQ(CountColor(two.image, QRect(1470, 30, 20, 8), kRed), 160);
    EXPECT_EQ(PixelArgb(two.image, 1469, 32), kBlack);
    EXPECT_EQ(PixelArgb(two.image, 1490, 32), kBlack);
    // The label "12" in a font of twice the size: about four times the grey pixels.
    const int textHeight = QFontMetrics(DefaultGraphFont()).height();
    const int greyOne = CountColor(one.image, QRect(735, 1, 16, textHeight), kGrey);
    const int greyTwo = CountColor(two.image, QRect(1470, 2, 32, 2 * textHeight), kGrey);
    EXPECT_GT(greyTwo, 3 * greyOne);
    EXPECT_LT(greyTwo, 5 * greyOne);
}

TEST(GraphPicture, PointsArePlacedEvenWithoutAPicture) {
    const std::vector<ScheduleEntry> table = {At(12, 0, {100})};
    const Drawn none = Draw(table, 0, 0, 0);
    EXPECT_TRUE(none.image.isNull());
    ASSERT_EQ(none.points.size(), 1u);
    // Tiny pictures (plot area turned inside out) still draw without harm.
    const Drawn tiny = Draw(table, 0, 30, 30);
    EXPECT_EQ(tiny.image.size(), QSize(30, 30));
}

}  // namespace
}  // namespace quelvan
