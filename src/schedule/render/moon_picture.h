#pragma once
// The picture of the lit part of the moon: one polygon of the limb and the terminator,
// filled without anti-aliasing into a small ARGB bitmap.

#include <QImage>
#include <QPointF>
#include <cstdint>
#include <vector>

#include "schedule/moon_phase.h"

namespace quelvan {

inline constexpr int kMoonPictureSize = 60;
inline constexpr float kMoonCenter = 30.0f;
inline constexpr float kMoonRadius = 20.0f;
inline constexpr std::uint32_t kMoonColor = 0xFFE0E000;

// The 25 corners: 13 on the limb (half a circle from 90° to 270°), then 12 on the terminator
// (half an ellipse with horizontal half-axis |(2 × Phase − 1) × Radius|, from 285° to 450°),
// all rotated by Angle degrees about the centre (y grows downward).
std::vector<QPointF> MoonPolygon(float CenterX, float CenterY, float Radius, float Angle, float Phase);

// Fills the lit part of a moon disc into `bitmap` in FillColor ($AARRGGBB). Phase 1 is the
// full disc, 0.5 half of it, 0 nothing. The bitmap is not cleared first.
void DrawMoon(QImage& bitmap, std::uint32_t FillColor, float CenterX, float CenterY, float Radius, float Angle,
              float Phase);

// The bitmap cleared to $00000000 and the moon of that phase drawn at (30, 30), radius 20.
void PaintMoonPhase(QImage& bitmap, const MoonPhase& moon);
// A new 60 × 60 picture of that phase.
QImage MoonPicture(const MoonPhase& moon);

}  // namespace quelvan
