// Command 254 and back: the board leaves, its bootloader arrives with its own identity
// and strings, takes blocks into flash, and starts the application again.

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <set>

#include "sim_bench.h"

namespace quelvan::sim::testing {
namespace {

std::array<std::uint8_t, bootloader::kBlockSize> Pattern(std::uint8_t seed) {
    std::array<std::uint8_t, bootloader::kBlockSize> block{};
    std::iota(block.begin(), block.end(), seed);
    return block;
}

TEST(Bootloader, RoundTripThroughTheController) {
    SimBench bench;
    bench.Board().SetFrozen(true);
    HidDevice* board = bench.Acquire(kBoardProduct);
    ASSERT_NE(board, nullptr);
    std::set<std::string> identities{board->DeviceInstance()};

    // Settings that were never stored, to see what the restart keeps.
    bench.protocol.ReadDeviceConfig();
    bench.protocol.config.FanHigh = 11;
    bench.protocol.WriteDeviceConfig();

    ASSERT_TRUE(bench.protocol.EnterBootloader().ok);
    EXPECT_EQ(bench.Board().Mode(), BoardMode::Bootloader);
    HidDevice* loader = bench.Rescan(kBootloader2Product);
    EXPECT_EQ(bench.protocol.Device(), nullptr) << "the board's interface is gone";
    ASSERT_NE(loader, nullptr);
    EXPECT_EQ(bench.controller->DeviceCount(), 1);
    EXPECT_TRUE(identities.insert(loader->DeviceInstance()).second) << "a new identity";
    EXPECT_EQ(loader->ManufacturerString(), kMakerManufacturer);
    EXPECT_EQ(loader->VendorID(), kBoardVendorId);
    EXPECT_EQ(loader->ProductID(), kBoardProductId);

    ASSERT_TRUE(bench.bootloader.ReadInfo());
    EXPECT_EQ(bench.bootloader.PageSize(), 128);
    EXPECT_EQ(bench.bootloader.FlashSize(), 32768u);

    // Blocks land in flash; erased flash reads 0xFF; a block must fit inside the flash.
    ASSERT_TRUE(bench.bootloader.WriteBlock(0x0080, Pattern(1)));
    ASSERT_TRUE(bench.bootloader.WriteBlock(32768 - 128, Pattern(50)));
    EXPECT_FALSE(bench.bootloader.WriteBlock(32768 - 64, Pattern(9)));
    EXPECT_FALSE(bench.bootloader.WriteBlock(32768, Pattern(9)));
    EXPECT_FALSE(bench.bootloader.WriteBlock(0xFFFFFF, Pattern(9)));
    const auto& flash = bench.Board().Flash();
    ASSERT_EQ(flash.size(), 32768u);
    EXPECT_TRUE(std::equal(flash.begin() + 0x80, flash.begin() + 0x100, Pattern(1).begin()));
    EXPECT_TRUE(std::equal(flash.end() - 128, flash.end(), Pattern(50).begin()));
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 0x80, [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(bench.Board().BlocksWritten(), 2);

    // Reports of the application are unknown to the bootloader.
    std::array<std::uint8_t, report::kLiveStateLength> live{1};
    EXPECT_FALSE(loader->ReadFeature(live.data(), live.size()));

    ASSERT_TRUE(bench.bootloader.LeaveBootloader());
    EXPECT_EQ(bench.Board().Mode(), BoardMode::Application);
    board = bench.Rescan(kBoardProduct);
    EXPECT_EQ(bench.bootloader.Device(), nullptr);
    ASSERT_NE(board, nullptr);
    EXPECT_TRUE(identities.insert(board->DeviceInstance()).second);
    ASSERT_TRUE(bench.protocol.ReadDeviceConfig().ok);
    EXPECT_EQ(bench.protocol.config, DefaultConfig()) << "a newly flashed firmware starts with factory settings";
}

TEST(Bootloader, LeavingWithoutFlashingKeepsTheEepromAndVariantOneSaysSo) {
    BoardSettings settings;
    settings.bootloaderVariant = 1;
    settings.pageSize = 64;
    settings.flashSize = 16384;
    SimBench bench(settings);
    bench.Board().SetFrozen(true);
    bench.Acquire(kBoardProduct);
    bench.protocol.ReadDeviceConfig();
    bench.protocol.config.FanHigh = 11;
    bench.protocol.WriteDeviceConfig();
    bench.protocol.SaveEEPROM();

    bench.protocol.EnterBootloader();
    ASSERT_NE(bench.Rescan(kBootloader1Product), nullptr);
    ASSERT_TRUE(bench.bootloader.ReadInfo());
    EXPECT_EQ(bench.bootloader.PageSize(), 64);
    EXPECT_EQ(bench.bootloader.FlashSize(), 16384u);
    EXPECT_FALSE(bench.bootloader.WriteBlock(16384 - 64, Pattern(0)));
    bench.bootloader.LeaveBootloader();
    ASSERT_NE(bench.Rescan(kBoardProduct), nullptr);
    ASSERT_TRUE(bench.protocol.ReadDeviceConfig().ok);
    EXPECT_EQ(bench.protocol.config.FanHigh, 11);
}

TEST(Bootloader, IdentitiesAreNeverReused) {
    SimBench bench;
    SimulatedHidBackend& backend = *bench.backend;
    std::set<std::string> seen;
    auto note = [&] {
        for (const auto& info : backend.Enumerate()) seen.insert(info.identity);
    };
    note();
    for (int round = 0; round < 3; ++round) {
        backend.Unplug();
        EXPECT_TRUE(backend.Enumerate().empty());
        backend.Plug();
        note();
        bench.Board().PowerCycle();
        note();
    }
    EXPECT_EQ(seen.size(), 7u);
}

}  // namespace
}  // namespace quelvan::sim::testing
