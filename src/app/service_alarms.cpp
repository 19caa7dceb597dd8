#include "app/service_alarms.h"

#include <QLocale>
#include <QTimer>
#include <QtDBus/QDBusConnectionInterface>
#include <QtDBus/QDBusMessage>

namespace quelvan {

namespace {

QString Text(const nlohmann::json& object, const char* name) {
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? QString::fromStdString(it->get<std::string>()) : QString();
}

QString Number(const nlohmann::json& value, int decimals) {
    return value.is_number() ? QLocale().toString(value.get<double>(), 'f', decimals) : QStringLiteral("–");
}

}  // namespace

DbusNotifier::DbusNotifier(QDBusConnection bus) : bus_(std::move(bus)) {}

void DbusNotifier::Notify(const QString& summary, const QString& body) {
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    if (!bus_.isConnected() || !bus_.interface() || !bus_.interface()->isServiceRegistered(service)) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"), service, "Notify");
    call << QStringLiteral("Quelvan") << 0u << QStringLiteral("dialog-warning") << summary << body << QStringList()
         << QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue<uchar>(2)}} << -1;
    // Nobody waits for the answer: the window goes on at once.
    bus_.call(call, QDBus::NoBlock);
}

std::optional<AlarmText> TextOfAlarm(const nlohmann::json& alarm) {
    if (!alarm.is_object()) return std::nullopt;
    const QString kind = Text(alarm, "kind"), serial = Text(alarm, "serial");
    const bool low = Text(alarm, "side") == "low";
    const nlohmann::json value = alarm.value("value", nlohmann::json()), bound = alarm.value("bound", nlohmann::json());
    AlarmText text;
    text.key = serial + '/' + kind;
    QString detail;
    if (kind == "water") {
        text.summary = QStringLiteral("Temperaturalarm");
        detail = Number(value, 1) + " °C" + (low ? " unter " : " über ") + Number(bound, 1) + " °C";
    } else if (kind == "supply") {
        text.summary = QStringLiteral("Spannungsalarm");
        detail = Number(value, 2) + " V" + (low ? " unter " : " über ") + Number(bound, 2) + " V";
    } else if (kind == "missing") {
        text.summary = QStringLiteral("Board nicht erreichbar");
        detail = "seit mehr als " + Number(bound, 0) + " s";
    } else {
        return std::nullopt;
    }
    text.body = "Platine " + serial + ": " + detail + ", seit " + Text(alarm, "since");
    return text;
}

ServiceAlarmWatch::ServiceAlarmWatch(std::function<std::optional<nlohmann::json>()> status,
                                     std::function<void(const QString&)> log, DesktopNotifier& notifier,
                                     QObject* parent)
    : QObject(parent), status_(std::move(status)), log_(std::move(log)), notifier_(notifier) {
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &ServiceAlarmWatch::Check);
    timer_->start(kIntervalMs);
}

void ServiceAlarmWatch::Check() {
    const std::optional<nlohmann::json> status = status_();
    if (!status || !status->is_object()) return;
    const nlohmann::json alarms = status->value("alarms", nlohmann::json::array());
    std::map<QString, AlarmText> now;
    for (const nlohmann::json& a : alarms.is_array() ? alarms : nlohmann::json::array())
        if (auto text = TextOfAlarm(a)) now.emplace(text->key, *text);
    for (const auto& [key, text] : now) {
        if (raised_.count(key)) continue;
        log_(text.summary + " – " + text.body);
        notifier_.Notify(text.summary, text.body);
    }
    for (const auto& [key, text] : raised_)
        if (!now.count(key)) log_(text.summary + " aufgehoben – Platine " + key.section('/', 0, 0));
    raised_ = std::move(now);
}

}  // namespace quelvan
