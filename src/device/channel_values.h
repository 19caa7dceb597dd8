#pragma once
// The channels' brightness scale: raw values 0 (off) to 4096 (full), shown as percent.
// Shared by the window and the command-line tool so both send the same bytes.

#include <cmath>
#include <cstdint>

#include "device/numeric.h"

namespace quelvan {

constexpr int kChannelFullOn = 4096;

// value × 100 / 4096: the product in integers, the division in floating point.
inline double PercentOfChannelValue(int value) {
    return (value * 100) / static_cast<double>(kChannelFullOn);
}

// The percentage as a number, rounded to two decimals (for JSON).
inline double PercentNumber(int value) {
    return std::nearbyint(PercentOfChannelValue(value) * 100) / 100;
}

// Round(percent × 4096 / 100), halves to even, kept to the field's low 16 bits, as the
// board stores it. Also defined for typed numbers far beyond 16 bits.
inline std::int16_t ChannelValueFromPercent(double percent) {
    double raw = percent * kChannelFullOn / 100;
    // Doubles this large are whole numbers already; only their low bits matter.
    if (std::fabs(raw) >= 1e15) raw = std::fmod(raw, 65536.0);
    return LowSigned16(RoundHalfEven(raw));
}

}  // namespace quelvan
