#pragma once
// Tells systemd how the service is doing (Type=notify): ready, a one-line status, and the
// watchdog's keep-alive at half its interval. Outside systemd every call does nothing.

#include <QObject>
#include <cstdint>
#include <string>

class QTimer;

namespace quelvan::service {

// One message to the service manager, if one asked for them (NOTIFY_SOCKET).
void NotifySystemd(const std::string& message);
// The watchdog's interval systemd set for this process (WATCHDOG_USEC), 0 when none.
std::uint64_t SystemdWatchdogMicroseconds();

class SystemdNotifier : public QObject {
    Q_OBJECT
public:
    explicit SystemdNotifier(QObject* parent = nullptr);
    void Ready(const std::string& status);
    void Status(const std::string& status);
    void Stopping();

private:
    QTimer* watchdog_ = nullptr;
};

}  // namespace quelvan::service
