#pragma once
// The real HID backend on Linux: hidraw devices listed from sysfs (hidraw_sysfs.h), opened
// and used through hidapi; device changes through a libudev monitor.
//
// Identity. A hidraw interface is identified by the resolved sysfs path of its hidraw
// node and the inode of that sysfs folder. The sysfs path contains the HID device's name,
// which the kernel numbers afresh for every device it adds, so a board that is unplugged
// and plugged in again gets a new identity even on the same port and the same
// /dev/hidrawN; while it stays plugged in, nothing of it changes between scans.
//
// Strings. Manufacturer, product and serial number are taken from the listing (the kernel
// keeps them in sysfs as UTF-8) and cached per identity; hidraw cannot read string
// descriptor 0, so ReadLanguageList() has nothing to offer.
//
// Feature reports. The board always answers a get with the whole report, so a get counts
// as successful only when the driver filled the caller's whole buffer; a shorter answer
// would leave stale bytes in the tail and is reported as a failure. A set succeeds when
// the driver took the whole buffer.
//
// Device changes. ChangeFd() is the udev monitor's socket (subsystem hidraw). Where no
// monitor can be had (no netlink socket, or no udev daemon to send events, as in many
// containers), ChangeFd() is -1, RescanIntervalMs() asks for a periodic rescan, and
// TakeChange() answers true on every call, since each rescan may find a change.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_backend.h"

namespace quelvan {

class HidapiBackend final : public HidBackend {
public:
    static constexpr int kRescanIntervalMs = 2000;

    enum class Monitor {
        IfUdevRuns,  // watch udev where its daemon runs, rescan periodically elsewhere
        Always,      // watch udev even without its daemon (an emulated udev sends events)
        Never,       // periodic rescans only
    };
    struct Options {
        Monitor monitor = Monitor::IfUdevRuns;
    };

    // nullptr with a message in `error` when the HID library cannot be started.
    static std::unique_ptr<HidapiBackend> Create(std::string* error);
    static std::unique_ptr<HidapiBackend> Create(const Options& options, std::string* error);
    ~HidapiBackend() override;
    HidapiBackend(const HidapiBackend&) = delete;
    HidapiBackend& operator=(const HidapiBackend&) = delete;

    std::vector<HidInterfaceInfo> Enumerate() override;
    HidOpenResult Open(const HidInterfaceInfo& device) override;
    std::optional<std::u16string> ReadString(const HidInterfaceInfo& device, HidString which) override;
    int ChangeFd() const override;
    bool TakeChange() override;
    int RescanIntervalMs() const override;

    // Whether device changes come from the udev monitor (false: periodic rescans).
    bool HasMonitor() const;

private:
    struct Impl;
    explicit HidapiBackend(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// hidapi hands out wchar_t strings (UTF-32 on Linux); the devices' strings are UTF-16.
// Characters that UTF-16 cannot carry become U+FFFD.
std::u16string WideToUtf16(const wchar_t* text);

}  // namespace quelvan
