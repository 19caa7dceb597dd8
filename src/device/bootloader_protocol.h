#pragma once
// The bootloader's two reports: information (report 1, 7 bytes) and block write
// (report 2, 132 bytes). The information buffer is kept for the whole run of the
// program, because leaving the bootloader sends it back as last read.

#include <array>
#include <cstdint>
#include <span>

namespace quelvan {

class HidDevice;

namespace bootloader {
constexpr std::uint8_t kInfoReport = 1;
constexpr std::uint8_t kBlockReport = 2;
constexpr std::size_t kInfoLength = 7;
constexpr std::size_t kBlockSize = 128;
constexpr std::size_t kBlockLength = 4 + kBlockSize;  // 132
}  // namespace bootloader

class BootloaderProtocol {
public:
    void SetDevice(HidDevice* device) { device_ = device; }
    HidDevice* Device() const { return device_; }

    // Get report 1, one attempt. On success the buffer holds page and flash size.
    bool ReadInfo();
    std::uint16_t PageSize() const;
    std::uint32_t FlashSize() const;
    const std::array<std::uint8_t, bootloader::kInfoLength>& InfoBuffer() const { return info_; }

    // Set report 1 with the kept information buffer, one attempt, result ignored by the
    // window: the bootloader then starts the application firmware.
    bool LeaveBootloader();

    // Set report 2 for the 128 bytes at a 24-bit address, one attempt.
    bool WriteBlock(std::uint32_t address, std::span<const std::uint8_t, bootloader::kBlockSize> bytes);

private:
    HidDevice* device_ = nullptr;
    std::array<std::uint8_t, bootloader::kInfoLength> info_{};
};

}  // namespace quelvan
