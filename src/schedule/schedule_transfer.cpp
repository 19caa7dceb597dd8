#include "schedule/schedule_transfer.h"

#include "device/hid_device_controller.h"

namespace quelvan {

ScheduleLoadResult LoadSchedule(BoardProtocol& board, ScheduleTable& table) {
    ScheduleLoadResult result;
    const int count = board.live.EntryCount;
    table.BeginLoad(count, board.DeviceGeneration());
    for (int i = 0; i < count; ++i) {
        const auto read = board.ReadScheduleEntry();
        ++result.reads;
        if (!read)
            ++result.failedReads;
        else if (table.Store(read))
            ++result.stored;
        else
            ++result.dropped;
    }
    result.complete = table.LoadedCompletelyFrom(board.DeviceGeneration());
    return result;
}

ScheduleWriteResult WriteSchedule(BoardProtocol& board, const ScheduleTable& table) {
    ScheduleWriteResult result;
    result.total.ok = true;
    if (!board.Device() || !table.LoadedCompletelyFrom(board.DeviceGeneration())) {
        result.total.ok = false;
        return result;
    }
    // Shared through the service: no other program's row lands between these.
    const ExclusiveUse exclusive(board.Device());
    if (!exclusive.Held()) {
        result.total.ok = false;
        return result;
    }
    result.allowed = true;
    const auto& rows = table.Entries();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TransferResult r = board.WriteScheduleEntry(static_cast<std::uint8_t>(i), rows[i]);
        ++result.written;
        result.total.attempts += r.attempts;
        if (!r.ok) {
            ++result.failed;
            result.total.ok = false;
        }
    }
    return result;
}

}  // namespace quelvan
