#pragma once
// Chooses the HID backend at run time: the real hidraw/udev one, or the simulated board.

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
    // Real devices: watch for devices coming and going. A command that scans once and
    // does not follow the bus has no use for the udev monitor.
    bool watchDevices = true;
};

// nullptr with a message in `error` when the backend cannot be set up.
std::unique_ptr<HidBackend> MakeBackend(const BackendOptions& options, const Clock& clock, std::string* error);

}  // namespace quelvan
