#include "device/channel_names.h"

namespace quelvan {

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
