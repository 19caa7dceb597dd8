#pragma once
// A small in-memory board behind an emulated hidraw node: it answers the application
// firmware's feature reports 1 to 6 and the commands of report 3, and logs every transfer.
//
// The emulation calls it from umockdev's worker thread while the test (or a program it
// started) waits on the main thread, so every member locks.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "device/records.h"

namespace quelvan::umock {

struct EmulatedTransfer {
    bool isSet = false;
    std::vector<std::uint8_t> bytes;  // as sent (set), or as answered (get)
    int result = 0;                   // bytes transferred, or -errno
};

class EmulatedBoard {
public:
    // Firmware version 4, three schedule rows, a few settings that are not zero.
    EmulatedBoard();

    // The device's answer to a feature-report ioctl on a buffer of `length` bytes whose
    // byte 0 is the report ID: bytes transferred, or -errno. Like a USB device, a get
    // answers with the whole report, cut to the buffer; a report it does not know stalls.
    int Get(std::uint8_t* buffer, std::size_t length);
    int Set(const std::uint8_t* buffer, std::size_t length);

    LiveState Live() const;
    void SetLive(const LiveState& live);
    DeviceConfig Config() const;
    void SetConfig(const DeviceConfig& config);
    std::vector<ScheduleEntry> Schedule() const;
    // EntryCount follows the number of rows.
    void SetSchedule(std::vector<ScheduleEntry> rows);

    std::vector<EmulatedTransfer> Transfers() const;
    void ClearTransfers();
    int EEPROMSaves() const;
    int BootloaderRequests() const;

    // The next `count` transfers (get or set) fail with this errno.
    void FailNext(int count, int error);

private:
    int Answer(bool isSet, const std::uint8_t* bytes, std::size_t length, int result);
    int SetLocked(const std::uint8_t* buffer, std::size_t length);

    mutable std::mutex mutex_;
    LiveState live_;
    DeviceConfig config_;
    std::vector<ScheduleEntry> schedule_;
    std::size_t nextEntry_ = 0;
    std::vector<EmulatedTransfer> transfers_;
    int eepromSaves_ = 0;
    int bootloaderRequests_ = 0;
    int failCount_ = 0;
    int failError_ = 0;
};

}  // namespace quelvan::umock
