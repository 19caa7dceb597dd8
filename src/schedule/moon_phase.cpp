#include "schedule/moon_phase.h"

#include <cstdlib>

namespace quelvan {

namespace {

constexpr int kMinutesPerDay = 1440;
constexpr int kHalfDay = 720;

int Modulo(int value, int modulus) {
    const int r = value % modulus;
    return r < 0 ? r + modulus : r;
}

}  // namespace

MoonPhase ComputeMoonPhase(int transitHour, int transitMinute, int fullmoonHour, int fullmoonMinute) {
    MoonPhase moon;
    moon.d = (transitHour - fullmoonHour) * 60 + transitMinute - fullmoonMinute;
    // Within a day (|d| up to 1440) a single correction by a day would do; typed times can
    // lie many days apart, and a true modulo keeps e in 0..1439 and a in 0..720 for them, so
    // the phase never leaves 0..1.
    moon.e = Modulo(moon.d + kHalfDay, kMinutesPerDay);
    moon.a = Modulo(std::abs(moon.d), kMinutesPerDay);
    if (moon.a > kHalfDay) moon.a = kMinutesPerDay - moon.a;
    moon.phase = 1.0 - moon.a / static_cast<double>(kHalfDay);
    moon.litRight = moon.e <= kHalfDay;
    return moon;
}

}  // namespace quelvan
