#include "backend/udev_change_monitor.h"

#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace quelvan {

namespace {

// The udev daemon's control socket; without the daemon, nobody sends "udev" events.
constexpr const char* kUdevControl = "/run/udev/control";

// A flood of events is drained in one go, but a broken socket must not keep us spinning.
constexpr int kMaxEventsPerDrain = 1000;

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace

std::unique_ptr<UdevChangeMonitor> UdevChangeMonitor::Create(udev* context, bool requireDaemon) {
    if (!context || (requireDaemon && ::access(kUdevControl, F_OK) != 0)) return nullptr;
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor) return nullptr;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        return nullptr;
    }
    const int fd = udev_monitor_get_fd(monitor);
    if (fd < 0) {
        udev_monitor_unref(monitor);
        return nullptr;
    }
    return std::unique_ptr<UdevChangeMonitor>(new UdevChangeMonitor(monitor, fd));
}

UdevChangeMonitor::~UdevChangeMonitor() {
    udev_monitor_unref(monitor_);
}

bool UdevChangeMonitor::Drain() {
    bool any = false;
    for (int i = 0; i < kMaxEventsPerDrain && Readable(fd_); ++i) {
        errno = 0;
        if (udev_device* device = udev_monitor_receive_device(monitor_)) {
            udev_device_unref(device);
            any = true;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != 0) {
            // Lost events (receive buffer overrun) or a damaged message: the set of
            // devices may have changed, and a rescan costs little.
            any = true;
        }
    }
    return any;
}

}  // namespace quelvan
