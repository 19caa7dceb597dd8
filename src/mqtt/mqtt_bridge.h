#pragma once
// Brings every board the owner holds to an MQTT broker, with Home Assistant's discovery:
// one device per board, its state and availability retained, its commands run inside a
// session of the owner on records read afresh (never a write of what was not just read).
//
// Robust to restarts: everything is published again whenever the connection comes back
// and when Home Assistant announces itself on <prefix>/status; the service's will marks it
// offline when it dies; a board that went while the service was down is marked offline
// when the service finds it in its own retained list of boards and the board's retained
// state says this service held it. Configs of a held board that someone else empties are
// published again.
//
// Several boards with one serial number cannot share its topics: the first one held is
// published, the others are left out (and named in the log).

#include <QObject>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mqtt/mqtt_commands.h"
#include "mqtt/mqtt_discovery.h"
#include "mqtt/mqtt_topics.h"
#include "mqtt/mqtt_transport.h"
#include "service/board_owner.h"

class QTimer;

namespace quelvan::service {

struct BridgeOptions {
    std::string discoveryPrefix = "homeassistant";
    std::string baseTopic = "quelvan";
    std::string clientId = "quelvand";
    std::string configurationUrl;  // a page of the board to link from Home Assistant; empty: none
    // Home Assistant asks for the configs again after its restart; they follow after this
    // delay plus a random part of the spread, so that many services do not answer at once.
    int rediscoveryDelayMs = 500;
    int rediscoverySpreadMs = 1000;
    std::size_t maxQueuedCommands = 32;
    int forgetTimeoutMs = 10000;
};

class MqttBridge : public QObject {
    Q_OBJECT
public:
    MqttBridge(BoardOwner& owner, MqttTransport& transport, BridgeOptions options, QObject* parent = nullptr);
    ~MqttBridge() override;

    // From the transport.
    void OnConnected();
    void OnDisconnected();
    void OnMessage(const std::string& topic, const std::string& payload, bool retained);
    void OnPublished(int messageId);

    // Removes a board that is gone for good from Home Assistant: an empty retained message on
    // each of its topics that holds something. First the broker's retained messages of the
    // board are looked at (JudgeForget decides), then emptied. `done` runs once the broker
    // has confirmed them all, or with the reason it was refused or failed.
    using ForgetDone = std::function<void(bool ok, const std::string& error, int topics)>;
    void Forget(const std::string& serial, bool force, ForgetDone done);
    // Before a clean stop: the boards and the service itself offline.
    void PublishOffline();

    const mqtt::Topics& Topics() const { return topics_; }
    // Serial numbers of the boards announced online now.
    std::vector<std::string> OnlineBoards() const;
    std::size_t QueuedCommands() const { return commands_.size(); }

    // The alarms of a board, {"water", "supply", "missing"} as booleans, added to its state
    // and published on the alarms' entities; unset: no alarms are published.
    std::function<nlohmann::json(const std::string& serial)> alarmState;
    // A board's alarms changed (also a board that is gone).
    void AlarmsChanged(const std::string& serial);
    // The day from the sun a board runs (daemon/sun_keeper.h): none for a board that does not
    // follow it (no sensors are announced), else added to its state as "sun" (null before
    // its first program). Unset: none for every board.
    std::function<std::optional<nlohmann::json>(const std::string& serial)> sunState;
    void SunChanged(const std::string& serial);

private:
    struct Board {
        std::string device, serial, id;
        bool announced = false;  // configs and "online" sent on this connection
        std::optional<mqtt::DeviceFacts> facts;
        std::map<std::string, std::string> sent;  // retained topic -> what was published last
        bool emptied = false;                     // someone emptied its configs: publish again
    };
    struct Queued {
        std::string serial, topic;
        mqtt::Command command;
    };
    // A forget in progress: first looking at what the broker holds, then emptying it.
    struct Forgetting {
        int key = 0;
        std::string serial, id;
        bool force = false;
        bool judging = true;
        std::set<std::string> topics;             // the board's retained topics
        std::map<std::string, std::string> held;  // those the broker holds, with their payload
        std::set<int> waiting;                    // emptying: messages not yet confirmed
        int emptied = 0;
        ForgetDone done;
    };
    Forgetting* ForgettingWithKey(int key);
    void FinishForget(int key, bool ok, const std::string& error);
    void JudgeForgetting(Forgetting& forgetting);
    bool TakeForgetMessage(const std::string& topic, const std::string& payload, bool retained);
    void WatchOwnTopics(const Board& board, bool watch);
    void RepublishEmptied();
    bool IsSunConfig(const std::string& topic, const std::string& id) const;

    void SyncDevices();
    void OnStateChanged(const QString& device);
    void Announce(Board& board, const mqtt::DeviceFacts& facts);
    void PublishState(Board& board, const HeldDevice& held);
    void PublishAlarms(const std::string& serial, const nlohmann::json& alarms, Board* board);
    void PublishChanged(Board& board, const std::string& topic, const std::string& payload, int qos);
    void PublishRegistry();
    void RepublishAll();
    void HandleCommand(const mqtt::Topics::CommandTopic& target, const std::string& topic, const std::string& payload,
                       bool retained);
    void HandleRegistry(const std::string& payload);
    void HandleStaleState(const std::string& id, const std::string& payload);
    void RunNextCommand();
    Board* BoardWithId(const std::string& id);
    std::optional<mqtt::DeviceFacts> FactsOf(const HeldDevice& held) const;

    BoardOwner& owner_;
    MqttTransport& transport_;
    BridgeOptions options_;
    mqtt::Topics topics_;
    std::map<std::string, Board> boards_;  // by the owner's device identity
    std::set<std::string> warnedDevices_;
    std::set<std::string> sharedSerialWarned_;
    // By serial number: each channel's last value above 0, for "ON" without a brightness.
    std::map<std::string, std::array<int, kChannelCount>> lastOn_;
    std::deque<Queued> commands_;
    bool commandRunning_ = false;
    bool nextQueued_ = false;
    std::string registrySent_;
    std::set<std::string> staleChecks_;  // ids whose retained state is being looked at
    std::vector<std::unique_ptr<Forgetting>> forgetting_;
    int lastForgetKey_ = 0;
    QTimer* rediscovery_ = nullptr;
    QTimer* republish_ = nullptr;
};

}  // namespace quelvan::service
