#include "device/channel_names.h"

namespace quelvan {

std::optional<int> ParseChannel(std::string_view text) {
    if (text.size() == 3) {
        std::string lower;
        for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (lower == "all") return kAllChannels;
    }
    if (text.size() != 1) return std::nullopt;
    const char c = text[0];
    if (c >= 'a' && c <= 'l') return c - 'a';
    if (c >= 'A' && c <= 'L') return c - 'A';
    return std::nullopt;
}

char ChannelLetter(int channel) {
    if (channel < 0 || channel >= static_cast<int>(ColorNames.size())) return '?';
    return static_cast<char>('A' + channel);
}

std::string ChannelDisplayName(int channel, int index) {
    if (index < 0 || index >= static_cast<int>(ColorNames.size())) index = 0;
    std::string name(ColorNames[static_cast<std::size_t>(index)]);
    if (index == 0) name += ChannelLetter(channel);
    return name;
}

}  // namespace quelvan
