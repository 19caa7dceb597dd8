#pragma once
// Home Assistant's MQTT discovery for one board: one device (identified by the serial
// number) with its entities, each a retained config message.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/records.h"
#include "mqtt/mqtt_topics.h"

namespace quelvan::service::mqtt {

// What the configs say about the board; a change of any of it means publishing them again.
struct DeviceFacts {
    std::string id;  // the serial number as a topic id
    std::string serial;
    std::string manufacturer;  // as the board reports it
    int firmwareVersion = 0;
    std::array<std::uint8_t, kChannelCount> colorNames{};  // the lights' names follow them
    std::string configurationUrl;                          // empty: none to offer
    bool sun = false;                                      // it follows the sun: sunrise, sunset
    bool operator==(const DeviceFacts&) const = default;
};

struct Message {
    std::string topic;
    std::string payload;
};

// Every entity's config, in the order of Entities(); for a board that does not follow the sun
// its sunrise and sunset configs are empty (removing ones announced before).
std::vector<Message> DiscoveryConfigs(const Topics& topics, const DeviceFacts& facts);

// Every retained topic the service publishes for a board: configs, state, availability.
// Forgetting a board publishes an empty retained message on each.
std::vector<std::string> RetainedTopicsOfBoard(const Topics& topics, const std::string& id);

}  // namespace quelvan::service::mqtt
