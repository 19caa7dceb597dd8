#include "schedule/render/moon_picture.h"

#include <QPainter>
#include <QPolygonF>
#include <cmath>
#include <numbers>

#include "schedule/render/argb_image.h"

namespace quelvan {

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kStep = kPi / 12;  // 15°

// Walks the angle from `start` to `end` in single-precision steps of 15°, clamped to the end,
// calling `add` for every angle including the end. Twelve single-precision steps land a hair
// short of the end; an angle that close is taken as the end, so that a half turn gives 13
// angles and not a 14th, nearly equal one.
template <typename Add>
void WalkAngles(float start, float end, Add add) {
    float t = start;
    for (;;) {
        add(t);
        if (t == end) break;
        t += kStep;
        if (t > end || end - t < kStep / 2) t = end;
    }
}

}  // namespace

std::vector<QPointF> MoonPolygon(float CenterX, float CenterY, float Radius, float Angle, float Phase) {
    const float a = Angle * kPi / 180.0f;
    const float cosA = std::cos(a);
    const float sinA = std::sin(a);
    std::vector<QPointF> points;
    points.reserve(25);
    auto place = [&](float px, float py) {
        points.emplace_back(CenterX + px * cosA - py * sinA, CenterY + px * sinA + py * cosA);
    };
    // The limb: half the circle, at Angle 0 the left half from the bottom to the top.
    WalkAngles(kPi / 2, 3 * kPi / 2, [&](float t) { place(Radius * std::cos(t), Radius * std::sin(t)); });
    // The terminator: half an ellipse from the top back to the bottom, bulging to the right
    // for K > 0 and to the left for K < 0.
    const float k = (2 * Phase - 1) * Radius;
    WalkAngles(3 * kPi / 2 + kStep, 5 * kPi / 2, [&](float t) { place(k * std::cos(t), Radius * std::sin(t)); });
    return points;
}

void DrawMoon(QImage& bitmap, std::uint32_t FillColor, float CenterX, float CenterY, float Radius, float Angle,
              float Phase) {
    const std::vector<QPointF> points = MoonPolygon(CenterX, CenterY, Radius, Angle, Phase);
    QPainter painter(&bitmap);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgba(FillColor));
    painter.drawPolygon(QPolygonF(QList<QPointF>(points.begin(), points.end())), Qt::OddEvenFill);
}

void PaintMoonPhase(QImage& bitmap, const MoonPhase& moon) {
    bitmap.fill(0u);
    DrawMoon(bitmap, kMoonColor, kMoonCenter, kMoonCenter, kMoonRadius, MoonAngle(moon),
             static_cast<float>(moon.phase));
}

QImage MoonPicture(const MoonPhase& moon) {
    QImage bitmap = NewArgbImage(kMoonPictureSize, kMoonPictureSize, 0);
    PaintMoonPhase(bitmap, moon);
    return bitmap;
}

}  // namespace quelvan
