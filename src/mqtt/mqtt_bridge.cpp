#include "mqtt/mqtt_bridge.h"

#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <nlohmann/json.hpp>

#include "mqtt/mqtt_state.h"
#include "service/service_log.h"

namespace quelvan::service {

namespace {

using nlohmann::json;

constexpr int kQos = 1;  // configs, availability and commands: confirmed by the broker
constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";
// Emptied topics come in a burst (a forget empties them all); one answer after it.
constexpr int kRepublishDelayMs = 1000;

bool Readable(const HeldDevice& held) {
    return held.role == DeviceRole::Board && held.liveValid && held.configValid &&
           held.live.FirmwareVersion == kSupportedFirmwareVersion;
}

}  // namespace

MqttBridge::MqttBridge(BoardOwner& owner, MqttTransport& transport, BridgeOptions options, QObject* parent)
    : QObject(parent),
      owner_(owner),
      transport_(transport),
      options_(std::move(options)),
      topics_(options_.discoveryPrefix, options_.baseTopic, options_.clientId) {
    rediscovery_ = new QTimer(this);
    rediscovery_->setSingleShot(true);
    connect(rediscovery_, &QTimer::timeout, this, &MqttBridge::RepublishAll);
    republish_ = new QTimer(this);
    republish_->setSingleShot(true);
    connect(republish_, &QTimer::timeout, this, &MqttBridge::RepublishEmptied);
    connect(&owner_, &BoardOwner::DevicesChanged, this, &MqttBridge::SyncDevices);
    connect(&owner_, &BoardOwner::StateChanged, this, &MqttBridge::OnStateChanged);
    SyncDevices();
}

MqttBridge::~MqttBridge() {
    for (auto& f : forgetting_) f->done(false, "the service is stopping", 0);
}

std::vector<std::string> MqttBridge::OnlineBoards() const {
    std::vector<std::string> serials;
    for (const auto& [device, board] : boards_)
        if (board.announced) serials.push_back(board.serial);
    return serials;
}

MqttBridge::Board* MqttBridge::BoardWithId(const std::string& id) {
    for (auto& [device, board] : boards_)
        if (board.id == id) return &board;
    return nullptr;
}

std::optional<mqtt::DeviceFacts> MqttBridge::FactsOf(const HeldDevice& held) const {
    if (!Readable(held)) return std::nullopt;
    mqtt::DeviceFacts facts;
    facts.id = mqtt::TopicId(held.serial);
    facts.serial = held.serial;
    facts.manufacturer = held.manufacturer;
    facts.firmwareVersion = held.live.FirmwareVersion;
    facts.colorNames = held.config.ColorName;
    facts.configurationUrl = options_.configurationUrl;
    facts.sun = sunState && sunState(held.serial).has_value();
    return facts;
}

// ---- boards coming, changing and going ----

void MqttBridge::SyncDevices() {
    // Boards already published first, so that a board sharing its serial number with one
    // that is published never takes its place.
    std::vector<const HeldDevice*> boards;
    for (const HeldDevice* held : owner_.Devices()) {
        if (held->role != DeviceRole::Board) continue;
        if (held->serial.empty()) {
            if (warnedDevices_.insert(held->device).second)
                LogWarning("MQTT: a board without a serial number at " + held->info.path + " is not published");
            continue;
        }
        boards.push_back(held);
    }
    std::stable_partition(boards.begin(), boards.end(),
                          [this](const HeldDevice* held) { return boards_.count(held->device) > 0; });
    std::set<std::string> present;
    std::map<std::string, const HeldDevice*> bySerial;
    for (const HeldDevice* held : boards) {
        const auto [first, fresh] = bySerial.try_emplace(mqtt::TopicId(held->serial), held);
        if (!fresh) {
            if (sharedSerialWarned_.insert(held->device).second)
                LogWarning("MQTT: boards at " + first->second->info.path + " and " + held->info.path +
                           " have the same serial number " + held->serial + "; only the first is published");
            continue;
        }
        sharedSerialWarned_.erase(held->device);
        present.insert(held->device);
    }
    for (auto it = sharedSerialWarned_.begin(); it != sharedSerialWarned_.end();)
        it = owner_.Find(*it) ? std::next(it) : sharedSerialWarned_.erase(it);
    bool changed = false;
    for (auto it = boards_.begin(); it != boards_.end();) {
        if (present.count(it->first)) {
            ++it;
            continue;
        }
        Board& gone = it->second;
        if (gone.announced && transport_.Connected()) {
            transport_.Publish(topics_.Availability(gone.id), kOffline, kQos, true);
            transport_.Unsubscribe(topics_.Command(gone.id, "+"));
            WatchOwnTopics(gone, false);
            changed = true;
        }
        it = boards_.erase(it);
    }
    for (const std::string& device : present) {
        if (boards_.count(device)) continue;
        const HeldDevice* held = owner_.Find(device);
        Board board;
        board.device = device;
        board.serial = held->serial;
        board.id = mqtt::TopicId(held->serial);
        boards_.emplace(device, std::move(board));
        OnStateChanged(QString::fromStdString(device));
    }
    if (changed) PublishRegistry();
}

void MqttBridge::OnStateChanged(const QString& deviceName) {
    const std::string device = deviceName.toStdString();
    auto it = boards_.find(device);
    if (it == boards_.end()) {
        // A board read at its arrival reports its state before its arrival is announced.
        const HeldDevice* held = owner_.Find(device);
        if (held && held->role == DeviceRole::Board && !held->serial.empty() && !sharedSerialWarned_.count(device))
            SyncDevices();
        return;
    }
    const HeldDevice* held = owner_.Find(device);
    if (!held || !transport_.Connected()) return;
    const std::optional<mqtt::DeviceFacts> facts = FactsOf(*held);
    if (!facts) {
        if (held->liveValid && held->live.FirmwareVersion != kSupportedFirmwareVersion &&
            warnedDevices_.insert(device).second)
            LogWarning("MQTT: board " + held->serial + " runs firmware version " +
                       std::to_string(held->live.FirmwareVersion) + ", not 4: not published");
        return;
    }
    Board& board = it->second;
    if (!board.announced || board.facts != facts) Announce(board, *facts);
    PublishState(board, *held);
}

void MqttBridge::Announce(Board& board, const mqtt::DeviceFacts& facts) {
    const bool first = !board.announced;
    for (const mqtt::Message& m : mqtt::DiscoveryConfigs(topics_, facts))
        transport_.Publish(m.topic, m.payload, kQos, true);
    transport_.Publish(topics_.Availability(board.id), kOnline, kQos, true);
    // Only the boards this service holds: with several services on one broker, each hears
    // only its own boards' commands.
    if (first) {
        transport_.Subscribe(topics_.Command(board.id, "+"), kQos);
        WatchOwnTopics(board, true);
    }
    board.announced = true;
    board.facts = facts;
    if (first) {
        LogInfo("MQTT: board " + board.serial + " announced");
        PublishRegistry();
    }
}

void MqttBridge::PublishChanged(Board& board, const std::string& topic, const std::string& payload, int qos) {
    auto [it, fresh] = board.sent.try_emplace(topic, payload);
    if (!fresh && it->second == payload) return;
    it->second = payload;
    transport_.Publish(topic, payload, qos, true);
}

void MqttBridge::PublishAlarms(const std::string& serial, const json& alarms, Board* board) {
    for (const auto& [object, key] : {std::pair{mqtt::kWaterAlarm, "water"}, std::pair{mqtt::kSupplyAlarm, "supply"},
                                      std::pair{mqtt::kMissingAlarm, "missing"}}) {
        const std::string topic = topics_.EntityState(mqtt::TopicId(serial), object);
        const char* payload = alarms.value(key, false) ? "ON" : "OFF";
        if (board)
            PublishChanged(*board, topic, payload, kQos);
        else if (transport_.Connected())
            transport_.Publish(topic, payload, kQos, true);
    }
}

void MqttBridge::AlarmsChanged(const std::string& serial) {
    if (!alarmState) return;
    for (auto& [device, board] : boards_) {
        if (board.serial != serial || !board.announced) continue;
        if (const HeldDevice* held = owner_.Find(device)) return PublishState(board, *held);
    }
    PublishAlarms(serial, alarmState(serial), nullptr);
}

void MqttBridge::SunChanged(const std::string& serial) {
    for (auto& [device, board] : boards_) {
        if (board.serial != serial || !board.announced) continue;
        if (const HeldDevice* held = owner_.Find(device)) return PublishState(board, *held);
    }
}

void MqttBridge::PublishState(Board& board, const HeldDevice& held) {
    json state =
        mqtt::BoardState(board.serial, topics_.ClientId(), held.live, held.config, held.stale, held.lastReadMs);
    if (alarmState) {
        state["alarms"] = alarmState(board.serial);
        PublishAlarms(board.serial, state["alarms"], &board);
    }
    if (sunState)
        if (std::optional<json> sun = sunState(board.serial)) state["sun"] = std::move(*sun);
    PublishChanged(board, topics_.State(board.id), state.dump(-1, ' ', false, json::error_handler_t::replace), 0);
    auto& lastOn = lastOn_.try_emplace(board.serial).first->second;
    for (int n = 0; n < kChannelCount; ++n) {
        const int value = held.live.ChannelValue[static_cast<std::size_t>(n)];
        if (value > 0) lastOn[static_cast<std::size_t>(n)] = value;
        PublishChanged(board, topics_.EntityState(board.id, mqtt::ChannelObjectId(n)), mqtt::ChannelState(value), 0);
    }
    PublishChanged(board, topics_.EntityAvailability(board.id, mqtt::kWaterTemperature),
                   mqtt::WaterTemperatureAvailability(held.live), kQos);
}

void MqttBridge::PublishRegistry() {
    if (!transport_.Connected()) return;
    json ids = json::array();
    for (const auto& [device, board] : boards_)
        if (board.announced) ids.push_back(board.id);
    std::sort(ids.begin(), ids.end());
    const std::string payload = ids.dump();
    if (payload == registrySent_) return;
    if (transport_.Publish(topics_.ServiceBoards(), payload, kQos, true) > 0) registrySent_ = payload;
}

// ---- the connection ----

void MqttBridge::OnConnected() {
    LogInfo("MQTT: connected; announcing " + std::to_string(boards_.size()) + " board(s)");
    transport_.Subscribe(topics_.HomeAssistantStatus(), kQos);
    transport_.Subscribe(topics_.ServiceBoards(), kQos);
    transport_.Publish(topics_.ServiceAvailability(), kOnline, kQos, true);
    registrySent_.clear();
    RepublishAll();
    PublishRegistry();
}

void MqttBridge::OnDisconnected() {
    // Whatever the broker held of this connection may be gone (a broker without persistence):
    // everything is published again on the next one.
    for (auto& [device, board] : boards_) {
        board.announced = false;
        board.sent.clear();
    }
    staleChecks_.clear();
    rediscovery_->stop();
    republish_->stop();
    std::vector<int> keys;
    for (const auto& f : forgetting_) keys.push_back(f->key);
    for (const int key : keys) FinishForget(key, false, "the broker connection was lost");
}

void MqttBridge::RepublishAll() {
    for (auto& [device, board] : boards_) {
        board.announced = false;
        board.sent.clear();
        OnStateChanged(QString::fromStdString(device));
    }
}

void MqttBridge::PublishOffline() {
    if (!transport_.Connected()) return;
    for (const auto& [device, board] : boards_)
        if (board.announced) transport_.Publish(topics_.Availability(board.id), kOffline, kQos, true);
    transport_.Publish(topics_.ServiceAvailability(), kOffline, kQos, true);
}

void MqttBridge::OnMessage(const std::string& topic, const std::string& payload, bool retained) {
    if (TakeForgetMessage(topic, payload, retained)) return;
    if (payload.empty() && !retained) {
        // Someone emptied a retained topic; of a board published here, its configs come again.
        for (auto& [device, board] : boards_) {
            if (!board.announced) continue;
            const auto own = mqtt::RetainedTopicsOfBoard(topics_, board.id);
            if (std::find(own.begin(), own.end(), topic) == own.end()) continue;
            // A board that does not follow the sun has its sun sensors' configs emptied by the
            // service itself.
            if (board.facts && !board.facts->sun && IsSunConfig(topic, board.id)) return;
            board.emptied = true;
            if (!republish_->isActive()) republish_->start(kRepublishDelayMs);
            return;
        }
    }
    if (topic == topics_.HomeAssistantStatus()) {
        // Home Assistant's birth after its restart; a retained copy is an old one.
        if (payload == kOnline && !retained && !rediscovery_->isActive()) {
            const int spread = std::max(1, options_.rediscoverySpreadMs);
            rediscovery_->start(options_.rediscoveryDelayMs + QRandomGenerator::global()->bounded(spread));
        }
        return;
    }
    if (topic == topics_.ServiceBoards()) {
        if (retained) HandleRegistry(payload);
        return;
    }
    if (const auto target = topics_.ParseCommand(topic)) {
        HandleCommand(*target, topic, payload, retained);
        return;
    }
    if (const auto id = topics_.ParseState(topic); id && retained && staleChecks_.count(*id))
        HandleStaleState(*id, payload);
}

// ---- boards that went while the service was down ----

void MqttBridge::HandleRegistry(const std::string& payload) {
    const json ids = mqtt::ParsePayload(payload);
    if (!ids.is_array()) return;
    for (const json& entry : ids) {
        if (!entry.is_string()) continue;
        const std::string id = entry.get<std::string>();
        if (id != mqtt::TopicId(id) || BoardWithId(id) || staleChecks_.count(id)) continue;
        // Another service may hold it by now: its retained state tells.
        staleChecks_.insert(id);
        transport_.Subscribe(topics_.State(id), kQos);
    }
}

void MqttBridge::HandleStaleState(const std::string& id, const std::string& payload) {
    staleChecks_.erase(id);
    transport_.Unsubscribe(topics_.State(id));
    const json state = mqtt::ParsePayload(payload);
    // Anyone may publish there: a field of another type is no answer, and must not throw.
    auto text = [&state](const char* key, const std::string& otherwise) {
        const auto it = state.find(key);
        return it != state.end() && it->is_string() ? it->get<std::string>() : otherwise;
    };
    if (BoardWithId(id) || !state.is_object() || text("service", "") != topics_.ClientId()) return;
    LogInfo("MQTT: board " + text("serial", id) + " went while the service was away: marked offline");
    transport_.Publish(topics_.Availability(id), kOffline, kQos, true);
}

// ---- configs emptied by someone else ----

bool MqttBridge::IsSunConfig(const std::string& topic, const std::string& id) const {
    return topic == topics_.Config(mqtt::Component::Sensor, id, mqtt::kSunrise) ||
           topic == topics_.Config(mqtt::Component::Sensor, id, mqtt::kSunset);
}

void MqttBridge::WatchOwnTopics(const Board& board, bool watch) {
    for (const std::string& filter : {topics_.BoardConfigs(board.id), topics_.Availability(board.id)})
        if (watch)
            transport_.Subscribe(filter, kQos);
        else
            transport_.Unsubscribe(filter);
}

void MqttBridge::RepublishEmptied() {
    for (auto& [device, board] : boards_) {
        if (!board.emptied) continue;
        board.emptied = false;
        LogWarning("MQTT: board " + board.serial + ": another client emptied its retained topics; published again");
        board.facts.reset();
        board.sent.clear();
        OnStateChanged(QString::fromStdString(device));
    }
}

// ---- commands ----

void MqttBridge::HandleCommand(const mqtt::Topics::CommandTopic& target, const std::string& topic,
                               const std::string& payload, bool retained) {
    Board* board = BoardWithId(target.id);
    if (!board) {
        LogWarning("MQTT: " + topic + ": no such board here; ignored");
        return;
    }
    const mqtt::ParsedCommand parsed = mqtt::ParseCommand(target.objectId, payload, retained);
    if (!parsed.command) {
        LogWarning("MQTT: " + topic + ": refused, nothing sent: " + parsed.refusal);
        return;
    }
    if (commands_.size() >= options_.maxQueuedCommands) {
        LogWarning("MQTT: " + topic + ": refused, nothing sent: " + std::to_string(commands_.size()) +
                   " commands are waiting already");
        return;
    }
    commands_.push_back({board->serial, topic, *parsed.command});
    RunNextCommand();
}

void MqttBridge::RunNextCommand() {
    if (commandRunning_ || commands_.empty()) return;
    commandRunning_ = true;
    const Queued next = commands_.front();
    commands_.pop_front();
    auto applied = std::make_shared<mqtt::Applied>();
    owner_.RunSession(
        next.serial,
        [this, applied, next](BoardProtocol& board) {
            int remembered = 0;
            if (const auto it = lastOn_.find(next.serial);
                it != lastOn_.end() && next.command.kind == mqtt::Command::Kind::Channel)
                remembered = it->second[static_cast<std::size_t>(next.command.channel)];
            *applied = ApplyCommand(next.command, board, remembered);
        },
        [this, applied, next](bool ok, const std::string& error) {
            if (!ok)
                LogWarning("MQTT: board " + next.serial + ": " + next.topic + " not carried out: " + error);
            else if (!applied->ok)
                LogWarning("MQTT: board " + next.serial + ": " + applied->what + ": the transfer failed");
            else
                LogInfo("MQTT: board " + next.serial + ": " + applied->what);
            commandRunning_ = false;
            // The next one from the event loop, not from inside this one's session.
            if (!commands_.empty() && !nextQueued_) {
                nextQueued_ = true;
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        nextQueued_ = false;
                        RunNextCommand();
                    },
                    Qt::QueuedConnection);
            }
        },
        "MQTT");
}

}  // namespace quelvan::service
