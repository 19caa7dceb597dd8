#include "device/bootloader_protocol.h"

#include <algorithm>

#include "device/byte_codec.h"
#include "device/hid_device_controller.h"

namespace quelvan {

bool BootloaderProtocol::ReadInfo() {
    if (!device_) return false;
    info_[0] = bootloader::kInfoReport;
    return device_->ReadFeature(info_.data(), info_.size());
}

std::uint16_t BootloaderProtocol::PageSize() const {
    ByteReader r(std::span<const std::uint8_t>(info_).subspan(1));
    return r.u16();
}

std::uint32_t BootloaderProtocol::FlashSize() const {
    ByteReader r(std::span<const std::uint8_t>(info_).subspan(3));
    const std::uint32_t lo = r.u16();
    const std::uint32_t hi = r.u16();
    return lo | (hi << 16);
}

bool BootloaderProtocol::LeaveBootloader() {
    if (!device_) return false;
    std::array<std::uint8_t, bootloader::kInfoLength> buffer = info_;
    buffer[0] = bootloader::kInfoReport;
    return device_->WriteFeature(buffer.data(), buffer.size());
}

bool BootloaderProtocol::WriteBlock(std::uint32_t address,
                                    std::span<const std::uint8_t, bootloader::kBlockSize> bytes) {
    if (!device_) return false;
    std::array<std::uint8_t, bootloader::kBlockLength> buffer{};
    buffer[0] = bootloader::kBlockReport;
    buffer[1] = static_cast<std::uint8_t>(address & 0xFF);
    buffer[2] = static_cast<std::uint8_t>((address >> 8) & 0xFF);
    buffer[3] = static_cast<std::uint8_t>((address >> 16) & 0xFF);
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + 4);
    return device_->WriteFeature(buffer.data(), buffer.size());
}

}  // namespace quelvan
