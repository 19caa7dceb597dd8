#pragma once
// Three alarms per board: the water temperature and the supply voltage outside their bounds,
// and a held board gone from the bus. Each is raised when its bound is crossed and cleared
// only once the value is back inside by the hysteresis, so that a value sitting on the
// bound does not flap. Raised: a warning in the journal; cleared: a notice. Bridges read
// Raised() and listen to AlarmsChanged.

#include <QObject>
#include <QString>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "daemon/keeper_settings.h"
#include "device/clock.h"

class QTimer;

namespace quelvan::service {

class BoardOwner;

enum class AlarmKind { Water, Supply, Missing };
enum class AlarmSide { None, Low, High };

// One step of a bounded value's alarm: the side it is raised on after `value` was seen.
// No value (no sensor, not read) leaves the alarm as it was.
AlarmSide StepAlarm(AlarmSide raised, std::optional<double> value, std::optional<double> minimum,
                    std::optional<double> maximum, double hysteresis);

const char* AlarmKindName(AlarmKind kind);  // "water", "supply", "missing"

struct RaisedAlarm {
    std::string serial;
    AlarmKind kind = AlarmKind::Water;
    AlarmSide side = AlarmSide::None;
    std::optional<double> value;  // °C or V; none for a missing board
    std::optional<double> bound;  // the bound crossed; for a missing board the seconds
    std::string since;            // local time, "2026-12-09 17:03:04"
    std::string Text() const;     // "water temperature 31.2 °C above 30.0 °C"
};

// {"serial", "kind", "side", "value", "bound", "since", "text"} for the socket and the page.
nlohmann::json AlarmJson(const RaisedAlarm& alarm);

class AlarmKeeper : public QObject {
    Q_OBJECT
public:
    AlarmKeeper(BoardOwner& owner, const Clock& clock, AlarmSection settings);

    std::vector<RaisedAlarm> Raised() const;
    // Whether this board has this alarm raised now.
    bool IsRaised(const std::string& serial, AlarmKind kind) const;
    // Checks the boards that are gone (a timer calls it; tests may too).
    void CheckMissing();

signals:
    void AlarmsChanged(const QString& serial);

private:
    struct Alarm {
        AlarmSide side = AlarmSide::None;
        RaisedAlarm shown;
    };
    struct Board {
        Alarm water, supply, missing;
        std::optional<std::chrono::steady_clock::time_point> goneSince;
    };
    void OnStateChanged(const QString& device);
    void OnDevicesChanged();
    void Update(const std::string& serial, AlarmKind kind, Alarm& alarm, AlarmSide side, std::optional<double> value,
                std::optional<double> bound);

    BoardOwner& owner_;
    const Clock& clock_;
    AlarmSection settings_;
    std::map<std::string, Board> boards_;
    QTimer* missingTimer_ = nullptr;
};

}  // namespace quelvan::service
