#include "simulator/bootloader_firmware.h"

#include <algorithm>

#include "device/bootloader_protocol.h"

namespace quelvan::sim {

void BootloaderFirmware::FitFlash() {
    const std::size_t size = std::min(settings_.flashSize, kMaxFlashBytes);
    if (flash_.bytes.size() != size) flash_.bytes.resize(size, 0xFF);
}

bool BootloaderFirmware::Get(std::uint8_t* buffer, std::size_t length) {
    if (buffer[0] != bootloader::kInfoReport || length != bootloader::kInfoLength) return false;
    buffer[1] = static_cast<std::uint8_t>(settings_.pageSize & 0xFF);
    buffer[2] = static_cast<std::uint8_t>(settings_.pageSize >> 8);
    for (int i = 0; i < 4; ++i) buffer[3 + i] = static_cast<std::uint8_t>(settings_.flashSize >> (8 * i));
    return true;
}

bool BootloaderFirmware::Set(const std::uint8_t* buffer, std::size_t length, BootloaderRequest* request) {
    *request = BootloaderRequest::None;
    if (buffer[0] == bootloader::kInfoReport && length == bootloader::kInfoLength) {
        *request = BootloaderRequest::StartApplication;
        return true;
    }
    if (buffer[0] != bootloader::kBlockReport || length != bootloader::kBlockLength) return false;
    FitFlash();
    const std::size_t address = buffer[1] | (buffer[2] << 8) | (buffer[3] << 16);
    // A block that does not fit wholly inside the flash is refused, not cut short.
    if (address + bootloader::kBlockSize > std::min<std::size_t>(settings_.flashSize, flash_.bytes.size()))
        return false;
    std::copy_n(buffer + 4, bootloader::kBlockSize, flash_.bytes.begin() + static_cast<std::ptrdiff_t>(address));
    ++flash_.blocksWritten;
    flash_.writtenSinceStart = true;
    return true;
}

}  // namespace quelvan::sim
