#include "service/systemd_notifier.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTimer>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace quelvan::service {

// systemd's notification protocol spoken directly: one datagram per message to the socket
// NOTIFY_SOCKET names (a path, or an abstract name written with a leading '@'). libsystemd
// would bring five more libraries into quelvand, close to a megabyte of its resident memory
// on a small computer, for these few lines.
void NotifySystemd(const std::string& message) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (name == nullptr || (name[0] != '/' && name[0] != '@')) {
        return;  // not started by systemd (or by a manager speaking another transport)
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(name);
    if (length < 2 || length >= sizeof address.sun_path) {
        return;
    }
    std::memcpy(address.sun_path, name, length);
    std::size_t size = offsetof(sockaddr_un, sun_path) + length;
    if (name[0] == '@') {
        address.sun_path[0] = '\0';
    } else {
        ++size;  // a path's terminating NUL
    }
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    (void)::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                   static_cast<socklen_t>(size));
    ::close(fd);
}

std::uint64_t SystemdWatchdogMicroseconds() {
    const auto number = [](const char* text, std::uint64_t& value) {
        if (text == nullptr || *text < '0' || *text > '9') {
            return false;
        }
        char* end = nullptr;
        value = std::strtoull(text, &end, 10);
        return *end == '\0';
    };
    std::uint64_t usec = 0;
    if (!number(std::getenv("WATCHDOG_USEC"), usec)) {
        return 0;
    }
    // The watchdog is meant for the process systemd started, not for one it started in turn.
    if (const char* pid = std::getenv("WATCHDOG_PID")) {
        std::uint64_t value = 0;
        if (!number(pid, value) || value != static_cast<std::uint64_t>(::getpid())) {
            return 0;
        }
    }
    return usec;
}

SystemdNotifier::SystemdNotifier(QObject* parent) : QObject(parent) {
    if (const std::uint64_t usec = SystemdWatchdogMicroseconds(); usec > 0) {
        watchdog_ = new QTimer(this);
        // The event loop itself answers: a service stuck in a transfer misses its keep-alive.
        connect(watchdog_, &QTimer::timeout, this, [] { NotifySystemd("WATCHDOG=1"); });
        watchdog_->start(static_cast<int>(std::clamp<std::uint64_t>(usec / 2000, 1, 24 * 3600 * 1000)));
    }
}

void SystemdNotifier::Ready(const std::string& status) {
    NotifySystemd("READY=1\nSTATUS=" + status);
}

void SystemdNotifier::Status(const std::string& status) {
    NotifySystemd("STATUS=" + status);
}

void SystemdNotifier::Stopping() {
    NotifySystemd("STOPPING=1");
}

}  // namespace quelvan::service
