#pragma once
// The twelve colour names a channel can carry, and how a channel's display name is formed.
// Shared by the window and the command-line tool.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quelvan {

// Index 0 names a channel by its letter ("Kanal " + letter); the others are colour names.
inline constexpr std::array<std::string_view, 12> ColorNames = {
    "Kanal ", "Weiß", "Rot", "Grün", "Blau", "UV", "Mondlicht", "Kaltweiß", "Warmweiß", "Gelb", "Pink", "Royalblau",
};

// A channel as users name it: A..L in either case gives 0..11, "all" kAllChannels.
inline constexpr int kAllChannels = -1;
std::optional<int> ParseChannel(std::string_view text);

// 'A' for channel 0 up to 'L' for channel 11; '?' outside that range.
char ChannelLetter(int channel);

// The display name of `channel` (0..11) with colour-name index `index`. An index outside
// 0..11 (possible for a moment after an import) is taken as 0, so the table is never
// read past its end.
std::string ChannelDisplayName(int channel, int index);

}  // namespace quelvan
