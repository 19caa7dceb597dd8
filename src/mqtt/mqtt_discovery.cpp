#include "mqtt/mqtt_discovery.h"

#include <nlohmann/json.hpp>

#include "device/board_modes.h"
#include "device/version.h"
#include "device/weather_conversions.h"
#include "mqtt/mqtt_state.h"

namespace quelvan::service::mqtt {

namespace {

using nlohmann::json;

json NumberRange(WeatherRange range, const char* unit) {
    json config = {{"min", range.minimum}, {"max", range.maximum}, {"step", 1}, {"mode", "box"}};
    if (unit) {
        config["unit_of_measurement"] = unit;
        config["device_class"] = "duration";
    }
    return config;
}

// The entity's own part of its config: its name and what it reads and sends.
json EntityConfig(const Topics& topics, const DeviceFacts& facts, const EntityKind& entity) {
    const std::string id = facts.id;
    const std::string object = entity.objectId;
    const std::string state = topics.State(id);
    if (const auto channel = ChannelOfObjectId(object)) {
        return {{"name", ChannelEntityName(*channel, facts.colorNames[static_cast<std::size_t>(*channel)])},
                {"schema", "json"},
                {"command_topic", topics.Command(id, object)},
                {"state_topic", topics.EntityState(id, object)},
                {"supported_color_modes", {"brightness"}},
                {"brightness_scale", 4096}};
    }
    auto reading = [&](const char* name, const char* value) {
        return json{{"name", name}, {"state_topic", state}, {"value_template", value}};
    };
    auto setting = [&](const char* name, const char* value) {
        json config = reading(name, value);
        config["command_topic"] = topics.Command(id, object);
        config["entity_category"] = "config";
        return config;
    };
    if (object == "mode") {
        json config = reading("Modus", "{{ value_json.mode_name }}");
        config["command_topic"] = topics.Command(id, object);
        config["options"] = kModeNames;
        return config;
    }
    if (object == kWaterTemperature) {
        json config = reading("Wassertemperatur", "{{ value_json.temperature }}");
        config.update({{"device_class", "temperature"},
                       {"unit_of_measurement", "°C"},
                       {"state_class", "measurement"},
                       {"suggested_display_precision", 1}});
        return config;
    }
    if (object == "supply_voltage") {
        json config = reading("Versorgungsspannung", "{{ value_json.supply_voltage }}");
        config.update({{"device_class", "voltage"},
                       {"unit_of_measurement", "V"},
                       {"state_class", "measurement"},
                       {"suggested_display_precision", 1},
                       {"entity_category", "diagnostic"}});
        return config;
    }
    if (object == "moon_phase") {
        json config = reading("Mondphase", "{{ (value_json.moon_phase * 100) | round(1) }}");
        config.update(
            {{"unit_of_measurement", "%"}, {"state_class", "measurement"}, {"icon", "mdi:moon-waxing-gibbous"}});
        return config;
    }
    if (object == "clouds_per_day") {
        json config = setting("Wolken pro Tag", "{{ value_json.clouds_per_day }}");
        config.update(NumberRange(kCloudCountRange, nullptr));
        return config;
    }
    if (object == "cloud_seconds") {
        json config = setting("Dauer einer Wolke", "{{ value_json.cloud_seconds }}");
        config.update(NumberRange(kCloudSecondsRange, "s"));
        return config;
    }
    if (object == "storms_per_day") {
        json config = setting("Gewitter pro Tag", "{{ value_json.storms_per_day }}");
        config.update(NumberRange(kStormCountRange, nullptr));
        return config;
    }
    if (object == "storm_minutes") {
        json config = setting("Dauer eines Gewitters", "{{ value_json.storm_minutes }}");
        config.update(NumberRange(kStormMinutesRange, "min"));
        return config;
    }
    if (object == kWaterAlarm || object == kSupplyAlarm || object == kMissingAlarm) {
        const char* name = object == kWaterAlarm    ? "Temperaturalarm"
                           : object == kSupplyAlarm ? "Spannungsalarm"
                                                    : "Board nicht erreichbar";
        return {{"name", name},
                {"state_topic", topics.EntityState(id, object)},
                {"device_class", "problem"},
                {"payload_on", "ON"},
                {"payload_off", "OFF"},
                {"entity_category", "diagnostic"}};
    }
    if (object == kSunrise || object == kSunset) {
        // Home Assistant shows a null timestamp as unknown (a polar day or night).
        const std::string key = object == kSunrise ? "sunrise_utc" : "sunset_utc";
        json config = reading(object == kSunrise ? "Sonnenaufgang" : "Sonnenuntergang", "");
        config["value_template"] = "{{ value_json.sun." + key +
                                   " if value_json.sun is defined and value_json.sun and " + "value_json.sun." + key +
                                   " else None }}";
        config["device_class"] = "timestamp";
        config["icon"] = object == kSunrise ? "mdi:weather-sunset-up" : "mdi:weather-sunset-down";
        return config;
    }
    const char* name = object == "sync_clock" ? "Uhr stellen" : "Einstellungen im EEPROM speichern";
    return {{"name", name},
            {"command_topic", topics.Command(id, object)},
            {"payload_press", "PRESS"},
            {"entity_category", "config"}};
}

}  // namespace

std::vector<Message> DiscoveryConfigs(const Topics& topics, const DeviceFacts& facts) {
    json device = {{"identifiers", {"quelvan_" + facts.id}},
                   {"name", "Quelvan " + facts.serial},
                   {"manufacturer", facts.manufacturer},
                   {"model", "Quelvan 2.x"},
                   {"sw_version", std::to_string(facts.firmwareVersion)},
                   {"serial_number", facts.serial}};
    if (!facts.configurationUrl.empty()) device["configuration_url"] = facts.configurationUrl;
    const json origin = {
        {"name", "quelvand"}, {"sw_version", std::string(kQuelvanVersion)}, {"support_url", "http://www.dravik.info"}};
    // Both the board and the service holding it must be there for an entity to be usable.
    const json availability =
        json::array({{{"topic", topics.Availability(facts.id)}}, {{"topic", topics.ServiceAvailability()}}});

    std::vector<Message> messages;
    for (const EntityKind& entity : Entities()) {
        if (!facts.sun && (entity.objectId == kSunrise || entity.objectId == kSunset)) {
            messages.push_back({topics.Config(entity.component, facts.id, entity.objectId), ""});
            continue;
        }
        json config = EntityConfig(topics, facts, entity);
        config["unique_id"] = "quelvan_" + facts.id + "_" + entity.objectId;
        config["device"] = device;
        config["origin"] = origin;
        // The board missing is told while the board is gone: only the service's own availability.
        config["availability"] =
            entity.objectId == kMissingAlarm ? json::array({{{"topic", topics.ServiceAvailability()}}}) : availability;
        // A sensor without a sensor behind it is unavailable, not 3276.7 °C.
        if (entity.objectId == kWaterTemperature)
            config["availability"].push_back({{"topic", topics.EntityAvailability(facts.id, entity.objectId)}});
        config["availability_mode"] = "all";
        if (config.contains("command_topic")) config["qos"] = 1;
        messages.push_back({topics.Config(entity.component, facts.id, entity.objectId), config.dump()});
    }
    return messages;
}

std::vector<std::string> RetainedTopicsOfBoard(const Topics& topics, const std::string& id) {
    std::vector<std::string> list;
    for (const EntityKind& entity : Entities()) {
        list.push_back(topics.Config(entity.component, id, entity.objectId));
        if (entity.component == Component::Light || entity.component == Component::BinarySensor)
            list.push_back(topics.EntityState(id, entity.objectId));
    }
    list.push_back(topics.EntityAvailability(id, kWaterTemperature));
    list.push_back(topics.State(id));
    list.push_back(topics.Availability(id));
    return list;
}

}  // namespace quelvan::service::mqtt
