// MqttBridge: forgetting a board that is gone for good.
//
// What the broker holds for the board is found by subscribing to its topics and then
// publishing a marker to the service's own probe topic: the broker sends the retained
// messages of a subscription before anything published after it, so once the marker is
// back, every retained message of the board has come.

#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "mqtt/mqtt_bridge.h"
#include "mqtt/mqtt_discovery.h"
#include "mqtt/mqtt_forget.h"
#include "service/service_log.h"

namespace quelvan::service {

namespace {

constexpr int kQos = 1;
constexpr const char* kProbe = "forget ";

}  // namespace

MqttBridge::Forgetting* MqttBridge::ForgettingWithKey(int key) {
    for (auto& f : forgetting_)
        if (f->key == key) return f.get();
    return nullptr;
}

void MqttBridge::FinishForget(int key, bool ok, const std::string& error) {
    const auto it = std::find_if(forgetting_.begin(), forgetting_.end(), [key](auto& f) { return f->key == key; });
    if (it == forgetting_.end()) return;
    std::unique_ptr<Forgetting> f = std::move(*it);
    forgetting_.erase(it);
    if (f->judging && transport_.Connected()) {
        transport_.Unsubscribe(topics_.BoardConfigs(f->id));
        transport_.Unsubscribe(topics_.BoardTopics(f->id));
    }
    if (ok)
        LogInfo("MQTT: board " + f->serial + " forgotten (" + std::to_string(f->emptied) + " topics emptied)");
    else
        LogWarning("MQTT: board " + f->serial + " not forgotten: " + error);
    f->done(ok, error, f->emptied);
}

void MqttBridge::Forget(const std::string& serial, bool force, ForgetDone done) {
    const std::string id = mqtt::TopicId(serial);
    if (serial.empty()) return done(false, "no serial number given", 0);
    if (BoardWithId(id)) return done(false, "this service holds board " + serial + "; it would come back at once", 0);
    if (!transport_.Connected()) return done(false, "not connected to the broker", 0);
    auto forgetting = std::make_unique<Forgetting>();
    forgetting->key = ++lastForgetKey_;
    forgetting->serial = serial;
    forgetting->id = id;
    forgetting->force = force;
    for (const std::string& topic : mqtt::RetainedTopicsOfBoard(topics_, id)) forgetting->topics.insert(topic);
    forgetting->done = std::move(done);
    const int key = forgetting->key;
    forgetting_.push_back(std::move(forgetting));
    if (!transport_.Subscribe(topics_.ServiceProbe(), kQos) || !transport_.Subscribe(topics_.BoardConfigs(id), kQos) ||
        !transport_.Subscribe(topics_.BoardTopics(id), kQos) ||
        transport_.Publish(topics_.ServiceProbe(), kProbe + std::to_string(key), kQos, false) <= 0)
        return FinishForget(key, false, "the broker connection failed while forgetting");
    QTimer::singleShot(options_.forgetTimeoutMs, this, [this, key] {
        const Forgetting* f = ForgettingWithKey(key);
        if (f)
            FinishForget(key, false,
                         f->judging ? "the broker did not answer in time" : "the broker did not confirm in time");
    });
}

bool MqttBridge::TakeForgetMessage(const std::string& topic, const std::string& payload, bool retained) {
    if (topic == topics_.ServiceProbe()) {
        if (payload.rfind(kProbe, 0) == 0) {
            const int key = std::atoi(payload.c_str() + std::char_traits<char>::length(kProbe));
            if (Forgetting* f = ForgettingWithKey(key); f && f->judging) JudgeForgetting(*f);
        }
        return true;
    }
    bool taken = false;
    for (auto& f : forgetting_) {
        if (!f->judging) continue;
        if (f->topics.count(topic)) {
            if (retained && !payload.empty()) f->held[topic] = payload;
            // The state may be looked at for a board that went while the service was away too.
            taken = !topics_.ParseState(topic).has_value();
        } else if (const auto command = topics_.ParseCommand(topic); command && command->id == f->id && retained) {
            taken = true;  // an old retained command, met on the way: nothing to do with it here
        }
    }
    return taken;
}

void MqttBridge::JudgeForgetting(Forgetting& f) {
    transport_.Unsubscribe(topics_.BoardConfigs(f.id));
    transport_.Unsubscribe(topics_.BoardTopics(f.id));
    f.judging = false;
    const mqtt::ForgetVerdict verdict = mqtt::JudgeForget(topics_, f.serial, f.held, f.force);
    if (!verdict.ok) return FinishForget(f.key, false, verdict.refusal);
    for (const std::string& topic : verdict.topics) {
        const int mid = transport_.Publish(topic, std::string(), kQos, true);
        if (mid <= 0) return FinishForget(f.key, false, "the broker connection failed while forgetting");
        f.waiting.insert(mid);
        ++f.emptied;
    }
    LogInfo("MQTT: forgetting board " + f.serial + (f.force ? " (forced)" : "") + ": emptying " +
            std::to_string(f.emptied) + " retained topics");
}

void MqttBridge::OnPublished(int messageId) {
    for (auto& f : forgetting_) {
        if (f->judging || !f->waiting.erase(messageId)) continue;
        if (f->waiting.empty()) FinishForget(f->key, true, {});
        return;
    }
}

}  // namespace quelvan::service
