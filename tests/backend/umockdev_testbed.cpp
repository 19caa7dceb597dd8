#include "umockdev_testbed.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>

namespace quelvan::umock {

namespace {

constexpr int kHidrawMajor = 241;
constexpr const char* kGenerationKey = "quelvan-node-generation";

// One vendor-defined application collection with the board's feature reports.
const std::vector<std::uint8_t> kReportDescriptor = {
    0x06, 0x00, 0xFF,                                      // usage page (vendor defined)
    0x09, 0x01,                                            // usage 1
    0xA1, 0x01,                                            // collection (application)
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,              // logical 0..255, 8 bits
    0x85, 0x01, 0x95, 41,   0x09, 0x00, 0xB2, 0x02, 0x01,  // report 1: 41 bytes
    0x85, 0x02, 0x95, 27,   0x09, 0x00, 0xB2, 0x02, 0x01,  // report 2: 27 bytes
    0x85, 0x03, 0x95, 27,   0x09, 0x00, 0xB2, 0x02, 0x01,  // report 3: 27 bytes
    0x85, 0x04, 0x95, 16,   0x09, 0x00, 0xB2, 0x02, 0x01,  // report 4: 16 bytes
    0x85, 0x05, 0x95, 28,   0x09, 0x00, 0xB2, 0x02, 0x01,  // report 5: 28 bytes
    0x85, 0x06, 0x95, 24,   0x09, 0x00, 0xB2, 0x02, 0x01,  // report 6: 24 bytes
    0xC0,                                                  // end collection
};

std::string Hex4(unsigned value, bool upper) {
    char text[8];
    std::snprintf(text, sizeof text, upper ? "%04X" : "%04x", value & 0xFFFF);
    return text;
}

std::string Hex8Upper(unsigned value) {
    char text[12];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// The emulation of one /dev/hidrawN path. It outlives plugs: a node path is attached to
// umockdev once, and whichever device currently owns it answers. Clients remember the
// generation they opened, so handles of an unplugged device keep failing.
struct NodeEmulation {
    std::string devnode;
    std::mutex mutex;
    std::shared_ptr<EmulatedBoard> board;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool present = false;
    int generation = 0;
};

void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* node = static_cast<NodeEmulation*>(data);
    std::lock_guard lock(node->mutex);
    g_object_set_data(G_OBJECT(client), kGenerationKey, GINT_TO_POINTER(node->present ? node->generation : -1));
}

void Complete(UMockdevIoctlClient* client, int result) {
    if (result < 0) {
        umockdev_ioctl_client_complete(client, -1, -result);
    } else {
        umockdev_ioctl_client_complete(client, result, 0);
    }
}

// Resolves `length` bytes behind the ioctl argument, runs `fill` on them and completes.
template <typename Fill>
void WithBuffer(UMockdevIoctlClient* client, std::size_t length, Fill fill) {
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, length, &error);
    if (!data) {
        g_clear_error(&error);
        Complete(client, -EFAULT);
        return;
    }
    Complete(client, fill(data->data));
    g_object_unref(data);
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* node = static_cast<NodeEmulation*>(data);
    std::shared_ptr<EmulatedBoard> board;
    std::uint16_t vendorId = 0, productId = 0;
    {
        std::lock_guard lock(node->mutex);
        const int generation = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(client), kGenerationKey));
        if (!node->present || generation != node->generation) {
            Complete(client, -ENODEV);
            return TRUE;
        }
        board = node->board;
        vendorId = node->vendorId;
        productId = node->productId;
    }
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const std::size_t size = _IOC_SIZE(request);
    if (request == HIDIOCGRDESCSIZE) {
        WithBuffer(client, sizeof(int), [](std::uint8_t* p) {
            const int n = static_cast<int>(kReportDescriptor.size());
            std::memcpy(p, &n, sizeof n);
            return 0;
        });
    } else if (request == HIDIOCGRDESC) {
        WithBuffer(client, sizeof(hidraw_report_descriptor), [](std::uint8_t* p) {
            hidraw_report_descriptor descriptor{};
            descriptor.size = static_cast<__u32>(kReportDescriptor.size());
            std::copy(kReportDescriptor.begin(), kReportDescriptor.end(), descriptor.value);
            std::memcpy(p, &descriptor, sizeof descriptor);
            return 0;
        });
    } else if (request == HIDIOCGRAWINFO) {
        WithBuffer(client, sizeof(hidraw_devinfo), [&](std::uint8_t* p) {
            hidraw_devinfo info{BUS_USB, static_cast<__s16>(vendorId), static_cast<__s16>(productId)};
            std::memcpy(p, &info, sizeof info);
            return 0;
        });
    } else if (request == HIDIOCGFEATURE(size) && size > 0) {
        WithBuffer(client, size, [&](std::uint8_t* p) { return board ? board->Get(p, size) : -EPIPE; });
    } else if (request == HIDIOCSFEATURE(size) && size > 0) {
        WithBuffer(client, size, [&](std::uint8_t* p) { return board ? board->Set(p, size) : -EPIPE; });
    } else {
        Complete(client, -ENOTTY);
    }
    return TRUE;
}

struct Plugged {
    std::string usbPath, interfacePath, hidPath, hidrawPath;
    std::string devnode;
    int port = 0;
    int minor = 0;
};

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string TakeString(gchar* text) {
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

}  // namespace

struct UmockdevTestbed::Impl {
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    std::map<std::string, std::unique_ptr<NodeEmulation>> nodes;  // by /dev path
    std::map<int, Plugged> plugged;
    std::vector<UMockdevIoctlBase*> handlers;
    int nextId = 1;
    unsigned nextHidNumber = 1;

    ~Impl() {
        if (testbed) g_object_unref(testbed);
        for (auto* handler : handlers) g_object_unref(handler);
    }

    NodeEmulation& NodeFor(const std::string& devnode) {
        auto& slot = nodes[devnode];
        if (slot) return *slot;
        slot = std::make_unique<NodeEmulation>();
        slot->devnode = devnode;
        UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "client-connected", G_CALLBACK(OnClientConnected), slot.get());
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), slot.get());
        handlers.push_back(handler);
        GError* error = nullptr;
        if (!umockdev_testbed_attach_ioctl(testbed, devnode.c_str(), handler, &error)) {
            std::string message = error ? error->message : "unknown error";
            g_clear_error(&error);
            throw std::runtime_error("cannot emulate " + devnode + ": " + message);
        }
        return *slot;
    }

    template <typename Used>
    static int LowestFree(const std::map<int, Plugged>& plugged, Used used) {
        std::set<int> taken;
        for (const auto& [id, p] : plugged) taken.insert(used(p));
        int n = 0;
        while (taken.count(n)) ++n;
        return n;
    }
};

EmulatedUsbDevice EmulatedBootloader(int variant) {
    EmulatedUsbDevice device;
    device.product = std::to_string(variant);
    device.serial.clear();
    device.bcdDevice = 0x0100;
    return device;
}

UmockdevTestbed::UmockdevTestbed(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

UmockdevTestbed::~UmockdevTestbed() = default;

std::unique_ptr<UmockdevTestbed> UmockdevTestbed::Start(std::string* error) {
    // umockdev_in_mock_environment() only becomes true once a testbed exists.
    const char* preload = std::getenv("LD_PRELOAD");
    if (!preload || !std::strstr(preload, "umockdev-preload")) {
        if (error) *error = "not running under umockdev-wrapper (the umockdev preload library is not loaded)";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->testbed = umockdev_testbed_new();
    impl->root = TakeString(umockdev_testbed_get_root_dir(impl->testbed));
    return std::unique_ptr<UmockdevTestbed>(new UmockdevTestbed(std::move(impl)));
}

int UmockdevTestbed::Plug(const EmulatedUsbDevice& device, std::shared_ptr<EmulatedBoard> board) {
    Impl& d = *impl_;
    Plugged p;
    p.port = 1 + Impl::LowestFree(d.plugged, [](const Plugged& x) { return x.port - 1; });
    p.minor = Impl::LowestFree(d.plugged, [](const Plugged& x) { return x.minor; });
    const std::string usbName = "1-" + std::to_string(p.port);
    const std::string hidName = "0003:" + Hex4(device.vendorId, true) + ":" + Hex4(device.productId, true) + "." +
                                Hex4(d.nextHidNumber++, true);
    const std::string hidrawName = "hidraw" + std::to_string(p.minor);
    const std::string devNumber = std::to_string(kHidrawMajor) + ":" + std::to_string(p.minor);
    p.devnode = "/dev/" + hidrawName;

    p.usbPath = TakeString(umockdev_testbed_add_device(
        d.testbed, "usb", usbName.c_str(), nullptr, "idVendor", Hex4(device.vendorId, false).c_str(), "idProduct",
        Hex4(device.productId, false).c_str(), "bcdDevice", Hex4(device.bcdDevice, false).c_str(), "manufacturer",
        device.manufacturer.c_str(), "product", device.product.c_str(), "serial", device.serial.c_str(), "busnum", "1",
        "devnum", std::to_string(p.port + 1).c_str(), nullptr, "DEVTYPE", "usb_device", nullptr));
    p.interfacePath = TakeString(
        umockdev_testbed_add_device(d.testbed, "usb", (usbName + ":1.0").c_str(), p.usbPath.c_str(), "bInterfaceNumber",
                                    "00", "bInterfaceClass", "03", nullptr, "DEVTYPE", "usb_interface", nullptr));
    const std::string hidId = "0003:" + Hex8Upper(device.vendorId) + ":" + Hex8Upper(device.productId);
    const std::string hidNameProperty = device.manufacturer + " " + device.product;
    p.hidPath = TakeString(umockdev_testbed_add_device(
        d.testbed, "hid", hidName.c_str(), p.interfacePath.c_str(), nullptr, "HID_ID", hidId.c_str(), "HID_NAME",
        hidNameProperty.c_str(), "HID_UNIQ", device.serial.c_str(), nullptr));
    std::vector<guint8> descriptor(kReportDescriptor.begin(), kReportDescriptor.end());
    umockdev_testbed_set_attribute_binary(d.testbed, p.hidPath.c_str(), "report_descriptor", descriptor.data(),
                                          static_cast<gint>(descriptor.size()));

    // The node and its emulation must be in place before "add" goes out with the device.
    // (umockdev removes an empty /dev folder along with the last device.)
    ::mkdir((d.root + "/dev").c_str(), 0755);
    WriteFile(d.root + p.devnode, "");
    NodeEmulation& node = d.NodeFor(p.devnode);
    {
        std::lock_guard lock(node.mutex);
        node.board = std::move(board);
        node.vendorId = device.vendorId;
        node.productId = device.productId;
        node.present = true;
        ++node.generation;
    }
    p.hidrawPath = TakeString(umockdev_testbed_add_device(
        d.testbed, "hidraw", hidrawName.c_str(), p.hidPath.c_str(), "dev", devNumber.c_str(), nullptr, "DEVNAME",
        hidrawName.c_str(), "MAJOR", std::to_string(kHidrawMajor).c_str(), "MINOR", std::to_string(p.minor).c_str(),
        nullptr));
    const int id = d.nextId++;
    d.plugged[id] = p;
    return id;
}

void UmockdevTestbed::Unplug(int id) {
    Impl& d = *impl_;
    const auto it = d.plugged.find(id);
    if (it == d.plugged.end()) return;
    const Plugged p = it->second;
    d.plugged.erase(it);

    const std::string hidrawName = p.devnode.substr(5);
    ::unlink((d.root + "/sys/class/hidraw/" + hidrawName).c_str());
    ::unlink((d.root + p.devnode).c_str());
    ::unlink((d.root + "/sys/dev/char/" + std::to_string(kHidrawMajor) + ":" + std::to_string(p.minor)).c_str());
    {
        NodeEmulation& node = *d.nodes.at(p.devnode);
        std::lock_guard lock(node.mutex);
        node.present = false;
        node.board.reset();
    }
    // The event must go out while the device's sysfs folder still exists.
    umockdev_testbed_uevent(d.testbed, p.hidrawPath.c_str(), "remove");
    for (const std::string* path : {&p.hidrawPath, &p.hidPath, &p.interfacePath, &p.usbPath}) {
        umockdev_testbed_remove_device(d.testbed, path->c_str());
    }
}

bool UmockdevTestbed::IsPlugged(int id) const {
    return impl_->plugged.count(id) != 0;
}

std::string UmockdevTestbed::NodePath(int id) const {
    const auto it = impl_->plugged.find(id);
    return it == impl_->plugged.end() ? std::string() : it->second.devnode;
}

std::string UmockdevTestbed::SysPath(int id) const {
    const auto it = impl_->plugged.find(id);
    return it == impl_->plugged.end() ? std::string() : it->second.hidrawPath;
}

const std::string& UmockdevTestbed::RootDir() const {
    return impl_->root;
}

ProgramResult UmockdevTestbed::Run(const std::vector<std::string>& argv) const {
    ProgramResult result;
    if (argv.empty()) return result;
    static int runCount = 0;
    const std::string stem = impl_->root + "/run" + std::to_string(++runCount);
    const std::string outPath = stem + ".out", errPath = stem + ".err";

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return result;
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

}  // namespace quelvan::umock
