#include <gtest/gtest.h>

#include <cmath>

#include "schedule/moon_phase.h"
#include "schedule/render/argb_image.h"
#include "schedule/render/moon_picture.h"

namespace quelvan {
namespace {

constexpr std::uint32_t kLit = 0xFFE0E000;

int LitPixels(const QImage& image) {
    int lit = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) lit += PixelArgb(image, x, y) == kLit ? 1 : 0;
    return lit;
}

bool OnlyLitOrClear(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const std::uint32_t p = PixelArgb(image, x, y); p != kLit && p != 0) return false;
    return true;
}

TEST(MoonPhase, FromTheTwoTransitTimes) {
    struct Case {
        int hour, minute;  // today's transit; the full moon's is 00:00
        int d, e, a;
        double phase;
        bool litRight;
    };
    const Case cases[] = {
        {0, 0, 0, 720, 0, 1.0, true},
        {6, 0, 360, 1080, 360, 0.5, false},
        {12, 0, 720, 0, 720, 0.0, true},
        {18, 0, 1080, 360, 360, 0.5, true},
        {21, 0, 1260, 540, 180, 0.75, true},
        {24, 0, 1440, 720, 0, 1.0, true},
        {-1, 0, -60, 660, 60, 1 - 60 / 720.0, true},
    };
    for (const Case& c : cases) {
        const MoonPhase moon = ComputeMoonPhase(c.hour, c.minute, 0, 0);
        EXPECT_EQ(moon.d, c.d) << c.hour;
        EXPECT_EQ(moon.e, c.e) << c.hour;
        EXPECT_EQ(moon.a, c.a) << c.hour;
        EXPECT_DOUBLE_EQ(moon.phase, c.phase) << c.hour;
        EXPECT_EQ(moon.litRight, c.litRight) << c.hour;
        EXPECT_EQ(MoonAngle(moon), c.litRight ? 180.0f : 0.0f);
    }
    // Earlier than the full moon's transit: d is negative.
    const MoonPhase before = ComputeMoonPhase(3, 0, 9, 30);
    EXPECT_EQ(before.d, -390);
    EXPECT_EQ(before.e, 330);
    EXPECT_EQ(before.a, 390);
    EXPECT_TRUE(ComputeMoonPhase(9, 0, 9, 30).litRight) << "e = 690: lit on the right";
}

TEST(MoonPhase, TimesFarOutsideTheDayStayOnTheCircle) {
    // Typed times may be anything; the phase must stay 0..1 and the side well defined.
    for (int hour : {-128, -25, 25, 48, 127})
        for (int fullmoon : {0, 100, 255}) {
            const MoonPhase moon = ComputeMoonPhase(hour, 59, fullmoon, 255);
            EXPECT_GE(moon.a, 0);
            EXPECT_LE(moon.a, 720);
            EXPECT_GE(moon.e, 0);
            EXPECT_LT(moon.e, 1440);
            EXPECT_GE(moon.phase, 0.0);
            EXPECT_LE(moon.phase, 1.0);
        }
    // A whole number of days apart is full moon again.
    EXPECT_DOUBLE_EQ(ComputeMoonPhase(48, 0, 0, 0).phase, 1.0);
}

TEST(MoonPicture, PolygonHasThirteenLimbAndTwelveTerminatorCorners) {
    const std::vector<QPointF> points = MoonPolygon(30, 30, 20, 0, 1);
    ASSERT_EQ(points.size(), 25u);
    // At Angle 0 the limb runs from the bottom through the leftmost point to the top ...
    EXPECT_NEAR(points[0].x(), 30, 1e-4);
    EXPECT_NEAR(points[0].y(), 50, 1e-4);
    EXPECT_NEAR(points[6].x(), 10, 1e-4);
    EXPECT_NEAR(points[6].y(), 30, 1e-4);
    EXPECT_NEAR(points[12].x(), 30, 1e-4);
    EXPECT_NEAR(points[12].y(), 10, 1e-4);
    // ... and the terminator, at phase 1 a half circle bulging right, from 285° back down.
    EXPECT_NEAR(points[13].x(), 30 + 20 * std::cos(285 * M_PI / 180), 1e-4);
    EXPECT_NEAR(points[13].y(), 30 + 20 * std::sin(285 * M_PI / 180), 1e-4);
    EXPECT_NEAR(points[18].x(), 50, 1e-4);  // 360°
    EXPECT_NEAR(points[24].x(), 30, 1e-4);  // 450°, the bottom again
    EXPECT_NEAR(points[24].y(), 50, 1e-4);
    // Angle 180 turns the figure about the centre.
    const std::vector<QPointF> turned = MoonPolygon(30, 30, 20, 180, 1);
    ASSERT_EQ(turned.size(), 25u);
    EXPECT_NEAR(turned[6].x(), 50, 1e-4);
    EXPECT_NEAR(turned[0].y(), 10, 1e-4);
}

TEST(MoonPicture, PhasesAgainstFullMoonAtMidnight) {
    struct Case {
        const char* what;
        int hour;
        std::vector<QPoint> lit, clear;
    };
    const Case cases[] = {
        {"00:00 full disc",
         0,
         {{30, 30}, {12, 30}, {48, 30}, {30, 12}, {30, 48}},
         {{30, 9}, {51, 30}, {8, 30}, {0, 0}}},
        {"06:00 half disc lit left", 6, {{25, 30}, {12, 30}, {29, 15}}, {{35, 30}, {48, 30}, {31, 45}}},
        {"12:00 empty", 12, {}, {{30, 30}, {12, 30}, {48, 30}}},
        {"18:00 half disc lit right", 18, {{35, 30}, {48, 30}, {31, 15}}, {{25, 30}, {12, 30}, {29, 45}}},
        // Phase 0.75 lit right: the terminator bulges 10 pixels beyond the centre line.
        {"21:00 gibbous", 21, {{35, 30}, {48, 30}, {22, 30}, {25, 20}}, {{18, 30}, {12, 30}, {14, 22}}},
    };
    for (const Case& c : cases) {
        const QImage picture = MoonPicture(ComputeMoonPhase(c.hour, 0, 0, 0));
        ASSERT_EQ(picture.size(), QSize(60, 60)) << c.what;
        EXPECT_TRUE(OnlyLitOrClear(picture)) << c.what << ": no anti-aliased edge";
        for (const QPoint& p : c.lit)
            EXPECT_EQ(PixelArgb(picture, p.x(), p.y()), kLit) << c.what << " " << p.x() << "," << p.y();
        for (const QPoint& p : c.clear)
            EXPECT_EQ(PixelArgb(picture, p.x(), p.y()), 0u) << c.what << " " << p.x() << "," << p.y();
    }
    // Areas: the disc is about π·20², each half about half of it, the new moon nothing.
    const int full = LitPixels(MoonPicture(ComputeMoonPhase(0, 0, 0, 0)));
    EXPECT_NEAR(full, M_PI * 400, 40);
    EXPECT_NEAR(LitPixels(MoonPicture(ComputeMoonPhase(6, 0, 0, 0))), full / 2, 30);
    EXPECT_NEAR(LitPixels(MoonPicture(ComputeMoonPhase(18, 0, 0, 0))), full / 2, 30);
    EXPECT_EQ(LitPixels(MoonPicture(ComputeMoonPhase(12, 0, 0, 0))), 0);
    EXPECT_NEAR(LitPixels(MoonPicture(ComputeMoonPhase(21, 0, 0, 0))), full * 3 / 4, 30);
}

TEST(MoonPicture, RedrawClearsTheOldPictureAndDrawMoonAddsOnly) {
    QImage bitmap = NewArgbImage(60, 60, 0x12345678);
    PaintMoonPhase(bitmap, ComputeMoonPhase(12, 0, 0, 0));
    EXPECT_EQ(LitPixels(bitmap), 0);
    EXPECT_EQ(PixelArgb(bitmap, 0, 0), 0u);

    // DrawMoon itself draws on what is there, in the colour it is given.
    bitmap.fill(0x11223344);
    DrawMoon(bitmap, 0xFF0000FF, 30, 30, 20, 0, 1);
    EXPECT_EQ(PixelArgb(bitmap, 30, 30), 0xFF0000FFu);
    EXPECT_EQ(PixelArgb(bitmap, 1, 1), 0x11223344u);
}

}  // namespace
}  // namespace quelvan
