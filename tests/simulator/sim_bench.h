#pragma once
// A simulated board on a controller, as the program uses it: a computer clock and a
// monotonic time source that the test sets, the controller, and both protocols.

#include <cstdint>
#include <memory>
#include <string>

#include "device/board_protocol.h"
#include "device/bootloader_protocol.h"
#include "device/clock.h"
#include "device/hid_device_controller.h"
#include "device/identification.h"
#include "simulator/simulated_backend.h"

namespace quelvan::sim::testing {

inline LocalDateTime At(int hour, int minute, int second = 0, int millisecond = 0) {
    LocalDateTime t{2026, 3, 14, hour, minute, second, millisecond};
    return t;
}

struct SimBench {
    explicit SimBench(BoardSettings settings = {}, LocalDateTime start = At(9, 0))
        : clock(start),
          backend(std::make_unique<SimulatedHidBackend>(settings, &clock, [this] { return nowMs; })),
          controller(std::make_unique<HidDeviceController>(*backend)),
          protocol(clock) {
        backend->RecordTransfers();
        controller->ProcessNotifications();
    }

    // Acquires the first device of the maker with this product string (and gives the
    // board to the report protocol, the bootloader to the bootloader protocol).
    HidDevice* Acquire(std::u16string_view product) {
        HidDevice* held = nullptr;
        controller->OnEnumerate = [&](HidDevice& device, int index) {
            if (!held && device.ManufacturerString() == kMakerManufacturer && device.ProductString() == product)
                held = controller->AcquireDevice(index);
            return true;
        };
        controller->EnumerateDevices();
        controller->OnEnumerate = nullptr;
        if (product == kBoardProduct)
            protocol.SetDevice(held);
        else
            bootloader.SetDevice(held);
        return held;
    }

    // Handles a device change as the window does: gone devices are released, then the
    // device with this product string is acquired afresh.
    HidDevice* Rescan(std::u16string_view product) {
        controller->ProcessNotifications();
        if (HidDevice* d = protocol.Device(); d && !d->PluggedIn()) {
            controller->ReleaseDevice(d);
            protocol.SetDevice(nullptr);
        }
        if (HidDevice* d = bootloader.Device(); d && !d->PluggedIn()) {
            controller->ReleaseDevice(d);
            bootloader.SetDevice(nullptr);
        }
        return Acquire(product);
    }

    SimulatedBoard& Board() { return backend->Board(); }

    ManualClock clock;
    std::int64_t nowMs = 0;
    std::unique_ptr<SimulatedHidBackend> backend;
    std::unique_ptr<HidDeviceController> controller;
    BoardProtocol protocol;
    BootloaderProtocol bootloader;
};

}  // namespace quelvan::sim::testing
