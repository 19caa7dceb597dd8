#include "backend/hidraw_sysfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

namespace quelvan {

namespace {

constexpr unsigned kBusUsb = 0x03;
constexpr unsigned kBusBluetooth = 0x05;
constexpr unsigned kBusI2c = 0x18;

// A sysfs attribute without its line end; false when it cannot be read.
bool ReadAttribute(const std::string& path, std::string& value) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    value.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        value.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return true;
}

std::string Parent(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

struct Uevent {
    unsigned bus = 0;
    std::uint16_t vendorId = 0, productId = 0;
    std::string name, unique;
    bool hasId = false;
};

// HID_ID=0003:000016C0:000005DF, HID_NAME=..., HID_UNIQ=...
Uevent ParseHidUevent(const std::string& text) {
    Uevent u;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        if (line.rfind("HID_ID=", 0) == 0) {
            const std::string value(line.substr(7));
            char* rest = nullptr;
            u.bus = static_cast<unsigned>(std::strtoul(value.c_str(), &rest, 16));
            if (rest && *rest == ':') {
                u.vendorId = static_cast<std::uint16_t>(std::strtoul(rest + 1, &rest, 16));
                if (rest && *rest == ':') {
                    u.productId = static_cast<std::uint16_t>(std::strtoul(rest + 1, &rest, 16));
                    u.hasId = true;
                }
            }
        } else if (line.rfind("HID_NAME=", 0) == 0) {
            u.name = std::string(line.substr(9));
        } else if (line.rfind("HID_UNIQ=", 0) == 0) {
            u.unique = std::string(line.substr(9));
        }
        start = end + 1;
    }
    return u;
}

struct NodeFolder {
    std::string syspath;
    std::string identity;
};

NodeFolder Resolve(std::string_view node, const std::string& sysRoot) {
    const auto slash = node.rfind('/');
    const std::string name(slash == std::string_view::npos ? node : node.substr(slash + 1));
    if (name.rfind("hidraw", 0) != 0 || name.size() == 6) return {};
    const std::string link = sysRoot + "/class/hidraw/" + name;
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) return {};
    struct stat folder {};
    if (::stat(link.c_str(), &folder) != 0) return {};
    NodeFolder f;
    f.syspath =
        (std::filesystem::path(sysRoot + "/class/hidraw") / std::string(target, static_cast<std::size_t>(length)))
            .lexically_normal()
            .string();
    f.identity = f.syspath + '#' + std::to_string(folder.st_ino);
    return f;
}

// The USB device above a HID device: the nearest folder with a vendor id (the interface
// in between has none).
std::string UsbDeviceAbove(const std::string& hidFolder, const std::string& sysRoot) {
    const std::string devices = sysRoot + "/devices";
    for (std::string dir = Parent(hidFolder); dir.size() > devices.size(); dir = Parent(dir))
        if (::access((dir + "/idVendor").c_str(), F_OK) == 0) return dir;
    return {};
}

}  // namespace

std::string UsbPortOf(std::string_view identity) {
    identity = identity.substr(0, identity.find('#'));
    // The USB interface's folder is named "<bus>-<port>[.<port>...]:<configuration>.<interface>".
    std::size_t start = 0;
    while (start < identity.size()) {
        std::size_t end = identity.find('/', start);
        if (end == std::string_view::npos) end = identity.size();
        const std::string_view part = identity.substr(start, end - start);
        start = end + 1;
        const std::size_t colon = part.find(':');
        const std::size_t dash = part.find('-');
        if (colon == std::string_view::npos || dash == std::string_view::npos || dash == 0 || dash > colon) continue;
        const std::string_view port = part.substr(0, colon);
        const bool portDigits = std::all_of(port.begin(), port.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.';
        });
        const std::string_view interface = part.substr(colon + 1);
        const bool interfaceDigits = !interface.empty() && std::all_of(interface.begin(), interface.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) || c == '.';
        });
        if (portDigits && interfaceDigits && dash + 1 < colon) return std::string(port);
    }
    return {};
}

std::string HidrawIdentity(std::string_view node, const std::string& sysRoot) {
    return Resolve(node, sysRoot).identity;
}

std::vector<HidrawNode> ListHidrawNodes(const std::string& sysRoot) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir((sysRoot + "/class/hidraw").c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (std::string_view(entry->d_name).rfind("hidraw", 0) == 0) names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    // hidraw0, hidraw1, ..., hidraw10: in the kernel's order of numbers.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });

    std::vector<HidrawNode> nodes;
    for (const std::string& name : names) {
        const NodeFolder folder = Resolve(name, sysRoot);
        if (folder.identity.empty()) continue;  // gone while we were listing
        // The HID device above the node (the kernel puts a "hidraw" folder in between).
        std::string hidFolder;
        Uevent hid;
        const std::string devices = sysRoot + "/devices";
        for (std::string dir = Parent(folder.syspath); dir.size() > devices.size() && !hid.hasId; dir = Parent(dir)) {
            std::string text;
            if (!ReadAttribute(dir + "/uevent", text)) continue;
            hid = ParseHidUevent(text);
            hidFolder = dir;
        }
        if (!hid.hasId) continue;

        HidrawNode node;
        node.identity = folder.identity;
        node.path = "/dev/" + name;
        node.vendorId = hid.vendorId;
        node.productId = hid.productId;
        node.serial = hid.unique;
        if (hid.bus == kBusUsb) {
            if (const std::string usb = UsbDeviceAbove(hidFolder, sysRoot); !usb.empty()) {
                ReadAttribute(usb + "/manufacturer", node.manufacturer);
                ReadAttribute(usb + "/product", node.product);
                if (std::string release; ReadAttribute(usb + "/bcdDevice", release))
                    node.versionNumber = static_cast<std::uint16_t>(std::strtoul(release.c_str(), nullptr, 16));
            } else {
                node.product = hid.name;  // a virtual USB device
            }
        } else if (hid.bus == kBusBluetooth || hid.bus == kBusI2c) {
            node.product = hid.name;
        } else {
            continue;
        }
        nodes.push_back(std::move(node));
    }
    return nodes;
}

}  // namespace quelvan
