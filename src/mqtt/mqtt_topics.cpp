#include "mqtt/mqtt_topics.h"

#include <unistd.h>

#include <array>

namespace quelvan::service::mqtt {

std::string TopicId(std::string_view text) {
    std::string id(text);
    for (char& c : id) {
        const bool kept =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!kept) c = '_';
    }
    return id;
}

std::string DefaultClientId() {
    std::array<char, 256> host{};
    if (::gethostname(host.data(), host.size() - 1) != 0 || host[0] == '\0') return "quelvand";
    return "quelvand-" + std::string(host.data());
}

const char* ComponentName(Component component) {
    switch (component) {
        case Component::Light:
            return "light";
        case Component::Select:
            return "select";
        case Component::Sensor:
            return "sensor";
        case Component::Number:
            return "number";
        case Component::Button:
            return "button";
        case Component::BinarySensor:
            return "binary_sensor";
    }
    return "";
}

const std::vector<EntityKind>& Entities() {
    static const std::vector<EntityKind> entities = [] {
        static const char* const channels[] = {"channel_a", "channel_b", "channel_c", "channel_d",
                                               "channel_e", "channel_f", "channel_g", "channel_h",
                                               "channel_i", "channel_j", "channel_k", "channel_l"};
        std::vector<EntityKind> list;
        for (const char* channel : channels) list.push_back({channel, Component::Light});
        list.insert(list.end(), {{"mode", Component::Select},
                                 {"water_temperature", Component::Sensor},
                                 {"supply_voltage", Component::Sensor},
                                 {"moon_phase", Component::Sensor},
                                 {"clouds_per_day", Component::Number},
                                 {"cloud_seconds", Component::Number},
                                 {"storms_per_day", Component::Number},
                                 {"storm_minutes", Component::Number},
                                 {"sync_clock", Component::Button},
                                 {"save_eeprom", Component::Button},
                                 {"water_alarm", Component::BinarySensor},
                                 {"supply_alarm", Component::BinarySensor},
                                 {"missing_alarm", Component::BinarySensor},
                                 {"sunrise", Component::Sensor},
                                 {"sunset", Component::Sensor}});
        return list;
    }();
    return entities;
}

std::string ChannelObjectId(int channel) {
    return Entities().at(static_cast<std::size_t>(channel)).objectId;
}

std::optional<int> ChannelOfObjectId(std::string_view objectId) {
    for (int n = 0; n < 12; ++n)
        if (objectId == Entities()[static_cast<std::size_t>(n)].objectId) return n;
    return std::nullopt;
}

Topics::Topics(std::string discoveryPrefix, std::string base, std::string clientId)
    : prefix_(std::move(discoveryPrefix)), base_(std::move(base)), clientId_(std::move(clientId)) {}

std::string Topics::State(const std::string& id) const {
    return base_ + "/" + id + "/state";
}

std::string Topics::Availability(const std::string& id) const {
    return base_ + "/" + id + "/availability";
}

std::string Topics::EntityState(const std::string& id, std::string_view objectId) const {
    return base_ + "/" + id + "/" + std::string(objectId) + "/state";
}

std::string Topics::EntityAvailability(const std::string& id, std::string_view objectId) const {
    return base_ + "/" + id + "/" + std::string(objectId) + "/availability";
}

std::string Topics::Command(const std::string& id, std::string_view objectId) const {
    return base_ + "/" + id + "/" + std::string(objectId) + "/set";
}

std::string Topics::Config(Component component, const std::string& id, std::string_view objectId) const {
    return prefix_ + "/" + ComponentName(component) + "/" + id + "/" + std::string(objectId) + "/config";
}

std::string Topics::ServiceAvailability() const {
    return base_ + "/service/" + TopicId(clientId_) + "/availability";
}

std::string Topics::ServiceBoards() const {
    return base_ + "/service/" + TopicId(clientId_) + "/boards";
}

std::string Topics::HomeAssistantStatus() const {
    return prefix_ + "/status";
}

std::string Topics::ServiceProbe() const {
    return base_ + "/service/" + TopicId(clientId_) + "/probe";
}

std::string Topics::BoardConfigs(const std::string& id) const {
    return prefix_ + "/+/" + id + "/+/config";
}

std::string Topics::BoardTopics(const std::string& id) const {
    return base_ + "/" + id + "/#";
}

std::optional<std::string> Topics::ParseServiceAvailability(std::string_view topic) const {
    const std::string head = base_ + "/service/";
    constexpr std::string_view tail = "/availability";
    if (topic.size() <= head.size() + tail.size() || topic.substr(0, head.size()) != head ||
        topic.substr(topic.size() - tail.size()) != tail)
        return std::nullopt;
    const std::string_view client = topic.substr(head.size(), topic.size() - head.size() - tail.size());
    if (client.find('/') != std::string_view::npos) return std::nullopt;
    return std::string(client);
}

std::string Topics::CommandFilter() const {
    return base_ + "/+/+/set";
}

std::optional<Topics::CommandTopic> Topics::ParseCommand(std::string_view topic) const {
    const std::string head = base_ + "/";
    constexpr std::string_view tail = "/set";
    if (topic.size() <= head.size() + tail.size() || topic.substr(0, head.size()) != head ||
        topic.substr(topic.size() - tail.size()) != tail)
        return std::nullopt;
    const std::string_view middle = topic.substr(head.size(), topic.size() - head.size() - tail.size());
    const std::size_t slash = middle.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 >= middle.size() ||
        middle.find('/', slash + 1) != std::string_view::npos)
        return std::nullopt;
    return CommandTopic{std::string(middle.substr(0, slash)), std::string(middle.substr(slash + 1))};
}

std::optional<std::string> Topics::ParseState(std::string_view topic) const {
    const std::string head = base_ + "/";
    constexpr std::string_view tail = "/state";
    if (topic.size() <= head.size() + tail.size() || topic.substr(0, head.size()) != head ||
        topic.substr(topic.size() - tail.size()) != tail)
        return std::nullopt;
    const std::string_view id = topic.substr(head.size(), topic.size() - head.size() - tail.size());
    if (id.find('/') != std::string_view::npos) return std::nullopt;
    return std::string(id);
}

}  // namespace quelvan::service::mqtt
