#pragma once
// The hidraw interfaces as the kernel lists them in sysfs, with what the HID layer and the
// USB device say about them: the same facts a listing through libudev gathers, read
// straight from the few files that hold them (a command that lists once and ends spends
// most of its time otherwise walking udev's view of the device tree).
//
// For each /sys/class/hidraw/hidrawN: the uevent of the HID device above it gives bus,
// vendor and product (HID_ID), name (HID_NAME) and unique id (HID_UNIQ, the serial number).
// A USB device's manufacturer and product strings and release number (bcdDevice) come from
// the USB device above the interface; a virtual USB device without one, a Bluetooth or an
// I2C device has no manufacturer string and its HID name as product string. Other buses are
// left out.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelvan {

struct HidrawNode {
    std::string identity;  // resolved sysfs path of the node and the inode of its folder
    std::string path;      // "/dev/hidrawN"
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
    std::string manufacturer, product, serial;  // UTF-8 as the kernel keeps them
};

// `sysRoot` is where sysfs is mounted ("/sys"); tests point it at a folder of their own.
std::vector<HidrawNode> ListHidrawNodes(const std::string& sysRoot = "/sys");

// The identity of node "hidrawN" (or "/dev/hidrawN"), empty when sysfs does not know it.
std::string HidrawIdentity(std::string_view node, const std::string& sysRoot = "/sys");

// The USB port a node's identity lies behind ("1-2.3": bus 1, port 2, then port 3 of a hub),
// which stays the same when the device restarts on that port; empty when the identity is
// not a USB device's (another backend's, the simulator's).
std::string UsbPortOf(std::string_view identity);

}  // namespace quelvan
