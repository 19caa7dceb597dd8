#pragma once
// The keepers quelvand plugs onto the owner: the clock (clock_keeper.h), the alarms
// (alarm_keeper.h), the settings history (history_keeper.h) and the day from the sun
// (sun_keeper.h). Each is a listener on the
// owner that asks it for sessions, each switched on and off by its own configuration keys;
// this composes them and links what they tell to the socket, MQTT and the web page.

#include <memory>

#include "daemon/daemon_config.h"
#include "device/clock.h"

namespace quelvan::service {

class AlarmKeeper;
class BoardOwner;
class ClockKeeper;
class HistoryKeeper;
class HistoryStore;
class SunKeeper;
class MqttService;
class WebServer;
struct BridgeHooks;
struct OwnerOptions;

class Keepers {
public:
    Keepers(const ServiceConfig& config, const Clock& clock);
    ~Keepers();
    Keepers(const Keepers&) = delete;
    Keepers& operator=(const Keepers&) = delete;

    // What the keepers need the owner to read (the settings now and then, for the history).
    void Adjust(OwnerOptions& options) const;
    // Plugs the keepers that are on onto the owner.
    void Start(BoardOwner& owner);
    // Links them to the bridges: the socket's requests, MQTT and the page (null when off).
    void Attach(BridgeHooks& hooks, MqttService& mqtt, WebServer* web);

private:
    void AttachSun(MqttService& mqtt, WebServer* web);
    const ServiceConfig& config_;
    const Clock& clock_;
    std::unique_ptr<ClockKeeper> clockKeeper_;
    std::unique_ptr<AlarmKeeper> alarms_;
    std::unique_ptr<HistoryStore> historyStore_;
    std::unique_ptr<HistoryKeeper> history_;
    std::unique_ptr<SunKeeper> sun_;
};

}  // namespace quelvan::service
