#include "mqtt/mqtt_forget.h"

#include <nlohmann/json.hpp>

#include "mqtt/mqtt_discovery.h"
#include "mqtt/mqtt_state.h"

namespace quelvan::service::mqtt {

namespace {

using nlohmann::json;

std::string Held(const std::map<std::string, std::string>& held, const std::string& topic) {
    const auto it = held.find(topic);
    return it == held.end() ? std::string() : it->second;
}

// The service the board belongs to (its client id, reduced to a topic id): what its state
// says, else the service availability its configs list. Empty when nothing tells.
std::string OwnerOf(const Topics& topics, const std::string& id, const std::map<std::string, std::string>& held) {
    const json state = ParsePayload(Held(held, topics.State(id)));
    if (state.is_object()) {
        const auto service = state.find("service");
        if (service != state.end() && service->is_string() && !service->get<std::string>().empty())
            return TopicId(service->get<std::string>());
    }
    for (const auto& [topic, payload] : held) {
        const json config = ParsePayload(payload);
        if (!config.is_object() || !config.contains("availability") || !config["availability"].is_array()) continue;
        for (const json& entry : config["availability"]) {
            if (!entry.is_object() || !entry.contains("topic") || !entry["topic"].is_string()) continue;
            if (auto client = topics.ParseServiceAvailability(entry["topic"].get<std::string>())) return *client;
        }
    }
    return {};
}

}  // namespace

ForgetVerdict JudgeForget(const Topics& topics, const std::string& serial,
                          const std::map<std::string, std::string>& held, bool force) {
    const std::string id = TopicId(serial);
    ForgetVerdict verdict;
    for (const std::string& topic : RetainedTopicsOfBoard(topics, id))
        if (!Held(held, topic).empty()) verdict.topics.push_back(topic);
    if (verdict.topics.empty()) {
        verdict.refusal = "the broker holds nothing for board " + serial + " (is the serial number right?)";
        return verdict;
    }
    const std::string owner = OwnerOf(topics, id, held);
    const std::string self = TopicId(topics.ClientId());
    const std::string by = owner.empty() ? std::string() : " (held by the service " + owner + ")";
    if (!force && Held(held, topics.Availability(id)) == "online") {
        verdict.refusal = "board " + serial + " is online" + by +
                          "; only a board that is gone can be forgotten (--force if its service is gone for good)";
        return verdict;
    }
    if (!force && !owner.empty() && owner != self) {
        verdict.refusal = "board " + serial + " belongs to the service " + owner + ", not to this one (" + self +
                          "); if that service is gone for good, use --force";
        return verdict;
    }
    verdict.ok = true;
    return verdict;
}

}  // namespace quelvan::service::mqtt
