#pragma once
// What the tests through a real broker share: a quelvand on simulated boards speaking to a
// mosquitto of the test's own, and a client standing in for Home Assistant.

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "board_fixture.h"
#include "mqtt_helpers.h"
#include "service_process.h"

namespace quelvan::testing {

using nlohmann::json;

inline constexpr const char* kSerial = "QV2-000123";
inline constexpr const char* kClientId = "quelvand-test";
inline const std::string kBase = std::string("quelvan/") + kSerial;

inline std::vector<std::string> ObjectIds() {
    std::vector<std::string> ids;
    for (char c = 'a'; c <= 'l'; ++c) ids.push_back(std::string("channel_") + c);
    for (const char* id : {"mode", "water_temperature", "supply_voltage", "moon_phase", "clouds_per_day",
                           "cloud_seconds", "storms_per_day", "storm_minutes", "sync_clock", "save_eeprom",
                           "water_alarm", "supply_alarm", "missing_alarm"})
        ids.push_back(id);
    return ids;
}

inline std::string ComponentOf(const std::string& objectId) {
    if (objectId.rfind("channel_", 0) == 0) return "light";
    if (objectId == "mode") return "select";
    if (objectId == "water_temperature" || objectId == "supply_voltage" || objectId == "moon_phase") return "sensor";
    if (objectId == "sync_clock" || objectId == "save_eeprom") return "button";
    if (objectId.size() > 6 && objectId.substr(objectId.size() - 6) == "_alarm") return "binary_sensor";
    return "number";
}

inline std::string ConfigTopic(const std::string& id, const std::string& objectId) {
    return "homeassistant/" + ComponentOf(objectId) + "/" + id + "/" + objectId + "/config";
}

inline json Parsed(const std::optional<MqttMessage>& message) {
    return message ? json::parse(message->payload, nullptr, false) : json();
}

inline void SetPlugged(const std::string& state, bool plugged) {
    sim::SimulatedHidBackend board;
    std::string error;
    ASSERT_TRUE(board.SetStateFile(state, &error)) << error;
    plugged ? board.Plug() : board.Unplug();
}

inline int SetTransfers(const std::vector<TraceLine>& trace) {
    int sets = 0;
    for (const TraceLine& t : trace) sets += t.isSet;
    return sets;
}

class ThroughTheBroker : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(broker_.Running()) << "mosquitto did not start";
        WriteBoardState(state_, [](sim::SimulatedHidBackend& b) {
            b.Board().Config().Mode = 0;
            b.Board().Config().ColorName.fill(0);
            b.Board().Config().ColorName[2] = 8;  // "Warmweiß"
            for (int n = 0; n < 12; ++n)
                b.Board().Live().ChannelValue[static_cast<std::size_t>(n)] = static_cast<std::int16_t>(n * 100);
        });
    }
    void TearDown() override {
        if (!service_ || !service_->Running()) return;
        std::string log;
        EXPECT_EQ(service_->Stop(&log), 0) << log;
    }

    std::string MqttSection(const std::string& more = {}, const std::string& clientId = kClientId) const {
        return "[mqtt]\nhost = 127.0.0.1\nport = " + std::to_string(broker_.Port()) + "\nclient_id = " + clientId +
               "\n" + more;
    }
    // Another service on the same broker, with a client id and boards of its own.
    std::unique_ptr<ServiceProcess> OtherService(const std::vector<std::string>& stateFiles,
                                                 const std::string& clientId) {
        ServiceProcess::Options options;
        options.stateFiles = stateFiles;
        options.pollMs = 200;
        options.moreConfig = MqttSection({}, clientId);
        auto service = std::make_unique<ServiceProcess>(options);
        EXPECT_TRUE(service->Running());
        return service;
    }
    void StartService(std::vector<std::string> stateFiles = {}, const std::string& more = {}) {
        ServiceProcess::Options options;
        options.stateFiles = stateFiles.empty() ? std::vector<std::string>{state_} : std::move(stateFiles);
        options.pollMs = 200;
        options.moreConfig = MqttSection(more);
        options.traceFile = trace_;
        service_ = std::make_unique<ServiceProcess>(options);
        ASSERT_TRUE(service_->Running());
    }
    std::unique_ptr<MqttTestClient> HomeAssistant(MqttClientSetup setup = {}) {
        auto client = std::make_unique<MqttTestClient>(broker_.Port(), setup);
        EXPECT_TRUE(client->Connected());
        client->Subscribe("homeassistant/#");
        client->Subscribe("quelvan/#");
        return client;
    }
    // Every entity's config of the board has come (and, when `fresh`, as a new publication,
    // not as a retained copy from before).
    bool WaitForDiscovery(MqttTestClient& client, const std::string& id = kSerial, bool fresh = false) {
        return client.WaitUntil([&] {
            for (const std::string& object : ObjectIds()) {
                const auto m = client.Last(ConfigTopic(id, object));
                if (!m || m->payload.empty() || (fresh && m->retained)) return false;
            }
            return true;
        });
    }
    // A command's effect, as the light's state reports it.
    bool WaitForChannel(MqttTestClient& client, const std::string& id, char letter, int brightness) {
        const std::string topic = "quelvan/" + id + "/channel_" + letter + "/state";
        return client.WaitUntil([&] {
            // Not yet the awaited state is no answer: a key may be missing until then.
            const json state = Parsed(client.Last(topic));
            if (!state.is_object()) return false;
            return brightness == 0 ? state.value("state", "") == "OFF" : state.value("brightness", -1) == brightness;
        });
    }
    std::vector<TraceLine> Trace() const { return ParseTrace(ReadLines(trace_)); }

    ScratchDir dir_;
    const std::string state_ = dir_.File("board.state");
    const std::string trace_ = dir_.File("trace.txt");
    MqttBroker broker_;
    std::unique_ptr<ServiceProcess> service_;
};

}  // namespace quelvan::testing
