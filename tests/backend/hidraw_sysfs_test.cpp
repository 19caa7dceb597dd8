// The hidraw listing on a sysfs tree built in a scratch folder the way the kernel lays it
// out: which nodes are listed, in which order, with which ids and strings, and identities
// that hold while a device stays and change when it comes back.

#include "backend/hidraw_sysfs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace quelvan {
namespace {

namespace fs = std::filesystem;

struct FakeDevice {
    std::string node;                                             // "hidraw0"
    std::string hidId;                                            // HID_ID value, empty: no HID_ID line
    std::string name, unique;                                     // HID_NAME, HID_UNIQ
    bool usbParent = true;                                        // a USB device two folders above the HID device
    std::optional<std::string> manufacturer, product, bcdDevice;  // USB attributes (with line end)
};

class FakeSysfs {
public:
    FakeSysfs() {
        char pattern[] = "/tmp/quelvan-sysfs-XXXXXX";
        root_ = ::mkdtemp(pattern);
        fs::create_directories(root_ / "class/hidraw");
    }
    ~FakeSysfs() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // The kernel's layout: .../usbN/1-P/1-P:1.0/0003:VVVV:PPPP.NNNN/hidraw/hidrawM, with the
    // class link pointing at the node's folder.
    void Add(const FakeDevice& d, int port) {
        const fs::path usb = root_ / "devices/pci0000:00/usb1" / ("1-" + std::to_string(port));
        const fs::path intf = usb / ("1-" + std::to_string(port) + ":1.0");
        const fs::path hid = intf / ("0003:16C0:05DF.000" + std::to_string(++hidNumber_));
        const fs::path node = hid / "hidraw" / d.node;
        fs::create_directories(node);
        Write(node / "uevent", "MAJOR=241\nMINOR=0\nDEVNAME=" + d.node + "\n");
        std::string uevent = "DRIVER=hid-generic\n";
        if (!d.hidId.empty()) uevent += "HID_ID=" + d.hidId + "\n";
        uevent += "HID_NAME=" + d.name + "\nHID_PHYS=usb-0000:00:14.0-1/input0\nHID_UNIQ=" + d.unique + "\n";
        Write(hid / "uevent", uevent);
        Write(intf / "uevent", "DEVTYPE=usb_interface\n");
        Write(intf / "bInterfaceNumber", "00\n");
        if (d.usbParent) {
            Write(usb / "idVendor", "16c0\n");
            if (d.manufacturer) Write(usb / "manufacturer", *d.manufacturer);
            if (d.product) Write(usb / "product", *d.product);
            if (d.bcdDevice) Write(usb / "bcdDevice", *d.bcdDevice);
        }
        fs::create_directory_symlink(fs::relative(node, root_ / "class/hidraw"), root_ / "class/hidraw" / d.node);
    }

    void Remove(const std::string& node) {
        const fs::path link = root_ / "class/hidraw" / node;
        const fs::path target = fs::canonical(link);
        fs::remove(link);
        fs::remove_all(target.parent_path().parent_path().parent_path().parent_path());  // the port
    }

    std::string Root() const { return root_.string(); }

private:
    static void Write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

    fs::path root_;
    int hidNumber_ = 0;
};

const HidrawNode* Find(const std::vector<HidrawNode>& nodes, const std::string& path) {
    for (const auto& n : nodes)
        if (n.path == path) return &n;
    return nullptr;
}

TEST(HidrawSysfs, ListsEachNodeWithItsIdsAndStrings) {
    struct Case {
        FakeDevice device;
        bool listed;
        std::uint16_t vendorId, productId, version;
        std::string manufacturer, product, serial;
    };
    constexpr auto none = std::nullopt;
    const std::vector<Case> cases = {
        // USB: strings and release from the USB device, without their line ends; UTF-8 kept.
        {{"hidraw0", "0003:000016C0:000005DF", "www.dravik.info Quelvan2", "QV2-000123", true, "www.dravik.info\n",
          "Quelvan2\n", "0104\n"},
         true,
         0x16C0,
         0x05DF,
         0x0104,
         "www.dravik.info",
         "Quelvan2",
         "QV2-000123"},
        {{"hidraw1", "0003:0000046D:0000C31C", "Logitech USB Keyboard", "", true, "Müller Gerätebau\n",
          "Tastatur \xF0\x9F\x8E\xB9\n", none},
         true,
         0x046D,
         0xC31C,
         0,
         "Müller Gerätebau",
         "Tastatur \xF0\x9F\x8E\xB9",
         ""},
        // A USB device without string descriptors.
        {{"hidraw2", "0003:00001234:00005678", "1234:5678", "", true, none, none, "0200\n"},
         true,
         0x1234,
         0x5678,
         0x0200,
         "",
         "",
         ""},
        // Virtual USB (no USB device above), Bluetooth and I2C: the HID name as product.
        {{"hidraw3", "0003:00000001:00000002", "uhid gadget", "u1", false, none, none, none},
         true,
         1,
         2,
         0,
         "",
         "uhid gadget",
         "u1"},
        {{"hidraw4", "0005:0000054C:000009CC", "Wireless Controller", "aa:bb", false, none, none, none},
         true,
         0x054C,
         0x09CC,
         0,
         "",
         "Wireless Controller",
         "aa:bb"},
        {{"hidraw5", "0018:000004F3:00003056", "Touchpad", "", false, none, none, none},
         true,
         0x04F3,
         0x3056,
         0,
         "",
         "Touchpad",
         ""},
        // Buses the listing leaves out, and a HID device without ids.
        {{"hidraw6", "0006:00000001:00000001", "virtual", "", false, none, none, none}, false, 0, 0, 0, "", "", ""},
        {{"hidraw7", "", "broken", "", true, "x\n", "y\n", none}, false, 0, 0, 0, "", "", ""},
    };
    FakeSysfs sysfs;
    int port = 0;
    for (const auto& c : cases) sysfs.Add(c.device, ++port);
    const auto nodes = ListHidrawNodes(sysfs.Root());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device.node);
        const HidrawNode* n = Find(nodes, "/dev/" + c.device.node);
        ASSERT_EQ(n != nullptr, c.listed);
        if (!n) continue;
        EXPECT_EQ(n->vendorId, c.vendorId);
        EXPECT_EQ(n->productId, c.productId);
        EXPECT_EQ(n->versionNumber, c.version);
        EXPECT_EQ(n->manufacturer, c.manufacturer);
        EXPECT_EQ(n->product, c.product);
        EXPECT_EQ(n->serial, c.serial);
        EXPECT_EQ(n->identity, HidrawIdentity(c.device.node, sysfs.Root()));
        EXPECT_EQ(n->identity.rfind(sysfs.Root() + "/devices/pci0000:00/usb1/", 0), 0u) << n->identity;
    }
}

TEST(HidrawSysfs, NodesComeInTheKernelsOrderOfNumbers) {
    FakeSysfs sysfs;
    int port = 0;
    for (const char* node : {"hidraw10", "hidraw2", "hidraw1"})
        sysfs.Add({node, "0003:000016C0:000005DF", "n", "", true, "m\n", "p\n", std::nullopt}, ++port);
    std::vector<std::string> paths;
    for (const auto& n : ListHidrawNodes(sysfs.Root())) paths.push_back(n.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/dev/hidraw1", "/dev/hidraw2", "/dev/hidraw10"}));
    EXPECT_TRUE(ListHidrawNodes(sysfs.Root() + "/nowhere").empty());
}

TEST(HidrawSysfs, IdentityHoldsWhilePluggedAndChangesWhenTheDeviceComesBack) {
    FakeSysfs sysfs;
    const FakeDevice board{"hidraw0", "0003:000016C0:000005DF", "b",          "",
                           true,      "www.dravik.info\n",      "Quelvan2\n", "0104\n"};
    sysfs.Add(board, 1);
    const std::string first = HidrawIdentity("/dev/hidraw0", sysfs.Root());
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(ListHidrawNodes(sysfs.Root()).at(0).identity, first);
    EXPECT_EQ(HidrawIdentity("hidraw0", sysfs.Root()), first);

    // Unplugged: unknown. Plugged again on the same port and node: a new HID device name.
    sysfs.Remove("hidraw0");
    EXPECT_TRUE(HidrawIdentity("hidraw0", sysfs.Root()).empty());
    EXPECT_TRUE(ListHidrawNodes(sysfs.Root()).empty());
    sysfs.Add(board, 1);
    const std::string second = HidrawIdentity("hidraw0", sysfs.Root());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(second, first);
    // The USB port it came back on stays: that is how the same board is told from another.
    EXPECT_EQ(UsbPortOf(first), "1-1");
    EXPECT_EQ(UsbPortOf(second), "1-1");
    const std::pair<const char*, const char*> ports[] = {
        {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.4/1-2.4:1.0/0003:16C0:05DF.0007/hidraw/hidraw3#9", "1-2.4"},
        {"/sys/devices/virtual/misc/uhid/0003:16C0:05DF.0001/hidraw/hidraw0#5", ""},
        {"/sys/devices/platform/i2c-1/i2c-ELAN:00/0018:04F3:3057.0002/hidraw/hidraw1#4", ""},
        {"board-1", ""},
        {"", ""},
    };
    for (const auto& [identity, port] : ports) EXPECT_EQ(UsbPortOf(identity), port) << identity;

    for (const char* odd : {"", "hidraw", "mouse0", "/dev/hidraw9"})
        EXPECT_TRUE(HidrawIdentity(odd, sysfs.Root()).empty()) << odd;
}

}  // namespace
}  // namespace quelvan
