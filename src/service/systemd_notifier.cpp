#include "service/systemd_notifier.h"

#include <systemd/sd-daemon.h>

#include <QTimer>

namespace quelvan::service {

SystemdNotifier::SystemdNotifier(QObject* parent) : QObject(parent) {
    std::uint64_t usec = 0;
    if (::sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        watchdog_ = new QTimer(this);
        // The event loop itself answers: a service stuck in a transfer misses its keep-alive.
        connect(watchdog_, &QTimer::timeout, this, [] { ::sd_notify(0, "WATCHDOG=1"); });
        watchdog_->start(static_cast<int>(std::max<std::uint64_t>(usec / 2000, 1)));
    }
}

void SystemdNotifier::Ready(const std::string& status) {
    ::sd_notify(0, ("READY=1\nSTATUS=" + status).c_str());
}

void SystemdNotifier::Status(const std::string& status) {
    ::sd_notify(0, ("STATUS=" + status).c_str());
}

void SystemdNotifier::Stopping() {
    ::sd_notify(0, "STOPPING=1");
}

}  // namespace quelvan::service
