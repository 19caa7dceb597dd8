// The application firmware's reports as the tool uses them: lengths, marks, schedule
// rotation, the EEPROM and the modes.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "sim_bench.h"

namespace quelvan::sim::testing {
namespace {

class BoardReports : public ::testing::Test {
protected:
    void SetUp() override {
        bench.Board().SetFrozen(true);
        ASSERT_NE(bench.Acquire(kBoardProduct), nullptr);
    }
    HidDevice& Device() { return *bench.protocol.Device(); }
    SimBench bench;
};

TEST_F(BoardReports, RefusesWrongLengthsAndUnknownReports) {
    struct Case {
        bool isSet;
        std::uint8_t id;
        std::size_t length;
        std::uint8_t byte1 = 0;
    };
    const Case refused[] = {
        {false, 1, 41}, {false, 1, 43}, {true, 1, 16},  {false, 2, 27}, {true, 2, 29},      {false, 3, 28},
        {true, 3, 17},  {true, 3, 27},  {false, 4, 16}, {true, 4, 18},  {false, 5, 28},     {true, 5, 30},
        {false, 6, 24}, {true, 6, 26},  {false, 7, 42}, {true, 0, 28},  {true, 3, 28, 253}, {true, 3, 16, 250},
    };
    for (const Case& c : refused) {
        std::vector<std::uint8_t> buffer(c.length, 0);
        buffer[0] = c.id;
        buffer[1] = c.byte1;
        const std::vector<std::uint8_t> asked = buffer;
        const bool ok = c.isSet ? Device().WriteFeature(buffer.data(), buffer.size())
                                : Device().ReadFeature(buffer.data(), buffer.size());
        EXPECT_FALSE(ok) << (c.isSet ? "set " : "get ") << int(c.id) << " length " << c.length;
        EXPECT_EQ(buffer, asked) << "a refused get leaves the buffer as asked";
        EXPECT_EQ(bench.backend->Transfers().back().bytes, asked);
        EXPECT_FALSE(bench.backend->Transfers().back().ok);
    }
    // The exact lengths are taken.
    for (auto [id, length] : {std::pair{1, 42}, {2, 28}, {3, 16}, {4, 17}, {5, 29}, {6, 25}}) {
        std::vector<std::uint8_t> buffer(length, 0);
        buffer[0] = static_cast<std::uint8_t>(id);
        EXPECT_TRUE(Device().ReadFeature(buffer.data(), buffer.size())) << id;
    }
}

TEST_F(BoardReports, LiveStateWritesHonourTheMarks) {
    SimulatedBoard& board = bench.Board();
    board.Config().Mode = 0;  // "Manuell": the channels stay as sent
    ASSERT_TRUE(bench.protocol.ReadLiveState().ok);
    LiveState& live = bench.protocol.live;
    EXPECT_EQ(live.ClockHour, 9);

    // Channels only: clock and moon transit stay although the record holds other values.
    for (int c = 0; c < kChannelCount; ++c) live.ChannelValue[c] = static_cast<std::int16_t>(100 * c + 7);
    live.ClockHour = 3;
    live.MoonTransitHour = 5;
    const std::int8_t transitHour = board.Live().MoonTransitHour;
    ASSERT_TRUE(bench.protocol.WriteLiveState(false, false, true).ok);
    EXPECT_EQ(board.Live().ChannelValue, live.ChannelValue);
    EXPECT_EQ(board.Live().ClockHour, 9);
    EXPECT_EQ(board.Live().MoonTransitHour, transitHour);

    // Clock only: 0xFFFF in A..D leaves all twelve channels alone.
    const auto channels = board.Live().ChannelValue;
    live.ChannelValue.fill(4096);
    live.ClockHour = 17;
    live.ClockMinute = 42;
    live.ClockSecond = 30;
    live.ClockTick = 25;  // 1000 ms: carries into the next second
    ASSERT_TRUE(bench.protocol.WriteLiveState(true, false, false).ok);
    EXPECT_EQ(board.Live().ChannelValue, channels);
    EXPECT_EQ(board.Live().ClockHour, 17);
    EXPECT_EQ(board.Live().ClockMinute, 42);
    EXPECT_EQ(board.Live().ClockSecond, 31);
    EXPECT_EQ(board.Live().ClockTick, 0);

    // 24:00 is the end of the day, for the clock and the moon transit.
    live.ClockHour = 24;
    live.ClockMinute = 0;
    live.ClockSecond = 0;
    live.ClockTick = 0;
    ASSERT_TRUE(bench.protocol.WriteLiveState(true, false, false).ok);
    EXPECT_EQ(board.Live().ClockHour, 0);
    live.MoonTransitHour = 24;
    live.MoonTransitMinute = 0;
    ASSERT_TRUE(bench.protocol.WriteLiveState(false, true, false).ok);
    EXPECT_EQ(board.Live().MoonTransitHour, 0);
    EXPECT_EQ(board.Live().MoonTransitMinute, 0);
    EXPECT_EQ(board.Live().ChannelValue, channels);
    EXPECT_EQ(board.Live().ClockHour, 0);
}

TEST_F(BoardReports, ScheduleGetsVisitEveryIndexOnceFromAnyStart) {
    SimulatedBoard& board = bench.Board();
    const int count = static_cast<int>(board.Schedule().size());
    ASSERT_GE(count, 8);
    for (int start : {0, 1, count / 2, count - 1}) {
        board.SetNextScheduleIndex(start);
        std::vector<int> seen;
        for (int i = 0; i < count; ++i) {
            const auto got = bench.protocol.ReadScheduleEntry();
            ASSERT_TRUE(got);
            seen.push_back(got->first);
            EXPECT_EQ(got->second, board.Schedule()[got->first]);
        }
        EXPECT_EQ(seen.front(), start);
        EXPECT_EQ(std::set<int>(seen.begin(), seen.end()).size(), static_cast<std::size_t>(count)) << start;
        EXPECT_EQ(board.NextScheduleIndex(), start) << "a full round ends where it began";
    }
}

TEST_F(BoardReports, EntryCountAndIndexOverrides) {
    SimulatedBoard& board = bench.Board();
    board.Schedule().resize(4);
    board.SetEntryCountOverride(6);  // two more than the board has rows for
    ASSERT_TRUE(bench.protocol.ReadLiveState().ok);
    EXPECT_EQ(bench.protocol.live.EntryCount, 6);
    board.SetNextScheduleIndex(0);
    std::vector<int> seen;
    for (int i = 0; i < 6; ++i) seen.push_back(bench.protocol.ReadScheduleEntry()->first);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5}));

    board.SetEntryCountOverride(std::nullopt);
    board.SetScheduleIndexOverride(200);
    EXPECT_EQ(bench.protocol.ReadScheduleEntry()->first, 200);
    board.SetScheduleIndexOverride(std::nullopt);

    // Rows past EntryCount cannot be written; with 255 rows, index 254 is a row, not a command.
    ScheduleEntry row;
    row.Hour = 12;
    row.Color.fill(50);
    EXPECT_FALSE(bench.protocol.WriteScheduleEntry(4, row).ok);
    EXPECT_EQ(bench.protocol.WriteScheduleEntry(3, row).attempts, 1);
    EXPECT_EQ(board.Schedule()[3], row);
    board.Schedule().resize(255);
    EXPECT_TRUE(bench.protocol.WriteScheduleEntry(254, row).ok);
    EXPECT_EQ(board.Schedule()[254], row);
    EXPECT_EQ(board.Mode(), BoardMode::Application);
}

TEST_F(BoardReports, EepromKeepsWhatWasStoredAcrossPowerCycles) {
    SimulatedBoard& board = bench.Board();
    EXPECT_EQ(board.EEPROMStoreCount(), 0);
    ASSERT_TRUE(bench.protocol.ReadDeviceConfig().ok);
    EXPECT_EQ(bench.protocol.config, DefaultConfig());

    // Not stored: a power cycle brings the defaults back.
    bench.protocol.config.Mode = 0;
    ASSERT_TRUE(bench.protocol.WriteDeviceConfig().ok);
    EXPECT_EQ(board.Config().Mode, 0);
    board.PowerCycle();
    EXPECT_EQ(board.Config(), DefaultConfig());

    // Stored: settings and table come back; later RAM changes do not.
    ASSERT_NE(bench.Rescan(kBoardProduct), nullptr);
    ASSERT_TRUE(bench.protocol.ReadDeviceConfig().ok);
    bench.protocol.config.Mode = 0;
    bench.protocol.config.FanLow = 7;
    ASSERT_TRUE(bench.protocol.WriteDeviceConfig().ok);
    ScheduleEntry row = board.Schedule()[2];
    row.Color[5] = 99;
    ASSERT_TRUE(bench.protocol.WriteScheduleEntry(2, row).ok);
    ASSERT_TRUE(bench.protocol.SaveEEPROM().ok);
    EXPECT_EQ(board.EEPROMStoreCount(), 1);
    EXPECT_EQ(bench.backend->Transfers().back().bytes.size(), 28u);

    bench.protocol.config.Mode = 2;
    ASSERT_TRUE(bench.protocol.WriteDeviceConfig().ok);
    board.Schedule()[2].Color[5] = 1;
    bench.clock.Set(At(21, 15, 30));
    board.PowerCycle();
    EXPECT_EQ(board.Config().Mode, 0);
    EXPECT_EQ(board.Config().FanLow, 7);
    EXPECT_EQ(board.Schedule()[2], row);
    EXPECT_EQ(board.Live().ClockHour, 21) << "the clock starts from the computer's";
    EXPECT_EQ(board.Live().ClockMinute, 15);
    EXPECT_EQ(board.EEPROMStoreCount(), 1);
}

TEST_F(BoardReports, PowerCycleIsANewDeviceOnTheBus) {
    const std::string before = bench.backend->Enumerate().at(0).identity;
    EXPECT_FALSE(bench.backend->TakeChange());
    bench.Board().PowerCycle();
    EXPECT_TRUE(bench.backend->TakeChange());
    EXPECT_FALSE(bench.backend->TakeChange()) << "drained";
    EXPECT_NE(bench.backend->Enumerate().at(0).identity, before);
    EXPECT_FALSE(bench.protocol.ReadLiveState().ok) << "the old handle belongs to the gone interface";
}

TEST_F(BoardReports, ModesDecideWhoSetsTheChannels) {
    SimulatedBoard& board = bench.Board();
    board.SetFrozen(false);
    bench.protocol.ReadDeviceConfig();
    bench.protocol.ReadLiveState();
    bench.protocol.live.ChannelValue.fill(1234);

    for (std::uint8_t mode : {0, 3, 4}) {  // "Manuell", "Flash", "Slave" hold what they are sent
        bench.protocol.config.Mode = mode;
        bench.protocol.WriteDeviceConfig();
        bench.protocol.WriteLiveState(false, false, true);
        bench.nowMs += 5000;
        ASSERT_TRUE(bench.protocol.ReadLiveState().ok);
        EXPECT_EQ(bench.protocol.live.ChannelValue[0], 1234) << int(mode);
    }
    bench.protocol.config.Mode = 1;  // "Auto": the schedule takes over at once
    bench.protocol.WriteDeviceConfig();
    ASSERT_TRUE(bench.protocol.ReadLiveState().ok);
    EXPECT_NE(bench.protocol.live.ChannelValue[0], 1234);

    bench.protocol.config.Mode = 2;  // "Demo": the colours move
    bench.protocol.WriteDeviceConfig();
    ASSERT_TRUE(bench.protocol.ReadLiveState().ok);
    const auto first = bench.protocol.live.ChannelValue;
    bench.nowMs += 3000;
    ASSERT_TRUE(bench.protocol.ReadLiveState().ok);
    EXPECT_NE(bench.protocol.live.ChannelValue, first);
}

TEST_F(BoardReports, ColorNamesAboveElevenGoOutAsTheyAre) {
    bench.Board().Config().ColorName[3] = 200;
    std::vector<std::uint8_t> buffer(28, 0);
    buffer[0] = 2;
    ASSERT_TRUE(Device().ReadFeature(buffer.data(), buffer.size()));
    EXPECT_EQ(buffer[8 + 3], 200);
}

}  // namespace
}  // namespace quelvan::sim::testing
