#pragma once
// Chooses the HID backend at run time: the real hidraw/udev one, the simulated board, or the
// client of the service quelvand.

#include <memory>
#include <string>

#include "device/clock.h"
#include "device/hid_backend.h"

namespace quelvan {

struct BackendOptions {
    bool simulate = false;
    // With simulate: the board lives on in this file between runs (empty: in memory only).
    std::string stateFile;
    // With a state file: hold its lock for the backend's whole life (a short command that
    // must not interleave with other processes sharing the board).
    bool holdStateFile = false;
    // With simulate: the serial number of a board made afresh (no state file yet); empty: the
    // simulator's own. A state file that exists keeps the one it has.
    std::string freshSerial = {};
    // Real devices: watch for devices coming and going. A command that scans once and
    // does not follow the bus has no use for the udev monitor.
    bool watchDevices = true;

    // The service quelvand, where it runs, owns the boards: Auto uses it when its socket
    // answers and the bus otherwise; Required fails without it; Never opens the bus.
    // Never matters with simulate: the simulated board is always in-process.
    enum class Service { Never, Auto, Required };
    Service service = Service::Never;
    // A long-lived program (the window) takes the board only for each operation; a short
    // command holds it for its whole run.
    bool longLived = false;
    std::string clientName = "quelvanctl";
};

// nullptr with a message in `error` when the backend cannot be set up. `usedService` (may
// be null) tells whether the service's client was chosen.
std::unique_ptr<HidBackend> MakeBackend(const BackendOptions& options, const Clock& clock, std::string* error,
                                        bool* usedService = nullptr);

}  // namespace quelvan
