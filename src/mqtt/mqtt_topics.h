#pragma once
// The MQTT names users' automations rely on: every topic quelvand publishes or listens to,
// and the entities of a board as Home Assistant sees them (object ids and components).
//
//   <base>/<id>/state                          the board's state, retained JSON
//   <base>/<id>/availability                   online / offline, retained
//   <base>/<id>/channel_a/state ...            one light's state, retained JSON
//   <base>/<id>/water_temperature/availability online / offline (no sensor), retained
//   <base>/<id>/water_alarm/state ...          ON / OFF, retained (also supply_, missing_alarm)
//   <base>/<id>/<object id>/set                commands (never retained)
//   <base>/service/<client>/availability       the service itself: online, or its will offline
//   <base>/service/<client>/boards             the ids it has announced online, retained JSON
//   <base>/service/<client>/probe              its own marker, never retained (see Forget)
//   <prefix>/<component>/<id>/<object id>/config   discovery, retained JSON
//   <prefix>/status                            Home Assistant announcing itself
//
// <id> is the board's serial number reduced to [A-Za-z0-9_-]; <client> the client id reduced
// the same way.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvan::service::mqtt {

// Every character outside [A-Za-z0-9_-] becomes '_' (topic levels and discovery ids must not
// hold '/', '+', '#' or anything else a serial number might carry).
std::string TopicId(std::string_view text);
// "quelvand-" and the host's name: unique per host, so that two services never knock each
// other off the broker with the same id.
std::string DefaultClientId();

enum class Component { Light, Select, Sensor, Number, Button, BinarySensor };
const char* ComponentName(Component component);

struct EntityKind {
    const char* objectId;
    Component component;
};
// channel_a .. channel_l, mode, water_temperature, supply_voltage, moon_phase,
// clouds_per_day, cloud_seconds, storms_per_day, storm_minutes, sync_clock, save_eeprom,
// water_alarm, supply_alarm, missing_alarm, sunrise, sunset.
const std::vector<EntityKind>& Entities();
// "channel_a" .. "channel_l" for 0..11.
std::string ChannelObjectId(int channel);
// 0..11 for a channel's object id, nullopt for anything else.
std::optional<int> ChannelOfObjectId(std::string_view objectId);
inline constexpr std::string_view kWaterTemperature = "water_temperature";
// The alarms' binary sensors, each with its own retained state topic (ON/OFF): the board
// missing is published while the board is gone, when its state topic says nothing new.
inline constexpr std::string_view kWaterAlarm = "water_alarm";
inline constexpr std::string_view kSupplyAlarm = "supply_alarm";
inline constexpr std::string_view kMissingAlarm = "missing_alarm";
// The day from the sun the board runs (timestamps read from its state's "sun"): announced
// only for boards that follow it.
inline constexpr std::string_view kSunrise = "sunrise";
inline constexpr std::string_view kSunset = "sunset";

class Topics {
public:
    Topics(std::string discoveryPrefix, std::string base, std::string clientId);

    std::string State(const std::string& id) const;
    std::string Availability(const std::string& id) const;
    std::string EntityState(const std::string& id, std::string_view objectId) const;
    std::string EntityAvailability(const std::string& id, std::string_view objectId) const;
    std::string Command(const std::string& id, std::string_view objectId) const;
    std::string Config(Component component, const std::string& id, std::string_view objectId) const;
    std::string ServiceAvailability() const;
    std::string ServiceBoards() const;
    std::string HomeAssistantStatus() const;
    std::string ServiceProbe() const;
    // Every config of one board: <prefix>/+/<id>/+/config; everything under <base>/<id>/.
    std::string BoardConfigs(const std::string& id) const;
    std::string BoardTopics(const std::string& id) const;
    // The client id (reduced) of <base>/service/<client>/availability; nullopt for any other.
    std::optional<std::string> ParseServiceAvailability(std::string_view topic) const;
    // What the service subscribes to for commands: <base>/+/+/set.
    std::string CommandFilter() const;

    struct CommandTopic {
        std::string id;
        std::string objectId;
    };
    // The board id and object id of <base>/<id>/<object id>/set; nullopt for any other topic.
    std::optional<CommandTopic> ParseCommand(std::string_view topic) const;
    // The board id of <base>/<id>/state; nullopt for any other topic.
    std::optional<std::string> ParseState(std::string_view topic) const;

    const std::string& ClientId() const { return clientId_; }

private:
    std::string prefix_, base_, clientId_;
};

}  // namespace quelvan::service::mqtt
