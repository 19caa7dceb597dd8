#include "cli/status_report.h"

#include <iomanip>
#include <string>

#include "cli/command_values.h"
#include "device/channel_names.h"

namespace quelvan::cli {

namespace {

std::string ChannelName(const DeviceConfig& config, int channel) {
    return ChannelDisplayName(channel, config.ColorName[static_cast<std::size_t>(channel)]);
}

// Display width of a UTF-8 string: count the bytes that start a character.
std::size_t Columns(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace

void PrintStatus(const LiveState& live, const DeviceConfig& config, std::ostream& out) {
    const std::string_view modeName = ModeName(config.Mode);
    out << "Firmware version: " << int{live.FirmwareVersion} << "\n";
    out << "Schedule entries: " << int{live.EntryCount} << "\n";
    out << "Clock: " << ClockText(live) << "\n";
    out << "Mode: " << int{config.Mode} << " (" << (modeName.empty() ? "unknown" : modeName) << ")\n";
    out << "Time lapse: 1:" << int{config.TimeLapse} << (config.TimeLapse == 1 ? " (real time)" : "") << "\n";
    out << "Channels:\n";
    for (int n = 0; n < kChannelCount; ++n) {
        const std::string name = ChannelName(config, n);
        const int value = live.ChannelValue[static_cast<std::size_t>(n)];
        out << "  " << ChannelLetter(n) << "  " << name
            << std::string(12 - std::min<std::size_t>(12, Columns(name)), ' ') << std::setw(6) << value << "  "
            << std::setw(6) << FormatPercent(value) << " %\n";
    }
    out << "Supply voltage: " << FormatTrimmed(live.SupplyVoltage / 1000.0, 2) << " V\n";
    if (live.Temperature == kNoTemperatureSensor)
        out << "Temperature: no sensor fitted\n";
    else
        out << "Temperature: " << FormatTrimmed(live.Temperature / 10.0, 1) << " °C\n";
    out << "Moon transit: " << MoonTransitText(live) << "\n";
    const MoonPhase moon = BoardMoon(live, config);
    out << "Moon phase: " << FormatTrimmed(moon.phase, 3) << " (lit on the " << MoonLitSide(moon) << ")\n";
}

}  // namespace quelvan::cli
