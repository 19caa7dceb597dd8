#include "mqtt/mqtt_commands.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "device/board_modes.h"
#include "device/channel_names.h"
#include "device/channel_values.h"
#include "device/numeric.h"
#include "device/weather_conversions.h"
#include "mqtt/mqtt_topics.h"

namespace quelvan::service::mqtt {

namespace {

using nlohmann::json;

ParsedCommand Refuse(std::string why) {
    return {std::nullopt, std::move(why)};
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

ParsedCommand ParseChannel(int channel, std::string_view payload) {
    const json request = json::parse(payload, nullptr, false);
    if (request.is_discarded() || !request.is_object()) return Refuse("not a JSON object");
    std::optional<bool> on;
    if (const auto state = request.find("state"); state != request.end()) {
        if (!state->is_string() || (*state != "ON" && *state != "OFF"))
            return Refuse("\"state\" must be \"ON\" or \"OFF\"");
        on = *state == "ON";
    }
    std::optional<int> brightness;
    if (const auto b = request.find("brightness"); b != request.end()) {
        if (!b->is_number()) return Refuse("\"brightness\" must be a number");
        const double value = b->get<double>();
        if (!std::isfinite(value) || value < 0 || value > kChannelFullOn)
            return Refuse("\"brightness\" must lie between 0 and 4096");
        brightness = static_cast<int>(RoundHalfEven(value));
    }
    if (!on && !brightness) return Refuse("neither \"state\" nor \"brightness\"");
    const int value = on == false ? 0 : brightness ? *brightness : kChannelFullOn;
    return {Command{Command::Kind::Channel, channel, value}, {}};
}

ParsedCommand ParseWhole(Command::Kind kind, WeatherRange range, std::string_view payload) {
    const json number = json::parse(Trimmed(payload), nullptr, false);
    const bool whole = number.is_number() && std::isfinite(number.get<double>()) &&
                       number.get<double>() == std::floor(number.get<double>());
    if (!whole || number.get<double>() < range.minimum || number.get<double>() > range.maximum)
        return Refuse("a whole number between " + std::to_string(range.minimum) + " and " +
                      std::to_string(range.maximum) + " expected");
    return {Command{kind, 0, static_cast<int>(number.get<double>())}, {}};
}

}  // namespace

ParsedCommand ParseCommand(std::string_view objectId, std::string_view payload, bool retained) {
    if (retained) return Refuse("retained command ignored (a replayed command must not act)");
    if (payload.size() > kMaxCommandPayload)
        return Refuse("payload of " + std::to_string(payload.size()) + " bytes, more than " +
                      std::to_string(kMaxCommandPayload));
    if (const auto channel = ChannelOfObjectId(objectId)) return ParseChannel(*channel, payload);
    if (objectId == "mode") {
        const std::string_view name = Trimmed(payload);
        for (int mode = 0; mode < static_cast<int>(kModeNames.size()); ++mode)
            if (name == ModeName(mode)) return {Command{Command::Kind::Mode, 0, mode}, {}};
        return Refuse("unknown mode (Manuell, Auto, Demo, Flash or Slave)");
    }
    if (objectId == "clouds_per_day") return ParseWhole(Command::Kind::CloudsPerDay, kCloudCountRange, payload);
    if (objectId == "cloud_seconds") return ParseWhole(Command::Kind::CloudSeconds, kCloudSecondsRange, payload);
    if (objectId == "storms_per_day") return ParseWhole(Command::Kind::StormsPerDay, kStormCountRange, payload);
    if (objectId == "storm_minutes") return ParseWhole(Command::Kind::StormMinutes, kStormMinutesRange, payload);
    if (objectId == "sync_clock" || objectId == "save_eeprom") {
        if (Trimmed(payload) != "PRESS") return Refuse("a button takes PRESS");
        return {Command{objectId == "sync_clock" ? Command::Kind::SyncClock : Command::Kind::SaveEEPROM, 0, 0}, {}};
    }
    return Refuse("no such command");
}

Applied ApplyCommand(const Command& command, BoardProtocol& board) {
    DeviceConfig& config = board.config;
    switch (command.kind) {
        case Command::Kind::Channel: {
            std::string what =
                "channel " + std::string(1, ChannelLetter(command.channel)) + " to " + std::to_string(command.value);
            if (config.Mode != 0) {
                // As "ALLES EIN": the board's own program would override the value at once.
                config.Mode = 0;
                if (!board.WriteDeviceConfig().ok) return {false, what + ": switching to Manuell failed"};
                what += " (switched to Manuell first)";
            }
            board.live.ChannelValue[static_cast<std::size_t>(command.channel)] =
                static_cast<std::int16_t>(command.value);
            return {board.WriteLiveState(false, false, true).ok, what};
        }
        case Command::Kind::Mode:
            config.Mode = static_cast<std::uint8_t>(command.value);
            return {board.WriteDeviceConfig().ok, "mode " + std::string(ModeName(command.value))};
        case Command::Kind::CloudsPerDay:
            config.CloudP = ProbabilityFromCountPerDay(command.value);
            return {board.WriteDeviceConfig().ok, std::to_string(command.value) + " clouds per day"};
        case Command::Kind::CloudSeconds:
            config.CloudD = *CloudDFromSeconds(command.value);
            return {board.WriteDeviceConfig().ok, std::to_string(command.value) + " s per cloud"};
        case Command::Kind::StormsPerDay:
            config.StormP = ProbabilityFromCountPerDay(command.value);
            return {board.WriteDeviceConfig().ok, std::to_string(command.value) + " storms per day"};
        case Command::Kind::StormMinutes:
            config.StormD = *StormDFromMinutes(command.value);
            return {board.WriteDeviceConfig().ok, std::to_string(command.value) + " min per storm"};
        case Command::Kind::SyncClock:
            board.SetClockFromComputer();
            return {board.WriteLiveState(true, false, false).ok, "clock set from this computer"};
        case Command::Kind::SaveEEPROM:
            return {board.SaveEEPROM().ok, "settings saved in EEPROM"};
    }
    return {};
}

}  // namespace quelvan::service::mqtt
