#pragma once
// Temperatures are signed integers in tenths of a degree. They are shown as degrees with at
// most one decimal and no trailing zero (pattern "0.#") and typed as decimal numbers, both
// with the user's decimal separator, which the caller passes in.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quelvan {

// 215 -> "21,5", 250 -> "25", -35 -> "-3,5", -5 -> "-0,5" (with "," as separator).
std::string FormatTenths(int tenths, std::string_view decimalSeparator);

// A decimal number: optional sign, digits, optionally the separator and more digits; blanks
// around it allowed. Anything else (letters, another separator, no digit) gives nullopt.
std::optional<double> ParseDecimalNumber(std::string_view text, std::string_view decimalSeparator);

// round(degrees × 10), halves to even, as the exact integer's low bits in the field's width:
// 13 degrees is 130 and stores as -126 in 8 bits. Defined for any finite number.
std::int16_t Tenths16FromDegrees(double degrees);
std::int8_t Tenths8FromDegrees(double degrees);

}  // namespace quelvan
