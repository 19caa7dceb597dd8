#include "device/hid_device_controller.h"

#include <algorithm>
#include <array>

namespace quelvan {

namespace {

// The platform fills fixed buffers of this many UTF-16 characters for each string.
constexpr std::size_t kStringBufferChars = 254;

std::u16string UpToFirstZero(std::u16string s) {
    const auto zero = s.find(u'\0');
    if (zero != std::u16string::npos) s.resize(zero);
    if (s.size() > kStringBufferChars) s.resize(kStringBufferChars);
    return s;
}

// Some devices answer the serial-number request with their language-identifier list.
// The list is read into a buffer pre-filled with 0xFFFF; its length is found from the end.
bool SerialIsLanguageList(const std::u16string& serial, const std::u16string& languages) {
    std::array<char16_t, kStringBufferChars> buffer;
    buffer.fill(u'\xFFFF');
    const std::size_t n = std::min(languages.size(), buffer.size());
    std::copy_n(languages.begin(), n, buffer.begin());
    if (n < buffer.size()) buffer[n] = u'\0';

    std::size_t length = 0;
    for (std::size_t i = buffer.size(); i-- > 0;) {
        if (buffer[i] != u'\xFFFF') {
            length = buffer[i] == u'\0' ? i : i + 1;
            break;
        }
    }
    if (length == 0) return true;
    for (std::size_t i = 0; i < length; ++i) {
        const char16_t c = i < serial.size() ? serial[i] : u'\0';
        if (c != buffer[i]) return false;
    }
    return true;
}

}  // namespace

// ---- HidDevice ----

HidDevice::HidDevice(HidDeviceController& owner, HidInterfaceInfo info) : owner_(owner), info_(std::move(info)) {}

HidDevice::~HidDevice() {
    Close();
}

void HidDevice::Close() {
    handle_.reset();
    readWrite_ = false;
}

bool HidDevice::OpenIfNeeded() {
    if (!Accessible()) return false;
    if (handle_ && readWrite_) return true;
    // A query-only handle is opened again for every transfer, so that access granted later
    // (a udev rule, a changed group) takes effect without unplugging the board.
    handle_.reset();
    HidOpenResult result = owner_.backend_.Open(info_);
    lastOpenError_ = result.readWrite ? 0 : result.error;
    if (!result.handle) return false;
    handle_ = std::move(result.handle);
    readWrite_ = result.readWrite;
    return true;
}

bool HidDevice::Open() {
    return OpenIfNeeded() && readWrite_;
}

std::u16string HidDevice::ReadCachedString(HidString which, std::u16string& cache) {
    if (!cache.empty() || !Accessible()) return cache;
    if (auto s = owner_.backend_.ReadString(info_, which)) cache = UpToFirstZero(*s);
    return cache;
}

std::u16string HidDevice::ManufacturerString() {
    return ReadCachedString(HidString::Manufacturer, manufacturer_);
}

std::u16string HidDevice::ProductString() {
    return ReadCachedString(HidString::Product, product_);
}

std::u16string HidDevice::SerialNumberString() {
    if (!serial_.empty() || !Accessible()) return serial_;
    auto serial = owner_.backend_.ReadString(info_, HidString::SerialNumber);
    if (!serial) return serial_;
    std::u16string value = UpToFirstZero(*serial);
    if (auto languages = owner_.backend_.ReadLanguageList(info_)) {
        if (SerialIsLanguageList(value, *languages)) value.clear();
    }
    serial_ = value;
    return serial_;
}

bool HidDevice::ReadFeature(std::uint8_t* buffer, std::size_t length) {
    bool ok = false;
    if (length > 0 && OpenIfNeeded() && readWrite_) ok = handle_->GetFeature(buffer, length);
    owner_.Observe(false, buffer, length, ok);
    return ok;
}

bool HidDevice::WriteFeature(const std::uint8_t* buffer, std::size_t length) {
    bool ok = false;
    if (length > 0 && OpenIfNeeded() && readWrite_) ok = handle_->SetFeature(buffer, length);
    owner_.Observe(true, buffer, length, ok);
    return ok;
}

// ---- HidDeviceController ----

HidDeviceController::HidDeviceController(HidBackend& backend) : backend_(backend) {}

HidDeviceController::~HidDeviceController() {
    destroying_ = true;
    for (auto& d : devices_) {
        d->Close();
        d->pluggedIn_ = false;
    }
}

HidDevice* HidDeviceController::DeviceAt(int index) const {
    if (index < 0 || index >= DeviceCount()) return nullptr;
    return devices_[static_cast<std::size_t>(index)].get();
}

int HidDeviceController::EnumerateDevices() {
    int offered = 0;
    for (int i = 0; i < DeviceCount(); ++i) {
        HidDevice* device = DeviceAt(i);
        if (!device->PluggedIn()) continue;
        ++offered;
        device->enumerating_ = true;
        const bool goOn = OnEnumerate ? OnEnumerate(*device, i) : false;
        // The handler may have released devices; look the entry up again.
        if (HidDevice* same = DeviceAt(i); same == device) {
            device->enumerating_ = false;
            if (!device->Acquired()) device->Close();
        }
        if (!goOn) break;
    }
    return offered;
}

HidDevice* HidDeviceController::AcquireDevice(int index) {
    HidDevice* device = DeviceAt(index);
    if (!device || device->Acquired()) return nullptr;
    device->acquired_ = true;
    return device;
}

void HidDeviceController::ReleaseDevice(HidDevice* device) {
    if (!device) return;
    auto it = std::find_if(devices_.begin(), devices_.end(), [&](const auto& d) { return d.get() == device; });
    if (it == devices_.end()) return;
    if (device->PluggedIn()) {
        auto fresh = std::make_unique<HidDevice>(*this, device->Info());
        *it = std::move(fresh);
    } else {
        devices_.erase(it);
    }
}

bool HidDeviceController::StillPresent(const HidDevice& device) {
    if (!device.PluggedIn()) return false;
    const std::vector<HidInterfaceInfo> present = backend_.Enumerate();
    return std::any_of(present.begin(), present.end(),
                       [&](const HidInterfaceInfo& p) { return p.identity == device.DeviceInstance(); });
}

bool HidDeviceController::ProcessNotifications() {
    const bool initial = initialPending_;
    initialPending_ = false;
    const bool changed = backend_.TakeChange();
    if (!initial && !changed) return false;
    if (destroying_ || inChange_) return false;  // dropped, not queued
    HandleNotification(initial);
    return true;
}

void HidDeviceController::NotifyDeviceChange() {
    if (destroying_ || inChange_) return;
    HandleNotification(false);
}

void HidDeviceController::HandleNotification(bool initial) {
    inChange_ = true;
    try {
        Scan(initial);
    } catch (...) {
        inChange_ = false;
        throw;
    }
    inChange_ = false;
}

void HidDeviceController::Scan(bool initial) {
    std::vector<HidInterfaceInfo> present = backend_.Enumerate();

    bool changed = false;
    for (std::size_t i = devices_.size(); i-- > 0;) {
        HidDevice& old = *devices_[i];
        if (!old.PluggedIn()) continue;
        const bool stillThere = std::any_of(present.begin(), present.end(), [&](const HidInterfaceInfo& p) {
            return p.identity == old.DeviceInstance();
        });
        if (stillThere) continue;
        old.Close();
        old.pluggedIn_ = false;
        changed = true;
        if (!old.Acquired()) devices_.erase(devices_.begin() + static_cast<std::ptrdiff_t>(i));
    }

    for (auto& info : present) {
        const bool known = std::any_of(devices_.begin(), devices_.end(), [&](const auto& d) {
            return d->PluggedIn() && d->DeviceInstance() == info.identity;
        });
        if (known) continue;
        devices_.push_back(std::make_unique<HidDevice>(*this, std::move(info)));
        changed = true;
    }

    if ((changed || initial) && OnDeviceChange) OnDeviceChange();
}

void HidDeviceController::Observe(bool isSet, const std::uint8_t* buffer, std::size_t length, bool ok) {
    if (!observer_) return;
    TransferRecord record;
    record.isSet = isSet;
    record.bytes.assign(buffer, buffer + length);
    record.ok = ok;
    observer_(record);
}

}  // namespace quelvan
