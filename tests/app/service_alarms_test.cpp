// The window on the service tells the service's alarms: the German line in "Meldungen" and
// the notification for each alarm once when raised, a line when cleared; the notification
// goes over D-Bus to a stand-in notification service on a private session bus, and nowhere
// when no notification service runs.

#include "app/service_alarms.h"

#include <QLocale>
#include <QProcess>
#include <QTest>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>

using namespace quelvan;

namespace {

struct Recorded : DesktopNotifier {
    void Notify(const QString& summary, const QString& body) override { calls.append(summary + " | " + body); }
    QStringList calls;
};

// The freedesktop notification service's one method that matters here.
class StandInNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
    uint Notify(const QString& appName, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        received.append(appName + " | " + summary + " | " + body);
        return static_cast<uint>(received.size());
    }

public:
    QStringList received;
};

nlohmann::json Water(double value) {
    return {{"serial", "QV2-000123"}, {"kind", "water"}, {"side", "high"},
            {"value", value},         {"bound", 26.0},   {"since", "2026-12-09 17:03:04"}};
}

}  // namespace

class ServiceAlarmsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void eachAlarmReadsInGerman() {
        struct Case {
            nlohmann::json alarm;
            const char* summary;
            const char* body;
        };
        const Case cases[] = {
            {Water(26.2), "Temperaturalarm", "Platine QV2-000123: 26,2 °C über 26,0 °C, seit 2026-12-09 17:03:04"},
            {{{"serial", "B"}, {"kind", "supply"}, {"side", "low"}, {"value", 10.95}, {"bound", 11.0}, {"since", "x"}},
             "Spannungsalarm",
             "Platine B: 10,95 V unter 11,00 V, seit x"},
            {{{"serial", "B"},
              {"kind", "missing"},
              {"side", "high"},
              {"value", nullptr},
              {"bound", 120},
              {"since", "y"}},
             "Board nicht erreichbar",
             "Platine B: seit mehr als 120 s, seit y"},
        };
        for (const Case& c : cases) {
            const std::optional<AlarmText> text = TextOfAlarm(c.alarm);
            QVERIFY(text);
            QCOMPARE(text->summary, QString(c.summary));
            QCOMPARE(text->body, QString(c.body));
        }
        QVERIFY(!TextOfAlarm({{"kind", "unknown"}}));
    }

    void aRaisedAlarmIsToldOnceAndItsClearingLogged() {
        nlohmann::json status = {{"alarms", nlohmann::json::array()}};
        QStringList log;
        Recorded notifier;
        ServiceAlarmWatch watch([&] { return std::optional<nlohmann::json>(status); },
                                [&](const QString& line) { log.append(line); }, notifier);
        watch.Check();
        QVERIFY(log.isEmpty());
        status["alarms"].push_back(Water(26.2));
        watch.Check();
        watch.Check();
        QCOMPARE(log,
                 QStringList{"Temperaturalarm – Platine QV2-000123: 26,2 °C über 26,0 °C, seit 2026-12-09 17:03:04"});
        QCOMPARE(notifier.calls.size(), 1);
        status["alarms"] = nlohmann::json::array();
        watch.Check();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log.back(), QString("Temperaturalarm aufgehoben – Platine QV2-000123"));
        QCOMPARE(notifier.calls.size(), 1);
    }

    void theNotificationGoesOverAPrivateSessionBus() {
        QProcess daemon;
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
        if (!daemon.waitForStarted(5000)) QSKIP("dbus-daemon is not installed");
        QVERIFY(daemon.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
        QVERIFY(!address.isEmpty());
        {
            QDBusConnection service = QDBusConnection::connectToBus(address, "stand-in");
            QDBusConnection client = QDBusConnection::connectToBus(address, "window");
            QVERIFY(service.isConnected() && client.isConnected());
            DbusNotifier notifier(client);
            notifier.Notify("Temperaturalarm", "nobody listens");  // no notification service: nothing

            StandInNotifications standIn;
            QVERIFY(
                service.registerObject("/org/freedesktop/Notifications", &standIn, QDBusConnection::ExportAllSlots));
            QVERIFY(service.registerService("org.freedesktop.Notifications"));
            notifier.Notify("Temperaturalarm", "Platine QV2-000123: 26,2 °C über 26,0 °C");
            QTRY_COMPARE(standIn.received.size(), 1);
            QCOMPARE(standIn.received.front(),
                     QString("Quelvan | Temperaturalarm | Platine QV2-000123: 26,2 °C über 26,0 °C"));
        }
        QDBusConnection::disconnectFromBus("stand-in");
        QDBusConnection::disconnectFromBus("window");
        daemon.terminate();
        QVERIFY(daemon.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(ServiceAlarmsTest)
#include "service_alarms_test.moc"
