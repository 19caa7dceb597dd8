#include "schedule/time_text.h"

#include <charconv>
#include <cstdlib>

namespace quelvan {

std::string FormatTwoDigits(int value) {
    const long long magnitude = std::llabs(static_cast<long long>(value));
    std::string digits = std::to_string(magnitude);
    if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
    return value < 0 ? "-" + digits : digits;
}

std::string FormatTimeOfDay(int hour, int minute) {
    return FormatTwoDigits(hour) + ":" + FormatTwoDigits(minute);
}

std::optional<long long> ParseInteger(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

ColonSplit SplitAtFirstColon(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return ColonSplit{false, text, {}};
    return ColonSplit{true, text.substr(0, colon), text.substr(colon + 1)};
}

}  // namespace quelvan
