#pragma once
// Keeps the list of present HID interfaces, notices arrivals and removals, offers each
// device to the application, and hands devices out for exclusive use.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_backend.h"

namespace quelvan {

class HidDeviceController;

// One feature-report transfer attempt, as seen by a transfer observer (tracing, tests).
struct TransferRecord {
    bool isSet = false;
    std::vector<std::uint8_t> bytes;  // the whole buffer as sent, or as received on success
    bool ok = false;
};

class HidDevice {
public:
    HidDevice(HidDeviceController& owner, HidInterfaceInfo info);
    ~HidDevice();
    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;

    const HidInterfaceInfo& Info() const { return info_; }
    const std::string& DevicePath() const { return info_.path; }
    const std::string& DeviceInstance() const { return info_.identity; }
    std::uint16_t VendorID() const { return info_.vendorId; }
    std::uint16_t ProductID() const { return info_.productId; }
    std::uint16_t VersionNumber() const { return info_.versionNumber; }

    // Read on first use and cached; an empty cache is read again next time.
    std::u16string ManufacturerString();
    std::u16string ProductString();
    std::u16string SerialNumberString();

    // Feature reports; byte 0 of the buffer is the report ID, length the whole buffer.
    bool ReadFeature(std::uint8_t* buffer, std::size_t length);
    bool WriteFeature(const std::uint8_t* buffer, std::size_t length);

    bool PluggedIn() const { return pluggedIn_; }
    bool Acquired() const { return acquired_; }
    bool Enumerating() const { return enumerating_; }
    bool Accessible() const { return pluggedIn_ && (acquired_ || enumerating_); }
    bool IsOpen() const { return handle_ != nullptr; }
    // Opens the device now, as its first transfer would; true with a read-write handle.
    bool Open();
    // See HidHandle: only an open handle can be shared, so a device on the bus never is.
    bool Shared() const { return handle_ && handle_->Shared(); }
    bool BeginExclusive() { return !Shared() || handle_->BeginExclusive(); }
    void EndExclusive() {
        if (Shared()) handle_->EndExclusive();
    }
    // See HidHandle::AnnounceImport (a program that holds the device for all its run is not
    // "shared", but its service keeps the history all the same).
    void AnnounceImport() {
        if (handle_) handle_->AnnounceImport();
    }
    // errno of the last failed read-write open (EACCES: no permission), 0 otherwise.
    int LastOpenError() const { return lastOpenError_; }

private:
    friend class HidDeviceController;
    bool OpenIfNeeded();
    void Close();
    std::u16string ReadCachedString(HidString which, std::u16string& cache);

    HidDeviceController& owner_;
    HidInterfaceInfo info_;
    std::u16string manufacturer_, product_, serial_;
    std::unique_ptr<HidHandle> handle_;
    bool readWrite_ = false;
    int lastOpenError_ = 0;
    bool pluggedIn_ = true;
    bool acquired_ = false;
    bool enumerating_ = false;
};

// Holds a shared device for one operation that reads, changes and writes; nothing at all
// for a device on the bus (or none).
class ExclusiveUse {
public:
    // A device not yet used is opened first: only its handle knows whether it is shared.
    explicit ExclusiveUse(HidDevice* device) {
        if (device && !device->IsOpen()) device->Open();
        device_ = device && device->Shared() ? device : nullptr;
        held_ = !device_ || device_->BeginExclusive();
    }
    ~ExclusiveUse() {
        if (device_ && held_) device_->EndExclusive();
    }
    ExclusiveUse(const ExclusiveUse&) = delete;
    ExclusiveUse& operator=(const ExclusiveUse&) = delete;
    bool Shared() const { return device_ != nullptr; }
    // False when a shared device could not be had: the operation must send nothing.
    bool Held() const { return held_; }

private:
    HidDevice* device_ = nullptr;
    bool held_ = true;
};

class HidDeviceController {
public:
    // Returning false ends the current EnumerateDevices run.
    using EnumerateHandler = std::function<bool(HidDevice& device, int index)>;
    using DeviceChangeHandler = std::function<void()>;
    using TransferObserver = std::function<void(const TransferRecord&)>;

    // Like the platform's own controller, it posts itself one initial notification on
    // creation; the owner delivers it with ProcessNotifications() from its event loop.
    explicit HidDeviceController(HidBackend& backend);
    ~HidDeviceController();
    HidDeviceController(const HidDeviceController&) = delete;
    HidDeviceController& operator=(const HidDeviceController&) = delete;

    EnumerateHandler OnEnumerate;
    DeviceChangeHandler OnDeviceChange;

    void SetTransferObserver(TransferObserver observer) { observer_ = std::move(observer); }

    // Offers every plugged-in device, in list order, to OnEnumerate; returns how many.
    int EnumerateDevices();
    // Hands out the device at index; nullptr when out of range or already acquired.
    HidDevice* AcquireDevice(int index);
    // Destroys the object; a still plugged-in interface gets a fresh entry at the same index.
    void ReleaseDevice(HidDevice* device);

    // Asks the platform whether the device is on the bus right now, without a scan: the
    // list, the device objects and the change notifications stay as they are.
    bool StillPresent(const HidDevice& device);

    int DeviceCount() const { return static_cast<int>(devices_.size()); }
    HidDevice* DeviceAt(int index) const;

    // Notification source for event loops: poll ChangeFd() for reading (when it is not -1)
    // and call ProcessNotifications() when it is readable, once after creation, and every
    // RescanIntervalMs() where the backend has no descriptor.
    int ChangeFd() const { return backend_.ChangeFd(); }
    int RescanIntervalMs() const { return backend_.RescanIntervalMs(); }
    // Handles the posted initial notification and any change the backend signalled.
    // A notification that arrives while a scan runs is dropped. True when a scan ran.
    bool ProcessNotifications();
    // Handles one device-change notification as if the platform had sent it.
    void NotifyDeviceChange();
    bool InChange() const { return inChange_; }

    HidBackend& Backend() { return backend_; }
    const HidBackend& Backend() const { return backend_; }

private:
    friend class HidDevice;
    void HandleNotification(bool initial);
    void Scan(bool initial);
    void Observe(bool isSet, const std::uint8_t* buffer, std::size_t length, bool ok);

    HidBackend& backend_;
    std::vector<std::unique_ptr<HidDevice>> devices_;
    TransferObserver observer_;
    bool initialPending_ = true;
    bool inChange_ = false;
    bool destroying_ = false;
};

}  // namespace quelvan
