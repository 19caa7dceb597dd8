#pragma once
// Watches udev for hidraw devices coming and going, as a pollable file descriptor.

#include <memory>

struct udev;
struct udev_monitor;

namespace quelvan {

class UdevChangeMonitor {
public:
    // nullptr where no monitor can be created, or, with `requireDaemon`, where no udev
    // daemon runs that would send events (the monitor would then stay silent for ever).
    static std::unique_ptr<UdevChangeMonitor> Create(udev* context, bool requireDaemon);
    ~UdevChangeMonitor();
    UdevChangeMonitor(const UdevChangeMonitor&) = delete;
    UdevChangeMonitor& operator=(const UdevChangeMonitor&) = delete;

    // Readable when events are pending.
    int Fd() const { return fd_; }
    // Reads every pending event; true when at least one arrived (or some were lost).
    bool Drain();

private:
    UdevChangeMonitor(udev_monitor* monitor, int fd) : monitor_(monitor), fd_(fd) {}
    udev_monitor* monitor_;
    int fd_;
};

}  // namespace quelvan
