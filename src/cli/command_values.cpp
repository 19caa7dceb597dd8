#include "cli/command_values.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "device/numeric.h"

namespace quelvan::cli {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

std::optional<int> ParseSmallInt(std::string_view text) {
    // More than three digits cannot be a valid hour or minute; this also keeps from_chars in range.
    if (!AllDigits(text) || text.size() > 3) return std::nullopt;
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace

std::optional<bool> ParseOnOff(std::string_view text) {
    const std::string lower = Lower(text);
    if (lower == "on" || lower == "ein") return true;
    if (lower == "off" || lower == "aus") return false;
    return std::nullopt;
}

std::optional<long long> ParseWholeNumber(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Eighteen digits always fit; no setting comes near.
    if (!AllDigits(text) || text.size() > 18) return std::nullopt;
    long long value = 0;
    for (const char c : text) value = value * 10 + (c - '0');
    return negative ? -value : value;
}

std::optional<double> ParseDecimal(std::string_view text) {
    std::string normal;
    std::size_t pos = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        if (text[0] == '-') normal += '-';
        pos = 1;
    }
    bool digits = false;
    bool separator = false;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c >= '0' && c <= '9') {
            digits = true;
            normal += c;
        } else if ((c == '.' || c == ',') && !separator) {
            separator = true;
            normal += '.';
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    if (ec != std::errc() || end != normal.data() + normal.size()) return std::nullopt;
    return value;
}

std::optional<ClockTime> ParseClockTime(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto hour = ParseSmallInt(text.substr(0, colon));
    const auto minute = ParseSmallInt(text.substr(colon + 1));
    if (!hour || !minute) return std::nullopt;
    if (*minute > 59 || *hour > 24 || (*hour == 24 && *minute != 0)) return std::nullopt;
    return ClockTime{*hour, *minute};
}

std::string FormatTrimmed(double value, int decimals) {
    // to_chars ignores the C locale, so the separator is always a point.
    std::array<char, 400> buffer{};
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, decimals);
    std::string text(buffer.data(), result.ptr);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return text;
}

std::string FormatPercent(int channelValue) {
    return FormatTrimmed(PercentOfChannelValue(channelValue), 2);
}

}  // namespace quelvan::cli
