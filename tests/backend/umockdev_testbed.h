#pragma once
// Emulated USB HID devices for running the real hidapi/libudev backend (or a whole program
// built on it) without hardware: umockdev fakes the sysfs tree, the /dev nodes, the udev
// events and the hidraw ioctls.
//
// The process that creates the testbed must run under `umockdev-wrapper`; programs it
// starts inherit the emulation through LD_PRELOAD and UMOCKDEV_DIR. The ioctls of every
// process are answered on umockdev's worker thread, so the creating process may simply
// block while a child program runs.
//
//     std::string error;
//     auto testbed = UmockdevTestbed::Start(&error);   // nullptr + reason when not wrapped
//     auto board = std::make_shared<EmulatedBoard>();
//     int id = testbed->Plug(EmulatedUsbDevice{}, board);  // the board on /dev/hidraw0
//     ... run the backend or quelvanctl; inspect board->Transfers() ...
//     testbed->Unplug(id);                           // "remove" event, node gone
//
// Unplugging and plugging in again reuses the lowest free USB port and hidraw number, as
// the kernel does, but the HID device gets a new name, as the kernel numbers those afresh.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulated_board.h"

namespace quelvan::umock {

// What the USB device says about itself (strings in UTF-8).
struct EmulatedUsbDevice {
    std::uint16_t vendorId = 0x16C0;
    std::uint16_t productId = 0x05DF;
    std::uint16_t bcdDevice = 0x0104;
    std::string manufacturer = "www.dravik.info";
    std::string product = "Quelvan2";
    std::string serial = "QV2-000123";
};

// A bootloader of the given variant ("1" or "2") under the board's IDs.
EmulatedUsbDevice EmulatedBootloader(int variant);

// What a program run inside the testbed printed, and how it ended.
struct ProgramResult {
    int exitCode = -1;  // -1: did not end normally (signal, could not start)
    std::string out;
    std::string err;
};

class UmockdevTestbed {
public:
    // nullptr with a reason in `error` when the process does not run under umockdev-wrapper.
    static std::unique_ptr<UmockdevTestbed> Start(std::string* error);
    ~UmockdevTestbed();
    UmockdevTestbed(const UmockdevTestbed&) = delete;
    UmockdevTestbed& operator=(const UmockdevTestbed&) = delete;

    // Plugs a device in and announces it ("add"). Its hidraw node answers feature reports
    // from `board`; without a board every transfer stalls. Returns the plug's id.
    int Plug(const EmulatedUsbDevice& device, std::shared_ptr<EmulatedBoard> board);
    int PlugBoard(std::shared_ptr<EmulatedBoard> board) { return Plug(EmulatedUsbDevice{}, std::move(board)); }
    // Announces the removal ("remove") and takes the device away. Handles still open on
    // its node fail from now on with ENODEV, also after a new device took the same node.
    void Unplug(int id);
    bool IsPlugged(int id) const;

    std::string NodePath(int id) const;  // "/dev/hidraw0"
    std::string SysPath(int id) const;   // the hidraw device's sysfs path
    const std::string& RootDir() const;  // where umockdev keeps the fake /sys and /dev

    // Runs a program inside the testbed (argv[0] as a path or a name in PATH) and waits
    // for it; stdin is /dev/null.
    ProgramResult Run(const std::vector<std::string>& argv) const;

    struct Impl;

private:
    explicit UmockdevTestbed(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace quelvan::umock
