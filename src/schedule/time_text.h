#pragma once
// Times of day and small integers as the board's users read and type them: the "00"
// pattern on signed values, and the split of a typed "HH:MM" at its first colon.

#include <cstdint>
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

// The rule of the typed times (full-moon transit, moon transit): the integer before the first
// colon is stored in `hour` as its low 8 bits, then the integer after it in `minute`. Without
// a colon nothing is stored; a bad hour stores nothing; a bad minute leaves the new hour stored.
// Returns true only when both were stored: only then does the caller send the record.
template <typename Byte>
bool StoreTypedTime(std::string_view text, Byte& hour, Byte& minute) {
    static_assert(sizeof(Byte) == 1);
    const ColonSplit split = SplitAtFirstColon(text);
    if (!split.hasColon) return false;
    const std::optional<long long> h = ParseInteger(split.before);
    if (!h) return false;
    hour = static_cast<Byte>(static_cast<std::uint8_t>(*h & 0xFF));
    const std::optional<long long> m = ParseInteger(split.after);
    if (!m) return false;
    minute = static_cast<Byte>(static_cast<std::uint8_t>(*m & 0xFF));
    return true;
}

}  // namespace quelvan
