#pragma once
// The window on the service: the alarms quelvand raises (water temperature, supply voltage,
// a board gone) reach the user as a line in "Meldungen" and as a desktop notification
// through the freedesktop notification service on the session bus, where one runs. The
// service's status is asked every few seconds; each alarm is told once when raised and
// once when cleared.

#include <QObject>
#include <QString>
#include <QtDBus/QDBusConnection>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

class QTimer;

namespace quelvan {

// Where a notification goes; tests stand in for it.
class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;
    virtual void Notify(const QString& summary, const QString& body) = 0;
};

// org.freedesktop.Notifications.Notify on a session bus; nothing when none runs there.
class DbusNotifier final : public DesktopNotifier {
public:
    explicit DbusNotifier(QDBusConnection bus = QDBusConnection::sessionBus());
    void Notify(const QString& summary, const QString& body) override;

private:
    QDBusConnection bus_;
};

// What the user is told of one alarm of the service's status ("alarms" entries).
struct AlarmText {
    QString key;      // the board and the kind: one line per raise
    QString summary;  // "Temperaturalarm"
    QString body;     // "Platine QV2-000123: 26,2 °C über 26,0 °C, seit 2026-12-09 17:03:04"
};
std::optional<AlarmText> TextOfAlarm(const nlohmann::json& alarm);

class ServiceAlarmWatch : public QObject {
    Q_OBJECT
public:
    // `status` asks the service for its status reply (nullopt: no answer).
    ServiceAlarmWatch(std::function<std::optional<nlohmann::json>()> status, std::function<void(const QString&)> log,
                      DesktopNotifier& notifier, QObject* parent = nullptr);
    static constexpr int kIntervalMs = 5000;
    // One look at the service's alarms (the timer runs it).
    void Check();

private:
    std::function<std::optional<nlohmann::json>()> status_;
    std::function<void(const QString&)> log_;
    DesktopNotifier& notifier_;
    std::map<QString, AlarmText> raised_;
    QTimer* timer_ = nullptr;
};

}  // namespace quelvan
