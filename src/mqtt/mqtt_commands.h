#pragma once
// Commands arriving on <base>/<id>/<object id>/set: what is accepted, what is refused and
// why, and what an accepted command writes to the board (the same as the window's action).
//
//   channel_a .. channel_l  JSON: {"state": "ON"|"OFF", "brightness": 0..4096}, either or
//                           both ("ON" alone is full, as the channel's "EIN"); "transition"
//                           and keys a light does not have are ignored. In any mode but
//                           "Manuell" the board is switched to "Manuell" first, as "ALLES EIN"
//                           does, since otherwise its own program overrides the value.
//   mode                    one of "Manuell", "Auto", "Demo", "Flash", "Slave"
//   clouds_per_day          0..1000, cloud_seconds 1..900, storms_per_day 0..20,
//   storm_minutes           1..200: whole numbers, the weather page's conversions; only the
//                           field of the value given changes
//   sync_clock, save_eeprom "PRESS"
//
// Refused, with nothing sent to the board: a retained command (a replayed one must not
// switch lights on), a payload over kMaxCommandPayload bytes, one that does not parse, a
// value out of range, an unknown mode, an unknown object id.

#include <optional>
#include <string>
#include <string_view>

#include "device/board_protocol.h"

namespace quelvan::service::mqtt {

inline constexpr std::size_t kMaxCommandPayload = 256;

struct Command {
    enum class Kind { Channel, Mode, CloudsPerDay, CloudSeconds, StormsPerDay, StormMinutes, SyncClock, SaveEEPROM };
    Kind kind = Kind::SyncClock;
    int channel = 0;  // Channel: 0..11
    int value = 0;    // Channel: the raw value 0..4096; Mode: 0..4; the weather numbers
    bool operator==(const Command&) const = default;
};

struct ParsedCommand {
    std::optional<Command> command;
    std::string refusal;  // why, when there is no command
};

ParsedCommand ParseCommand(std::string_view objectId, std::string_view payload, bool retained);

struct Applied {
    bool ok = false;
    std::string what;  // for the log: "channel C to 1234 (mode Manuell first)"
};
// Writes an accepted command to the board, whose records were just read completely (a
// bridge's session); what the window writes for the same change, no more.
Applied ApplyCommand(const Command& command, BoardProtocol& board);

}  // namespace quelvan::service::mqtt
