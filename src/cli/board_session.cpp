#include "cli/board_session.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

namespace quelvan::cli {

namespace {

const char* const kFlashHint =
    "hint: flash a firmware with 'quelvanctl flash FILE', or with the window's menu \"Datei\", \"Firmware "
    "aktualisieren...\"";
const char* const kUpdateHint =
    "hint: update the firmware with 'quelvanctl flash FILE', or with the window's menu \"Datei\", \"Firmware "
    "aktualisieren...\"";

}  // namespace

BoardSession::BoardSession(HidBackend& backend, const Clock& clock, TransferTraceFile* trace)
    : controller_(backend), protocol_(clock), trace_(trace) {
    controller_.SetTransferObserver([this](const TransferRecord& record) {
        transfers_.push_back(record);
        if (trace_) trace_->Write(record);
    });
}

BoardSession::~BoardSession() {
    protocol_.SetDevice(nullptr);
    if (board_) controller_.ReleaseDevice(board_);
}

std::vector<DeviceListing> BoardSession::ListDevices() {
    std::vector<DeviceListing> devices;
    controller_.OnEnumerate = [&](HidDevice& device, int index) {
        DeviceListing d;
        d.index = index;
        d.vendorId = device.VendorID();
        d.productId = device.ProductID();
        const std::u16string manufacturer = device.ManufacturerString();
        const std::u16string product = device.ProductString();
        d.manufacturer = ToUtf8(manufacturer);
        d.product = ToUtf8(product);
        d.serial = ToUtf8(device.SerialNumberString());
        d.role = IdentifyDevice(manufacturer, product);
        devices.push_back(std::move(d));
        return true;
    };
    controller_.OnDeviceChange = [this] { controller_.EnumerateDevices(); };
    controller_.ProcessNotifications();
    controller_.OnEnumerate = nullptr;
    controller_.OnDeviceChange = nullptr;
    return devices;
}

DeviceChoice ChooseDevice(const std::vector<FoundDevice>& candidates, const std::string& wanted,
                          const std::string& what) {
    std::vector<FoundDevice> matches;
    for (const FoundDevice& d : candidates)
        if (wanted.empty() || d.serial == wanted || d.path == wanted) matches.push_back(d);
    if (matches.size() == 1) return {matches.front(), std::nullopt};
    if (matches.empty()) return {};
    // A serial number can only pick one where the devices have different ones.
    std::set<std::string> serials;
    for (const FoundDevice& d : matches) serials.insert(d.serial);
    const bool bySerial = serials.size() == matches.size() && !serials.count(std::string());
    const std::string count = "error: " + std::to_string(matches.size()) + " " + what + "s";
    const std::string message = !wanted.empty()
                                    ? count + " match '" + wanted + "'; choose one by its path with --device:"
                                : bySerial ? count + " found; choose one with --device SERIAL (or its path):"
                                           : count + " found; choose one by its path with --device PATH:";
    return {std::nullopt, Failure{kExitUsage, message + "\n" + DeviceListText(matches), {}}};
}

std::string DeviceListText(const std::vector<FoundDevice>& devices) {
    std::string text;
    for (const FoundDevice& d : devices) {
        if (!text.empty()) text += "\n";
        text += "  " + (d.serial.empty() ? std::string("(no serial number)") : QuotedDeviceString(d.serial)) + "  " +
                QuotedDeviceString(d.path);
    }
    return text;
}

std::optional<Failure> BoardSession::Connect(const std::string& device) {
    std::vector<FoundDevice> boards, bootloaders;
    bool withSerials = !device.empty();
    controller_.OnEnumerate = [&](HidDevice& d, int index) {
        const DeviceRole role = IdentifyDevice(d.ManufacturerString(), d.ProductString());
        const bool bootloader = role == DeviceRole::Bootloader1 || role == DeviceRole::Bootloader2;
        if (role != DeviceRole::Board && !bootloader) return true;
        FoundDevice found{index, d.DeviceInstance(), d.DevicePath(),
                          withSerials ? ToUtf8(d.SerialNumberString()) : std::string(), role};
        (bootloader ? bootloaders : boards).push_back(std::move(found));
        return true;
    };
    controller_.OnDeviceChange = [this] { controller_.EnumerateDevices(); };
    controller_.ProcessNotifications();
    // The serial numbers are read only where they are needed to tell boards apart.
    if (!withSerials && boards.size() > 1) {
        withSerials = true;
        boards.clear();
        bootloaders.clear();
        controller_.EnumerateDevices();
    }
    controller_.OnEnumerate = nullptr;
    controller_.OnDeviceChange = nullptr;

    const DeviceChoice choice = ChooseDevice(boards, device, "board");
    if (choice.failure) return choice.failure;
    if (choice.device) board_ = controller_.AcquireDevice(choice.device->index);
    if (!board_) {
        if (!device.empty()) {
            return Failure{kExitNoBoard, "error: no board with the serial number or path '" + device + "'",
                           boards.empty() ? std::string() : "hint: the boards present:\n" + DeviceListText(boards)};
        }
        if (!bootloaders.empty()) {
            return Failure{kExitNoBoard,
                           std::string("error: only the board's bootloader (") + RoleName(bootloaders.front().role) +
                               ") was found; the board waits for a firmware update",
                           kFlashHint};
        }
        return Failure{kExitNoBoard, "error: no Quelvan 2.x board found", {}};
    }
    protocol_.SetDevice(board_);

    const TransferResult live = protocol_.ReadLiveState();
    if (!live.ok) return TransferFailure("reading the live state", live);

    const int version = protocol_.live.FirmwareVersion;
    if (version != kSupportedFirmwareVersion) {
        const std::string hint = kUpdateHint;
        if (version == 0) return Failure{kExitNoBoard, "error: the board runs an older firmware (version 0)", hint};
        return Failure{kExitNoBoard,
                       "error: the board runs firmware version " + std::to_string(version) +
                           "; quelvanctl needs version " + std::to_string(kSupportedFirmwareVersion),
                       hint};
    }

    const std::size_t first = transfers_.size();
    const TransferResult config = protocol_.ReadDeviceConfig();
    if (!config.ok) {
        Failure failure = TransferFailure("reading the configuration", config);
        const std::vector<int> failed = FailedReports(first);
        if (failure.exitCode == kExitTransferFailed && !failed.empty())
            failure.message = "error: reading the configuration failed at report " + std::to_string(failed.front());
        return failure;
    }
    return std::nullopt;
}

std::optional<Failure> BoardSession::WriteDeviceConfig() {
    const std::size_t first = transfers_.size();
    const TransferResult r = protocol_.WriteDeviceConfig();
    if (r.ok) return std::nullopt;
    Failure failure = TransferFailure("writing the configuration", r);
    const std::vector<int> failed = FailedReports(first);
    if (failure.exitCode == kExitTransferFailed && !failed.empty()) {
        failure.message = "error: writing the configuration failed: report " + std::to_string(failed.front()) +
                          " failed after " + std::to_string(BoardProtocol::kWriteAttempts) + " attempts";
    }
    return failure;
}

Failure BoardSession::TransferFailure(const std::string& what, const TransferResult& result) const {
    const int openError = board_ ? board_->LastOpenError() : 0;
    if (openError == EACCES || openError == EPERM) {
        return Failure{kExitNoBoard, "error: no permission to open the board (" + board_->DevicePath() + ")",
                       "hint: install the udev rule dist/linux/70-quelvan.rules (see docs/udev.md), "
                       "then unplug and replug the board"};
    }
    // The simulated board knows when its state file is the reason.
    const std::string problem = controller_.Backend().Problem();
    return Failure{kExitTransferFailed,
                   "error: " + what + " failed after " + std::to_string(result.attempts) +
                       (result.attempts == 1 ? " attempt" : " attempts"),
                   problem.empty() ? std::string() : "hint: the simulated board cannot be used: " + problem};
}

std::vector<int> BoardSession::FailedReports(std::size_t firstTransfer) const {
    std::map<int, bool> anyOk;
    std::vector<int> order;
    for (std::size_t i = firstTransfer; i < transfers_.size(); ++i) {
        const TransferRecord& r = transfers_[i];
        const int id = r.bytes.empty() ? 0 : r.bytes[0];
        if (!anyOk.count(id)) order.push_back(id);
        anyOk[id] = anyOk[id] || r.ok;
    }
    std::vector<int> failed;
    for (int id : order)
        if (!anyOk[id]) failed.push_back(id);
    return failed;
}

}  // namespace quelvan::cli
