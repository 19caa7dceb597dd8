#include "device/board_protocol.h"

#include <gtest/gtest.h>

#include "device/hid_device_controller.h"
#include "fake_backend.h"

namespace quelvan {
namespace {

using testing::FakeBackend;

class BoardProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        id = backend.Add(u"www.dravik.info", u"Quelvan2");
        backend.Get(id).answer = [this](std::uint8_t* buffer, std::size_t length) {
            for (std::size_t i = 1; i < length; ++i) buffer[i] = static_cast<std::uint8_t>(answerBase + buffer[0] + i);
        };
        controller.ProcessNotifications();
        device = controller.AcquireDevice(0);
        ASSERT_NE(device, nullptr);
        board.SetDevice(device);
    }

    std::vector<std::uint8_t> Sent(std::size_t i) const { return backend.log.at(i).bytes; }

    // Writes go out only after both records were read from the board.
    void ReadBothRecords() {
        ASSERT_TRUE(board.ReadLiveState().ok);
        ASSERT_TRUE(board.ReadDeviceConfig().ok);
        backend.log.clear();
    }

    FakeBackend backend;
    HidDeviceController controller{backend};
    ManualClock clock;
    BoardProtocol board{clock};
    HidDevice* device = nullptr;
    std::string id;
    std::uint8_t answerBase = 0;
};

TEST_F(BoardProtocolTest, WithoutBoardEveryOperationSendsNothingAndChangesNothing) {
    board.SetDevice(nullptr);
    board.live.ClockHour = 7;
    board.config.Mode = 3;
    const LiveState live = board.live;
    const DeviceConfig config = board.config;
    EXPECT_FALSE(board.ReadLiveState().sent());
    EXPECT_FALSE(board.WriteLiveState(true, true, true).sent());
    EXPECT_FALSE(board.ReadDeviceConfig().sent());
    EXPECT_FALSE(board.WriteDeviceConfig().sent());
    EXPECT_FALSE(board.ReadScheduleEntry().has_value());
    EXPECT_FALSE(board.WriteScheduleEntry(0, {}).sent());
    EXPECT_FALSE(board.SaveEEPROM().sent());
    EXPECT_FALSE(board.EnterBootloader().sent());
    EXPECT_TRUE(backend.log.empty());
    EXPECT_EQ(board.live, live);
    EXPECT_EQ(board.config, config);
}

TEST_F(BoardProtocolTest, ReadLiveStateRetriesUpToThreeTimesAndKeepsOldStateOnFailure) {
    backend.FailNext(2);
    auto r = board.ReadLiveState();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.attempts, 3);
    ASSERT_EQ(backend.log.size(), 3u);
    for (const auto& t : backend.log) {
        EXPECT_FALSE(t.isSet);
        EXPECT_EQ(t.bytes.size(), 42u);
        EXPECT_EQ(t.bytes[0], 1);
    }
    EXPECT_EQ(board.live.FirmwareVersion, 2);  // answer: 0 + id 1 + offset 1

    const LiveState before = board.live;
    backend.log.clear();
    backend.FailNext(3);
    r = board.ReadLiveState();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.attempts, 3);
    EXPECT_EQ(backend.log.size(), 3u);
    EXPECT_EQ(board.live, before);
}

TEST_F(BoardProtocolTest, WriteLiveStateMarksGoIntoTheSentBufferOnly) {
    ReadBothRecords();
    for (int n = 0; n < 12; ++n) board.live.ChannelValue[n] = static_cast<std::int16_t>(100 * (n + 1));
    board.live.ClockMinute = 33;
    board.live.MoonTransitMinute = 44;
    board.live.Reserved1 = {0xAB, 0xCD};
    const LiveState before = board.live;

    board.WriteLiveState(false, false, true);  // a channel change
    board.WriteLiveState(true, false, false);  // a clock change
    board.WriteLiveState(false, true, false);  // a moon-transit change
    ASSERT_EQ(backend.log.size(), 3u);
    EXPECT_EQ(board.live, before);

    const auto channel = Sent(0);
    EXPECT_TRUE(backend.log[0].isSet);
    EXPECT_EQ(channel.size(), 42u);
    EXPECT_EQ(channel[0], 1);
    EXPECT_EQ(channel[3], 0xAB);
    EXPECT_EQ(channel[7], 0xFF);
    EXPECT_EQ(channel[11], 0xFF);
    EXPECT_EQ(channel[13], 100);  // channel A = 100, little-endian
    EXPECT_EQ(channel[14], 0);

    const auto clockWrite = Sent(1);
    EXPECT_EQ(clockWrite[7], 33);
    EXPECT_EQ(clockWrite[11], 0xFF);
    for (int b = 13; b <= 20; ++b) EXPECT_EQ(clockWrite[b], 0xFF) << b;
    EXPECT_EQ(clockWrite[21], 500 & 0xFF);  // channel E keeps its value
    EXPECT_EQ(clockWrite[22], 500 >> 8);

    const auto moon = Sent(2);
    EXPECT_EQ(moon[7], 0xFF);
    EXPECT_EQ(moon[11], 44);
}

TEST_F(BoardProtocolTest, WritesRetryThreeTimesThenGiveUp) {
    ReadBothRecords();
    backend.FailNext(5);
    EXPECT_EQ(board.WriteLiveState(false, false, true).attempts, 3);
    const TransferResult r = board.WriteScheduleEntry(1, {});  // attempts 4 and 5 fail, 6 succeeds
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.attempts, 3);
    EXPECT_EQ(backend.log.size(), 6u);
    EXPECT_EQ(backend.log.back().bytes.size(), 16u);
}

TEST_F(BoardProtocolTest, ReadDeviceConfigReadsFourPartsInOrderOnceEach) {
    auto r = board.ReadDeviceConfig();
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(backend.log.size(), 4u);
    const std::pair<int, std::size_t> expected[] = {{2, 28}, {4, 17}, {5, 29}, {6, 25}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_FALSE(backend.log[i].isSet);
        EXPECT_EQ(backend.log[i].bytes[0], expected[i].first);
        EXPECT_EQ(backend.log[i].bytes.size(), expected[i].second);
    }
    EXPECT_EQ(board.config.Mode, 3);  // 0 + id 2 + 1
}

TEST_F(BoardProtocolTest, ReadDeviceConfigStopsAtFirstFailureLeavingLaterPartsOld) {
    board.config.FanMode = 99;
    board.config.CloudAlpha = 1234;
    backend.FailAttempt(2);  // report 5
    auto r = board.ReadDeviceConfig();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.attempts, 3);
    EXPECT_EQ(backend.log.size(), 3u);
    EXPECT_EQ(board.config.Mode, 3);         // part 1 new
    EXPECT_EQ(board.config.RC5.Up, 0x0605);  // part 2 new: bytes 4+1, 4+2
    EXPECT_EQ(board.config.FanMode, 99);     // parts 3 and 4 old
    EXPECT_EQ(board.config.CloudAlpha, 1234);
}

TEST_F(BoardProtocolTest, ColorNamesAboveElevenBecomeZeroOnlyAfterACompleteRead) {
    backend.Get(id).answer = [](std::uint8_t* buffer, std::size_t length) {
        for (std::size_t i = 1; i < length; ++i) buffer[i] = 0;
        if (buffer[0] == 2) {
            buffer[8] = 12;   // ColorName A
            buffer[9] = 255;  // ColorName B
            buffer[10] = 11;  // ColorName C stays
        }
    };
    backend.FailAttempt(3);  // report 6 fails: no correction
    board.ReadDeviceConfig();
    EXPECT_EQ(board.config.ColorName[0], 12);
    EXPECT_EQ(board.config.ColorName[1], 255);

    board.ReadDeviceConfig();
    EXPECT_EQ(board.config.ColorName[0], 0);
    EXPECT_EQ(board.config.ColorName[1], 0);
    EXPECT_EQ(board.config.ColorName[2], 11);
}

TEST_F(BoardProtocolTest, WriteDeviceConfigSendsAllFourPartsEvenWhenOneFails) {
    ReadBothRecords();
    board.config = DeviceConfig{};
    board.config.Mode = 1;
    board.config.RC5.Up = 0x1234;
    board.config.FanMode = 1;
    board.config.LightningColor[11] = 77;
    backend.FailNext(3);  // report 2 fails all three attempts
    auto r = board.WriteDeviceConfig();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.attempts, 6);
    ASSERT_EQ(backend.log.size(), 6u);
    EXPECT_EQ(Sent(0), Sent(2));
    EXPECT_EQ(Sent(0).size(), 28u);
    EXPECT_EQ(Sent(0)[1], 1);
    EXPECT_EQ(Sent(3), (std::vector<std::uint8_t>{4, 0x34, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Sent(4).size(), 29u);
    EXPECT_EQ(Sent(4)[0], 5);
    EXPECT_EQ(Sent(4)[1], 1);
    EXPECT_EQ(Sent(5).size(), 25u);
    EXPECT_EQ(Sent(5)[24], 77);
}

// A failed first read must not let zeros go out over the board's settings: each record is
// written only once it was read completely from the board now held.
TEST_F(BoardProtocolTest, NothingIsWrittenBeforeTheRecordWasReadCompletelyFromThatBoard) {
    struct Case {
        const char* name;
        int liveFailures;  // failed attempts of the live-state read (3 = it fails)
        int configFailAt;  // attempt of the settings read that fails (-1 none)
        bool liveWritten;
        bool configWritten;
    };
    const Case cases[] = {
        {"both read", 0, -1, true, true},       {"live state unread", 3, -1, false, true},
        {"report 2 unread", 0, 0, true, false}, {"report 4 unread", 0, 1, true, false},
        {"report 5 unread", 0, 2, true, false}, {"report 6 unread", 0, 3, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        board.SetDevice(nullptr);  // a new connection starts with nothing read
        board.SetDevice(device);
        backend.log.clear();
        backend.FailNext(c.liveFailures);
        board.ReadLiveState();
        backend.log.clear();
        if (c.configFailAt >= 0) backend.FailAttemptFromNow(c.configFailAt);
        board.ReadDeviceConfig();
        backend.log.clear();

        EXPECT_EQ(board.WriteLiveState(false, false, true).sent(), c.liveWritten);
        EXPECT_EQ(board.WriteDeviceConfig().sent(), c.configWritten);
        std::size_t expected = (c.liveWritten ? 1 : 0) + (c.configWritten ? 4 : 0);
        EXPECT_EQ(backend.log.size(), expected);
    }

    // Once read completely, a later failing poll (parts old, parts new) does not stop writes.
    board.SetDevice(nullptr);
    board.SetDevice(device);
    ReadBothRecords();
    backend.FailAttemptFromNow(1);
    board.ReadDeviceConfig();
    backend.log.clear();
    EXPECT_EQ(board.WriteDeviceConfig().attempts, 4);

    // Another board (or the same one plugged in again) has to be read again.
    const std::string other = backend.Add(u"www.dravik.info", u"Quelvan2");
    controller.NotifyDeviceChange();
    HidDevice* second = controller.AcquireDevice(controller.DeviceCount() - 1);
    ASSERT_NE(second, nullptr);
    const std::uint64_t generation = board.DeviceGeneration();
    board.SetDevice(second);
    EXPECT_NE(board.DeviceGeneration(), generation);
    board.SetDevice(second);
    EXPECT_EQ(board.DeviceGeneration(), generation + 1);
    backend.log.clear();
    EXPECT_FALSE(board.WriteLiveState(true, false, false).sent());
    EXPECT_FALSE(board.WriteDeviceConfig().sent());
    EXPECT_TRUE(backend.log.empty());
    EXPECT_FALSE(board.LiveStateRead());
    EXPECT_FALSE(board.DeviceConfigRead());
}

TEST_F(BoardProtocolTest, ScheduleEntryTransfers) {
    backend.Get(id).answer = [](std::uint8_t* buffer, std::size_t) {
        buffer[1] = 5;
        buffer[2] = 8;
        buffer[3] = 30;
        buffer[15] = 42;
    };
    TransferResult r;
    auto got = board.ReadScheduleEntry(&r);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->first, 5);
    EXPECT_EQ(got->second.Hour, 8);
    EXPECT_EQ(got->second.Minute, 30);
    EXPECT_EQ(got->second.Color[11], 42);
    EXPECT_EQ(backend.log[0].bytes.size(), 16u);

    backend.FailNext(1);  // one attempt only, no retry
    EXPECT_FALSE(board.ReadScheduleEntry(&r).has_value());
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(backend.log.size(), 2u);

    ScheduleEntry e;
    e.Hour = 24;
    e.Color[0] = 100;
    board.WriteScheduleEntry(9, e);
    EXPECT_EQ(Sent(2), (std::vector<std::uint8_t>{3, 9, 24, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(BoardProtocolTest, CommandsAre28ByteReport3Buffers) {
    board.SaveEEPROM();
    board.EnterBootloader();
    std::vector<std::uint8_t> save(28, 0), boot(28, 0);
    save[0] = boot[0] = 3;
    save[1] = 255;
    boot[1] = 254;
    EXPECT_EQ(Sent(0), save);
    EXPECT_EQ(Sent(1), boot);
}

TEST_F(BoardProtocolTest, ClockFromComputerIncludesTheTick) {
    clock.SetTimeOfDay(13, 4, 59, 60);
    board.SetClockFromComputer();
    EXPECT_EQ(board.live.ClockHour, 13);
    EXPECT_EQ(board.live.ClockMinute, 4);
    EXPECT_EQ(board.live.ClockSecond, 59);
    EXPECT_EQ(board.live.ClockTick, 2);
}

}  // namespace
}  // namespace quelvan
