#pragma once
// The board's report protocol: one shared in-memory copy of each record, moved to and
// from the held board device with fixed buffers and fixed attempt counts.
//
// The window ignores the results (a failed transfer is simply dropped and the next poll
// brings the records back in line); the command-line tool uses them to say what failed.
//
// A board shared with other programs through the service (HidDevice::Shared) may have been
// changed by them since this copy was read. There every write takes the board for itself,
// and a record write first reads the record again and sends this program's edits (what
// differs from the copy as last read) on top of what the board holds now. On the bus the
// transfers are exactly the ones below, no more.

#include <cstdint>
#include <optional>
#include <utility>

#include "device/clock.h"
#include "device/records.h"

namespace quelvan {

class HidDevice;

struct TransferResult {
    bool ok = false;   // every transfer of the operation succeeded
    int attempts = 0;  // feature-report transfers tried
    bool sent() const { return attempts > 0; }
};

class BoardProtocol {
public:
    static constexpr int kWriteAttempts = 3;
    static constexpr int kLiveStateReadAttempts = 3;

    explicit BoardProtocol(const Clock& clock) : clock_(clock) {}

    // The board slot. Without a device every operation is a no-op. A new device starts
    // with nothing read from it.
    void SetDevice(HidDevice* device);
    HidDevice* Device() const { return device_; }

    // A record goes to the board only after it was read completely from that same board:
    // otherwise a failed first read would send zeros over the board's settings. Until then
    // the write operations send nothing (and report no attempt).
    bool LiveStateRead() const { return liveRead_; }
    bool DeviceConfigRead() const { return configPartsRead_ == kAllConfigParts; }
    // Changes whenever another device (or none) is set, so that data read from one board
    // can be told from data of the next, even if the next one's object has the same address.
    std::uint64_t DeviceGeneration() const { return generation_; }

    // The program's one copy of each record.
    LiveState live;
    DeviceConfig config;

    TransferResult ReadLiveState();
    TransferResult WriteLiveState(bool setClock, bool setMoonTransit, bool setChannels);
    TransferResult ReadDeviceConfig();
    TransferResult WriteDeviceConfig();
    // The board chooses which entry it sends; nullopt when the get failed.
    std::optional<std::pair<std::uint8_t, ScheduleEntry>> ReadScheduleEntry(TransferResult* result = nullptr);
    TransferResult WriteScheduleEntry(std::uint8_t index, const ScheduleEntry& entry);
    TransferResult SaveEEPROM();
    TransferResult EnterBootloader();

    // On a shared board, inside an ExclusiveUse: reads both records again, so that an
    // operation that sets values outright (every channel, a file's settings) starts from what
    // the board holds now. Sends nothing on the bus.
    void RereadIfShared();

    // Sets the clock fields of `live` from the computer's local time (hour, minute,
    // second, and the sub-second tick).
    void SetClockFromComputer();
    const Clock& ComputerClock() const { return clock_; }

private:
    TransferResult Get(std::uint8_t* buffer, std::size_t length, int attempts);
    TransferResult Set(const std::uint8_t* buffer, std::size_t length, int attempts);
    TransferResult SendCommand(std::uint8_t command);
    TransferResult SendLiveState(bool setClock, bool setMoonTransit, bool setChannels);
    TransferResult SendDeviceConfig();

    static constexpr unsigned kAllConfigParts = 0b1111;

    const Clock& clock_;
    HidDevice* device_ = nullptr;
    std::uint64_t generation_ = 0;
    bool liveRead_ = false;
    unsigned configPartsRead_ = 0;  // one bit per report 2, 4, 5, 6 read from device_
    // The records as last read from (or written to) the board: what this program's edits
    // are told apart by on a shared board.
    LiveState lastLive_;
    DeviceConfig lastConfig_;
};

}  // namespace quelvan
