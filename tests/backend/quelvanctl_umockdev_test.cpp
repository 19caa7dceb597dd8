// quelvanctl itself over the real hidapi/libudev backend, with the board emulated by
// umockdev: what a user on real hardware would run.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "umockdev_testbed.h"

namespace quelvan {
namespace {

using umock::EmulatedBoard;
using umock::EmulatedUsbDevice;
using umock::UmockdevTestbed;

class QuelvanctlOverHidraw : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        testbed = UmockdevTestbed::Start(&error);
        ASSERT_NE(testbed, nullptr) << error;
    }
    umock::ProgramResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), QUELVANCTL_PATH);
        return testbed->Run(args);
    }

    std::unique_ptr<UmockdevTestbed> testbed;
};

TEST_F(QuelvanctlOverHidraw, ListsStatusAndSetsAChannelOnTheEmulatedBoard) {
    EmulatedUsbDevice other;
    other.vendorId = 0x046D;
    other.productId = 0xC31C;
    other.manufacturer = "Logitech";
    other.product = "USB Keyboard";
    other.serial = "";
    testbed->Plug(other, nullptr);
    auto board = std::make_shared<EmulatedBoard>();
    testbed->PlugBoard(board);

    auto list = Run({"list"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("046D:C31C \"Logitech\" \"USB Keyboard\" \"\""), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("16C0:05DF \"www.dravik.info\" \"Quelvan2\" \"QV2-000123\""), std::string::npos)
        << list.out;
    EXPECT_TRUE(board->Transfers().empty());  // listing reads no reports

    auto status = Run({"--json", "status"});
    ASSERT_EQ(status.exitCode, 0) << status.err;
    const auto json = nlohmann::json::parse(status.out);
    EXPECT_EQ(json["firmware_version"], 4);
    EXPECT_EQ(json["clock"], "12:34:56");
    EXPECT_EQ(json["channels"][1]["value"], 300);
    // Connecting reads the live state, then the four settings reports, once each.
    std::vector<int> gets;
    for (const auto& t : board->Transfers()) {
        EXPECT_FALSE(t.isSet);
        gets.push_back(t.bytes.at(0));
    }
    EXPECT_EQ(gets, (std::vector<int>{1, 2, 4, 5, 6}));

    board->ClearTransfers();
    auto set = Run({"set", "C", "50"});
    EXPECT_EQ(set.exitCode, 0) << set.err;
    const auto transfers = board->Transfers();
    ASSERT_EQ(transfers.size(), 6u);
    const auto& write = transfers.back();
    ASSERT_TRUE(write.isSet);
    ASSERT_EQ(write.bytes.size(), 42u);
    EXPECT_EQ(write.bytes[7], 0xFF);   // clock left alone
    EXPECT_EQ(write.bytes[11], 0xFF);  // moon transit left alone
    EXPECT_EQ(write.bytes[17], 0x00);  // channel C = 2048
    EXPECT_EQ(write.bytes[18], 0x08);
    EXPECT_EQ(board->Live().ChannelValue[2], 2048);
}

TEST_F(QuelvanctlOverHidraw, OnlyABootloaderPresentIsNoBoard) {
    testbed->Plug(umock::EmulatedBootloader(2), nullptr);
    auto status = Run({"status"});
    EXPECT_EQ(status.exitCode, 3);
    EXPECT_NE(status.err.find("bootloader"), std::string::npos) << status.err;
}

}  // namespace
}  // namespace quelvan
