#include "cli/flash_command.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "backend/hidraw_sysfs.h"
#include "cli/board_session.h"
#include "cli/json_text.h"
#include "device/board_protocol.h"
#include "device/bootloader_protocol.h"
#include "device/hid_device_controller.h"
#include "device/identification.h"
#include "files/file_access.h"
#include "files/firmware_file.h"
#include "files/firmware_flasher.h"

namespace quelvan::cli {

namespace {

using Milliseconds = std::chrono::milliseconds;

// The warning the window shows before an update, without its last line (the question).
constexpr const char* kWarning[] = {
    "Das Aktualisieren der Firmware geschieht auf eigene Gefahr.",
    "Treten Übertragungsfehler auf, ist die Firmware anschließend",
    "nicht lauffähig. Der Vorgang kann jedoch wiederholt werden.",
    "",
    "Bitte beachten, dass sämtliche Einstellungen (auch die der",
    "Lüfter) zurückgesetzt werden. Slave-Platinen müssen nach dem",
    "Update wieder manuell auf den Modus \"Slave\" gestellt werden!",
    "",
};

bool IsBootloader(DeviceRole role) {
    return role == DeviceRole::Bootloader1 || role == DeviceRole::Bootloader2;
}

bool PermissionDenied(const HidDevice* device) {
    return device && (device->LastOpenError() == EACCES || device->LastOpenError() == EPERM);
}

// The devices of the bus as the controller offers them, rescanned on every change.
class Bus {
public:
    Bus(HidBackend& backend, TransferTraceFile* trace) : controller_(backend) {
        controller_.SetTransferObserver([trace](const TransferRecord& record) {
            if (trace) trace->Write(record);
        });
        controller_.OnDeviceChange = [this] { Survey(); };
        controller_.ProcessNotifications();
    }

    HidDeviceController& Controller() { return controller_; }

    struct Present {
        std::string identity;
        DeviceRole role = DeviceRole::Other;
        std::string path;
        std::string serial;
        std::string usbPort;  // empty where the backend does not tell
    };
    const std::vector<Present>& Devices() const { return devices_; }

    std::optional<Present> Find(const std::function<bool(const Present&)>& wanted) const {
        for (const Present& p : devices_)
            if (wanted(p)) return p;
        return std::nullopt;
    }

    // By identity: releasing a device that has left shifts the indices of the others.
    HidDevice* Acquire(const Present& p) {
        for (int i = 0; i < controller_.DeviceCount(); ++i) {
            HidDevice* device = controller_.DeviceAt(i);
            if (!device->PluggedIn() || device->DeviceInstance() != p.identity) continue;
            return device->Acquired() ? device : controller_.AcquireDevice(i);
        }
        return nullptr;
    }

    void Release(HidDevice*& device) {
        if (device) controller_.ReleaseDevice(device);
        device = nullptr;
    }

    // Waits until a wanted device is present, following the backend's change notifications
    // (or rescanning at its interval where it has none). False when the time is up.
    std::optional<Present> WaitFor(const std::function<bool(const Present&)>& wanted, Milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto found = Find(wanted)) return found;
            const auto left =
                std::chrono::duration_cast<Milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return std::nullopt;
            const int fd = controller_.ChangeFd();
            if (fd >= 0) {
                pollfd p{fd, POLLIN, 0};
                const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
                if (ready > 0) controller_.ProcessNotifications();
            } else {
                const int interval = std::max(controller_.RescanIntervalMs(), 50);
                std::this_thread::sleep_for(Milliseconds(std::min<long long>(left, interval)));
                controller_.NotifyDeviceChange();
            }
        }
    }

private:
    void Survey() {
        devices_.clear();
        controller_.OnEnumerate = [this](HidDevice& device, int) {
            const DeviceRole role = IdentifyDevice(device.ManufacturerString(), device.ProductString());
            // A serial number tells several boards or bootloaders apart (--device), and the
            // board that comes back after its update from another one.
            const std::string serial = role != DeviceRole::Other ? ToUtf8(device.SerialNumberString()) : std::string();
            devices_.push_back(
                {device.DeviceInstance(), role, device.DevicePath(), serial, UsbPortOf(device.DeviceInstance())});
            return true;
        };
        controller_.EnumerateDevices();
        controller_.OnEnumerate = nullptr;
    }

    HidDeviceController controller_;
    std::vector<Present> devices_;
};

// Prints the flasher's lines; on a terminal the block addresses become a progress bar.
class FlashOutput {
public:
    FlashOutput(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}

    files::FlashSeams Seams(const FlashConsole& console) {
        files::FlashSeams seams;
        seams.LogMessage = [this](const std::string& line) {
            if (terminal_ && line.rfind("0x", 0) == 0) return;
            Line(line);
        };
        seams.ReportStatus = [this](const std::string& line) {
            lastStatus_ = line;
            Line(line);
        };
        seams.Sleep = console.sleep;
        if (terminal_) seams.Progress = [this](int done, int count) { Bar(done, count); };
        return seams;
    }

    void Line(const std::string& text) {
        EndBar();
        err_ << text << "\n" << std::flush;
    }
    const std::string& LastStatus() const { return lastStatus_; }

private:
    void Bar(int done, int count) {
        constexpr int kWidth = 40;
        const int filled = count > 0 ? done * kWidth / count : kWidth;
        err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
             << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] " << done << "/" << count << " blocks"
             << std::flush;
        barShown_ = true;
    }
    void EndBar() {
        if (barShown_) err_ << "\n";
        barShown_ = false;
    }

    std::ostream& err_;
    bool terminal_;
    bool barShown_ = false;
    std::string lastStatus_;
};

bool Confirmed(const FlashConsole& console, std::ostream& err) {
    err << "Firmware aktualisieren\n\n";
    for (const char* line : kWarning) err << line << "\n";
    err << "Vorgang fortsetzen? [j/N] " << std::flush;
    std::string answer;
    if (!console.input || !std::getline(*console.input, answer)) return false;
    answer.erase(0, answer.find_first_not_of(" \t"));
    answer.erase(answer.find_last_not_of(" \t\r") + 1);
    std::transform(answer.begin(), answer.end(), answer.begin(), [](unsigned char c) { return std::tolower(c); });
    return answer == "j" || answer == "ja" || answer == "y" || answer == "yes";
}

std::string Seconds(Milliseconds time) {
    return std::to_string((time.count() + 999) / 1000) + " s";
}

}  // namespace

FlashConsole FlashConsole::FromProcess() {
    FlashConsole console;
    console.inputIsTerminal = ::isatty(STDIN_FILENO) == 1;
    console.errorIsTerminal = ::isatty(STDERR_FILENO) == 1;
    console.input = &std::cin;
    console.sleep = [](Milliseconds time) { std::this_thread::sleep_for(time); };
    return console;
}

std::optional<Failure> LoadFirmware(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::string problem;
    int error = 0;
    const files::StatusSink report = [&](const std::string& text) { problem = text; };
    bool usable = files::LoadFirmwareFile(path, bytes, report, &error);
    if (usable) {
        const auto image = std::make_unique<files::FlashImage>();
        std::int32_t start = 0, end = 0;
        usable = files::ReadFirmwareData(bytes, *image, start, end, report);
    }
    if (usable) return std::nullopt;
    if (error != 0 && error != ENOENT && error != ENOTDIR) problem += " (" + files::FileErrorText(error) + ")";
    return Failure{kExitFileUnusable, problem, {}};
}

int RunFlashCommand(const Request& request, HidBackend& backend, const Clock& clock, TransferTraceFile* trace,
                    std::ostream& out, std::ostream& err, const FlashConsole& console,
                    const std::vector<std::uint8_t>* preloaded) {
    nlohmann::json report = {{"command", "flash"}, {"file", request.firmwareFile}};
    auto finish = [&](int code, const std::string& error = {}) {
        if (!error.empty()) err << error << "\n";
        if (request.json) {
            report["ok"] = code == kExitOk;
            if (!error.empty()) {
                const std::string first = error.substr(0, error.find('\n'));
                report["error"] = first.rfind("error: ", 0) == 0 ? first.substr(7) : first;
            }
            out << JsonText(report) << "\n";
        }
        return code;
    };
    FlashOutput output(err, console.errorIsTerminal);

    // The file is read and checked once, before anything is sent, and that image is flashed:
    // a wrong name leaves no board waiting in its bootloader, and a file that cannot be read
    // twice (a pipe) is flashed all the same.
    std::vector<std::uint8_t> firmware;
    if (preloaded) {
        firmware = *preloaded;
    } else if (auto failure = LoadFirmware(request.firmwareFile, firmware)) {
        return finish(failure->exitCode, failure->message);
    }

    Bus bus(backend, trace);
    std::set<std::string> boardsBefore;
    for (const auto& p : bus.Devices())
        if (p.role == DeviceRole::Board) boardsBefore.insert(p.identity);
    // The board to update, or else a bootloader already waiting: the one --device names,
    // or the only one.
    auto choose = [&](bool bootloaders) {
        std::vector<FoundDevice> candidates;
        for (const Bus::Present& p : bus.Devices())
            if (bootloaders ? IsBootloader(p.role) : p.role == DeviceRole::Board)
                candidates.push_back({0, p.identity, p.path, p.serial, p.role});
        return ChooseDevice(candidates, request.device, bootloaders ? "bootloader" : "board");
    };
    auto present = [&](const std::optional<FoundDevice>& d) {
        return d ? bus.Find([&](const Bus::Present& p) { return p.identity == d->identity; }) : std::nullopt;
    };
    const DeviceChoice boardChoice = choose(false);
    if (boardChoice.failure) return finish(boardChoice.failure->exitCode, boardChoice.failure->message);
    auto board = present(boardChoice.device);
    std::optional<Bus::Present> loader;
    std::optional<Bus::Present> updated;  // the board sent into its bootloader here
    if (!board) {
        const DeviceChoice loaderChoice = choose(true);
        if (loaderChoice.failure) return finish(loaderChoice.failure->exitCode, loaderChoice.failure->message);
        loader = present(loaderChoice.device);
    }
    if (!board && !loader) {
        if (!request.device.empty())
            return finish(kExitNoBoard,
                          "error: no board or bootloader with the serial number or path '" + request.device + "'");
        return finish(kExitNoBoard, "error: no Quelvan 2.x board found");
    }

    if (board) {
        if (!request.assumeYes) {
            if (!console.inputIsTerminal) {
                return finish(kExitUsage,
                              "error: a firmware update needs a confirmation: run quelvanctl in a terminal, or add "
                              "--yes to confirm beforehand");
            }
            if (!Confirmed(console, err)) return finish(kExitTransferFailed, "aborted; nothing was sent to the board");
        }
        // A bootloader already on the bus is another board's; this board's arrives anew, on
        // the board's USB port where the backend tells it.
        std::set<std::string> before;
        for (const auto& p : bus.Devices())
            if (IsBootloader(p.role)) before.insert(p.identity);
        updated = *board;

        HidDevice* device = bus.Acquire(*board);
        BoardProtocol protocol(clock);
        protocol.SetDevice(device);
        const TransferResult sent = protocol.EnterBootloader();
        protocol.SetDevice(nullptr);
        if (!sent.ok && PermissionDenied(device)) {
            return finish(kExitNoBoard, "error: no permission to open the board (" + device->DevicePath() +
                                            ")\nhint: install the udev rule dist/linux/70-quelvan.rules (see "
                                            "docs/udev.md), then unplug and replug the board");
        }
        // A board may restart before it acknowledges the command, so a failed set is not
        // yet a failure: the bootloader's arrival decides.
        output.Line("waiting for the bootloader...");
        loader = bus.WaitFor(
            [&](const Bus::Present& p) {
                return IsBootloader(p.role) && !before.count(p.identity) &&
                       (board->usbPort.empty() || p.usbPort == board->usbPort);
            },
            console.arrivalTimeout);
        bus.Release(device);
        if (!loader && !sent.ok) {
            return finish(kExitTransferFailed, "error: sending the board into its bootloader failed after " +
                                                   std::to_string(sent.attempts) + " attempts");
        }
        if (!loader) {
            return finish(kExitTransferFailed, "error: the board's bootloader did not appear within " +
                                                   Seconds(console.arrivalTimeout) +
                                                   "; start it with the jumper as the window's log explains, then "
                                                   "run this command again");
        }
    }

    output.Line("Dravik-Bootloader erkannt");
    const std::string extension = FirmwareExtension(loader->role);
    const std::string& file = request.firmwareFile;
    if (file.size() < extension.size() || file.compare(file.size() - extension.size(), extension.size(), extension))
        err << "warning: " << RoleName(loader->role) << " takes " << extension << " files\n";

    HidDevice* device = bus.Acquire(*loader);
    BootloaderProtocol bootloader;
    bootloader.SetDevice(device);
    files::FlashSeams seams = output.Seams(console);
    seams.BootloaderPresent = [&] { return device && bus.Controller().StillPresent(*device); };
    const files::FlashResult result = files::FlashFirmware(
        bootloader,
        [&](files::FlashImage& image, std::int32_t& start, std::int32_t& end, const files::StatusSink& report) {
            return files::ReadFirmwareData(firmware, image, start, end, report);
        },
        seams);
    bootloader.SetDevice(nullptr);
    report["bytes"] = result.bytes;
    report["blocks"] = result.blockCount;
    report["failed_blocks"] = result.failedBlocks;
    report["status"] = output.LastStatus();
    const bool denied = PermissionDenied(device);
    // Unplugged during the update: the board is not waiting in its bootloader any more.
    const bool gone = result.outcome == files::FlashOutcome::BootloaderGone ||
                      (!result.LeftBootloader() && device && !bus.Controller().StillPresent(*device));
    bus.Release(device);

    if (gone) {
        const int written = result.blockCount - result.failedBlocks;
        return finish(kExitTransferFailed,
                      "error: the bootloader left the bus during the update; " +
                          (written > 0 ? std::to_string(written) + " of " + std::to_string(result.blockCount) +
                                             " blocks were written"
                                       : std::string("nothing was flashed")) +
                          "\nhint: plug the board in again and run 'quelvanctl flash FILE' again");
    }
    if (!result.LeftBootloader()) {
        if (denied) {
            return finish(kExitNoBoard,
                          "error: no permission to open the bootloader\nhint: install the udev rule "
                          "dist/linux/70-quelvan.rules (see docs/udev.md)");
        }
        const bool fileProblem =
            result.outcome == files::FlashOutcome::FileTooLarge || result.outcome == files::FlashOutcome::FileUnusable;
        return finish(fileProblem ? kExitFileUnusable : kExitTransferFailed,
                      "error: nothing was flashed; the board waits in its bootloader for another "
                      "'quelvanctl flash FILE'");
    }

    // The same board comes back: by its serial number, else on the same USB port, else a
    // board that was not on the bus before. Another board present all along is not it.
    const Bus::Present origin = updated ? *updated : *loader;
    output.Line("waiting for the board to restart...");
    const auto back = bus.WaitFor(
        [&](const Bus::Present& p) {
            if (p.role != DeviceRole::Board || boardsBefore.count(p.identity)) return false;
            if (updated && !updated->serial.empty()) return p.serial == updated->serial;
            return origin.usbPort.empty() || p.usbPort == origin.usbPort;
        },
        console.arrivalTimeout);
    if (!back) {
        const bool waiting =
            bus.Find([&](const Bus::Present& p) { return p.identity == loader->identity; }).has_value();
        if (waiting) {
            const int written = result.blockCount - result.failedBlocks;
            return finish(kExitTransferFailed,
                          "error: the board did not restart: it waits in its bootloader with " +
                              (result.failedBlocks == 0 ? std::string("every block written")
                                                        : std::to_string(written) + " of " +
                                                              std::to_string(result.blockCount) + " blocks written") +
                              "\nhint: run 'quelvanctl flash FILE' again");
        }
        return finish(kExitTransferFailed,
                      "error: the board did not come back within " + Seconds(console.arrivalTimeout));
    }
    output.Line("the board is back");
    if (!result.Succeeded()) return finish(kExitTransferFailed, "error: some blocks could not be written");
    return finish(kExitOk);
}

}  // namespace quelvan::cli
