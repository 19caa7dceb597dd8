#pragma once
// The board's HID bootloader: report 1 tells page and flash size (get) or starts the
// application (set); report 2 writes one 128-byte block into flash.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "simulator/simulated_backend.h"

namespace quelvan::sim {

struct FlashMemory {
    std::vector<std::uint8_t> bytes;  // erased flash reads 0xFF
    int blocksWritten = 0;
    bool writtenSinceStart = false;  // a block arrived since the bootloader started
};

enum class BootloaderRequest { None, StartApplication };

class BootloaderFirmware {
public:
    // The simulator keeps no more flash than a 24-bit block address can reach.
    static constexpr std::uint32_t kMaxFlashBytes = 1u << 24;

    BootloaderFirmware(FlashMemory& flash, const BoardSettings& settings) : flash_(flash), settings_(settings) {}

    // Makes the flash as large as the settings say, erased where it grows.
    void FitFlash();

    // Get writes the buffer only on success.
    bool Get(std::uint8_t* buffer, std::size_t length);
    bool Set(const std::uint8_t* buffer, std::size_t length, BootloaderRequest* request);

private:
    FlashMemory& flash_;
    const BoardSettings& settings_;
};

}  // namespace quelvan::sim
