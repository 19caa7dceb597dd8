// The flasher on any bootloader answer and any file. Input: page size (2 bytes), flash size
// (4 bytes), a byte of failing attempts, then the file. Whatever they are, the flasher ends,
// writes only whole 128-byte blocks below the usable size, sends the file's bytes at their
// addresses and erased flash around them, and waits only after failures.

#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "device/bootloader_protocol.h"
#include "device/hid_backend.h"
#include "device/hid_device_controller.h"
#include "files/firmware_flasher.h"
#include "fuzz_check.h"

namespace {

struct Bootloader {
    std::uint8_t info[7] = {};
    unsigned failMask = 0;  // attempt n of a block set fails when bit (n % 8) is set
    int attempts = 0;
    int infoGets = 0;
    int leaves = 0;
    std::map<std::uint32_t, std::vector<std::uint8_t>> blocks;
};

class Handle final : public quelvan::HidHandle {
public:
    explicit Handle(Bootloader& b) : b_(b) {}
    bool GetFeature(std::uint8_t* buffer, std::size_t length) override {
        FUZZ_CHECK(length == 7 && buffer[0] == 1);
        ++b_.infoGets;
        std::memcpy(buffer + 1, b_.info + 1, 6);
        return true;
    }
    bool SetFeature(const std::uint8_t* buffer, std::size_t length) override {
        if (buffer[0] == 1) {
            FUZZ_CHECK(length == 7);
            FUZZ_CHECK(std::memcmp(buffer + 1, b_.info + 1, 6) == 0);
            ++b_.leaves;
            return true;
        }
        FUZZ_CHECK(buffer[0] == 2 && length == 132);
        if (b_.failMask & (1u << (b_.attempts++ % 8))) return false;
        const std::uint32_t address = buffer[1] | buffer[2] << 8 | buffer[3] << 16;
        b_.blocks[address].assign(buffer + 4, buffer + 132);
        return true;
    }

private:
    Bootloader& b_;
};

class Backend final : public quelvan::HidBackend {
public:
    explicit Backend(Bootloader& b) : b_(b) {}
    std::vector<quelvan::HidInterfaceInfo> Enumerate() override { return {{"loader", "fuzz", 0x16C0, 0x05DF, 1}}; }
    quelvan::HidOpenResult Open(const quelvan::HidInterfaceInfo&) override {
        return {std::make_unique<Handle>(b_), true, 0};
    }
    std::optional<std::u16string> ReadString(const quelvan::HidInterfaceInfo&, quelvan::HidString) override {
        return u"";
    }
    int ChangeFd() const override { return -1; }
    bool TakeChange() override { return false; }

private:
    Bootloader& b_;
};

std::int32_t Le32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 7) return 0;
    Bootloader loader;
    std::memcpy(loader.info + 1, data, 6);
    loader.failMask = data[6];
    const std::span<const std::uint8_t> file(data + 7, size - 7);

    Backend backend(loader);
    quelvan::HidDeviceController controller(backend);
    controller.ProcessNotifications();
    quelvan::BootloaderProtocol protocol;
    protocol.SetDevice(controller.AcquireDevice(0));
    FUZZ_CHECK(protocol.Device() != nullptr);

    int waits = 0, progressCalls = 0, lastDone = -1;
    quelvan::files::FlashSeams seams;
    seams.Sleep = [&](std::chrono::milliseconds time) {
        FUZZ_CHECK(time == std::chrono::milliseconds(500));
        ++waits;
    };
    seams.Progress = [&](int done, int count) {
        FUZZ_CHECK(done == lastDone + 1 && done <= count);
        lastDone = done;
        ++progressCalls;
    };
    const quelvan::files::FlashResult result = quelvan::files::FlashFirmware(
        protocol,
        [&](quelvan::files::FlashImage& image, std::int32_t& start, std::int32_t& end,
            const quelvan::files::StatusSink& report) {
            return quelvan::files::ReadFirmwareData(file, image, start, end, report);
        },
        seams);

    FUZZ_CHECK(loader.infoGets == 1);
    FUZZ_CHECK(loader.leaves == (result.LeftBootloader() ? 1 : 0));
    FUZZ_CHECK(waits == loader.attempts - static_cast<int>(loader.blocks.size()));
    if (!result.LeftBootloader()) {
        FUZZ_CHECK(loader.attempts == 0);
        return 0;
    }
    FUZZ_CHECK(progressCalls == result.blockCount + 1);
    FUZZ_CHECK(static_cast<int>(loader.blocks.size()) == result.blockCount - result.failedBlocks);
    FUZZ_CHECK(loader.attempts <= 10 * result.blockCount);

    const std::int64_t usable = static_cast<std::int64_t>(static_cast<std::uint32_t>(Le32(data + 2))) - 2048;
    const std::int32_t start = Le32(file.data()), end = Le32(file.data() + 4);
    for (const auto& [address, bytes] : loader.blocks) {
        FUZZ_CHECK(address % 128 == 0);
        FUZZ_CHECK(static_cast<std::int64_t>(address) + 128 <= usable);
        for (std::size_t i = 0; i < 128; ++i) {
            const std::int64_t a = address + static_cast<std::int64_t>(i);
            const std::uint8_t expected = a >= start && a <= end ? file[8 + static_cast<std::size_t>(a - start)] : 0xFF;
            FUZZ_CHECK(bytes[i] == expected);
        }
    }
    // Every byte of the file below the usable size went out, unless its block failed.
    if (result.failedBlocks == 0) {
        for (std::int64_t a = start; a <= end && a < usable; ++a) FUZZ_CHECK(loader.blocks.count(a & ~127));
    }
    return 0;
}
