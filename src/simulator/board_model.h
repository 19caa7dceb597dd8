#pragma once
// The simulated board as a whole: which firmware runs, whether it is on the bus, its
// application firmware with RAM and EEPROM, its bootloader with flash, its random source,
// and the lazily advanced time. The backend routes transfers here.

#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "device/clock.h"
#include "simulator/application_firmware.h"
#include "simulator/bootloader_firmware.h"
#include "simulator/simulated_backend.h"

namespace quelvan::sim {

// Everything that makes up the board and goes into the state file.
struct BoardData {
    BoardSettings settings;
    BoardMode firmware = BoardMode::Application;  // what runs: Application or Bootloader
    bool onBus = true;
    bool frozen = false;
    std::mt19937 random;
    ApplicationRam ram;
    Eeprom eeprom;
    FlashMemory flash;
    // Interface identities are never reused, so a controller always sees a re-plugged or
    // restarted board as a new device.
    std::uint64_t nextIdentity = 1;
    std::string identity;  // of the interface on the bus now; empty while absent
};

class BoardModel final : public SimulatedBoard {
public:
    BoardModel(BoardSettings settings, const Clock* clock, std::function<std::int64_t()> now);

    // SimulatedBoard
    BoardMode Mode() const override;
    const BoardSettings& Settings() const override { return data_.settings; }
    BoardSettings& MutableSettings() override { return data_.settings; }
    LiveState& Live() override;
    DeviceConfig& Config() override;
    std::vector<ScheduleEntry>& Schedule() override;
    void SetEntryCountOverride(std::optional<int> count) override;
    int NextScheduleIndex() const override { return data_.ram.nextScheduleIndex; }
    void SetNextScheduleIndex(int index) override { data_.ram.nextScheduleIndex = index; }
    void SetScheduleIndexOverride(std::optional<int> index) override;
    void SetFrozen(bool frozen) override { data_.frozen = frozen; }
    bool Frozen() const override { return data_.frozen; }
    void SetRandomSeed(std::uint32_t seed) override { data_.random.seed(seed); }
    void Advance(std::chrono::milliseconds span) override;
    void PowerCycle() override;
    int EEPROMStoreCount() const override { return data_.eeprom.storeCount; }
    const std::vector<std::uint8_t>& Flash() const override;
    int BlocksWritten() const override { return data_.flash.blocksWritten; }

    // ---- for the backend ----
    // Brings the board up to the time source's present (unless frozen).
    void Sync();
    // Transfers to the board's current interface; a firmware switch they cause calls
    // the change listener.
    bool Get(std::uint8_t* buffer, std::size_t length);
    bool Set(const std::uint8_t* buffer, std::size_t length);
    void SetOnBus(bool onBus);
    std::string NewIdentity();
    void SetChangeListener(std::function<void()> listener) { changed_ = std::move(listener); }

    BoardData& Data() { return data_; }
    const BoardData& Data() const { return data_; }
    // After the data was replaced wholesale (a loaded state file): plays `wallMs` of
    // real time that passed meanwhile, and restarts the lazy clock from now.
    void Resume(std::int64_t wallMs);

private:
    ApplicationFirmware App() { return ApplicationFirmware(data_.ram, data_.eeprom, data_.settings); }
    void EnterBootloader();
    void StartApplication();
    void Reattach();

    BoardData data_;
    SystemClock systemClock_;
    const Clock& clock_;
    std::function<std::int64_t()> now_;
    std::int64_t lastNow_ = 0;
    std::function<void()> changed_;
};

}  // namespace quelvan::sim
