#include "device/temperature_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "device/numeric.h"

namespace quelvan {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The rounded value's low 16 bits. Doubles this large are whole numbers already, and
// fmod keeps their low bits exactly, so typing a huge number cannot overflow the cast.
long long RoundedLowBits(double value) {
    double rounded = std::nearbyint(value);
    if (std::fabs(rounded) >= 1e15) rounded = std::fmod(rounded, 65536.0);
    return static_cast<long long>(rounded);
}

}  // namespace

std::string FormatTenths(int tenths, std::string_view decimalSeparator) {
    const long long magnitude = std::llabs(static_cast<long long>(tenths));
    std::string text = tenths < 0 ? "-" : "";
    text += std::to_string(magnitude / 10);
    if (magnitude % 10 != 0) {
        text += decimalSeparator;
        text += static_cast<char>('0' + magnitude % 10);
    }
    return text;
}

std::optional<double> ParseDecimalNumber(std::string_view text, std::string_view decimalSeparator) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::string plain;  // digits with a '.' for the separator, for strtod in the "C" locale
    bool separatorSeen = false;
    bool digitSeen = false;
    while (!text.empty()) {
        if (IsDigit(text.front())) {
            plain += text.front();
            digitSeen = true;
            text.remove_prefix(1);
        } else if (!separatorSeen && !decimalSeparator.empty() && text.starts_with(decimalSeparator)) {
            plain += '.';
            separatorSeen = true;
            text.remove_prefix(decimalSeparator.size());
        } else {
            return std::nullopt;
        }
    }
    if (!digitSeen) return std::nullopt;
    if (plain.front() == '.') plain.insert(0, 1, '0');
    if (plain.back() == '.') plain += '0';
    // Only digits and one point are left: no locale, exponent or hexadecimal form can sneak
    // in, and from_chars gives the nearest double (so "2,25" is exactly 2.25).
    double value = 0;
    const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) return std::nullopt;
    return negative ? -value : value;
}

std::int16_t Tenths16FromDegrees(double degrees) {
    return LowSigned16(RoundedLowBits(degrees * 10));
}

std::int8_t Tenths8FromDegrees(double degrees) {
    return LowSigned8(RoundedLowBits(degrees * 10));
}

}  // namespace quelvan
