#include "backend/hidapi_backend.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "backend/hidraw_sysfs.h"
#include "backend/udev_change_monitor.h"
#include "device/identification.h"

namespace quelvan {

namespace {

// hidapi counts its users; hid_exit() only when the last backend goes.
int g_hidapiUsers = 0;

// A read-write hidraw handle through hidapi.
class HidrawHandle final : public HidHandle {
public:
    explicit HidrawHandle(hid_device* device) : device_(device) {}
    ~HidrawHandle() override { hid_close(device_); }
    HidrawHandle(const HidrawHandle&) = delete;
    HidrawHandle& operator=(const HidrawHandle&) = delete;

    bool GetFeature(std::uint8_t* buffer, std::size_t length) override {
        const int n = hid_get_feature_report(device_, buffer, length);
        return n >= 0 && static_cast<std::size_t>(n) == length;
    }

    bool SetFeature(const std::uint8_t* buffer, std::size_t length) override {
        const int n = hid_send_feature_report(device_, buffer, length);
        return n >= 0 && static_cast<std::size_t>(n) == length;
    }

private:
    hid_device* device_;
};

// What is left when the node cannot be opened for reading and writing: a handle that
// proves the device is there (opened without access rights) but transfers nothing.
class QueryOnlyHandle final : public HidHandle {
public:
    explicit QueryOnlyHandle(int fd) : fd_(fd) {}
    ~QueryOnlyHandle() override { ::close(fd_); }
    QueryOnlyHandle(const QueryOnlyHandle&) = delete;
    QueryOnlyHandle& operator=(const QueryOnlyHandle&) = delete;

    bool GetFeature(std::uint8_t*, std::size_t) override { return false; }
    bool SetFeature(const std::uint8_t*, std::size_t) override { return false; }

private:
    int fd_;
};

struct CachedStrings {
    std::u16string manufacturer;
    std::u16string product;
    std::u16string serialNumber;
};

}  // namespace

std::u16string WideToUtf16(const wchar_t* text) {
    std::u16string out;
    if (!text) return out;
    for (; *text; ++text) {
        auto c = static_cast<std::uint32_t>(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

struct HidapiBackend::Impl {
    udev* context = nullptr;
    std::unique_ptr<UdevChangeMonitor> monitor;
    std::map<std::string, CachedStrings> strings;  // by identity

    ~Impl() {
        monitor.reset();
        if (context) udev_unref(context);
    }
};

HidapiBackend::HidapiBackend(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<HidapiBackend> HidapiBackend::Create(std::string* error) {
    return Create(Options{}, error);
}

std::unique_ptr<HidapiBackend> HidapiBackend::Create(const Options& options, std::string* error) {
    auto fail = [&](std::string message) -> std::unique_ptr<HidapiBackend> {
        if (error) *error = std::move(message);
        return nullptr;
    };
    auto impl = std::make_unique<Impl>();
    // Only the device-change monitor needs a udev context of its own.
    if (options.monitor != Monitor::Never) {
        impl->context = udev_new();
        if (!impl->context) return fail("cannot start udev (libudev)");
    }
    if (hid_init() != 0) {
        const wchar_t* reason = hid_error(nullptr);
        std::string message = "cannot start the HID library (hidapi)";
        if (reason && *reason) message += ": " + ToUtf8(WideToUtf16(reason));
        return fail(message);
    }
    ++g_hidapiUsers;
    if (impl->context) impl->monitor = UdevChangeMonitor::Create(impl->context, options.monitor == Monitor::IfUdevRuns);
    return std::unique_ptr<HidapiBackend>(new HidapiBackend(std::move(impl)));
}

HidapiBackend::~HidapiBackend() {
    impl_.reset();
    if (--g_hidapiUsers == 0) hid_exit();
}

std::vector<HidInterfaceInfo> HidapiBackend::Enumerate() {
    std::vector<HidInterfaceInfo> result;
    std::map<std::string, CachedStrings> strings;
    for (HidrawNode& node : ListHidrawNodes()) {
        HidInterfaceInfo info;
        info.identity = node.identity;
        info.path = std::move(node.path);
        info.vendorId = node.vendorId;
        info.productId = node.productId;
        info.versionNumber = node.versionNumber;
        strings[node.identity] =
            CachedStrings{FromUtf8(node.manufacturer), FromUtf8(node.product), FromUtf8(node.serial)};
        result.push_back(std::move(info));
    }
    impl_->strings = std::move(strings);
    return result;
}

HidOpenResult HidapiBackend::Open(const HidInterfaceInfo& device) {
    HidOpenResult result;
    if (hid_device* handle = hid_open_path(device.path.c_str())) {
        result.handle = std::make_unique<HidrawHandle>(handle);
        result.readWrite = true;
        return result;
    }
    // hidapi does not pass errno on; ask the node itself why (EACCES: no udev rule).
    const int probe = ::open(device.path.c_str(), O_RDWR | O_CLOEXEC);
    if (probe >= 0) {
        ::close(probe);
        result.error = EIO;  // the node opens, but hidapi could not use it
    } else {
        result.error = errno;
    }
    const int fd = ::open(device.path.c_str(), O_PATH | O_CLOEXEC);
    if (fd >= 0) result.handle = std::make_unique<QueryOnlyHandle>(fd);
    return result;
}

std::optional<std::u16string> HidapiBackend::ReadString(const HidInterfaceInfo& device, HidString which) {
    const auto it = impl_->strings.find(device.identity);
    if (it == impl_->strings.end()) return std::nullopt;
    switch (which) {
        case HidString::Manufacturer:
            return it->second.manufacturer;
        case HidString::Product:
            return it->second.product;
        case HidString::SerialNumber:
            return it->second.serialNumber;
    }
    return std::nullopt;
}

int HidapiBackend::ChangeFd() const {
    return impl_->monitor ? impl_->monitor->Fd() : -1;
}

bool HidapiBackend::TakeChange() {
    return impl_->monitor ? impl_->monitor->Drain() : true;
}

int HidapiBackend::RescanIntervalMs() const {
    return impl_->monitor ? 0 : kRescanIntervalMs;
}

bool HidapiBackend::HasMonitor() const {
    return impl_->monitor != nullptr;
}

}  // namespace quelvan
