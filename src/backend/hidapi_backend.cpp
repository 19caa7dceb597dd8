#include "backend/hidapi_backend.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>

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

// The strings in sysfs are UTF-8 and hidapi converts them with the C library, which
// follows LC_CTYPE: in the "C" locale every non-ASCII string would come back empty.
// A thread-local UTF-8 locale for the duration of the listing avoids that without
// touching the program's own locale.
class ScopedUtf8Ctype {
public:
    explicit ScopedUtf8Ctype(locale_t utf8) : previous_(utf8 ? uselocale(utf8) : nullptr) {}
    ~ScopedUtf8Ctype() {
        if (previous_) uselocale(previous_);
    }
    ScopedUtf8Ctype(const ScopedUtf8Ctype&) = delete;
    ScopedUtf8Ctype& operator=(const ScopedUtf8Ctype&) = delete;

private:
    locale_t previous_;
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
    locale_t utf8 = nullptr;
    std::map<std::string, CachedStrings> strings;  // by identity

    ~Impl() {
        monitor.reset();
        if (context) udev_unref(context);
        if (utf8) freelocale(utf8);
    }

    // Empty when the hidraw node is not (or no longer) known to sysfs. The class link names
    // the device's folder; one readlink and one stat, where a udev lookup would walk and
    // parse the whole chain of folders again right after the listing did.
    static std::string IdentityOf(std::string_view path) {
        const auto slash = path.rfind('/');
        const std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
        if (name.rfind("hidraw", 0) != 0 || name.find('/') != std::string::npos) return {};
        const std::string link = "/sys/class/hidraw/" + name;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0) return {};
        struct stat folder {};
        if (::stat(link.c_str(), &folder) != 0) return {};
        const std::filesystem::path syspath =
            (std::filesystem::path("/sys/class/hidraw") / std::string(target, static_cast<std::size_t>(length)))
                .lexically_normal();
        return syspath.string() + '#' + std::to_string(folder.st_ino);
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
    impl->utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
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
    hid_device_info* list = nullptr;
    {
        ScopedUtf8Ctype utf8(impl_->utf8);
        list = hid_enumerate(0, 0);
    }
    // One hidraw node can be listed once per top-level collection; it is one interface.
    std::set<std::string> seenPaths;
    for (const hid_device_info* d = list; d; d = d->next) {
        if (!d->path || !seenPaths.insert(d->path).second) continue;
        std::string identity = Impl::IdentityOf(d->path);
        if (identity.empty()) continue;  // gone while we were listing
        HidInterfaceInfo info;
        info.identity = identity;
        info.path = d->path;
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        info.versionNumber = d->release_number;
        strings[identity] = CachedStrings{WideToUtf16(d->manufacturer_string), WideToUtf16(d->product_string),
                                          WideToUtf16(d->serial_number)};
        result.push_back(std::move(info));
    }
    hid_free_enumeration(list);
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
