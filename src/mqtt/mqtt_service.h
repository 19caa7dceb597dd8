#pragma once
// quelvand's MQTT part as one piece: the broker connection and the bridge, set up from the
// [mqtt] section, with what the socket answers about them (status, forget).

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "mqtt/mqtt_settings.h"
#include "service/board_owner.h"
#include "service/client_handler.h"

namespace quelvan::service {

class MqttBridge;
class MqttClient;

class MqttService {
public:
    explicit MqttService(BoardOwner& owner);
    ~MqttService();
    MqttService(const MqttService&) = delete;
    MqttService& operator=(const MqttService&) = delete;

    // Connects (asynchronously) when the section has a host; false with the reason when the
    // settings cannot be used (a password file or CA file that cannot be read).
    // `pageUrl`: the web page, linked from each board's device in Home Assistant; empty: none.
    bool Start(const MqttSection& settings, const std::string& pageUrl, std::string* error);
    // Boards and service offline, goodbye to the broker.
    void Stop();

    bool Enabled() const { return client_ != nullptr; }
    nlohmann::json Status() const;
    BridgeHooks Hooks();
    // One line for systemd's status.
    std::string StatusLine() const;
    // The alarms (alarm_keeper.h) published with each board; see MqttBridge::alarmState.
    void SetAlarmState(std::function<nlohmann::json(const std::string& serial)> state);
    void AlarmsChanged(const std::string& serial);
    // The day from the sun (sun_keeper.h) published with each board; see MqttBridge::sunState.
    void SetSunState(std::function<std::optional<nlohmann::json>(const std::string& serial)> state);
    void SunChanged(const std::string& serial);
    // Called when the broker connection comes or goes.
    std::function<void()> onConnectionChanged;

private:
    BoardOwner& owner_;
    std::unique_ptr<MqttClient> client_;
    std::unique_ptr<MqttBridge> bridge_;
    MqttSection settings_;
};

}  // namespace quelvan::service
