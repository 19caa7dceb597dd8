#pragma once
// Parsing of the command-line tool's arguments (channels, percentages, modes, times) and
// formatting of the board's values for output. Pure functions, no I/O.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "device/board_modes.h"
#include "device/channel_names.h"
#include "device/channel_values.h"

namespace quelvan::cli {

// Channels (ParseChannel) and modes (ParseModeName) are parsed by the device layer, where
// quelvand's web API parses them too.

// "on"/"off" (also "ein"/"aus"), either case.
std::optional<bool> ParseOnOff(std::string_view text);

// Every whole number on the command line: an optional sign and decimal digits, nothing
// else ("010" is ten; no "0x10", no blanks, no empty text, no "+-5").
std::optional<long long> ParseWholeNumber(std::string_view text);

// A plain decimal number with a point or a comma ("50", "33,3", ".5"); nothing else
// (no exponents, no "inf", no thousands separators, no surrounding blanks).
std::optional<double> ParseDecimal(std::string_view text);

// "HH:MM" with 0..23 hours and 0..59 minutes, or exactly 24:00 (the end of the day, which
// the window's clock track bar can send too).
struct ClockTime {
    int hour = 0;
    int minute = 0;
};
std::optional<ClockTime> ParseClockTime(std::string_view text);

// value * 100 / 4096 with up to two decimals and no trailing zeros ("50", "24.41", "0.02").
std::string FormatPercent(int channelValue);
// A number with up to `decimals` decimals, trailing zeros dropped, point as separator.
std::string FormatTrimmed(double value, int decimals);

}  // namespace quelvan::cli
