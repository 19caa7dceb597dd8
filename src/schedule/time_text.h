#pragma once
// Times of day and small integers as the board's users read and type them: the "00"
// pattern on signed values, and the split of a typed "HH:MM" at its first colon.

#include <optional>
#include <string>
#include <string_view>

namespace quelvan {

// At least two digits, sign in front: 7 -> "07", -56 -> "-56", -5 -> "-05", 123 -> "123".
std::string FormatTwoDigits(int value);

// Hour and minute in that pattern, joined by ":" ("07:05", "24:00", "12:-56").
std::string FormatTimeOfDay(int hour, int minute);

// A whole number in decimal with an optional sign, blanks around it allowed; nullopt for
// anything else (empty text, letters, a decimal point, digits beyond 64 bits).
std::optional<long long> ParseInteger(std::string_view text);

// A typed time split at its first colon.
struct ColonSplit {
    bool hasColon = false;
    std::string_view before;  // the whole text when there is no colon
    std::string_view after;   // empty when there is no colon
};
ColonSplit SplitAtFirstColon(std::string_view text);

}  // namespace quelvan
