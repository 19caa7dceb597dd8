#pragma once
// One run of quelvanctl against the HID devices: one controller, its initial notification
// delivered at once, the board found and connected the way the window connects it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "device/board_protocol.h"
#include "device/hid_device_controller.h"
#include "device/identification.h"
#include "device/transfer_trace.h"

namespace quelvan::cli {

// Why a command could not be carried out: the exit code and what to tell the user.
struct Failure {
    int exitCode = 0;
    std::string message;  // "error: ..."
    std::string hint;     // optional second line
};

struct DeviceListing {
    int index = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string manufacturer, product, serial;  // UTF-8
    DeviceRole role = DeviceRole::Other;
};

// A board or bootloader on the bus, as a command chooses among them.
struct FoundDevice {
    int index = 0;  // in the controller's list
    std::string identity;
    std::string path;    // the hidraw node (or the simulator's path)
    std::string serial;  // UTF-8, empty when the device has none
    DeviceRole role = DeviceRole::Other;
};

// Several boards on one computer (a tank each): the one a command works on is the one
// `wanted` names by serial number or path, or else the only one. Nullopt with no failure
// when none matches (or there is none); a failure (exit 2, listing them) when there are
// several and `wanted` is empty, or when `wanted` names more than one.
struct DeviceChoice {
    std::optional<FoundDevice> device;
    std::optional<Failure> failure;
};
DeviceChoice ChooseDevice(const std::vector<FoundDevice>& candidates, const std::string& wanted,
                          const std::string& what);
// One line per device: serial number (or "(none)") and path.
std::string DeviceListText(const std::vector<FoundDevice>& devices);

class BoardSession {
public:
    // `trace` (may be null) receives every transfer attempt.
    BoardSession(HidBackend& backend, const Clock& clock, TransferTraceFile* trace);
    ~BoardSession();
    BoardSession(const BoardSession&) = delete;
    BoardSession& operator=(const BoardSession&) = delete;

    // Every HID device with its identification strings and role; no transfers.
    std::vector<DeviceListing> ListDevices();

    // Finds the board (`device`: its serial number or path, needed when there are several),
    // acquires it, reads its live state, checks the firmware version and reads its
    // configuration. Afterwards Protocol() talks to the board.
    std::optional<Failure> Connect(const std::string& device = {});

    BoardProtocol& Protocol() { return protocol_; }

    // Turns a failed operation into the message for the user. `what` names the operation
    // ("writing the live state"); a board that could not be opened for lack of permission
    // gets the udev hint instead.
    Failure TransferFailure(const std::string& what, const TransferResult& result) const;
    // WriteDeviceConfig, with the report that failed named in the message.
    std::optional<Failure> WriteDeviceConfig();
    // The writes that follow import a settings file (HidDevice::AnnounceImport).
    void AnnounceImport() {
        if (board_) board_->AnnounceImport();
    }

    // For operations of several reports: the report IDs whose every attempt since
    // `firstTransfer` failed.
    std::vector<int> FailedReports(std::size_t firstTransfer) const;
    std::size_t TransferCount() const { return transfers_.size(); }

private:
    HidDeviceController controller_;
    BoardProtocol protocol_;
    TransferTraceFile* trace_;
    std::vector<TransferRecord> transfers_;
    HidDevice* board_ = nullptr;
};

}  // namespace quelvan::cli
