#pragma once
// What quelvand publishes about a board: its state as one JSON object (the names of
// `quelvanctl --json status` and `weather`), each channel's state as a JSON-schema light
// reads it, and whether the water temperature has a sensor behind it.

#include <nlohmann/json.hpp>
#include <string>

#include "device/records.h"

namespace quelvan::service::mqtt {

// The state of <base>/<id>/state. `service` is the client id of the service that holds it.
nlohmann::json BoardState(const std::string& serial, const std::string& service, const LiveState& live,
                          const DeviceConfig& config);

// {"state": "ON", "brightness": N} with N the raw value 1..4096; a value of 0 (or below) is
// "OFF": a brightness of 0 is no valid "ON".
std::string ChannelState(int value);

// "online" while a sensor is fitted, "offline" without one.
const char* WaterTemperatureAvailability(const LiveState& live);

// The display name of a channel as a Home Assistant entity: "Kanal C", or with a colour name
// "Kanal C (Warmweiß)". Never the device's name.
std::string ChannelEntityName(int channel, int colorName);

}  // namespace quelvan::service::mqtt
