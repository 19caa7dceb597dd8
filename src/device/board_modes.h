#pragma once
// The board's operating modes (DeviceConfig::Mode) and their names, as the window's menu
// and status bar and the command-line tool show them.

#include <array>
#include <string_view>

namespace quelvan {

inline constexpr std::array<std::string_view, 5> kModeNames = {"Manuell", "Auto", "Demo", "Flash", "Slave"};

// The name of a mode 0..4; empty for any other value.
constexpr std::string_view ModeName(int mode) {
    return mode >= 0 && mode < static_cast<int>(kModeNames.size()) ? kModeNames[static_cast<std::size_t>(mode)]
                                                                   : std::string_view();
}

}  // namespace quelvan
