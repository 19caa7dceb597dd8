#include "mqtt/mqtt_service.h"

#include "mqtt/mqtt_bridge.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_topics.h"

namespace quelvan::service {

MqttService::MqttService(BoardOwner& owner) : owner_(owner) {}

MqttService::~MqttService() {
    bridge_.reset();
    client_.reset();
}

bool MqttService::Start(const MqttSection& settings, const std::string& pageUrl, std::string* error) {
    if (!settings.Enabled()) return true;
    settings_ = settings;
    MqttClientOptions options;
    options.host = settings.host;
    options.port = settings.Port();
    options.clientId = settings.clientId.empty() ? mqtt::DefaultClientId() : settings.clientId;
    options.username = settings.username;
    if (!settings.passwordFile.empty() && !ReadPasswordFile(settings.passwordFile, options.password, *error))
        return false;
    options.caFile = settings.caFile;
    options.keepalive = settings.keepalive;

    BridgeOptions bridgeOptions;
    bridgeOptions.discoveryPrefix = settings.discoveryPrefix;
    bridgeOptions.baseTopic = settings.baseTopic;
    bridgeOptions.clientId = options.clientId;
    bridgeOptions.configurationUrl = pageUrl;
    const mqtt::Topics topics(settings.discoveryPrefix, settings.baseTopic, options.clientId);
    // Said by the broker when the service dies without a goodbye (killed, crashed, cut off).
    options.willTopic = topics.ServiceAvailability();
    options.willPayload = "offline";

    client_ = std::make_unique<MqttClient>(options);
    bridge_ = std::make_unique<MqttBridge>(owner_, *client_, bridgeOptions);
    MqttBridge* bridge = bridge_.get();
    client_->onConnected = [this, bridge] {
        bridge->OnConnected();
        if (onConnectionChanged) onConnectionChanged();
    };
    client_->onDisconnected = [this, bridge] {
        bridge->OnDisconnected();
        if (onConnectionChanged) onConnectionChanged();
    };
    client_->onMessage = [bridge](const std::string& topic, const std::string& payload, bool retained) {
        bridge->OnMessage(topic, payload, retained);
    };
    client_->onPublished = [bridge](int mid) { bridge->OnPublished(mid); };
    if (!client_->Start(error)) {
        bridge_.reset();
        client_.reset();
        return false;
    }
    return true;
}

void MqttService::Stop() {
    if (!client_) return;
    bridge_->PublishOffline();
    client_->Close(2000);
}

nlohmann::json MqttService::Status() const {
    if (!client_) return {{"enabled", false}};
    const MqttClientOptions& o = client_->Options();
    nlohmann::json boards = nlohmann::json::array();
    for (const std::string& serial : bridge_->OnlineBoards()) boards.push_back(serial);
    return {{"enabled", true},
            {"broker", o.host + ":" + std::to_string(o.port)},
            {"tls", !o.caFile.empty()},
            {"client_id", o.clientId},
            {"connected", client_->Connected()},
            {"client_id_taken", client_->ClientIdTaken()},
            {"state", client_->StateText()},
            {"last_error", client_->LastError()},
            {"discovery_prefix", settings_.discoveryPrefix},
            {"base_topic", settings_.baseTopic},
            {"boards", boards}};
}

BridgeHooks MqttService::Hooks() {
    BridgeHooks hooks;
    hooks.mqttStatus = [this] { return Status(); };
    if (bridge_)
        hooks.forget = [this](const std::string& serial, bool force, BridgeHooks::ForgetDone done) {
            bridge_->Forget(serial, force, std::move(done));
        };
    return hooks;
}

std::string MqttService::StatusLine() const {
    if (!client_) return {};
    return "MQTT " + client_->StateText();
}

void MqttService::SetAlarmState(std::function<nlohmann::json(const std::string& serial)> state) {
    if (bridge_) bridge_->alarmState = std::move(state);
}

void MqttService::AlarmsChanged(const std::string& serial) {
    if (bridge_) bridge_->AlarmsChanged(serial);
}

void MqttService::SetSunState(std::function<std::optional<nlohmann::json>(const std::string& serial)> state) {
    if (bridge_) bridge_->sunState = std::move(state);
}

void MqttService::SunChanged(const std::string& serial) {
    if (bridge_) bridge_->SunChanged(serial);
}

}  // namespace quelvan::service
