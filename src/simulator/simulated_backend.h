#pragma once
// The simulated board: a second HID backend that behaves like the real dimmer board at
// the byte level (application firmware, EEPROM, HID bootloader), plus hooks for tests.
//
// Everything runs in-process and on the caller's thread. Device changes (plug, unplug,
// restart into the bootloader and back) are signalled through ChangeFd(), like udev.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/clock.h"
#include "device/hid_backend.h"
#include "device/records.h"

namespace quelvan::sim {

// Which firmware the board is running, or whether it is on the bus at all.
enum class BoardMode { Absent, Application, Bootloader };

struct BoardSettings {
    int firmwareVersion = 4;
    int bootloaderVariant = 2;     // product string "1" or "2"
    std::uint16_t pageSize = 128;  // bootloader information
    std::uint32_t flashSize = 32768;
    bool temperatureSensor = true;  // false: the board reports 0x7FFF
    std::u16string serialNumber = u"QV2-000123";
    std::uint32_t randomSeed = 1;  // weather and supply noise replay the same under one seed
};

// A HID device that is not the board (a keyboard, another maker's gadget).
struct ForeignDevice {
    std::uint16_t vendorId = 0x046D;
    std::uint16_t productId = 0xC31C;
    std::uint16_t versionNumber = 0x0110;
    std::u16string manufacturer = u"Logitech";
    std::u16string product = u"USB Keyboard";
    std::u16string serialNumber;
};

struct SimTransfer {
    std::string device;  // "board", "bootloader", or "foreign"
    bool isSet = false;
    std::vector<std::uint8_t> bytes;  // as sent (set), or as answered (successful get)
    bool ok = false;
};

class SimulatedBoard;

class SimulatedHidBackend final : public HidBackend {
public:
    // `clock` is the computer's clock the board's own clock starts from; `now` is the
    // monotonic time source in milliseconds that drives the board (steady clock when empty).
    explicit SimulatedHidBackend(BoardSettings settings = {}, const Clock* clock = nullptr,
                                 std::function<std::int64_t()> now = {});
    ~SimulatedHidBackend() override;

    // HidBackend
    std::vector<HidInterfaceInfo> Enumerate() override;
    HidOpenResult Open(const HidInterfaceInfo& device) override;
    std::optional<std::u16string> ReadString(const HidInterfaceInfo& device, HidString which) override;
    std::optional<std::u16string> ReadLanguageList(const HidInterfaceInfo& device) override;
    int ChangeFd() const override;
    bool TakeChange() override;
    std::string Problem() const override;

    SimulatedBoard& Board();

    // ---- test hooks ----
    // The log of transfer attempts with their bytes. It is kept only while recording, which
    // RecordTransfers() or the first ClearTransfers() switches on; until then Transfers() is
    // empty. The counts below are kept always.
    void RecordTransfers(bool record = true);
    bool RecordingTransfers() const;
    const std::vector<SimTransfer>& Transfers() const;
    // Empties the log and the counts, and records from now on.
    void ClearTransfers();
    // Attempts (successful or not) of get or set of one report ID on the board or bootloader.
    int CountTransfers(bool isSet, std::uint8_t reportId) const;
    // The next `count` attempts of that transfer fail.
    void FailNext(bool isSet, std::uint8_t reportId, int count);
    // Every attempt fails with this probability, from a seeded generator; 0 turns it off.
    void FailRandomly(double probability, std::uint32_t seed);
    // A fault plan as a state file can carry one: attempts are counted from 1 from now on,
    // each listed attempt fails, and right before attempt `unplugBeforeAttempt` the board
    // leaves the bus. An empty plan turns it off.
    void PlanFaults(std::vector<std::int64_t> failAttempts, std::optional<std::int64_t> unplugBeforeAttempt = {});
    // Each transfer blocks for this long, to the microsecond (a real board takes about a
    // millisecond for a report; a low-speed link a few for a long one).
    void SetLatency(std::chrono::microseconds latency);
    // The USB cable: the board (in whichever firmware it runs) leaves or arrives.
    void Unplug();
    void Plug();
    // Other HID devices on the bus; returns an index for RemoveForeignDevice.
    int AddForeignDevice(const ForeignDevice& device);
    void RemoveForeignDevice(int index);
    // Makes the string reads of the board fail (empty strings), as a flaky device would.
    void SetStringsReadable(bool readable);
    // Opening the board read-write fails with this errno (EACCES: no udev rule); 0 clears.
    void SetOpenError(int error);

    // ---- persistence: the board's RAM, EEPROM, flash, bus state and settings ----
    bool LoadState(const std::string& path, std::string* error = nullptr);
    bool SaveState(const std::string& path, std::string* error = nullptr) const;
    // Loads the file when it exists (a fresh board otherwise) and saves the state back
    // after every set transfer, plug change and on destruction, so that separate
    // processes share one board. Each use of the file happens under an advisory lock on
    // FILE.lock. A set that cannot be saved fails; a file that becomes unusable (broken
    // by another program, not writable) is left untouched and every transfer fails until
    // it is usable again (Problem() says why). A "faults" plan in the file is taken over
    // by this backend and removed from the file.
    bool SetStateFile(const std::string& path, std::string* error = nullptr);
    // Keeps the state file's lock from now until released or destroyed, so that a short
    // command's reads and writes are not interleaved with another process's.
    void HoldStateLock(bool hold);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The board itself, for tests and for the simulator's own logic.
class SimulatedBoard {
public:
    virtual ~SimulatedBoard() = default;

    virtual BoardMode Mode() const = 0;
    virtual const BoardSettings& Settings() const = 0;
    virtual BoardSettings& MutableSettings() = 0;

    // RAM: the records as the board holds them (what report gets return). Reading
    // them advances the board's simulation to the current time first. FirmwareVersion
    // follows Settings().firmwareVersion, EntryCount the schedule (or its override), and
    // Temperature is 0x7FFF while Settings().temperatureSensor is false.
    virtual LiveState& Live() = 0;
    virtual DeviceConfig& Config() = 0;
    // The schedule rows; EntryCount follows the size. Any size 0..255.
    virtual std::vector<ScheduleEntry>& Schedule() = 0;
    // Override EntryCount independently of the rows (for boards that report odd counts).
    virtual void SetEntryCountOverride(std::optional<int> count) = 0;
    // Index of the entry the next get of report 3 answers with; rotates from there.
    virtual int NextScheduleIndex() const = 0;
    virtual void SetNextScheduleIndex(int index) = 0;
    // Makes the next schedule gets answer with this index instead of the real one.
    virtual void SetScheduleIndexOverride(std::optional<int> index) = 0;

    // Stops the board's own changes (clock, schedule playback, weather, supply noise) for
    // stable tests. Advance() still works on a frozen board.
    virtual void SetFrozen(bool frozen) = 0;
    virtual bool Frozen() const = 0;
    // Moves the board's time forward by `span` of real time (the board's clock moves
    // TimeLapse times as far) and plays schedule and weather over that span.
    virtual void Advance(std::chrono::milliseconds span) = 0;
    // Restarts the board's random source (weather, supply noise).
    virtual void SetRandomSeed(std::uint32_t seed) = 0;

    // EEPROM and power.
    virtual void PowerCycle() = 0;  // RAM := what command 255 stored last (defaults if never)
    virtual int EEPROMStoreCount() const = 0;

    // Flash as the bootloader wrote it (flashSize bytes, 0xFF where never written).
    virtual const std::vector<std::uint8_t>& Flash() const = 0;
    virtual int BlocksWritten() const = 0;
};

// The schedule, settings and state a new simulated board starts with.
std::vector<ScheduleEntry> DefaultSchedule();
DeviceConfig DefaultConfig();

}  // namespace quelvan::sim
