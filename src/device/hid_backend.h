#pragma once
// What the controller needs from the platform's HID layer. Three implementations: the real
// one (hidraw through hidapi, udev for device changes), the simulated board, and the client
// of the service quelvand, which forwards every transfer to the service that owns the boards.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quelvan {

// One HID interface as the platform lists it.
struct HidInterfaceInfo {
    // Stable for as long as the interface stays plugged in; a re-plugged device gets a new one.
    std::string identity;
    // What open() needs.
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
};

enum class HidString { Manufacturer, Product, SerialNumber };

// An open device handle: feature reports with the report ID in byte 0 and the whole length.
class HidHandle {
public:
    virtual ~HidHandle() = default;
    virtual bool GetFeature(std::uint8_t* buffer, std::size_t length) = 0;
    virtual bool SetFeature(const std::uint8_t* buffer, std::size_t length) = 0;

    // A device that other programs use at the same time (through the service): an operation
    // that reads, changes and writes takes it for itself while it runs. Begin and end nest;
    // Begin is false when the device could not be had. A device on the bus is never shared.
    virtual bool Shared() const { return false; }
    virtual bool BeginExclusive() { return true; }
    virtual void EndExclusive() {}
    // The writes that follow, while the device is held, import a settings file: the service
    // keeps the board's settings from just before them in its history. Nothing for a device
    // on the bus.
    virtual void AnnounceImport() {}
};

struct HidOpenResult {
    std::unique_ptr<HidHandle> handle;  // null when the device could not be opened at all
    bool readWrite = false;             // false: a query-only fallback handle
    int error = 0;                      // errno of the read-write attempt when it failed
};

class HidBackend {
public:
    virtual ~HidBackend() = default;

    // Every HID interface present now, in the platform's order.
    virtual std::vector<HidInterfaceInfo> Enumerate() = 0;

    // Opens read-write, falling back to a query-only handle.
    virtual HidOpenResult Open(const HidInterfaceInfo& device) = 0;

    // One identification string; nullopt when it cannot be read.
    virtual std::optional<std::u16string> ReadString(const HidInterfaceInfo& device, HidString which) = 0;

    // The device's list of language identifiers (string descriptor 0), where the platform
    // can read it; nullopt where it cannot, in which case the serial number is taken as read.
    virtual std::optional<std::u16string> ReadLanguageList(const HidInterfaceInfo&) { return std::nullopt; }

    // Device-change notifications. A pollable file descriptor that becomes readable when
    // the set of devices may have changed, or -1 where the platform has none.
    virtual int ChangeFd() const = 0;
    // Drains the notification source; true when at least one change was signalled.
    virtual bool TakeChange() = 0;
    // Where ChangeFd() is -1, how often the owner should rescan instead (milliseconds).
    virtual int RescanIntervalMs() const { return 0; }

    // Why transfers fail at the moment, where the backend itself knows a reason that no
    // device would report (the simulated board's state file cannot be used); empty otherwise.
    virtual std::string Problem() const { return {}; }
};

}  // namespace quelvan
