// The MQTT bridge under any bytes on any of its topics: every command topic of a board held
// by the owner on a simulated board, another board's, Home Assistant's status, the service's
// own list of boards and a board's state, with the connection dropping and the board leaving
// in between. A command the rules refuse sends nothing to the board; one they take sends what
// the window would send for it; the bridge never publishes on a command topic, never retained
// an empty topic level, and every state it publishes is JSON.
//
// Input: a sequence of messages, each
//   topic (byte % number of topics), flags (bit 0 retained, bit 1 drop and restore the
//   connection first, bit 2 the board leaves or comes back first), length (2 bytes, low
//   first), payload bytes.

#include <QCoreApplication>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "mqtt/mqtt_bridge.h"
#include "mqtt/mqtt_commands.h"
#include "service/board_owner.h"
#include "simulator/simulated_backend.h"

namespace {

using quelvan::service::mqtt::Command;

constexpr const char* kBase = "quelvan/QV2-000123/";

class RecordingTransport final : public quelvan::service::MqttTransport {
public:
    bool connected = true;
    bool Connected() const override { return connected; }
    int Publish(const std::string& topic, const std::string& payload, int qos, bool retain) override {
        FUZZ_CHECK(connected);
        FUZZ_CHECK(qos == 0 || qos == 1);
        FUZZ_CHECK(topic.find_first_of("+#") == std::string::npos && topic.find("//") == std::string::npos);
        FUZZ_CHECK(topic.size() < 4 || topic.compare(topic.size() - 4, 4, "/set") != 0);
        if (topic.size() > 6 && topic.compare(topic.size() - 6, 6, "/state") == 0 && !payload.empty())
            FUZZ_CHECK(!nlohmann::json::parse(payload, nullptr, false).is_discarded());
        (void)retain;
        return ++lastId;
    }
    bool Subscribe(const std::string&, int) override { return connected; }
    bool Unsubscribe(const std::string&) override { return connected; }
    int lastId = 0;
};

std::vector<std::string> Topics() {
    std::vector<std::string> topics;
    for (char c = 'a'; c <= 'l'; ++c) topics.push_back(kBase + std::string("channel_") + c + "/set");
    for (const char* object : {"mode", "water_temperature", "supply_voltage", "moon_phase", "clouds_per_day",
                               "cloud_seconds", "storms_per_day", "storm_minutes", "sync_clock", "save_eeprom"})
        topics.push_back(kBase + std::string(object) + "/set");
    topics.insert(topics.end(), {"quelvan/QV2-999999/channel_a/set", "homeassistant/status",
                                 "quelvan/service/quelvand-fuzz/boards", "quelvan/QV2-000123/state",
                                 "quelvan/QV2-000456/state", "quelvan/QV2-000123/a/b/set", "quelvan//mode/set"});
    return topics;
}

std::string ObjectOf(const std::string& topic) {
    if (topic.rfind(kBase, 0) != 0 || topic.size() < 4 || topic.compare(topic.size() - 4, 4, "/set") != 0) return {};
    const std::string object = topic.substr(std::string(kBase).size(), topic.size() - 4 - std::string(kBase).size());
    return object.find('/') == std::string::npos ? object : std::string();
}

// What the window writes for the command, as report ids of the set transfers.
void CheckSets(const Command& command, const std::vector<quelvan::sim::SimTransfer>& sets, bool wasManual) {
    std::vector<int> ids;
    for (const auto& t : sets) ids.push_back(t.bytes.at(0));
    const std::vector<int> config = {2, 4, 5, 6};
    switch (command.kind) {
        case Command::Kind::Channel: {
            std::vector<int> expected = wasManual ? std::vector<int>{} : config;
            expected.push_back(1);
            FUZZ_CHECK(ids == expected);
            const auto& live = sets.back().bytes;
            const std::size_t at = 13 + 2 * static_cast<std::size_t>(command.channel);
            FUZZ_CHECK((live[at] | live[at + 1] << 8) == command.value);
            FUZZ_CHECK(live[7] == 255 && live[11] == 255);
            if (!wasManual) FUZZ_CHECK(sets.front().bytes[1] == 0);
            break;
        }
        case Command::Kind::Mode:
            FUZZ_CHECK(ids == config && sets.front().bytes[1] == command.value);
            break;
        case Command::Kind::CloudsPerDay:
        case Command::Kind::CloudSeconds:
        case Command::Kind::StormsPerDay:
        case Command::Kind::StormMinutes:
            FUZZ_CHECK(ids == config);
            break;
        case Command::Kind::SyncClock:
            FUZZ_CHECK(ids == std::vector<int>{1} && sets.front().bytes[7] != 255);
            break;
        case Command::Kind::SaveEEPROM:
            FUZZ_CHECK(ids == std::vector<int>{3} && sets.front().bytes.size() == 28 && sets.front().bytes[1] == 255);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    static const std::vector<std::string> topics = Topics();
    quelvan::sim::SimulatedHidBackend backend;
    backend.Board().SetFrozen(true);
    const quelvan::SystemClock clock;
    quelvan::service::OwnerOptions options;
    options.pollMs = 60000;  // read at arrival; the poll itself never comes during one input
    quelvan::service::BoardOwner owner(backend, clock, options);
    owner.Start();
    RecordingTransport transport;
    transport.connected = false;  // as in quelvand: the connection comes after the bridge
    quelvan::service::BridgeOptions bridgeOptions;
    bridgeOptions.clientId = "quelvand-fuzz";
    quelvan::service::MqttBridge bridge(owner, transport, bridgeOptions);
    transport.connected = true;
    bridge.OnConnected();

    bool present = true;
    // A few dozen messages say all there is to say; more only cost time.
    int messages = 0;
    for (std::size_t i = 0; i + 4 <= size && ++messages <= 48;) {
        const std::string& topic = topics[data[i] % topics.size()];
        const std::uint8_t flags = data[i + 1];
        const std::size_t length = std::min<std::size_t>(data[i + 2] | data[i + 3] << 8, size - i - 4);
        const std::string payload(reinterpret_cast<const char*>(data + i + 4), length);
        i += 4 + length;
        if (flags & 2) {
            transport.connected = false;
            bridge.OnDisconnected();
            transport.connected = true;
            bridge.OnConnected();
        }
        if (flags & 4) {
            present ? backend.Unplug() : backend.Plug();
            present = !present;
            owner.ProcessDeviceChanges();
        }
        const bool retained = flags & 1;
        const bool wasManual = backend.Board().Config().Mode == 0;
        backend.ClearTransfers();
        bridge.OnMessage(topic, payload, retained);
        QCoreApplication::processEvents();
        std::vector<quelvan::sim::SimTransfer> sets;
        for (const quelvan::sim::SimTransfer& t : backend.Transfers())
            if (t.isSet) sets.push_back(t);

        const std::string object = ObjectOf(topic);
        const auto parsed = quelvan::service::mqtt::ParseCommand(object, payload, retained);
        if (object.empty() || !parsed.command || !present) {
            FUZZ_CHECK(sets.empty());
        } else {
            CheckSets(*parsed.command, sets, wasManual);
        }
        FUZZ_CHECK(bridge.QueuedCommands() == 0);
    }
    return 0;
}
