#pragma once
// The board's operating modes (DeviceConfig::Mode) and their names, as the window's menu
// and status bar and the command-line tool show them.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quelvan {

inline constexpr std::array<std::string_view, 5> kModeNames = {"Manuell", "Auto", "Demo", "Flash", "Slave"};

// The name of a mode 0..4; empty for any other value.
constexpr std::string_view ModeName(int mode) {
    return mode >= 0 && mode < static_cast<int>(kModeNames.size()) ? kModeNames[static_cast<std::size_t>(mode)]
                                                                   : std::string_view();
}

// Modes by name, in any case: manual (or manuell) 0, auto 1, demo 2, flash 3, slave 4.
inline std::optional<int> ParseModeName(std::string_view text) {
    auto lower = [](std::string_view s) {
        std::string out(s);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    };
    const std::string name = lower(text);
    if (name == "manual") return 0;
    for (std::size_t i = 0; i < kModeNames.size(); ++i)
        if (name == lower(kModeNames[i])) return static_cast<int>(i);
    return std::nullopt;
}

}  // namespace quelvan
