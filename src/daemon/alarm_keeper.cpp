#include "daemon/alarm_keeper.h"

#include <QTimer>
#include <cstdio>

#include "service/board_owner.h"
#include "service/service_log.h"

namespace quelvan::service {

namespace {

constexpr std::int16_t kNoSensor = 0x7FFF;

// °C with one decimal, as the board measures it; volts with two.
std::string Number(double value, AlarmKind kind) {
    char text[32];
    std::snprintf(text, sizeof text, kind == AlarmKind::Water ? "%.1f" : "%.2f", value);
    return text;
}

std::string TimeText(const LocalDateTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

}  // namespace

AlarmSide StepAlarm(AlarmSide raised, std::optional<double> value, std::optional<double> minimum,
                    std::optional<double> maximum, double hysteresis) {
    if (!value) return raised;
    // Readings come in steps of 0.1 °C and 1 mV: back by the hysteresis is back by it exactly.
    hysteresis -= 1e-9;
    // A bound switched off meanwhile clears what it raised.
    if (raised == AlarmSide::Low && (!minimum || *value >= *minimum + hysteresis)) raised = AlarmSide::None;
    if (raised == AlarmSide::High && (!maximum || *value <= *maximum - hysteresis)) raised = AlarmSide::None;
    if (raised != AlarmSide::None) return raised;
    if (minimum && *value < *minimum) return AlarmSide::Low;
    if (maximum && *value > *maximum) return AlarmSide::High;
    return AlarmSide::None;
}

const char* AlarmKindName(AlarmKind kind) {
    switch (kind) {
        case AlarmKind::Water:
            return "water";
        case AlarmKind::Supply:
            return "supply";
        case AlarmKind::Missing:
            return "missing";
    }
    return "";
}

std::string RaisedAlarm::Text() const {
    if (kind == AlarmKind::Missing)
        return "not reachable for " + std::to_string(static_cast<int>(bound.value_or(0))) + " s or more";
    const std::string unit = kind == AlarmKind::Water ? " °C" : " V";
    return std::string(kind == AlarmKind::Water ? "water temperature " : "supply voltage ") +
           Number(value.value_or(0), kind) + unit + (side == AlarmSide::Low ? " below " : " above ") +
           Number(bound.value_or(0), kind) + unit;
}

nlohmann::json AlarmJson(const RaisedAlarm& a) {
    nlohmann::json j = {{"serial", a.serial},
                        {"kind", AlarmKindName(a.kind)},
                        {"side", a.side == AlarmSide::Low ? "low" : "high"},
                        {"since", a.since},
                        {"text", a.Text()}};
    j["value"] = a.value ? nlohmann::json(*a.value) : nlohmann::json();
    j["bound"] = a.bound ? nlohmann::json(*a.bound) : nlohmann::json();
    return j;
}

AlarmKeeper::AlarmKeeper(BoardOwner& owner, const Clock& clock, AlarmSection settings)
    : owner_(owner), clock_(clock), settings_(settings) {
    connect(&owner_, &BoardOwner::StateChanged, this, &AlarmKeeper::OnStateChanged);
    connect(&owner_, &BoardOwner::DevicesChanged, this, &AlarmKeeper::OnDevicesChanged);
    missingTimer_ = new QTimer(this);
    missingTimer_->setSingleShot(true);
    connect(missingTimer_, &QTimer::timeout, this, &AlarmKeeper::CheckMissing);
}

void AlarmKeeper::Update(const std::string& serial, AlarmKind kind, Alarm& alarm, AlarmSide side,
                         std::optional<double> value, std::optional<double> bound) {
    if (side == alarm.side) {
        if (side != AlarmSide::None) alarm.shown.value = value;
        return;
    }
    const AlarmSide was = alarm.side;
    alarm.side = side;
    if (side != AlarmSide::None) {
        alarm.shown = RaisedAlarm{serial, kind, side, value, bound, TimeText(clock_.Now())};
        LogWarning("board " + serial + ": alarm: " + alarm.shown.Text());
    } else {
        LogNotice("board " + serial + ": alarm cleared: " +
                  (kind == AlarmKind::Missing ? std::string("the board is back")
                   : kind == AlarmKind::Water ? "water temperature " + Number(value.value_or(0), kind) + " °C"
                                              : "supply voltage " + Number(value.value_or(0), kind) + " V") +
                  (was == AlarmSide::None ? "" : ", raised since " + alarm.shown.since));
    }
    emit AlarmsChanged(QString::fromStdString(serial));
}

void AlarmKeeper::OnStateChanged(const QString& device) {
    const HeldDevice* held = owner_.Find(device.toStdString());
    if (!held || held->role != DeviceRole::Board || !held->liveValid || held->serial.empty()) return;
    Board& b = boards_[held->serial];
    const std::optional<double> water =
        held->live.Temperature == kNoSensor ? std::nullopt : std::optional<double>(held->live.Temperature / 10.0);
    const double supply = held->live.SupplyVoltage / 1000.0;
    const AlarmSide w = StepAlarm(b.water.side, water, settings_.waterMin, settings_.waterMax, settings_.hysteresisC);
    Update(held->serial, AlarmKind::Water, b.water, w, water,
           w == AlarmSide::Low ? settings_.waterMin : settings_.waterMax);
    const AlarmSide s =
        StepAlarm(b.supply.side, supply, settings_.supplyMin, settings_.supplyMax, settings_.hysteresisV);
    Update(held->serial, AlarmKind::Supply, b.supply, s, supply,
           s == AlarmSide::Low ? settings_.supplyMin : settings_.supplyMax);
}

void AlarmKeeper::OnDevicesChanged() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& [serial, b] : boards_) {
        const bool held = owner_.FindBoard(serial) != nullptr;
        if (held) {
            b.goneSince.reset();
            Update(serial, AlarmKind::Missing, b.missing, AlarmSide::None, std::nullopt, std::nullopt);
        } else if (!b.goneSince) {
            b.goneSince = now;
        }
    }
    CheckMissing();
}

void AlarmKeeper::CheckMissing() {
    if (settings_.missingAfterS <= 0) return;
    const auto now = std::chrono::steady_clock::now();
    const auto after = std::chrono::seconds(settings_.missingAfterS);
    std::optional<std::chrono::steady_clock::duration> next;
    for (auto& [serial, b] : boards_) {
        if (!b.goneSince || b.missing.side != AlarmSide::None) continue;
        const auto gone = now - *b.goneSince;
        if (gone >= after)
            Update(serial, AlarmKind::Missing, b.missing, AlarmSide::High, std::nullopt,
                   static_cast<double>(settings_.missingAfterS));
        else if (!next || after - gone < *next)
            next = after - gone;
    }
    if (next)
        missingTimer_->start(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(*next).count()) +
                             1);
}

std::vector<RaisedAlarm> AlarmKeeper::Raised() const {
    std::vector<RaisedAlarm> raised;
    for (const auto& [serial, b] : boards_)
        for (const Alarm* a : {&b.water, &b.supply, &b.missing})
            if (a->side != AlarmSide::None) raised.push_back(a->shown);
    return raised;
}

bool AlarmKeeper::IsRaised(const std::string& serial, AlarmKind kind) const {
    const auto it = boards_.find(serial);
    if (it == boards_.end()) return false;
    const Board& b = it->second;
    return (kind == AlarmKind::Water    ? b.water
            : kind == AlarmKind::Supply ? b.supply
                                        : b.missing)
               .side != AlarmSide::None;
}

}  // namespace quelvan::service
