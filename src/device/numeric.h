#pragma once
// Small numeric helpers shared by every layer: the board's rounding rule and the
// deliberate wrap of out-of-range values into the board's 8- and 16-bit fields.

#include <cmath>
#include <cstdint>

namespace quelvan {

// Round to nearest, halves to even (the default floating-point rounding mode).
inline long long RoundHalfEven(double value) {
    return static_cast<long long>(std::nearbyint(value));
}

// The board stores numbers without range checks: keep the low 8 or 16 bits.
inline std::uint8_t Low8(long long value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}
inline std::uint16_t Low16(long long value) {
    return static_cast<std::uint16_t>(value & 0xFFFF);
}
inline std::int8_t LowSigned8(long long value) {
    return static_cast<std::int8_t>(Low8(value));
}
inline std::int16_t LowSigned16(long long value) {
    return static_cast<std::int16_t>(Low16(value));
}

}  // namespace quelvan
