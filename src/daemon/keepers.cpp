#include "daemon/keepers.h"

#include "daemon/alarm_keeper.h"
#include "daemon/clock_keeper.h"
#include "daemon/history_keeper.h"
#include "daemon/sun_keeper.h"
#include "mqtt/mqtt_service.h"
#include "service/board_owner.h"
#include "service/client_handler.h"
#include "web/web_server.h"

namespace quelvan::service {

namespace {

nlohmann::json AlarmList(const AlarmKeeper& alarms) {
    nlohmann::json list = nlohmann::json::array();
    for (const RaisedAlarm& a : alarms.Raised()) list.push_back(AlarmJson(a));
    return list;
}

}  // namespace

Keepers::Keepers(const ServiceConfig& config, const Clock& clock) : config_(config), clock_(clock) {}

Keepers::~Keepers() = default;

void Keepers::Adjust(OwnerOptions& options) const {
    // A change made at the board itself reaches the history only through a read of the settings.
    if (config_.history.keep && options.pollMs > 0 && options.configPollMs == 0)
        options.configPollMs = config_.service.configPollMs;
}

void Keepers::Start(BoardOwner& owner) {
    // All of them work on what the poll reads.
    if (owner.Options().pollMs <= 0) return;
    if (config_.service.clockSync)
        clockKeeper_ = std::make_unique<ClockKeeper>(owner, clock_, config_.service.clockToleranceS);
    alarms_ = std::make_unique<AlarmKeeper>(owner, clock_, config_.alarm);
    if (config_.history.keep) {
        historyStore_ = std::make_unique<HistoryStore>(config_.history.folder.empty() ? DefaultHistoryFolder()
                                                                                      : config_.history.folder);
        history_ = std::make_unique<HistoryKeeper>(owner, clock_, *historyStore_);
    }
    if (config_.sun.follow) sun_ = std::make_unique<SunKeeper>(owner, clock_, config_.sun);
}

void Keepers::Attach(BridgeHooks& hooks, MqttService& mqtt, WebServer* web) {
    if (sun_) AttachSun(mqtt, web);
    if (history_)
        hooks.history = [this](const std::string& op, const nlohmann::json& request, BridgeHooks::Answer answer) {
            history_->Handle(op, request, std::move(answer));
        };
    if (!alarms_) return;
    AlarmKeeper* alarms = alarms_.get();
    hooks.alarms = [alarms] { return AlarmList(*alarms); };
    mqtt.SetAlarmState([alarms](const std::string& serial) {
        return nlohmann::json{{"water", alarms->IsRaised(serial, AlarmKind::Water)},
                              {"supply", alarms->IsRaised(serial, AlarmKind::Supply)},
                              {"missing", alarms->IsRaised(serial, AlarmKind::Missing)}};
    });
    if (web) web->alarms = [alarms] { return AlarmList(*alarms); };
    QObject::connect(alarms, &AlarmKeeper::AlarmsChanged, alarms, [&mqtt, web](const QString& serial) {
        mqtt.AlarmsChanged(serial.toStdString());
        if (web) web->AlarmsChanged();
    });
}

void Keepers::AttachSun(MqttService& mqtt, WebServer* web) {
    SunKeeper* sun = sun_.get();
    auto state = [sun](const std::string& serial) -> std::optional<nlohmann::json> {
        if (!sun->Follows(serial)) return std::nullopt;
        const std::optional<SunToday> today = sun->Today(serial);
        return today ? SunJson(*today) : nlohmann::json(nullptr);
    };
    mqtt.SetSunState(state);
    if (web) web->SetSunState(state);
    QObject::connect(sun, &SunKeeper::TodayChanged, sun, [&mqtt, web](const QString& serial) {
        mqtt.SunChanged(serial.toStdString());
        if (web) web->SunChanged(serial.toStdString());
    });
}

}  // namespace quelvan::service
