// The state file: separate backends (processes) on one file share one board; the clock
// runs on between them; a broken file is refused with a message.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "sim_bench.h"

namespace quelvan::sim::testing {
namespace {

namespace fs = std::filesystem;

class StateFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quelvan-sim-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "board.json").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    nlohmann::json ReadJson() const {
        std::ifstream in(path);
        return nlohmann::json::parse(in);
    }
    void WriteText(const std::string& text) const {
        std::ofstream out(path, std::ios::trunc);
        out << text;
    }

    fs::path dir;
    std::string path;
};

TEST_F(StateFile, TwoBackendsOnOneFileShareTheBoard) {
    SimBench a;
    a.Board().SetFrozen(true);
    ASSERT_TRUE(a.backend->SetStateFile(path));
    ASSERT_TRUE(fs::exists(path));
    a.Acquire(kBoardProduct);
    a.protocol.ReadDeviceConfig();
    a.protocol.config.Mode = 0;
    a.protocol.WriteDeviceConfig();
    a.protocol.ReadLiveState();
    a.protocol.live.ChannelValue.fill(777);
    a.protocol.WriteLiveState(false, false, true);

    SimBench b;
    std::string error;
    ASSERT_TRUE(b.backend->SetStateFile(path, &error)) << error;
    EXPECT_TRUE(b.Board().Frozen());
    EXPECT_EQ(b.Board().Config().Mode, 0);
    EXPECT_EQ(b.Board().Live().ChannelValue, a.protocol.live.ChannelValue);
    EXPECT_EQ(b.backend->Enumerate().at(0).identity, a.backend->Enumerate().at(0).identity) << "the same interface";

    // A change made through one is seen by the other: the board moves to its bootloader.
    a.protocol.EnterBootloader();
    EXPECT_EQ(b.Board().Mode(), BoardMode::Bootloader);
    pollfd p{b.backend->ChangeFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 1) << "the other backend signals the change";
    ASSERT_NE(b.Rescan(kBootloader2Product), nullptr);
    std::array<std::uint8_t, bootloader::kBlockSize> block;
    block.fill(0x5A);
    ASSERT_TRUE(b.bootloader.WriteBlock(0x100, block));

    // ... and flash, RAM and mode survive both instances.
    b.backend.reset();
    a.controller.reset();
    a.backend.reset();
    SimBench c;
    ASSERT_TRUE(c.backend->SetStateFile(path));
    EXPECT_EQ(c.Board().Mode(), BoardMode::Bootloader);
    EXPECT_EQ(c.Board().Flash().at(0x100), 0x5A);
    EXPECT_EQ(c.Board().Flash().at(0xFF), 0xFF);
    EXPECT_EQ(c.Board().BlocksWritten(), 1);
    c.Board().PowerCycle();
    EXPECT_EQ(c.Board().Config().Mode, 1) << "the EEPROM still holds the defaults";
}

TEST_F(StateFile, SettingsAndBusStateTravelToo) {
    {
        BoardSettings settings;
        settings.firmwareVersion = 3;
        settings.temperatureSensor = false;
        settings.serialNumber = u"Prüfling-7";
        SimBench a(settings);
        a.backend->SetOpenError(EACCES);
        a.backend->AddForeignDevice({});
        a.backend->Unplug();
        a.Board().SetEntryCountOverride(17);
        a.Board().SetNextScheduleIndex(300);  // odd values set by tests come back as they were
        ASSERT_TRUE(a.backend->SaveState(path));
    }
    SimBench b;
    std::string error;
    ASSERT_TRUE(b.backend->LoadState(path, &error)) << error;
    EXPECT_EQ(b.Board().Settings().firmwareVersion, 3);
    EXPECT_EQ(b.Board().Settings().serialNumber, u"Prüfling-7");
    EXPECT_EQ(b.Board().Mode(), BoardMode::Absent);
    EXPECT_EQ(b.Board().NextScheduleIndex(), 300);
    EXPECT_EQ(b.backend->Enumerate().size(), 1u) << "the foreign device only";
    b.backend->Plug();
    EXPECT_EQ(b.Board().Live().FirmwareVersion, 3);
    EXPECT_EQ(b.Board().Live().Temperature, kNoTemperatureSensor);
    EXPECT_EQ(b.Board().Live().EntryCount, 17);
    EXPECT_FALSE(b.backend->Open(b.backend->Enumerate().at(0)).readWrite);
}

TEST_F(StateFile, ClockRunsOnWhileNoProcessHoldsTheBoard) {
    {
        SimBench a({}, At(9, 0));
        a.Board().Config().Mode = 0;  // keep the channels still; only time matters here
        ASSERT_TRUE(a.backend->SetStateFile(path));
    }
    // Three days and two hours later.
    nlohmann::json doc = ReadJson();
    const std::int64_t saved = doc["savedAtUnixMs"].get<std::int64_t>();
    doc["savedAtUnixMs"] = saved - (3LL * 24 + 2) * 3600 * 1000;
    WriteText(doc.dump());

    SimBench b;
    ASSERT_TRUE(b.backend->SetStateFile(path));
    const LiveState& live = b.Board().Live();
    EXPECT_EQ(live.ClockHour, 11);
    EXPECT_EQ(live.ClockMinute, 0);
    EXPECT_LE(live.ClockSecond, 5);
}

TEST_F(StateFile, BrokenFilesAreRefusedWithAMessage) {
    {
        SimBench a;
        ASSERT_TRUE(a.backend->SaveState(path));
    }
    const nlohmann::json good = ReadJson();
    struct Case {
        const char* what;
        std::function<void(nlohmann::json&)> breakIt;
    };
    const Case cases[] = {
        {"pageSize", [](auto& d) { d["settings"]["pageSize"] = "big"; }},
        {"live", [](auto& d) { d["ram"]["live"] = "00ff"; }},
        {"report2", [](auto& d) { d["eeprom"]["config"]["report2"] = "zz"; }},
        {"device", [](auto& d) { d["device"] = "Sideways"; }},
        {"schedule", [](auto& d) { d["ram"]["schedule"] = 5; }},
        {"random", [](auto& d) { d["random"] = "not a generator"; }},
        {"format", [](auto& d) { d.erase("format"); }},
        {"bytes", [](auto& d) { d["flash"]["bytes"] = "ff"; }},
        {"firmware", [](auto& d) { d["firmware"] = "Absent"; }},
    };
    for (const Case& c : cases) {
        nlohmann::json doc = good;
        c.breakIt(doc);
        WriteText(doc.dump());
        SimBench b;
        b.Board().Config().FanLow = 42;
        std::string error;
        EXPECT_FALSE(b.backend->SetStateFile(path, &error)) << c.what;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(c.what), std::string::npos) << error;
        EXPECT_EQ(b.Board().Config().FanLow, 42) << "the board stays as it was";
        EXPECT_EQ(ReadJson(), doc) << "a refused file is not overwritten";
    }
    for (const std::string text : {"", "{not json", "[1, 2]", "null"}) {
        WriteText(text);
        SimBench b;
        std::string error;
        EXPECT_FALSE(b.backend->LoadState(path, &error)) << text;
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    SimBench b;
    EXPECT_FALSE(b.backend->LoadState((dir / "missing.json").string(), &error));
    EXPECT_NE(error.find("missing.json"), std::string::npos);
}

}  // namespace
}  // namespace quelvan::sim::testing
