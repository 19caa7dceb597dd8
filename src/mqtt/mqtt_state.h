#pragma once
// What quelvand publishes about a board: its state as one JSON object (the names of
// `quelvanctl --json status` and `weather`), each channel's state as a JSON-schema light
// reads it, and whether the water temperature has a sensor behind it.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "device/records.h"

namespace quelvan::service::mqtt {

// A JSON payload from the broker, or a discarded value when it is none. A NUL byte anywhere
// makes it none: the parser would take what stands before it as the whole payload.
nlohmann::json ParsePayload(std::string_view payload);

// The state of <base>/<id>/state (the supply voltage to 0.1 V, the temperature to 0.1 °C:
// what the board measures meaningfully). `service` is the client id of the service that holds
// it. `stale`: not read for a while (then "last_read" says when it was, `lastReadUnixMs`).
nlohmann::json BoardState(const std::string& serial, const std::string& service, const LiveState& live,
                          const DeviceConfig& config, bool stale = false, std::int64_t lastReadUnixMs = 0);

// "2026-12-09T17:05:03Z": a wall-clock time in ms since 1970 as ISO 8601 UTC, to the second.
std::string UtcText(std::int64_t unixMs);

// {"state": "ON", "brightness": N} with N the raw value 1..4096; a value of 0 (or below) is
// "OFF": a brightness of 0 is no valid "ON".
std::string ChannelState(int value);

// "online" while a sensor is fitted, "offline" without one.
const char* WaterTemperatureAvailability(const LiveState& live);

// The display name of a channel as a Home Assistant entity: "Kanal C", or with a colour name
// "Kanal C (Warmweiß)". Never the device's name.
std::string ChannelEntityName(int channel, int colorName);

}  // namespace quelvan::service::mqtt
