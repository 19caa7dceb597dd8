// Loading and writing the whole day program against the simulated board.

#include "schedule/schedule_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "device/clock.h"
#include "device/hid_device_controller.h"
#include "device/identification.h"
#include "simulator/simulated_backend.h"

namespace quelvan {
namespace {

ScheduleEntry At(int hour, int minute, std::uint8_t percent) {
    ScheduleEntry e;
    e.Hour = static_cast<std::int8_t>(hour);
    e.Minute = static_cast<std::int8_t>(minute);
    e.Color.fill(percent);
    return e;
}

const std::vector<ScheduleEntry> kBoardRows = {At(0, 0, 0), At(8, 0, 40), At(13, 0, 100), At(24, 0, 0)};

// A board with four rows, held and with its live state read, as after connecting.
class BoardRig {
public:
    BoardRig() : clock(LocalDateTime{2024, 5, 17, 7, 5, 9, 0}), backend({}, &clock), protocol(clock) {
        backend.Board().SetFrozen(true);
        backend.Board().Schedule() = kBoardRows;
        controller = std::make_unique<HidDeviceController>(backend);
        controller->OnEnumerate = [this](HidDevice& device, int index) {
            if (IdentifyDevice(device.ManufacturerString(), device.ProductString()) == DeviceRole::Board)
                protocol.SetDevice(controller->AcquireDevice(index));
            return true;
        };
        controller->OnDeviceChange = [this] { controller->EnumerateDevices(); };
        controller->ProcessNotifications();
        protocol.ReadLiveState();
        backend.ClearTransfers();
    }
    int Gets() const { return backend.CountTransfers(false, report::kSchedule); }
    std::vector<std::vector<std::uint8_t>> Writes() const {
        std::vector<std::vector<std::uint8_t>> writes;
        for (const sim::SimTransfer& t : backend.Transfers())
            if (t.isSet && t.bytes[0] == report::kSchedule) writes.push_back(t.bytes);
        return writes;
    }

    ManualClock clock;
    sim::SimulatedHidBackend backend;
    BoardProtocol protocol;
    std::unique_ptr<HidDeviceController> controller;
};

TEST(LoadSchedule, PlacesEachEntryAtTheIndexTheBoardSends) {
    // Wherever the board's rotation stands, the table comes out in board order.
    for (int start : {0, 1, 3}) {
        BoardRig rig;
        rig.backend.Board().SetNextScheduleIndex(start);
        ScheduleTable table;
        const ScheduleLoadResult r = LoadSchedule(rig.protocol, table);
        EXPECT_EQ(rig.Gets(), 4) << start;
        EXPECT_EQ(r.stored, 4);
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(table.Entries(), kBoardRows) << start;
        for (const sim::SimTransfer& t : rig.backend.Transfers()) EXPECT_EQ(t.bytes.size(), 16u);
    }
}

TEST(LoadSchedule, FailedReadStoresNothingAndBlocksTheUpload) {
    BoardRig rig;
    ScheduleTable table;
    ASSERT_TRUE(LoadSchedule(rig.protocol, table).complete);
    table.Rows()[3].Color.fill(7);  // an edit in the last row, not yet uploaded

    // The first get fails; the board does not move on, so rows 0..2 arrive and 3 does not.
    rig.backend.ClearTransfers();
    rig.backend.FailNext(false, report::kSchedule, 1);
    const ScheduleLoadResult r = LoadSchedule(rig.protocol, table);
    EXPECT_EQ(rig.Gets(), 4) << "one get per row, no retry";
    EXPECT_EQ(r.failedReads, 1);
    EXPECT_EQ(r.stored, 3);
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(table.Entries()[3].Color[0], 7) << "a row that did not arrive keeps what it held";

    const ScheduleWriteResult w = WriteSchedule(rig.protocol, table);
    EXPECT_FALSE(w.allowed);
    EXPECT_TRUE(rig.Writes().empty());
}

TEST(LoadSchedule, IndexAtOrPastTheEndIsDropped) {
    for (int index : {4, 200, 255}) {
        BoardRig rig;
        rig.backend.Board().SetScheduleIndexOverride(index);
        ScheduleTable table;
        const ScheduleLoadResult r = LoadSchedule(rig.protocol, table);
        EXPECT_EQ(r.dropped, 4) << index;
        EXPECT_EQ(table.Size(), 4u) << "nothing is written outside the table";
        EXPECT_EQ(table.Entries(), std::vector<ScheduleEntry>(4)) << index;
        EXPECT_FALSE(WriteSchedule(rig.protocol, table).allowed);
        EXPECT_TRUE(rig.Writes().empty());
    }
}

TEST(LoadSchedule, WithoutABoardEveryReadFailsAtOnce) {
    BoardRig rig;
    ScheduleTable table;
    ASSERT_TRUE(LoadSchedule(rig.protocol, table).complete);
    const std::uint64_t before = rig.protocol.DeviceGeneration();
    rig.protocol.SetDevice(nullptr);
    rig.backend.ClearTransfers();
    const ScheduleLoadResult r = LoadSchedule(rig.protocol, table);
    EXPECT_EQ(r.failedReads, 4) << "the length stays that of the last live state";
    EXPECT_TRUE(rig.backend.Transfers().empty());
    EXPECT_EQ(table.Entries(), kBoardRows);
    EXPECT_FALSE(table.LoadedCompletelyFrom(before));
}

TEST(WriteSchedule, SendsEveryRowByIndexFromZeroUpward) {
    BoardRig rig;
    ScheduleTable table;
    ASSERT_TRUE(LoadSchedule(rig.protocol, table).complete);
    std::reverse(table.Rows().begin(), table.Rows().end());
    rig.backend.ClearTransfers();
    const ScheduleWriteResult w = WriteSchedule(rig.protocol, table);
    ASSERT_TRUE(w.allowed);
    const auto writes = rig.Writes();
    ASSERT_EQ(writes.size(), 4u);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const auto& row = table.Entries()[i];
        std::vector<std::uint8_t> expected = {3, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(row.Hour),
                                              static_cast<std::uint8_t>(row.Minute)};
        expected.insert(expected.end(), row.Color.begin(), row.Color.end());
        EXPECT_EQ(writes[i], expected) << i;
    }
    EXPECT_EQ(rig.backend.Board().Schedule().front(), kBoardRows.back());
}

TEST(WriteSchedule, RetriesARowThreeTimesAndGoesOn) {
    BoardRig rig;
    ScheduleTable table;
    ASSERT_TRUE(LoadSchedule(rig.protocol, table).complete);
    rig.backend.ClearTransfers();
    rig.backend.FailNext(true, report::kSchedule, 3);
    const ScheduleWriteResult w = WriteSchedule(rig.protocol, table);
    EXPECT_EQ(w.failed, 1);
    EXPECT_EQ(w.written, 4);
    EXPECT_EQ(w.total.attempts, 6);
    EXPECT_EQ(rig.backend.CountTransfers(true, report::kSchedule), 6);
}

TEST(WriteSchedule, NeedsACompleteLoadFromTheBoardHeldNow) {
    BoardRig rig;
    ScheduleTable table;
    EXPECT_FALSE(WriteSchedule(rig.protocol, table).allowed) << "never loaded";
    ASSERT_TRUE(LoadSchedule(rig.protocol, table).complete);

    // The same board comes back as a new device: what was read from the old one is not
    // sent until the table was loaded again.
    HidDevice* device = rig.protocol.Device();
    rig.protocol.SetDevice(nullptr);
    rig.protocol.SetDevice(device);
    rig.backend.ClearTransfers();
    EXPECT_FALSE(WriteSchedule(rig.protocol, table).allowed);
    EXPECT_TRUE(rig.Writes().empty());
    ASSERT_TRUE(LoadSchedule(rig.protocol, table).complete);
    EXPECT_TRUE(WriteSchedule(rig.protocol, table).allowed);
    EXPECT_EQ(rig.Writes().size(), 4u);
}

}  // namespace
}  // namespace quelvan
