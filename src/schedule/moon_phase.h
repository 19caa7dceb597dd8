#pragma once
// The moon's phase from two times of day alone: today's transit (the moon's highest point)
// and the transit at full moon. No calendar, no month length.

namespace quelvan {

struct MoonPhase {
    int d = 0;             // today's transit minus the full moon's, in minutes
    int e = 0;             // (d + 720) modulo 1440
    int a = 0;             // distance of the two times on the 24-hour circle, 0..720
    double phase = 0;      // 1 full, 0 new, linear in between
    bool litRight = true;  // the lit side of the picture
};

// Hours and minutes as the records hold them (today's transit as signed bytes, the full
// moon's as unsigned bytes); any values are accepted.
MoonPhase ComputeMoonPhase(int transitHour, int transitMinute, int fullmoonHour, int fullmoonMinute);

// The picture's rotation: 180 puts the lit side on the right, 0 on the left.
inline float MoonAngle(const MoonPhase& moon) {
    return moon.litRight ? 180.0f : 0.0f;
}

}  // namespace quelvan
