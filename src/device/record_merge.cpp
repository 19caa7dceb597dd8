#include "device/record_merge.h"

#include <tuple>

#include "device/config_keys.h"

namespace quelvan {

namespace {

template <typename State>
auto ClockOf(State& s) {
    return std::tie(s.ClockTick, s.ClockSecond, s.ClockMinute, s.ClockHour);
}

template <typename State>
auto MoonTransitOf(State& s) {
    return std::tie(s.MoonTransitMinute, s.MoonTransitHour);
}

}  // namespace

LiveState MergeLiveStateEdits(const LiveState& base, const LiveState& mine, LiveState fresh) {
    // A clock is one value: its hour from one reading and its minute from another can be an
    // hour wrong.
    if (ClockOf(mine) != ClockOf(base)) ClockOf(fresh) = ClockOf(mine);
    if (MoonTransitOf(mine) != MoonTransitOf(base)) MoonTransitOf(fresh) = MoonTransitOf(mine);
    for (std::size_t i = 0; i < mine.ChannelValue.size(); ++i)
        if (mine.ChannelValue[i] != base.ChannelValue[i]) fresh.ChannelValue[i] = mine.ChannelValue[i];
    return fresh;
}

DeviceConfig MergeDeviceConfigEdits(const DeviceConfig& base, const DeviceConfig& mine, DeviceConfig fresh) {
    for (const ConfigKey& key : ConfigKeys()) {
        const long long value = ReadConfigKey(mine, key);
        if (value != ReadConfigKey(base, key)) StoreConfigKey(fresh, key, value);
    }
    return fresh;
}

}  // namespace quelvan
